#include "table/StreamTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrel {
namespace {

std::vector<std::int32_t> Widths(const StreamTable& table) {
    std::vector<std::int32_t> widths;
    for (std::int32_t col = 0; col < table.ColCount(); ++col)
        widths.push_back(table.ColWidths(col));
    return widths;
}

// The column widths that Unpack gives a 17-column table.
void SetUnpackWidths(StreamTable& table) {
    table.SetColCount(17);
    const std::int32_t widths[17] = {55, 200, 0, 100, 100, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0};
    for (std::int32_t col = 0; col < 17; ++col)
        table.SetColWidths(col, widths[col]);
}

struct CountingListener : StreamTableListener {
    std::vector<std::pair<std::int32_t, std::int32_t>> cells;
    int tables = 0;
    void CellChanged(std::int32_t col, std::int32_t row) override { cells.emplace_back(col, row); }
    void TableChanged() override { ++tables; }
};

TEST(StreamTable, NewTableIsTwoByTwoEmptyWithWidths60And100) {
    StreamTable table;
    EXPECT_EQ(table.ColCount(), 2);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.FixedCols(), 1);
    EXPECT_EQ(table.FixedRows(), 1);
    EXPECT_EQ(table.DefaultColWidth(), 100);
    EXPECT_EQ(Widths(table), (std::vector<std::int32_t>{60, 100}));
    for (int col = 0; col < 2; ++col)
        for (int row = 0; row < 2; ++row)
            EXPECT_EQ(table.CellText(col, row), "");
}

TEST(StreamTable, ShrinkingAndGrowingKeepsWidthsOfKeptColumnsOnly) {
    StreamTable table;
    SetUnpackWidths(table);
    table.SetColCount(2);
    table.SetColCount(17);
    std::vector<std::int32_t> expected(17, 100);
    expected[0] = 55;
    expected[1] = 200;
    EXPECT_EQ(Widths(table), expected);
}

TEST(StreamTable, ResetEmptiesAndForgetsWidthsBeyondColumnOne) {
    StreamTable table;
    SetUnpackWidths(table);
    table.SetRowCount(3);
    table.SetCellText(0, 0, "#");
    table.SetCellText(16, 2, "x");
    table.Reset();
    EXPECT_EQ(table.ColCount(), 2);
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.FixedCols(), 1);
    EXPECT_EQ(table.FixedRows(), 1);
    table.SetColCount(17);
    table.SetRowCount(3);
    EXPECT_EQ(table.ColWidths(0), 55);
    EXPECT_EQ(table.ColWidths(1), 200);
    for (int col = 2; col < 17; ++col)
        EXPECT_EQ(table.ColWidths(col), 100) << col;
    EXPECT_EQ(table.CellText(0, 0), "");
    EXPECT_EQ(table.CellText(16, 2), "");
}

TEST(StreamTable, ClearEmptiesEveryCellAndKeepsSizeAndWidths) {
    StreamTable table;
    SetUnpackWidths(table);
    table.SetRowCount(3);
    table.SetCellText(0, 0, "#");
    table.SetCellText(11, 0, "Asf Size");
    table.SetCellText(1, 2, "music_00002.asf");
    const auto widths = Widths(table);
    table.Clear();
    EXPECT_EQ(table.ColCount(), 17);
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(Widths(table), widths);
    EXPECT_EQ(table.CellText(0, 0), "");
    EXPECT_EQ(table.CellText(11, 0), "");
    EXPECT_EQ(table.CellText(1, 2), "");
}

TEST(StreamTable, CountsBelowOneCountAsOneAndFixedCountsNeverRiseAgain) {
    StreamTable table;
    table.SetColCount(0);
    EXPECT_EQ(table.ColCount(), 1);
    EXPECT_EQ(table.FixedCols(), 0);
    table.SetColCount(17);
    EXPECT_EQ(table.FixedCols(), 0);

    table.SetRowCount(-5);
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.FixedRows(), 0);
    table.SetRowCount(4);
    EXPECT_EQ(table.FixedRows(), 0);
}

TEST(StreamTable, SettingTheCurrentCountChangesNothingAndReportsNothing) {
    StreamTable table;
    table.SetCellText(1, 1, "kept");
    CountingListener listener;
    table.SetListener(&listener);
    table.SetColCount(2);
    table.SetRowCount(2);
    EXPECT_EQ(listener.tables, 0);
    EXPECT_EQ(table.CellText(1, 1), "kept");
    EXPECT_EQ(Widths(table), (std::vector<std::int32_t>{60, 100}));
}

TEST(StreamTable, CellsCutOffByAShrinkReadEmptyAfterGrowth) {
    // Cut points on both sides of the storage's chunk and page boundaries.
    constexpr std::int32_t kRows = 70000;
    for (std::int32_t shrinkTo : {1, 2, 255, 256, 257, 600, 65535, 65536, 65537, 66000}) {
        StreamTable table;
        table.SetRowCount(kRows);
        for (std::int32_t row = 0; row < kRows; row += 7)
            table.SetCellText(1, row, std::to_string(row));
        table.SetRowCount(shrinkTo);
        table.SetRowCount(kRows);
        for (std::int32_t row = 0; row < kRows; row += 7) {
            ASSERT_EQ(table.CellText(1, row), row < shrinkTo ? std::to_string(row) : "")
                << "shrink to " << shrinkTo << ", row " << row;
        }
    }
}

TEST(StreamTable, AHugeSizeCostsNothingUntilFilled) {
    StreamTable table;
    table.SetColCount(2147483647);
    table.SetRowCount(2147483647);
    table.SetCellText(2147483646, 2147483646, "far corner");
    EXPECT_EQ(table.CellText(2147483646, 2147483646), "far corner");
    EXPECT_EQ(table.ColWidths(2147483646), 100);
    table.SetRowCount(3);
    table.SetRowCount(2147483647);
    EXPECT_EQ(table.CellText(2147483646, 2147483646), "");
}

TEST(StreamTable, WidthZeroIsStoredAndNegativeWidthsAsGiven) {
    StreamTable table;
    table.SetColWidths(1, 0);
    EXPECT_EQ(table.ColWidths(1), 0);
    table.SetColWidths(0, -3);
    EXPECT_EQ(table.ColWidths(0), -3);
}

TEST(StreamTable, NegativeIndexFailsWithListIndexErrorAndChangesNothing) {
    struct Case {
        std::int32_t col, row;
        const char* message;
    };
    const Case cases[] = {
        {0, -1, "List index out of bounds (-1)"},
        {-2, 1, "List index out of bounds (-2)"},
        {-2, -7, "List index out of bounds (-7)"},  // the row is named when both are negative
    };
    for (const auto& c : cases) {
        StreamTable table;
        table.SetCellText(1, 1, "x");
        try {
            table.SetCellText(c.col, c.row, "y");
            FAIL() << "no error for " << c.col << "," << c.row;
        } catch (const ListIndexError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(table.CellText(1, 1), "x");
        EXPECT_EQ(table.CellText(0, 0), "");
    }
}

TEST(StreamTable, ListenerHearsOneCellWritesAndWholeTableChanges) {
    StreamTable table;
    CountingListener listener;
    table.SetListener(&listener);
    table.SetCellText(1, 0, "Name");
    EXPECT_EQ(listener.cells, (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 0}}));
    EXPECT_EQ(listener.tables, 0);
    table.SetColCount(17);
    table.SetColWidths(3, 80);
    table.SetRowCount(5);
    table.Clear();
    EXPECT_EQ(listener.tables, 4);
}

TEST(StreamTable, MoveRowsMovesWholeRowsAndReportsOnce) {
    StreamTable table;
    table.SetColCount(17);
    table.SetRowCount(4);
    for (int row = 1; row <= 3; ++row) {
        table.SetCellText(0, row, std::to_string(row));
        table.SetCellText(11, row, row == 2 ? "" : "size " + std::to_string(row));
    }
    table.SetCellText(0, 0, "#");
    CountingListener listener;
    table.SetListener(&listener);
    table.MoveRows(1, {3, 1, 2});
    EXPECT_EQ(listener.tables, 1);
    EXPECT_TRUE(listener.cells.empty());
    const char* numbers[] = {"#", "3", "1", "2"};
    const char* sizes[] = {"", "size 3", "size 1", ""};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(table.CellText(0, row), numbers[row]);
        EXPECT_EQ(table.CellText(11, row), sizes[row]);
    }
    EXPECT_THROW(table.MoveRows(1, {1, 1, 2}), ListIndexError);  // no permutation
    EXPECT_THROW(table.MoveRows(2, {2, 3, 4}), ListIndexError);  // past the last row
    EXPECT_EQ(table.CellText(0, 1), "3");
}

TEST(StreamTable, ForEachFilledCellVisitsRowsThenColumnsInOrder) {
    StreamTable table;
    table.SetColCount(17);
    table.SetRowCount(600);
    table.SetCellText(11, 300, "c");
    table.SetCellText(0, 300, "b");
    table.SetCellText(16, 0, "a");
    table.SetCellText(3, 599, "d");
    table.SetCellText(4, 2, "");
    std::string visited;
    table.ForEachFilledCell([&](std::int32_t col, std::int32_t row, const std::string& text) {
        visited += std::to_string(col) + "," + std::to_string(row) + "," + text + ";";
    });
    EXPECT_EQ(visited, "16,0,a;0,300,b;11,300,c;3,599,d;");
}

}  // namespace
}  // namespace tamrel
