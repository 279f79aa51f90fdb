#include "archive/folder/Check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "archive/pair/Unpack.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

TEST(ComparePairWithFolder, NamesEveryWayAPairDiffersFromItsFolder) {
    struct Case {
        const char* what;
        std::function<void(test::Pair&, const std::string& folder)> change;
        std::vector<std::string> mismatches;  // with FOLDER/ for the folder and a separator
    };
    const Case cases[] = {
        {"nothing changed", [](test::Pair&, const std::string&) {}, {}},
        {"a changed byte",
         [](test::Pair& pair, const std::string&) { pair.archive[150] ^= 1; },
         {"stream 2: its bytes differ from FOLDER/intro_00002.asf"}},
        {"padding that is not zero",
         [](test::Pair& pair, const std::string& folder) {
             WriteFileBytes(folder + test::kSep + "intro_00003.asf", pair.archive.substr(300, 40));
             pair.archive[345] = 'x';
         },
         {"stream 3: its bytes differ from FOLDER/intro_00003.asf"}},
        {"zero padding is no difference",
         [](test::Pair& pair, const std::string& folder) {
             WriteFileBytes(folder + test::kSep + "intro_00003.asf", pair.archive.substr(300, 40));
             pair.archive.replace(340, 10, std::string(10, '\0'));
         },
         {}},
        {"a missing stream file",
         [](test::Pair&, const std::string& folder) {
             std::remove((folder + test::kSep + "intro_00001.asf").c_str());
         },
         {"stream 1: the stream file FOLDER/intro_00001.asf cannot be read"}},
        {"a row naming a file outside the folder",
         [](test::Pair& pair, const std::string& folder) {
             WriteFileBytes(folder + test::kSep + ".." + test::kSep + "outside.asf",
                            pair.archive.substr(100, 200));
             StreamTable t;
             t.LoadTableFile(folder + test::kSep + "intro_.tba");
             t.SetCellText(1, 2, "../outside.asf");
             t.SaveTableFile(folder + test::kSep + "intro_.tba");
         },
         {"stream 2: the table names ../outside.asf, which is not a file of the work folder"}},
        {"a moved stream",
         [](test::Pair&, const std::string& folder) {
             StreamTable t;
             t.LoadTableFile(folder + test::kSep + "intro_.tba");
             t.SetCellText(3, 3, "304");
             t.SaveTableFile(folder + test::kSep + "intro_.tba");
         },
         {"stream 3: Ast Addr is 300 in the pair, 304 in the table file"}},
        {"an extra row",
         [](test::Pair&, const std::string& folder) {
             StreamTable t;
             t.LoadTableFile(folder + test::kSep + "intro_.tba");
             t.SetRowCount(5);
             t.SaveTableFile(folder + test::kSep + "intro_.tba");
         },
         {"streams: the pair has 3, the table file 4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::PairRecipe recipe = test::ThreeStreams();
        test::Pair pair = test::BuildPair(dir.path(), "intro", recipe);
        StreamTable table;
        test::RecordingWindow window;
        ASSERT_EQ(UnpackPickedFile(table, window, pair.archivePath), UnpackOutcome::Succeeded);
        const std::string folder = dir / "intro_";
        c.change(pair, folder);
        std::vector<std::string> expected;
        for (std::string line : c.mismatches) {
            const auto at = line.find("FOLDER/");
            if (at != std::string::npos)
                line.replace(at, 7, folder + test::kSep);
            expected.push_back(line);
        }
        EXPECT_EQ(ComparePairWithFolder(table, pair.archive, Folder(folder)), expected);
    }
}

}  // namespace
}  // namespace tamrel
