// ASFGrid: the view of the StreamTable in the main window. It paints only the
// cells in sight and follows every change the table reports.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>

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

    GridGeometry(const StreamTable& table, QSize viewport, std::int32_t topRow,
                 std::int32_t leftCol);

    // x of a column's left edge, or -1 when it is scrolled out of sight.
    int ColumnX(std::int32_t col) const;
    int RowY(std::int32_t row) const;
    // The cell's rectangle without its grid lines; empty when out of sight.
    QRect CellRect(std::int32_t col, std::int32_t row) const;
    // The last column and row that start inside the viewport.
    std::int32_t LastVisibleCol() const;
    std::int32_t LastVisibleRow() const;
    // Data rows wholly in sight.
    std::int32_t FullyVisibleRows() const;
    // The highest top row and left column that still fill the view.
    std::int32_t MaxTopRow() const;
    std::int32_t MaxLeftCol() const;

    std::int32_t TopRow() const { return topRow_; }
    std::int32_t LeftCol() const { return leftCol_; }

private:
    int FixedColsWidth() const;
    int FixedRowsHeight() const;

    const StreamTable& table_;
    QSize viewport_;
    std::int32_t topRow_;
    std::int32_t leftCol_;
};

class ASFGrid : public QAbstractScrollArea, public StreamTableListener {
    Q_OBJECT
public:
    explicit ASFGrid(StreamTable& table, QWidget* parent = nullptr);
    ~ASFGrid() override;

    const StreamTable& Table() const { return table_; }
    std::int32_t SelectedRow() const { return selectedRow_; }
    std::int32_t TopRow() const { return topRow_; }
    std::int32_t LeftCol() const { return leftCol_; }
    GridGeometry Geometry() const;

    // StreamTableListener
    void CellChanged(std::int32_t col, std::int32_t row) override;
    void TableChanged() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateScrollBars();
    void PaintCell(QPainter& painter, const QRect& rect, std::int32_t col, std::int32_t row);

    StreamTable& table_;
    std::int32_t selectedRow_ = 1;
    std::int32_t topRow_ = 1;
    std::int32_t leftCol_ = 1;
};

}  // namespace tamrel
