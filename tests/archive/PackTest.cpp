#include "archive/pair/Pack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "archive/pair/Unpack.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {
namespace {

using test::BuildPair;
using test::LittleEndian;
using test::Pair;
using test::PairRecipe;
using test::ReadFileBytes;
using test::RecordingWindow;
using test::TempDir;
using test::WriteFileBytes;

// A work folder unpacked from three streams at 0, 100 and 300 (sizes 100,
// 200 and 50) whose references stand at 40 and 120 of the bank.
class PackTest : public ::testing::Test {
protected:
    PackTest() {
        PairRecipe recipe = test::ThreeStreams();
        pair = BuildPair(dir.path(), "intro", recipe);
        window.fileToPick = pair.archivePath;
        EXPECT_EQ(Unpack(table, window), UnpackOutcome::Succeeded);
        folder = dir / "intro_";
        newArchive = dir / "intro_.ast";
        newBank = dir / "intro_.abk";
        window.calls.clear();
        window.folderToPick = folder;
    }
    PackOutcome Run() { return Pack(table, window); }
    std::string Stream(int k) const {
        return folder + test::kSep + "intro_0000" + std::to_string(k) + ".asf";
    }
    std::string TableText() const { return ReadFileBytes(folder + test::kSep + "intro_.tba"); }
    // Everything in the test's folder and the work folder, with contents.
    std::string Snapshot() const {
        std::string all = dir.Listing() + TempDir::ListingOf(folder);
        for (const char* name : {"intro_.ast", "intro_.abk"})
            if (IsExistingFile(dir / name))
                all += ReadFileBytes(dir / name);
        return all + ReadFileBytes(folder + test::kSep + "intro_.ida") + TableText();
    }

    TempDir dir;
    Pair pair;
    StreamTable table;
    RecordingWindow window;
    std::string folder, newArchive, newBank;
};

TEST_F(PackTest, GrownStreamsMoveTheStreamsBehindThem) {
    struct Case {
        const char* what;
        int stream;
        std::uint32_t newLength;
        std::uint32_t written;  // the stream's length in the new archive
        std::uint32_t thirdAt;  // where stream 3 lands
        std::uint32_t archiveSize;
    };
    const Case cases[] = {
        {"250 bytes: padded to 256, D = 56", 2, 250, 256, 356, 406},
        {"150 bytes: filled up to its old 200", 2, 150, 200, 300, 350},
        {"208 bytes: a multiple of 16 already", 2, 208, 208, 308, 358},
        {"the last stream grows: nothing moves", 3, 70, 80, 300, 380},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir caseDir;
        PairRecipe recipe = test::ThreeStreams();
        const Pair original = BuildPair(caseDir.path(), "intro", recipe);
        StreamTable caseTable;
        RecordingWindow caseWindow;
        caseWindow.fileToPick = original.archivePath;
        ASSERT_EQ(Unpack(caseTable, caseWindow), UnpackOutcome::Succeeded);
        const std::string work = caseDir / "intro_";
        const std::string replacement = test::StreamBytes(9, c.newLength);
        WriteFileBytes(work + test::kSep + "intro_0000" + std::to_string(c.stream) + ".asf",
                       replacement);

        caseWindow.folderToPick = work;
        ASSERT_EQ(Pack(caseTable, caseWindow), PackOutcome::Succeeded);
        const std::string archive = ReadFileBytes(caseDir / "intro_.ast");
        const std::string bank = ReadFileBytes(caseDir / "intro_.abk");
        ASSERT_EQ(archive.size(), c.archiveSize);
        const std::uint32_t at = c.stream == 2 ? 100 : 300;
        std::string expectedStream = replacement;
        expectedStream.resize(c.written, '\0');
        EXPECT_EQ(archive.substr(at, c.written), expectedStream);
        if (c.stream == 2) {
            EXPECT_EQ(archive.substr(c.thirdAt), original.archive.substr(300));
        }
        EXPECT_EQ(archive.substr(0, 100), original.archive.substr(0, 100));
        EXPECT_EQ(bank.substr(120, 4), LittleEndian(c.thirdAt));
        EXPECT_EQ(bank.substr(40, 4), LittleEndian(100));
        EXPECT_EQ(ReadFileBytes(work + test::kSep + "intro_.ida"), bank);

        EXPECT_EQ(caseTable.CellText(3, 3), std::to_string(c.thirdAt));
        EXPECT_EQ(caseTable.CellText(11, c.stream), std::to_string(c.written));
        StreamTable saved;
        saved.LoadTableFile(work + test::kSep + "intro_.tba");
        EXPECT_EQ(saved.CellText(3, 3), std::to_string(c.thirdAt));
        EXPECT_EQ(caseWindow.calls.back(), "position 0");
        EXPECT_NE(std::find(caseWindow.calls.begin(), caseWindow.calls.end(),
                            "information Information: Successfully saved to " +
                                (caseDir / "intro_.abk") + "\r\nand " + (caseDir / "intro_.ast")),
                  caseWindow.calls.end());
    }
}

TEST_F(PackTest, AnUnchangedFolderPacksToThePairItCameFromTwice) {
    const std::string tableBefore = TableText();
    ASSERT_EQ(Run(), PackOutcome::Succeeded);
    EXPECT_EQ(ReadFileBytes(newArchive), pair.archive);
    EXPECT_EQ(ReadFileBytes(newBank), pair.bank);
    EXPECT_EQ(TableText(), tableBefore);
    const std::string first = Snapshot();
    ASSERT_EQ(Run(), PackOutcome::Succeeded);
    EXPECT_EQ(Snapshot(), first);
}

TEST_F(PackTest, ExitsBeforeSuccessLeaveEveryEarlierFileAsItWas) {
    // An earlier Pack of the same folder stands beside it.
    WriteFileBytes(Stream(2), test::StreamBytes(9, 250));
    ASSERT_EQ(Run(), PackOutcome::Succeeded);
    const std::string packedTable = TableText();

    struct Case {
        const char* what;
        std::function<void()> damage;
        PackOutcome outcome;
        std::string box;  // the last call the window saw
    };
    const std::string tableFile = folder + test::kSep + "intro_.tba";
    auto editTable = [&](const std::function<void(StreamTable&)>& edit) {
        StreamTable t;
        t.LoadTableFile(tableFile);
        edit(t);
        t.SaveTableFile(tableFile);
    };
    const Case cases[] = {
        {"a missing stream file", [&] { std::remove(Stream(3).c_str()); },
         PackOutcome::StreamFileMissing, "information Information: File not found " + Stream(3)},
        {"an empty Abk Pos in another row while a stream grows",
         [&] {
             editTable([](StreamTable& t) { t.SetCellText(4, 3, ""); });
             WriteFileBytes(Stream(2), test::StreamBytes(9, 300));
         },
         PackOutcome::IntError, "enable"},
        {"an empty bank image", [&] { WriteFileBytes(folder + test::kSep + "intro_.ida", ""); },
         PackOutcome::EmptyBankImage, "enable"},
        {"no stream rows", [&] { editTable([](StreamTable& t) { t.SetRowCount(1); }); },
         PackOutcome::NoStreamRows, "information Information: No streams listed in " + tableFile},
        {"rows out of archive order",
         [&] { editTable([](StreamTable& t) { t.SetCellText(3, 2, "400"); }); },
         PackOutcome::TableRefused,
         "warning Error: The table file " + tableFile +
             " cannot be packed: row 3 has the Ast Addr 356, which is not above the address of the "
             "row "
             "before it."},
        {"an Abk Pos outside the bank image",
         [&] {
             editTable([](StreamTable& t) { t.SetCellText(4, 3, "9999"); });
             WriteFileBytes(Stream(2), test::StreamBytes(9, 300));
         },
         PackOutcome::TableRefused,
         "warning Error: The table file " + tableFile +
             " cannot be packed: row 3 has the Abk Pos 9999, "
             "outside the bank image " +
             folder + test::kSep + "intro_.ida (140 bytes)."},
        {"an Abk Pos that does not hold the row's address",
         [&] {
             editTable([](StreamTable& t) { t.SetCellText(4, 3, "44"); });
             WriteFileBytes(Stream(2), test::StreamBytes(9, 300));
         },
         PackOutcome::TableRefused,
         "warning Error: The table file " + tableFile +
             " cannot be packed: row 3 has the Abk Pos 44, but "
             "the bank image " +
             folder + test::kSep + "intro_.ida does not hold the row's address 356 there."},
        {"a move beyond 2 GiB",
         [&] {
             editTable([](StreamTable& t) { t.SetCellText(3, 3, "2147483600"); });
             std::string bank = ReadFileBytes(folder + test::kSep + "intro_.ida");
             bank.replace(120, 4, LittleEndian(2147483600));
             WriteFileBytes(folder + test::kSep + "intro_.ida", bank);
             WriteFileBytes(Stream(2), test::StreamBytes(9, 400));
         },
         PackOutcome::TableRefused,
         "warning Error: The table file " + tableFile +
             " cannot be packed: row 3 would move to the "
             "address 2147483744, and the new archive would reach 2 GiB or more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case starts from the packed state, then damages one thing.
        WriteFileBytes(tableFile, packedTable);
        WriteFileBytes(folder + test::kSep + "intro_.ida", ReadFileBytes(newBank));
        for (int k = 1; k <= 3; ++k)
            WriteFileBytes(Stream(k),
                           k == 2 ? test::StreamBytes(9, 250)
                                  : pair.archive.substr(k == 1 ? 0 : 300, k == 1 ? 100 : 50));
        c.damage();
        const std::string before = Snapshot();
        window.calls.clear();
        EXPECT_EQ(Run(), c.outcome);
        EXPECT_EQ(window.calls.back(), c.box);
        EXPECT_EQ(Snapshot(), before);
        EXPECT_NE(std::find(window.calls.begin(), window.calls.end(), "enable"),
                  window.calls.end());
    }
}

TEST_F(PackTest, TheIntErrorShowsTheTableWithTheMovesMadeSoFar) {
    StreamTable t;
    t.LoadTableFile(folder + test::kSep + "intro_.tba");
    t.SetRowCount(5);
    for (int col : {0, 1, 3, 4, 11})
        t.SetCellText(col, 4, t.CellText(col, 3));
    t.SetCellText(3, 4, "400");
    t.SetCellText(4, 4, "");  // row 4's bank position is unreadable
    t.SaveTableFile(folder + test::kSep + "intro_.tba");
    WriteFileBytes(Stream(2), test::StreamBytes(9, 250));
    EXPECT_EQ(Run(), PackOutcome::IntError);
    EXPECT_EQ(table.CellText(3, 3), "356");  // moved before row 4 was read
    EXPECT_EQ(table.CellText(3, 4), "400");
    EXPECT_EQ(table.CellText(11, 2), "200");
    // The box comes first, then the window is enabled.
    EXPECT_EQ(window.calls[window.calls.size() - 2], "warning Error: Alarm! Int error.");
    // The same table without a grown stream packs without the message.
    WriteFileBytes(Stream(2), pair.archive.substr(100, 200));
    EXPECT_EQ(Run(), PackOutcome::Succeeded);
}

TEST_F(PackTest, AMissingStreamFileResetsTheTable) {
    std::remove(Stream(2).c_str());
    EXPECT_EQ(Run(), PackOutcome::StreamFileMissing);
    EXPECT_EQ(table.ColCount(), 2);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.CellText(1, 1), "");
    // Enabled before the box.
    EXPECT_EQ(window.calls[window.calls.size() - 2], "enable");
    EXPECT_FALSE(IsExistingFile(newArchive));
    EXPECT_FALSE(IsExistingFile(newBank));
}

TEST_F(PackTest, MissingResourcesAndCancel) {
    window.folderToPick = dir.path();
    EXPECT_EQ(Run(), PackOutcome::ResourcesMissing);
    EXPECT_EQ(window.calls,
              (std::vector<std::string>{
                  "folder dialog",
                  "information Information: Resource files not found in " + dir.path()}));
    window.folderToPick.reset();
    EXPECT_EQ(Run(), PackOutcome::Cancelled);
}

TEST_F(PackTest, AnErrorLeavesTheWindowEnabledAndNoTemporaryFile) {
    StreamTable t;
    t.LoadTableFile(folder + test::kSep + "intro_.tba");
    t.SetCellText(11, 2, "two hundred");
    t.SaveTableFile(folder + test::kSep + "intro_.tba");
    const std::string before = Snapshot();
    try {
        Run();
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "'two hundred' is not a valid integer value");
    }
    EXPECT_EQ(window.calls.back(), "enable");
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(PackTest, TheProgressRangeIsSetInAnOrderThatIsNeverRefused) {
    window.progress.SetMax(0);  // as an Unpack of one stream leaves it
    EXPECT_EQ(Run(), PackOutcome::Succeeded);
    EXPECT_EQ(window.progress.Min(), 1);
    EXPECT_EQ(window.progress.Max(), 3);
}

TEST_F(PackTest, RoundTripUnpackReplacePackUnpack) {
    const std::string grown = test::StreamBytes(7, 333);
    WriteFileBytes(Stream(1), grown);
    ASSERT_EQ(Run(), PackOutcome::Succeeded);
    StreamTable again;
    RecordingWindow other;
    other.fileToPick = newArchive;
    ASSERT_EQ(Unpack(again, other), UnpackOutcome::Succeeded);
    // Stream 1 grew to 336: streams 2 and 3 follow it, found through the patched bank.
    EXPECT_EQ(again.CellText(3, 2), "336");
    EXPECT_EQ(again.CellText(3, 3), "536");
    EXPECT_EQ(again.CellText(4, 2), "40");
    EXPECT_EQ(again.CellText(4, 3), "120");
    std::string first = grown;
    first.resize(336, '\0');
    EXPECT_EQ(ReadFileBytes(dir / "intro__/intro__00001.asf"), first);
    EXPECT_EQ(ReadFileBytes(dir / "intro__/intro__00002.asf"), pair.archive.substr(100, 200));
    EXPECT_EQ(ReadFileBytes(dir / "intro__/intro__00003.asf"), pair.archive.substr(300, 50));
    for (int col : {3, 4, 11})
        for (int row = 1; row <= 3; ++row)
            EXPECT_EQ(again.CellText(col, row), table.CellText(col, row));
}

}  // namespace
}  // namespace tamrel
