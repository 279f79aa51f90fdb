#include "archive/pair/Unpack.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <random>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "archive/folder/WorkFolder.h"
#include "archive/pair/BankKeyIndex.h"
#include "archive/pair/FindAllOccurrences.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::BuildPair;
using test::Pair;
using test::PairRecipe;
using test::ReadFileBytes;
using test::RecordingWindow;
using test::TempDir;
using test::ThreeStreams;

// Column 4 ("Abk Pos") of rows 1..N.
std::vector<std::string> BankPositions(const StreamTable& table) {
    std::vector<std::string> positions;
    for (std::int32_t row = 1; row < table.RowCount(); ++row)
        positions.push_back(table.CellText(4, row));
    return positions;
}

class UnpackTest : public ::testing::Test {
protected:
    UnpackOutcome Run(const std::string& picked) {
        window.fileToPick = picked;
        return Unpack(table, window);
    }
    bool Saw(const std::string& call) const {
        return std::find(window.calls.begin(), window.calls.end(), call) != window.calls.end();
    }
    TempDir dir;
    StreamTable table;
    RecordingWindow window;
};

TEST_F(UnpackTest, ThreeStreamsFillTheTableAndTheWorkFolder) {
    const Pair pair = BuildPair(dir.path(), "intro", ThreeStreams());
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);

    ASSERT_EQ(table.ColCount(), 17);
    ASSERT_EQ(table.RowCount(), 4);
    const char* expected[4][5] = {{"#", "Name", "Ast Addr", "Abk Pos", "Asf Size"},
                                  {"1", "intro_00001.asf", "0", "0", "100"},
                                  {"2", "intro_00002.asf", "100", "40", "200"},
                                  {"3", "intro_00003.asf", "300", "120", "50"}};
    const int cols[5] = {0, 1, 3, 4, 11};
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(table.CellText(cols[c], row), expected[row][c]);
    EXPECT_EQ(table.ColWidths(0), 55);
    EXPECT_EQ(table.ColWidths(1), 200);
    EXPECT_EQ(table.ColWidths(2), 0);
    EXPECT_EQ(table.ColWidths(3), 100);

    EXPECT_TRUE(Saw("panel 0 intro.abk - intro.ast"));
    EXPECT_TRUE(Saw("panel 1 Asf count: 3"));
    const std::string folder = dir / "intro_";
    EXPECT_EQ(window.calls.back(), "position 0");
    EXPECT_EQ(window.calls[window.calls.size() - 2],
              "information Information: Successfully extracted to " + folder);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(ReadFileBytes(folder + test::kSep + StreamFileName("intro", k)),
                  pair.archive.substr(pair.addresses[k - 1], k == 1   ? 100
                                                             : k == 2 ? 200
                                                                      : 50));
    }
    EXPECT_EQ(ReadFileBytes(folder + test::kSep + "intro_.ida"), pair.bank);
    StreamTable saved;
    saved.LoadTableFile(folder + test::kSep + "intro_.tba");
    EXPECT_EQ(saved.CellText(4, 3), "120");
    EXPECT_EQ(TempDir::ListingOf(folder),
              "intro_.ida\nintro_.tba\nintro_00001.asf\nintro_00002.asf\nintro_00003.asf\n");
    // Busy from the reading to the listing, the window disabled while writing.
    const auto busy = std::find(window.calls.begin(), window.calls.end(), "busy");
    const auto idle = std::find(busy, window.calls.end(), "idle");
    const auto disable = std::find(idle, window.calls.end(), "disable");
    EXPECT_NE(std::find(disable, window.calls.end(), "enable"), window.calls.end());
}

TEST_F(UnpackTest, TheBankPositionRule) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> sizes;
        std::vector<std::uint32_t> references;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extraKeys;
        std::vector<std::string> positions;  // empty: the consistency test fails
        char filler = 0x11;
    };
    const std::vector<std::uint32_t> five = {100, 100, 100, 100, 100};
    const Case cases[] = {
        // The pool rule's own results, where every row holds its own key.
        {"a chance key far behind", {100, 200, 50}, {40, 120}, {{2000, 100}}, {"0", "40", "120"}},
        {"a run broken far before",
         {100, 200, 50},
         {1500, 1600},
         {{1000, 100}},
         {"0", "1500", "1600"}},
        {"380 bytes apart", {100, 200, 50}, {40, 420}, {}, {"0", "40", "420"}},
        {"381 bytes apart: no chain at all", {100, 200, 50}, {40, 421}, {}, {}},
        {"two streams, 40 and 1000", {100, 50}, {40}, {{1000, 100}}, {"0", "1000"}},
        {"two streams, 40 and 100", {100, 50}, {40}, {{100, 100}}, {"0", "40"}},
        {"two streams, one position", {100, 50}, {40}, {}, {"0", "40"}},
        // Where the pool would give a row another stream's key, each row's
        // own key decides.
        {"a chance key of stream 2 just before: stream 3 keeps its own",
         {100, 200, 50},
         {40, 120},
         {{5, 100}},
         {"0", "5", "120"}},
        {"a key of a later row inside the run",
         five,
         {40, 60, 80, 100},
         {{50, 300}},
         {"0", "40", "60", "80", "100"}},
        {"a chance key before the real one that reaches no chain",
         {100, 100, 100, 100},
         {500, 520, 540},
         {{130, 100}, {400, 300}},
         {"0", "500", "520", "540"}},
        {"the stride is kept where the nearest key would also do",
         five,
         {40, 60, 80, 100},
         {{70, 300}},
         {"0", "40", "60", "80", "100"}},
        {"a reference straddled by zeros spells another stream's key",
         {100, 25500, 100, 100},
         {40, 60, 80},
         {},
         {"0", "40", "60", "80"},
         0},
        // 65537 is 01 00 01 00: its key at 60 and at 62 overlap, and only the
        // second reaches the reference 380 bytes behind it.
        {"overlapping occurrences of one key",
         {100, 65437, 50, 50},
         {40, 62, 442},
         {{60, 65537}},
         {"0", "40", "62", "442"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir caseDir;
        PairRecipe recipe;
        recipe.sizes = c.sizes;
        recipe.references = c.references;
        recipe.extraKeys = c.extraKeys;
        recipe.filler = c.filler;
        const Pair pair = BuildPair(caseDir.path(), "intro", recipe);
        window.calls.clear();
        window.fileToPick = pair.archivePath;
        const UnpackOutcome outcome = Unpack(table, window);
        if (c.positions.empty()) {
            EXPECT_EQ(outcome, UnpackOutcome::Inconsistent);
            EXPECT_EQ(window.calls.back(),
                      "warning Error: Some addresses not correctly found in abk.");
            EXPECT_EQ(caseDir.Listing(), "intro.abk\nintro.ast\n");
        } else {
            EXPECT_EQ(outcome, UnpackOutcome::Succeeded);
            EXPECT_EQ(BankPositions(table), c.positions);
        }
    }
}

// A stream of blocks: a header, one data block holding extra bytes, the end.
std::string BlockStream(const std::string& data) {
    std::string stream = "SCHl" + test::LittleEndian(16) + "PT" + std::string(6, '\0');
    stream += "SCDl" + test::LittleEndian(static_cast<std::uint32_t>(8 + data.size())) + data;
    return stream + "SCEl" + test::LittleEndian(8);
}

TEST_F(UnpackTest, AStreamMarkerInsideABlockIsNoStreamUnlessTheBankHoldsIt) {
    // Stream 2's data block holds "SCHl" by chance at archive offset 100 + 16 + 8 + 12.
    const std::string chance = std::string(12, 'a') + "SCHl" + std::string(12, 'b');
    PairRecipe recipe;
    recipe.streams = {test::StreamBytes(1, 100), BlockStream(chance), test::StreamBytes(3, 50)};
    recipe.references = {40, 120};
    Pair pair = BuildPair(dir.path(), "intro", recipe);
    const std::uint32_t inside = 100 + 16 + 8 + 12;
    ASSERT_EQ(pair.archive.substr(inside, 4), "SCHl");
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);
    EXPECT_EQ(BankPositions(table), (std::vector<std::string>{"0", "40", "120"}));
    EXPECT_EQ(table.CellText(11, 2), std::to_string(BlockStream(chance).size()));
    EXPECT_EQ(ReadFileBytes(dir / "intro_/intro_00002.asf"), BlockStream(chance));

    // With its key in the bank, between the references, it is a stream.
    pair.bank.replace(80, 4, test::LittleEndian(inside));
    test::WriteFileBytes(pair.bankPath, pair.bank);
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);
    EXPECT_EQ(BankPositions(table), (std::vector<std::string>{"0", "40", "80", "120"}));
    EXPECT_EQ(table.CellText(3, 3), std::to_string(inside));

    // Outside any block (after the end block) it stays a stream without a
    // reference, and Unpack ends as before.
    TempDir other;
    recipe.streams[1] = BlockStream("data") + "SCHl" + std::string(8, 'c');
    const Pair outside = BuildPair(other.path(), "intro", recipe);
    window.calls.clear();
    EXPECT_EQ(Run(outside.archivePath), UnpackOutcome::MissingReference);
    const std::uint32_t after = 100 + static_cast<std::uint32_t>(BlockStream("data").size());
    EXPECT_EQ(window.calls.back(),
              "warning Error: Address: " + std::to_string(after) + " not found in abk.");
}

TEST_F(UnpackTest, OneStreamAndStreamsAfterAPrefix) {
    PairRecipe one;
    one.sizes = {64};
    one.prefix = "header bytes";
    one.bankSize = 32;
    const Pair pair = BuildPair(dir.path(), "music", one);
    EXPECT_EQ(Run(pair.bankPath), UnpackOutcome::Succeeded);
    ASSERT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.CellText(3, 1), "12");
    EXPECT_EQ(table.CellText(4, 1), "0");
    EXPECT_EQ(table.CellText(11, 1), "64");
    EXPECT_EQ(ReadFileBytes(dir / "music_/music_00001.asf"), test::StreamBytes(1, 64));
}

TEST_F(UnpackTest, AnEmptyBankListsTheStreamAndWritesNothing) {
    PairRecipe one;
    one.sizes = {64};
    const Pair pair = BuildPair(dir.path(), "music", one);
    ASSERT_TRUE(pair.bank.empty());
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::EmptyBank);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_TRUE(Saw("panel 1 Asf count: 1"));
    EXPECT_EQ(window.calls.back(), "position 0");  // no box
    EXPECT_EQ(dir.Listing(), "music.abk\nmusic.ast\n");
}

TEST_F(UnpackTest, FailuresBeforeWritingLeaveNothingOnDisk) {
    PairRecipe noStream;
    noStream.prefix = "no stream marker here, only SCHL";
    noStream.bankSize = 16;
    const Pair empty = BuildPair(dir.path(), "intro", noStream);
    EXPECT_EQ(Run(empty.archivePath), UnpackOutcome::NoStreams);
    EXPECT_EQ(window.calls.back(), "warning Error: No streams found in " + empty.archivePath);
    EXPECT_EQ(table.ColCount(), 17);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.CellText(3, 0), "Ast Addr");
    EXPECT_EQ(table.CellText(1, 1), "");
    EXPECT_EQ(dir.Listing(), "intro.abk\nintro.ast\n");

    // The key of stream 2 is missing from the bank.
    TempDir other;
    PairRecipe recipe = ThreeStreams();
    Pair pair = BuildPair(other.path(), "intro", recipe);
    pair.bank.replace(40, 4, "\x11\x11\x11\x11");
    test::WriteFileBytes(pair.bankPath, pair.bank);
    window.calls.clear();
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::MissingReference);
    EXPECT_EQ(window.calls.back(), "warning Error: Address: 100 not found in abk.");
    EXPECT_EQ(window.calls[window.calls.size() - 2], "idle");  // the tool bar works again
    EXPECT_EQ(table.CellText(11, 2), "200");
    EXPECT_EQ(table.CellText(1, 3), "");
    EXPECT_EQ(table.CellText(4, 1), "");
    EXPECT_EQ(window.progress.Position(), 1);
    EXPECT_EQ(other.Listing(), "intro.abk\nintro.ast\n");
}

// The file picked (or typed) is named when it is missing itself; else its
// missing partner, the bank first.
TEST_F(UnpackTest, AMissingFileIsNamedThePickedOneThenTheBankFirst) {
    const std::string bank = dir / "intro.abk";
    const std::string archive = dir / "intro.ast";
    EXPECT_EQ(Run(archive), UnpackOutcome::FileMissing);
    EXPECT_EQ(window.calls.back(), "warning Error: File: " + archive + " not found.");
    test::WriteFileBytes(archive, "SCHl");
    EXPECT_EQ(Run(archive), UnpackOutcome::FileMissing);
    EXPECT_EQ(window.calls.back(), "warning Error: File: " + bank + " not found.");
    std::filesystem::remove(archive);
    test::WriteFileBytes(bank, "bank");
    EXPECT_EQ(Run(bank), UnpackOutcome::FileMissing);
    EXPECT_EQ(window.calls.back(), "warning Error: File: " + archive + " not found.");
    EXPECT_EQ(table.RowCount(), 2);  // nothing has changed
    window.fileToPick.reset();
    window.calls.clear();
    EXPECT_EQ(Unpack(table, window), UnpackOutcome::Cancelled);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"file dialog *.ast;*.abk|*.ast;*.abk"}));
}

TEST_F(UnpackTest, UnpackingTwiceWritesIntoTheFolderAndLeavesOtherFiles) {
    const Pair pair = BuildPair(dir.path(), "intro", ThreeStreams());
    ASSERT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);
    test::WriteFileBytes(dir / "intro_/notes.txt", "mine");
    test::WriteFileBytes(dir / "intro_/intro_00002.asf", "replaced");
    ASSERT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);
    EXPECT_EQ(ReadFileBytes(dir / "intro_/notes.txt"), "mine");
    EXPECT_EQ(ReadFileBytes(dir / "intro_/intro_00002.asf"), pair.archive.substr(100, 200));
}

TEST_F(UnpackTest, AfterAPackTheProgressRangeIsNoObstacle) {
    // Pack leaves the minimum at 1; one stream asks for the maximum 0.
    window.progress.SetMax(1);
    window.progress.SetMin(1);
    PairRecipe one;
    one.sizes = {16};
    one.bankSize = 8;
    const Pair pair = BuildPair(dir.path(), "music", one);
    EXPECT_EQ(Run(pair.archivePath), UnpackOutcome::Succeeded);
}

TEST(BankKeyIndex, FindsWhatTheSearchForEachKeyFinds) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        // Small alphabets make chance and overlapping occurrences common.
        const int alphabet = 1 + round % 3;
        std::string bank(static_cast<std::size_t>(random() % 300), '\0');
        for (char& c : bank)
            c = static_cast<char>(random() % alphabet);
        std::vector<std::uint32_t> addresses = {0, 1, 256, 65536, 65792, 16843009};
        for (int extra = 0; extra < 5; ++extra)
            addresses.push_back(random() % 70000);
        const BankKeyIndex index(bank, addresses);
        for (std::uint32_t address : addresses) {
            ArrInt expected;
            RecordingWindow window;
            FindAllOccurrences(bank, test::LittleEndian(address), false, expected, window);
            ASSERT_EQ(index.SearchHits(address), expected)
                << "round " << round << " address " << address;
        }
    }
}

}  // namespace
}  // namespace tamrel
