#include "GridGeometry.h"

#include <algorithm>

namespace tamrel {

namespace {
constexpr int kRowPitch = GridGeometry::kDefaultRowHeight + GridGeometry::kGridLine;
}  // namespace

GridGeometry::GridGeometry(const StreamTable& table, QSize viewport, std::int32_t topRow,
                           std::int32_t leftCol)
    : table_(table), viewport_(viewport), topRow_(topRow), leftCol_(leftCol) {}

int GridGeometry::Width(std::int32_t col) const {
    return std::max(0, table_.ColWidths(col));
}

int GridGeometry::FixedColsWidth() const {
    int width = 0;
    for (std::int32_t col = 0; col < table_.FixedCols(); ++col)
        width += Width(col) + kGridLine;
    return width;
}

int GridGeometry::FixedRowsHeight() const {
    return table_.FixedRows() * kRowPitch;
}

int GridGeometry::ColumnX(std::int32_t col) const {
    if (col < 0 || col >= table_.ColCount())
        return -1;
    int x = 0;
    if (col < table_.FixedCols()) {
        for (std::int32_t c = 0; c < col; ++c)
            x += Width(c) + kGridLine;
        return x;
    }
    if (col < leftCol_)
        return -1;
    x = FixedColsWidth();
    for (std::int32_t c = leftCol_; c < col; ++c) {
        x += Width(c) + kGridLine;
        if (x >= viewport_.width())
            return -1;
    }
    return x < viewport_.width() ? x : -1;
}

int GridGeometry::ColumnRight(std::int32_t col) const {
    const int x = ColumnX(col);
    return x < 0 ? -1 : x + Width(col);
}

int GridGeometry::RowY(std::int32_t row) const {
    if (row < 0 || row >= table_.RowCount())
        return -1;
    if (row < table_.FixedRows())
        return row * kRowPitch;
    if (row < topRow_)
        return -1;
    const std::int64_t y = FixedRowsHeight() + std::int64_t{row - topRow_} * kRowPitch;
    return y < viewport_.height() ? static_cast<int>(y) : -1;
}

QRect GridGeometry::CellRect(std::int32_t col, std::int32_t row) const {
    const int x = ColumnX(col);
    const int y = RowY(row);
    if (x < 0 || y < 0)
        return {};
    return QRect(x, y, Width(col), kDefaultRowHeight);
}

std::int32_t GridGeometry::ColumnAt(int x) const {
    if (x < 0)
        return -1;
    for (std::int32_t col = 0; col < table_.FixedCols(); ++col) {
        const int left = ColumnX(col);
        if (x <= left + Width(col))
            return col;
    }
    int left = FixedColsWidth();
    for (std::int32_t col = std::max(leftCol_, table_.FixedCols());
         col < table_.ColCount() && left < viewport_.width(); ++col) {
        if (x <= left + Width(col))
            return col;
        left += Width(col) + kGridLine;
    }
    return -1;
}

std::int32_t GridGeometry::RowAt(int y) const {
    if (y < 0)
        return -1;
    if (y < FixedRowsHeight())
        return y / kRowPitch;
    const std::int64_t row = topRow_ + std::int64_t{(y - FixedRowsHeight()) / kRowPitch};
    return row < table_.RowCount() ? static_cast<std::int32_t>(row) : -1;
}

std::int32_t GridGeometry::SizingColumnAt(int x) const {
    // The number column's own width cannot be dragged, and a drag starts only
    // right of it.
    if (x < FixedColsWidth())
        return -1;
    int left = FixedColsWidth();
    for (std::int32_t col = std::max(leftCol_, table_.FixedCols());
         col < table_.ColCount() && left < viewport_.width(); ++col) {
        const int line = left + Width(col);
        if (x >= line - kSizingLeft && x <= line + kSizingRight)
            return col;
        left = line + kGridLine;
    }
    return -1;
}

std::int32_t GridGeometry::LastVisibleCol() const {
    int x = FixedColsWidth();
    std::int32_t col = std::max(leftCol_, table_.FixedCols());
    if (x >= viewport_.width())
        return table_.FixedCols() - 1;
    for (; col < table_.ColCount(); ++col) {
        x += Width(col) + kGridLine;
        if (x >= viewport_.width())
            return col;
    }
    return table_.ColCount() - 1;
}

std::int32_t GridGeometry::LastVisibleRow() const {
    const std::int64_t rows = (viewport_.height() - FixedRowsHeight() + kRowPitch - 1) / kRowPitch;
    return static_cast<std::int32_t>(std::min<std::int64_t>(
        table_.RowCount() - 1, std::int64_t{topRow_} + std::max<std::int64_t>(0, rows) - 1));
}

std::int32_t GridGeometry::FullyVisibleRows() const {
    return std::max(0, (viewport_.height() - FixedRowsHeight()) / kRowPitch);
}

std::int32_t GridGeometry::MaxTopRow() const {
    const std::int32_t first = table_.FixedRows();
    const std::int32_t dataRows = table_.RowCount() - first;
    return first + std::max(0, dataRows - std::max(1, FullyVisibleRows()));
}

std::int32_t GridGeometry::MaxLeftCol() const {
    // Walk back from the last column while the columns still fit: only the
    // columns of one screen are looked at, however many the table has.
    const int room = viewport_.width() - FixedColsWidth();
    int used = 0;
    std::int32_t col = table_.ColCount() - 1;
    while (col >= table_.FixedCols()) {
        used += Width(col) + kGridLine;
        if (used > room)
            break;
        --col;
    }
    return std::min(table_.ColCount() - 1, std::max(table_.FixedCols(), col + 1));
}

}  // namespace tamrel
