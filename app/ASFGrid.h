// ASFGrid: the view of the StreamTable in the main window. It paints only the
// cells in sight, follows every change the table reports, and lets the user
// select a row, scroll, size columns and sort the rows; it never edits a cell.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "GridGeometry.h"
#include "GridSort.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"

namespace tamrel {

// What the files on disk say of a data row, beside the table's cells: drawn
// by the view, never stored in the cells (Pack saves those).
struct RowOnDisk {
    std::optional<std::int64_t> size;  // the stream file's size, where there is one
    bool replaced = false;             // a replacement keeps the original beside it
    std::string missing;               // why the row has no stream file, where it has none
};
using DiskFacts = std::function<RowOnDisk(std::int32_t row)>;

class ASFGrid : public QAbstractScrollArea, public StreamTableListener {
    Q_OBJECT
public:
    explicit ASFGrid(StreamTable& table, QWidget* parent = nullptr);
    ~ASFGrid() override;

    const StreamTable& Table() const { return table_; }
    std::int32_t SelectedRow() const { return selectedRow_; }
    bool AllRowsHighlighted() const { return allSelected_; }
    std::int32_t TopRow() const { return topRow_; }
    std::int32_t LeftCol() const { return leftCol_; }
    const SortSettings& Sort() const { return sort_; }
    GridGeometry Geometry() const;

    // Sorts the data rows by a column, by the direction rule of a header click.
    void SortBy(std::int32_t col);
    // Where the rows' facts on disk come from (none: the cells alone).
    void SetDiskFacts(DiskFacts facts);
    // What a cell shows: the table's text, or for a data row's Asf Size the
    // size on disk where that differs.
    std::string ShownText(std::int32_t col, std::int32_t row) const;
    // The balloon's text for a point of the viewport: why a cell shows what
    // it shows, where it is not the table's own; empty elsewhere.
    QString HintAt(QPoint viewportPos) const;
    // The facts of a row, read now.
    RowOnDisk FactsOf(std::int32_t row) const;
    // The data rows in sight, first and last (last < first for none).
    std::pair<std::int32_t, std::int32_t> RowsInSight() const;
    // The row whose stream is playing, marked in its number cell; 0 for none.
    void SetPlayingRow(std::int32_t row);
    std::int32_t PlayingRow() const { return playingRow_; }
    // Sizes a column to its widest text plus 6 pixels.
    void SizeToContents(std::int32_t col);

    // StreamTableListener
    void CellChanged(std::int32_t col, std::int32_t row) override;
    void TableChanged() override;

signals:
    // The selected row changed, or what stands in it.
    void SelectionChanged();
    // The context menu of a data row: the row under the pointer, or the
    // selected one for the menu key (or Shift+F10).
    void StreamMenuRequested(std::int32_t row, QPoint globalPos);
    // The context menu of the header, of the empty area or of an empty table.
    void FolderMenuRequested(QPoint globalPos);
    // Other rows came into sight (a scroll, a resize, another table).
    void RowsInSightChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Drag { None, Selecting, Sizing, HeaderPress };

    void UpdateScrollBars();
    void PaintCell(QPainter& painter, const QRect& rect, std::int32_t col, std::int32_t row);
    void PaintSortIndicator(QPainter& painter, const QRect& cell);
    // Selects a data row (limited to the first and last) and scrolls it into sight.
    void SelectRow(std::int64_t row);
    void ScrollToRow(std::int64_t topRow);
    void ScrollToColumn(std::int32_t leftCol);
    void AutoScroll();
    std::int32_t FirstDataRow() const { return table_.FixedRows(); }
    std::int32_t LastDataRow() const { return table_.RowCount() - 1; }
    bool InHeaderRow(int y) const;

    StreamTable& table_;
    std::int32_t selectedRow_ = 1;
    std::int32_t topRow_ = 1;
    std::int32_t leftCol_ = 1;
    SortSettings sort_;
    SortLocale locale_;
    bool allSelected_ = false;
    bool updatingScrollBars_ = false;

    Drag drag_ = Drag::None;
    std::int32_t sizingCol_ = -1;
    int sizingOffset_ = 0;  // from the pointer to the border line it grabbed
    int sizingX_ = 0;       // where the line that follows the pointer stands
    bool doubleClickSized_ = false;
    int autoScrollStep_ = 0;
    QTimer autoScroll_;
    int wheelRemainder_ = 0;
    DiskFacts diskFacts_;
    std::int32_t playingRow_ = 0;
};

}  // namespace tamrel
