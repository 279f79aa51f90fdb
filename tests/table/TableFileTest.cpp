#include "table/TableFile.h"

#include "archive/pair/Unpack.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "TestFiles.h"
#include "io/FaultInjection.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string Crlf(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* line : lines)
        out += std::string(line) + "\r\n";
    return out;
}

// The table file of a two-stream archive, as Unpack writes it.
const std::string kExampleFile =
    Crlf({"17,3",         "cw 0,55",     "cw 1,200",      "cw 2,0",  "cw 3,100",
          "cw 4,100",     "cw 5,0",      "cw 6,0",        "cw 7,0",  "cw 8,0",
          "cw 9,0",       "cw 10,0",     "cw 11,100",     "cw 12,0", "cw 13,0",
          "cw 14,0",      "cw 15,0",     "cw 16,0",       "0,0,#",   "1,0,Name",
          "3,0,Ast Addr", "4,0,Abk Pos", "11,0,Asf Size", "0,1,1",   "1,1,music_00001.asf",
          "3,1,0",        "4,1,0",       "11,1,512",      "0,2,2",   "1,2,music_00002.asf",
          "3,2,512",      "4,2,36",      "11,2,384"});

// Builds the example's table the way Unpack does.
void FillExample(StreamTable& table) {
    table.Reset();
    table.Clear();
    PrepareStreamColumns(table);
    table.SetRowCount(3);
    const char* rows[2][5] = {{"1", "music_00001.asf", "0", "0", "512"},
                              {"2", "music_00002.asf", "512", "36", "384"}};
    const int cols[5] = {0, 1, 3, 4, 11};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 5; ++c)
            table.SetCellText(cols[c], r + 1, rows[r][c]);
}

class TableFileTest : public ::testing::Test {
protected:
    // Loads contents (written to a file) into table.
    void Load(const std::string& contents) {
        WriteFileBytes(dir / "t.tba", contents);
        table.LoadTableFile(dir / "t.tba");
    }
    TempDir dir;
    StreamTable table;
};

TEST_F(TableFileTest, SavingTheExampleWritesIts324BytesExactly) {
    FillExample(table);
    table.SaveTableFile(dir / "music_.tba");
    const std::string saved = ReadFileBytes(dir / "music_.tba");
    EXPECT_EQ(saved.size(), 324u);
    EXPECT_EQ(saved, kExampleFile);
    EXPECT_EQ(dir.Listing(), "music_.tba\n");  // no temporary file is left beside it
}

TEST_F(TableFileTest, LoadingTheExampleAfterResetGivesBackCountsTextsAndWidths) {
    FillExample(table);
    StreamTable loaded;
    loaded.SetCellText(0, 0, "stale");
    WriteFileBytes(dir / "music_.tba", kExampleFile);
    loaded.Reset();
    loaded.LoadTableFile(dir / "music_.tba");
    ASSERT_EQ(loaded.ColCount(), 17);
    ASSERT_EQ(loaded.RowCount(), 3);
    EXPECT_EQ(loaded.FixedCols(), 1);
    EXPECT_EQ(loaded.FixedRows(), 1);
    for (int col = 0; col < 17; ++col) {
        EXPECT_EQ(loaded.ColWidths(col), table.ColWidths(col)) << col;
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(loaded.CellText(col, row), table.CellText(col, row));
    }
    EXPECT_EQ(FormatTableFile(loaded), kExampleFile);
}

TEST_F(TableFileTest, SizeLineAlone) {
    FillExample(table);
    table.Reset();
    Load("17,3\r\n");
    EXPECT_EQ(table.ColCount(), 17);
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(table.ColWidths(0), 55);
    EXPECT_EQ(table.ColWidths(1), 200);
    for (int col = 2; col < 17; ++col)
        EXPECT_EQ(table.ColWidths(col), 100);
    EXPECT_EQ(table.CellText(1, 2), "");
}

TEST_F(TableFileTest, SizeLineForms) {
    struct Case {
        const char* contents;
        std::int32_t cols, rows;
    };
    const Case cases[] = {
        {"", 5, 4},               // empty file: the size stays
        {"\r\n3,9\r\n", 5, 4},    // empty first line: the size stays, and 3,9 is a cell line
        {"7\r\n", 1, 7},          // no comma: one column, the whole line is the row count
        {"0,0\r\n", 1, 1},        // below one counts as one
        {"  17 , 3\r\n", 17, 3},  // blanks before, other characters after the digits
        {"$11,x3\r\n", 17, 3},    // hex
        {"17,3", 17, 3},          // no line end on the last line
        {"\x1A"
         "17,3\r\n",
         5, 4},  // end-of-file byte first
    };
    for (const auto& c : cases) {
        table.Reset();
        table.SetColCount(5);
        table.SetRowCount(4);
        Load(c.contents);
        EXPECT_EQ(table.ColCount(), c.cols) << c.contents;
        EXPECT_EQ(table.RowCount(), c.rows) << c.contents;
    }
}

TEST_F(TableFileTest, WidthLinesInAndOutOfRange) {
    table.SetColCount(17);
    Load(Crlf({"17,3", "cw 17,9", "cw -1,9", "cw 5,0", "cw 3,$40", "cw 4,-8", "cw 6", "cw,7"}));
    for (int col = 0; col < 17; ++col) {
        // "cw 6" has no comma: its column part is empty (0) and its width reads
        // from the whole line (0); "cw,7" then sets column 0 to 7.
        std::int32_t expected = col == 0 ? 7 : col == 3 ? 64 : col == 4 ? -8 : col == 5 ? 0 : 100;
        EXPECT_EQ(table.ColWidths(col), expected) << col;
    }
}

TEST_F(TableFileTest, CellLinesOutOfRangeAreIgnored) {
    Load(Crlf({"17,3", "17,1,past the last column", "0,3,past the last row", "16,2,last"}));
    EXPECT_EQ(table.CellText(16, 2), "last");
    EXPECT_EQ(table.ColCount(), 17);
    EXPECT_EQ(table.RowCount(), 3);
}

TEST_F(TableFileTest, CellLinesWithMissingCommas) {
    table.SetColCount(17);
    table.SetRowCount(3);
    table.SetCellText(0, 0, "before");
    Load(Crlf({"17,3", "", "4,only one comma"}));
    EXPECT_EQ(table.CellText(0, 0), "");  // an empty line empties cell (0, 0)
    EXPECT_EQ(table.CellText(4, 0), "only one comma");
    Load(Crlf({"17,3", "no comma at all"}));
    EXPECT_EQ(table.CellText(0, 0), "no comma at all");
}

TEST_F(TableFileTest, LoadingDoesNotClear) {
    table.SetColCount(17);
    table.SetRowCount(3);
    table.SetCellText(4, 2, "kept");
    table.SetColWidths(9, 33);
    Load(Crlf({"17,3", "cw 0,1", "1,1,new"}));
    EXPECT_EQ(table.CellText(4, 2), "kept");
    EXPECT_EQ(table.ColWidths(9), 33);
    EXPECT_EQ(table.CellText(1, 1), "new");
}

TEST_F(TableFileTest, LineEndsCarriageReturnsAndEndOfFileByte) {
    // LF alone ends a line; a CR anywhere is dropped; the last line needs no
    // line end; 0x1A within a line ends that line and the file.
    Load(
        "17,3\n1,1,a\rb\r\n2,1,c\r\r\n3,1,d\x1A"
        "e\r\n4,1,never\r\n5,1,x");
    EXPECT_EQ(table.CellText(1, 1), "ab");
    EXPECT_EQ(table.CellText(2, 1), "c");
    EXPECT_EQ(table.CellText(3, 1), "d");
    EXPECT_EQ(table.CellText(4, 1), "");
    EXPECT_EQ(table.CellText(5, 1), "");
    Load("17,3\r\n6,2,last line");
    EXPECT_EQ(table.CellText(6, 2), "last line");
    Load(
        "17,3\r\n\x1A"
        "7,2,after end of file\r\n");
    EXPECT_EQ(table.CellText(7, 2), "");
}

TEST_F(TableFileTest, NegativeIndexEndsTheLoadAfterTheLinesBeforeIt) {
    try {
        Load(Crlf({"17,3", "1,1,set", "1,-1,bad", "2,1,not reached"}));
        FAIL() << "no error";
    } catch (const ListIndexError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
    }
    EXPECT_EQ(table.CellText(1, 1), "set");
    EXPECT_EQ(table.CellText(2, 1), "");
}

TEST_F(TableFileTest, PumpsEventsOnceAfterEveryCellLine) {
    WriteFileBytes(dir / "t.tba", Crlf({"17,3", "cw 0,5", "1,1,a", "99,1,ignored", "2,2,b"}));
    int pumps = 0;
    table.LoadTableFile(dir / "t.tba", [&] { ++pumps; });
    EXPECT_EQ(pumps, 3);
}

TEST_F(TableFileTest, CellTextsThatRoundTrip) {
    struct Case {
        std::string saved, line, loaded;
    };
    const Case cases[] = {
        {"a,b,c", "1,2,a,b,c", "a,b,c"},              // commas need no escape
        {"tab\there", "1,2,tab\there", "tab\there"},  // a tab without a CR stays
        {"first\r\nsecond", "1,2,first\t\bsecond", "first"},
        {"line\nfeed", "1,2,line\bfeed", "line\nfeed"},  // a lone LF stays on one line
        {"tab\tand\nlf", "1,2,tab\tand\blf", "tab"},     // the tab turns into a CR on loading
    };
    for (const auto& c : cases) {
        table.Reset();
        table.SetColCount(17);
        table.SetRowCount(3);
        table.SetCellText(1, 2, c.saved);
        table.SetCellText(3, 2, "next");
        table.SaveTableFile(dir / "t.tba");
        const std::string file = ReadFileBytes(dir / "t.tba");
        EXPECT_NE(file.find("\r\n" + c.line + "\r\n3,2,next\r\n"), std::string::npos) << c.line;
        table.Reset();
        table.LoadTableFile(dir / "t.tba");
        EXPECT_EQ(table.CellText(1, 2), c.loaded);
        EXPECT_EQ(table.CellText(3, 2), "next");
    }
}

TEST(TableNumber, ReadsTheLenientWay) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"", 0},
        {"   12", 12},
        {"12abc", 12},
        {"+7", 7},
        {"-12", -12},
        {"-12abc", 12},
        {"- 12", 0},
        {"abc", 0},
        {"$1F", 31},
        {"x1f", 31},
        {"X10", 16},
        {"0x10", 16},
        {"0X1a", 26},
        {"-$10", -16},
        {"$", 0},
        {"012", 12},
        {"\t 5", 5},
        {"12 ", 12},
        {"-12 ", 12},
        // Beyond the 32-bit range the value saturates instead of overflowing.
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999999999999", -2147483647 - 1},
        {"$FFFFFFFF", 2147483647},
        {"99999999999999999999z", 2147483647},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadTableNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(TableFileTest, ErrorsNameTheFile) {
    const std::string missing = dir / "missing.tba";
    try {
        table.LoadTableFile(missing);
        FAIL();
    } catch (const TableFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file " + missing + ": No such file or directory");
    }
    const std::string uncreatable = dir / "no-such-folder/t.tba";
    try {
        table.SaveTableFile(uncreatable);
        FAIL();
    } catch (const TableFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot Create " + uncreatable + ": No such file or directory");
    }
    EXPECT_THROW(table.LoadTableFile(dir.path()), TableFileError);  // a folder is no table file
}

TEST_F(TableFileTest, FailedSaveKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
    FillExample(table);
    const std::string path = dir / "music_.tba";
    WriteFileBytes(path, "earlier\r\n");

    // A write that the system refuses: a full disk.
    SetIoFault(IoFault{IoOperation::Write, 1, ENOSPC, {}});
    std::string message;
    try {
        table.SaveTableFile(path);
    } catch (const IoError& e) {
        message = e.what();
    }
    SetIoFault(std::nullopt);

    EXPECT_EQ(message, "Cannot write " + path + ": " + std::strerror(ENOSPC));
    EXPECT_EQ(ReadFileBytes(path), "earlier\r\n");
    EXPECT_EQ(dir.Listing(), "music_.tba\n");
}

}  // namespace
}  // namespace tamrel
