// The grid's layout arithmetic, without a widget: every column its width
// plus a one-pixel line, every row 21 pixels plus one.
#include "GridGeometry.h"

#include <gtest/gtest.h>

#include "archive/pair/Unpack.h"

namespace tamrel {
namespace {

// The columns as Unpack lays them out (55, 200, 0, 100, 100, six of 0,
// 100, five of 0), with 20 stream rows.
class GridGeometryTest : public ::testing::Test {
protected:
    GridGeometryTest() {
        PrepareStreamColumns(table);
        table.SetRowCount(21);
    }
    GridGeometry At(std::int32_t topRow, std::int32_t leftCol) const {
        return GridGeometry(table, QSize(500, 200), topRow, leftCol);
    }
    StreamTable table;
};

TEST_F(GridGeometryTest, WhereColumnsAndRowsStand) {
    const GridGeometry g = At(1, 1);
    struct Column {
        std::int32_t col;
        int x, right;
    };
    // The number column 0..55 (its line at 55), then the scrolled part.
    const Column columns[] = {{0, 0, 55},    {1, 56, 256},  {2, 257, 257},
                              {3, 258, 358}, {4, 359, 459}, {11, 466, 566}};
    for (const auto& c : columns) {
        EXPECT_EQ(g.ColumnX(c.col), c.x) << c.col;
        EXPECT_EQ(g.ColumnRight(c.col), c.right) << c.col;
    }
    const std::pair<int, std::int32_t> columnAt[] = {{0, 0},   {55, 0},  {56, 1},   {256, 1},
                                                     {257, 2}, {258, 3}, {466, 11}, {-1, -1}};
    for (const auto& [x, col] : columnAt)
        EXPECT_EQ(g.ColumnAt(x), col) << x;
    const std::pair<int, std::int32_t> rowAt[] = {{0, 0},  {21, 0}, {22, 1},
                                                  {43, 1}, {44, 2}, {-1, -1}};
    for (const auto& [y, row] : rowAt)
        EXPECT_EQ(g.RowAt(y), row) << y;
    EXPECT_EQ(g.CellRect(3, 2), QRect(258, 44, 100, 21));
    EXPECT_EQ(g.LastVisibleCol(), 11);
    EXPECT_EQ(g.LastVisibleRow(), 9);
    EXPECT_EQ(g.FullyVisibleRows(), 8);
    EXPECT_EQ(g.MaxTopRow(), 13);
    EXPECT_EQ(g.MaxLeftCol(), 2);

    // Scrolled to row 5 and column 3: what went left of the view is out of sight.
    const GridGeometry scrolled = At(5, 3);
    EXPECT_EQ(scrolled.ColumnX(1), -1);
    EXPECT_EQ(scrolled.ColumnX(3), 56);
    EXPECT_EQ(scrolled.RowY(5), 22);
    EXPECT_EQ(scrolled.RowAt(22), 5);
    EXPECT_EQ(scrolled.RowAt(199), 13);
    EXPECT_EQ(At(1, 1).RowAt(22 * 21), -1);  // below the last row
}

TEST_F(GridGeometryTest, SizingZonesRunFromThreeLeftToFourRightOfALine) {
    const GridGeometry g = At(1, 1);
    const std::pair<int, std::int32_t> cases[] = {
        {40, -1},   // inside the number column
        {55, -1},   // the number column's own border is not sized
        {250, -1},  // inside "Name"
        {253, 1},   // 3 left of Name's line at 256
        {258, 1},   // also in the zone of the hidden column 2: the leftmost wins
        {260, 1},   // 4 right of the line
        {261, 2},   // only the hidden column's zone (line at 257) is left
        {355, 3},  {362, 3}, {363, -1},  // past column 3's zone (line at 358)
        {456, 4},                        // column 4's line at 459
    };
    for (const auto& [x, col] : cases)
        EXPECT_EQ(g.SizingColumnAt(x), col) << x;
}

}  // namespace
}  // namespace tamrel
