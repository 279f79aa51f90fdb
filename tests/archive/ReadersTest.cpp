// What the commands that read a work folder reach: the folder opened once
// and a row's own file in it, whatever happens to the path meanwhile and
// whatever the table names.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "archive/folder/FolderExport.h"
#include "archive/folder/Replace.h"
#include "archive/pair/Unpack.h"
#include "audio/Wav.h"
#include "io/FaultInjection.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::RecordingWindow;
using test::TempDir;
using test::WriteFileBytes;

using Files = std::map<std::string, std::string>;

// The regular files of a folder by name (not below it).
Files FilesOf(const std::string& folder) {
    Files files;
    for (const auto& entry : fs::directory_iterator(test::FsPath(folder)))
        if (entry.is_regular_file())
            files[test::Utf8(entry.path().filename())] = ReadFileBytes(test::Utf8(entry.path()));
    return files;
}

std::vector<std::int16_t> Tone(int frames, double step, double amplitude) {
    std::vector<std::int16_t> tone;
    for (int i = 0; i < frames; ++i)
        tone.push_back(static_cast<std::int16_t>(amplitude * std::sin(i * step)));
    return tone;
}

// music_ unpacked from the three kinds of streams in folder, with an audio
// file for stream 2 beside its stream file. other makes a folder of the
// same names with other sound: other stream bytes, another tone.
void PrepareWorkFolder(const std::string& folder, bool other) {
    test::PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    if (other) {
        // Other PCM samples in stream 1, the same layout.
        std::string& pcm = recipe.streams[0];
        const auto data = pcm.find("SCDl") + 12;
        for (std::size_t i = data; i < data + 40; ++i)
            pcm[i] = static_cast<char>(pcm[i] ^ 0x5A);
    }
    recipe.references = {40, 120};
    test::BuildPair(folder, "music", recipe);
    StreamTable table;
    RecordingWindow window;
    ASSERT_EQ(UnpackPickedFile(table, window, folder + test::kSep + "music.ast"),
              UnpackOutcome::Succeeded);
    WriteWavFile(folder + test::kSep + "music_" + test::kSep + "music_00002.wav",
                 Tone(3000, other ? 0.21 : 0.05, 6000), 1, 22050, std::nullopt);
}

FolderExportResult ExportAll(const std::string& folder, RecordingWindow& window) {
    return ExportWorkFolder(
        folder, folder, true,
        [](const StreamTable& table) {
            std::vector<std::int32_t> rows;
            for (std::int32_t r = 1; r < table.RowCount(); ++r)
                rows.push_back(r);
            return std::optional(rows);
        },
        window);
}

void ReplaceAll(const std::string& folder, RecordingWindow& window) {
    ReplaceFromFolder(folder, folder, window, {});
}

// The files a command leaves in a folder of each kind when nothing moves.
struct Outcomes {
    Files mine, other;
};

Outcomes OutcomesOf(const std::function<void(const std::string&, RecordingWindow&)>& command) {
    Outcomes outcomes;
    for (bool other : {false, true}) {
        TempDir dir;
        PrepareWorkFolder(dir.path(), other);
        RecordingWindow window;
        command(dir / "music_", window);
        (other ? outcomes.other : outcomes.mine) = FilesOf(dir / "music_");
    }
    return outcomes;
}

// Each file of a folder is as it was or as the command makes it of that
// very folder's own files: never a file made of the other folder's.
void ExpectOwnFiles(const Files& before, const Files& after, const Files& made) {
    for (const auto& [name, bytes] : after) {
        if (!TargetOfTemporary(name).empty() || name == kLockFileName)
            continue;
        const bool old = before.count(name) && before.at(name) == bytes;
        const bool own = made.count(name) && made.at(name) == bytes;
        EXPECT_TRUE(old || own) << name;
    }
}

// At every call of a reading command, the work folder is renamed away and
// another of the same names put in its place: what the command writes into
// either folder is made of that folder's own files.
TEST(Readers, AWorkFolderSwappedMidwayIsNeverMixedWithTheOther) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps an open folder from being renamed";
#endif
    struct Command {
        const char* what;
        std::function<void(const std::string&, RecordingWindow&)> run;
    };
    const Command commands[] = {
        {"export", [](const std::string& f, RecordingWindow& w) { ExportAll(f, w); }},
        {"replace from the folder itself", ReplaceAll},
    };
    for (const Command& command : commands) {
        const Outcomes made = OutcomesOf(command.run);
        int swaps = 0;
        for (IoOperation kind : {IoOperation::OpenFolder, IoOperation::Open, IoOperation::Read}) {
            for (int nth = 1;; ++nth) {
                SCOPED_TRACE(std::string(command.what) + ", call " + std::to_string(nth) +
                             " of kind " + std::to_string(static_cast<int>(kind)));
                TempDir dir;
                PrepareWorkFolder(dir.path(), false);
                fs::create_directories(test::FsPath(dir / "decoy"));
                PrepareWorkFolder(dir / "decoy", true);
                const Files mine = FilesOf(dir / "music_");
                const Files other = FilesOf(dir / "decoy/music_");
                bool swapped = false;
                SetIoFault(IoFault{kind, nth, 0, [&] {
                                       fs::rename(test::FsPath(dir / "music_"),
                                                  test::FsPath(dir / "moved_"));
                                       fs::rename(test::FsPath(dir / "decoy/music_"),
                                                  test::FsPath(dir / "music_"));
                                       swapped = true;
                                   }});
                RecordingWindow window;
                try {
                    command.run(dir / "music_", window);
                } catch (const std::exception&) {
                }
                SetIoFault(std::nullopt);
                if (!swapped)
                    break;
                ++swaps;
                ExpectOwnFiles(mine, FilesOf(dir / "moved_"), made.mine);
                ExpectOwnFiles(other, FilesOf(dir / "music_"), made.other);
            }
        }
        EXPECT_GT(swaps, 5) << command.what;
    }
}

// A row whose name is no plain file of the folder is that row's problem:
// nothing outside the folder is read, and the other rows go on.
TEST(Readers, ARowNamingAFileOutsideTheFolderIsRefusedAndTheOthersGoOn) {
    TempDir dir;
    PrepareWorkFolder(dir.path(), false);
    const std::string folder = dir / "music_";
    // A decodable stream outside the folder, which the table names.
    fs::copy_file(test::FsPath(folder + test::kSep + "music_00001.asf"),
                  test::FsPath(dir / "outside.asf"));
    const std::string tableFile = folder + test::kSep + "music_.tba";
    StreamTable table;
    table.LoadTableFile(tableFile);
    table.SetCellText(1, 1, "../outside.asf");
    table.SaveTableFile(tableFile);

    RecordingWindow window;
    std::vector<std::string> ends;
    const FolderExportResult result = ExportWorkFolder(
        folder, folder, true,
        [](const StreamTable&) {
            return std::optional(std::vector<std::int32_t>{1, 2});
        },
        window, [&ends](const ExportedRow& row) { ends.push_back(row.written ? "" : row.why); });
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.count.written, 1);
    EXPECT_EQ(ends, (std::vector<std::string>{
                        "The stream ../outside.asf is skipped: the table names ../outside.asf, "
                        "which is not a file of the work folder.",
                        ""}));
    EXPECT_FALSE(fs::exists(test::FsPath(dir / "outside.wav")));
    EXPECT_FALSE(fs::exists(test::FsPath(folder + test::kSep + "outside.wav")));
    EXPECT_TRUE(fs::exists(test::FsPath(folder + test::kSep + "music_00002.wav")));
}

// A stop asked for while a folder replaces streams ends it after the row it
// is on: the rows before are replaced, the ones after are as they were, and
// their files are not called unmatched.
TEST(Readers, AStoppedReplacementFromAFolderLeavesTheRestAsItWas) {
    TempDir dir;
    PrepareWorkFolder(dir.path(), false);
    const std::string folder = dir / "music_";
    WriteWavFile(folder + test::kSep + "music_00001.wav", Tone(200, 0.1, 5000), 2, 32000,
                 std::nullopt);
    const std::string second = ReadFileBytes(folder + test::kSep + "music_00002.asf");
    RecordingWindow window;
    window.stopAtPump = 2;  // after the first row
    const auto summary = ReplaceFromFolder(folder, folder, window, {});
    ASSERT_TRUE(summary);
    EXPECT_TRUE(summary->stopped);
    EXPECT_EQ(summary->Text(),
              "Stopped after 1 of 3 rows. Replaced 1 stream, 0 unchanged, 0 failed.");
    EXPECT_FALSE(summary->Complete());
    EXPECT_EQ(ReadFileBytes(folder + test::kSep + "music_00002.asf"), second);
    EXPECT_TRUE(fs::exists(test::FsPath(folder + test::kSep + "music_00001.asf.orig")));
}

}  // namespace
}  // namespace tamrel
