#include "archive/folder/WorkFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace tamrel {
namespace {

// The same table of paths runs in both styles: written with backslashes and a
// drive, and translated for POSIX into slashes with the drive dropped.
std::string Spell(std::string windowsPath, PathStyle style) {
    if (style == PathStyle::Windows)
        return windowsPath;
    if (windowsPath.size() >= 2 && windowsPath[1] == ':')
        windowsPath.erase(0, 2);
    for (char& c : windowsPath)
        if (c == '\\')
            c = '/';
    return windowsPath;
}

class PathRules : public ::testing::TestWithParam<PathStyle> {
protected:
    std::string S(const char* windowsPath) const { return Spell(windowsPath, GetParam()); }
};

TEST_P(PathRules, WorkedExampleUnpackThenPack) {
    const PathStyle style = GetParam();
    for (const char* picked : {"D:\\Mods\\Audio\\intro.ast", "D:\\Mods\\Audio\\intro.abk",
                               "D:\\Mods\\Audio\\intro.wav", "D:\\Mods\\Audio\\intro"}) {
        const UnpackNames u = UnpackNamesFor(S(picked), style);
        EXPECT_EQ(u.bank, S("D:\\Mods\\Audio\\intro.abk")) << picked;
        EXPECT_EQ(u.archive, S("D:\\Mods\\Audio\\intro.ast"));
        EXPECT_EQ(u.baseName, "intro");
        EXPECT_EQ(u.workFolder, S("D:\\Mods\\Audio\\intro_"));
        EXPECT_EQ(u.bankImage, S("D:\\Mods\\Audio\\intro_\\intro_.ida"));
        EXPECT_EQ(u.tableFile, S("D:\\Mods\\Audio\\intro_\\intro_.tba"));
        EXPECT_EQ(JoinPath(u.workFolder, StreamFileName(u.baseName, 3), style),
                  S("D:\\Mods\\Audio\\intro_\\intro_00003.asf"));
    }
    const PackNames p = PackNamesFor(S("D:\\Mods\\Audio\\intro_"), style);
    EXPECT_EQ(p.folderName, "intro_");
    EXPECT_EQ(p.tableFile, S("D:\\Mods\\Audio\\intro_\\intro_.tba"));
    EXPECT_EQ(p.bankImage, S("D:\\Mods\\Audio\\intro_\\intro_.ida"));
    EXPECT_EQ(p.newArchive, S("D:\\Mods\\Audio\\intro_.ast"));
    EXPECT_EQ(p.newBank, S("D:\\Mods\\Audio\\intro_.abk"));
}

TEST_P(PathRules, DotsInFolderAndFileNames) {
    const PathStyle style = GetParam();
    UnpackNames u = UnpackNamesFor(S("D:\\Mods.new\\Audio\\intro"), style);
    EXPECT_EQ(u.bank, S("D:\\Mods.new\\Audio\\intro.abk"));
    EXPECT_EQ(u.workFolder, S("D:\\Mods.new\\Audio\\intro_"));

    u = UnpackNamesFor(S("D:\\Mods\\intro.alt.ast"), style);
    EXPECT_EQ(u.baseName, "intro.alt");
    EXPECT_EQ(u.workFolder, S("D:\\Mods\\intro.alt_"));
    EXPECT_EQ(StreamFileName(u.baseName, 1), "intro.alt_00001.asf");
    EXPECT_EQ(u.bankImage, S("D:\\Mods\\intro.alt_\\intro.alt_.ida"));
    EXPECT_EQ(u.tableFile, S("D:\\Mods\\intro.alt_\\intro.alt_.tba"));
    const PackNames p = PackNamesFor(u.workFolder, style);
    EXPECT_EQ(p.folderName, "intro.alt_");
    EXPECT_EQ(p.tableFile, u.tableFile);
    EXPECT_EQ(p.bankImage, u.bankImage);

    u = UnpackNamesFor(S("D:\\Mods\\intro."), style);
    EXPECT_EQ(u.bank, S("D:\\Mods\\intro.abk"));
    EXPECT_EQ(u.workFolder, S("D:\\Mods\\intro_"));
}

TEST_P(PathRules, UnpackingAPackedPairGivesTwoUnderscores) {
    const UnpackNames u = UnpackNamesFor(S("D:\\Mods\\Audio\\intro_.ast"), GetParam());
    EXPECT_EQ(u.workFolder, S("D:\\Mods\\Audio\\intro__"));
    EXPECT_EQ(StreamFileName(u.baseName, 1), "intro__00001.asf");
}

TEST_P(PathRules, PathOperations) {
    const PathStyle style = GetParam();
    EXPECT_EQ(FileNamePart(S("D:\\a\\b.c"), style), "b.c");
    EXPECT_EQ(FileNamePart("name.ext", style), "name.ext");
    EXPECT_EQ(DirectoryPart(S("D:\\a\\b.c"), style), S("D:\\a\\"));
    EXPECT_EQ(DirectoryPart("name.ext", style), "");
    EXPECT_EQ(ChangeExtension(S("D:\\a.b\\c"), ".x", style), S("D:\\a.b\\c.x"));
    EXPECT_EQ(ChangeExtension(S("D:\\a\\c.d.e"), "", style), S("D:\\a\\c.d"));
    EXPECT_EQ(ChangeExtension(S("D:\\a\\c.e"), "_.ida", style), S("D:\\a\\c_.ida"));
    EXPECT_EQ(JoinPath(S("D:\\a"), "b", style), S("D:\\a\\b"));
    // The root keeps its one separator; no folder is the name alone.
    EXPECT_EQ(JoinPath(S("D:\\"), "b", style), S("D:\\b"));
    EXPECT_EQ(JoinPath("", "b", style), "b");
    using Split = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitFolderAndName(S("D:\\a\\b.c"), style), Split(S("D:\\a"), "b.c"));
    EXPECT_EQ(SplitFolderAndName(S("D:\\b.c"), style), Split(S("D:\\"), "b.c"));
    EXPECT_EQ(SplitFolderAndName("b.c", style), Split(".", "b.c"));
    EXPECT_EQ(SplitFolderAndName(S("D:\\a\\"), style), Split(S("D:\\a"), ""));
}

INSTANTIATE_TEST_SUITE_P(BothStyles, PathRules,
                         ::testing::Values(PathStyle::Windows, PathStyle::Posix),
                         [](const auto& info) {
                             return info.param == PathStyle::Windows ? "Windows" : "Posix";
                         });

TEST(PathRules, TheDriveColonSeparatesOnlyInTheWindowsStyle) {
    EXPECT_EQ(FileNamePart("C:intro.ast", PathStyle::Windows), "intro.ast");
    EXPECT_EQ(DirectoryPart("C:intro.ast", PathStyle::Windows), "C:");
    EXPECT_EQ(SplitFolderAndName("C:intro.ast", PathStyle::Windows),
              std::make_pair(std::string("C:"), std::string("intro.ast")));
    EXPECT_EQ(FileNamePart("C:intro.ast", PathStyle::Posix), "C:intro.ast");
    EXPECT_EQ(ChangeExtension("C:\\x.y\\intro", ".abk", PathStyle::Windows), "C:\\x.y\\intro.abk");
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(FileNamePart("/a/b\\c", PathStyle::Posix), "b\\c");
}

TEST(PathRules, TheWindowsStyleTakesBothSlashes) {
    EXPECT_EQ(FileNamePart("C:/Mods\\Audio/intro.ast", PathStyle::Windows), "intro.ast");
    EXPECT_EQ(DirectoryPart("C:/Mods\\Audio/intro.ast", PathStyle::Windows), "C:/Mods\\Audio/");
    const PackNames p = PackNamesFor("D:/Mods/intro_", PathStyle::Windows);
    EXPECT_EQ(p.folderName, "intro_");
    EXPECT_EQ(p.newArchive, "D:/Mods/intro_.ast");
    EXPECT_EQ(p.parentFolder, "D:/Mods");
    EXPECT_EQ(UnpackNamesFor("\\\\server\\share/intro.abk", PathStyle::Windows).workFolder,
              "\\\\server\\share/intro_");
}

TEST(StreamFileName, AtLeastFiveDigits) {
    EXPECT_EQ(StreamFileName("intro", 7), "intro_00007.asf");
    EXPECT_EQ(StreamFileName("intro", 99999), "intro_99999.asf");
    EXPECT_EQ(StreamFileName("intro", 123456), "intro_123456.asf");
}

}  // namespace
}  // namespace tamrel
