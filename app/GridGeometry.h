// GridGeometry: the table view's layout arithmetic, apart from any widget.
#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>

#include "table/StreamTable.h"

namespace tamrel {

// Where rows and columns stand on the screen; plain arithmetic over the
// table's counts and widths, so it can be tested without painting. Every
// column takes its width plus a one-pixel grid line, every row its height
// plus one: a column of width 0 still has its line.
class GridGeometry {
public:
    static constexpr int kDefaultRowHeight = 21;
    static constexpr int kGridLine = 1;
    // A border is grabbed from 3 pixels left to 4 pixels right of its line.
    static constexpr int kSizingLeft = 3;
    static constexpr int kSizingRight = 4;

    GridGeometry(const StreamTable& table, QSize viewport, std::int32_t topRow,
                 std::int32_t leftCol);

    // x of a column's left edge, or -1 when it is scrolled out of sight.
    int ColumnX(std::int32_t col) const;
    // x of the grid line at a column's right edge, or -1 when out of sight.
    int ColumnRight(std::int32_t col) const;
    int RowY(std::int32_t row) const;
    // The cell's rectangle without its grid lines; empty when out of sight.
    QRect CellRect(std::int32_t col, std::int32_t row) const;
    // The column or row under a point (its grid line counts with it), or -1.
    std::int32_t ColumnAt(int x) const;
    std::int32_t RowAt(int y) const;
    // The column whose right border a press at x would size: the leftmost
    // whose sizing zone holds x, never the number column; -1 for none.
    std::int32_t SizingColumnAt(int x) const;
    // The last column and row that start inside the viewport.
    std::int32_t LastVisibleCol() const;
    std::int32_t LastVisibleRow() const;
    // Data rows wholly in sight.
    std::int32_t FullyVisibleRows() const;
    // The highest top row and left column that still fill the view.
    std::int32_t MaxTopRow() const;
    std::int32_t MaxLeftCol() const;
    int FixedRowsHeight() const;

    std::int32_t TopRow() const { return topRow_; }
    std::int32_t LeftCol() const { return leftCol_; }

private:
    int FixedColsWidth() const;
    int Width(std::int32_t col) const;

    const StreamTable& table_;
    QSize viewport_;
    std::int32_t topRow_;
    std::int32_t leftCol_;
};

}  // namespace tamrel
