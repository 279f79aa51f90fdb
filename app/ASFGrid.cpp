#include "ASFGrid.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include "AppSetup.h"

namespace tamrel {

namespace {

constexpr int kRowPitch = GridGeometry::kDefaultRowHeight + GridGeometry::kGridLine;
const QColor kSilver(192, 192, 192);
const QColor kSelectedRow(182, 202, 234);

}  // namespace

GridGeometry::GridGeometry(const StreamTable& table, QSize viewport, std::int32_t topRow,
                           std::int32_t leftCol)
    : table_(table), viewport_(viewport), topRow_(topRow), leftCol_(leftCol) {}

int GridGeometry::FixedColsWidth() const {
    int width = 0;
    for (std::int32_t col = 0; col < table_.FixedCols(); ++col)
        width += std::max(0, table_.ColWidths(col)) + kGridLine;
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
            x += std::max(0, table_.ColWidths(c)) + kGridLine;
        return x;
    }
    if (col < leftCol_)
        return -1;
    x = FixedColsWidth();
    for (std::int32_t c = leftCol_; c < col; ++c) {
        x += std::max(0, table_.ColWidths(c)) + kGridLine;
        if (x >= viewport_.width())
            return -1;
    }
    return x < viewport_.width() ? x : -1;
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
    return QRect(x, y, std::max(0, table_.ColWidths(col)), kDefaultRowHeight);
}

std::int32_t GridGeometry::LastVisibleCol() const {
    int x = FixedColsWidth();
    std::int32_t col = std::max(leftCol_, table_.FixedCols());
    if (x >= viewport_.width())
        return table_.FixedCols() - 1;
    for (; col < table_.ColCount(); ++col) {
        x += std::max(0, table_.ColWidths(col)) + kGridLine;
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
        used += std::max(0, table_.ColWidths(col)) + kGridLine;
        if (used > room)
            break;
        --col;
    }
    return std::min(table_.ColCount() - 1, std::max(table_.FixedCols(), col + 1));
}

ASFGrid::ASFGrid(StreamTable& table, QWidget* parent) : QAbstractScrollArea(parent), table_(table) {
    setObjectName(QStringLiteral("ASFGrid"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    table_.SetListener(this);
    UpdateScrollBars();
}

ASFGrid::~ASFGrid() {
    if (table_.Listener() == this)
        table_.SetListener(nullptr);
}

GridGeometry ASFGrid::Geometry() const {
    return GridGeometry(table_, viewport()->size(), topRow_, leftCol_);
}

void ASFGrid::CellChanged(std::int32_t, std::int32_t) {
    // update() coalesces: a command that writes many cells costs one paint
    // per pumped event, not one per cell.
    viewport()->update();
}

void ASFGrid::TableChanged() {
    selectedRow_ =
        std::clamp(selectedRow_, std::min(1, table_.RowCount() - 1), table_.RowCount() - 1);
    UpdateScrollBars();
    viewport()->update();
}

void ASFGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void ASFGrid::UpdateScrollBars() {
    // Scroll bars count whole rows and whole columns.
    const GridGeometry geometry = Geometry();
    const std::int32_t firstRow = table_.FixedRows();
    const std::int32_t firstCol = std::max(1, table_.FixedCols());
    const std::int32_t maxTop = geometry.MaxTopRow();
    const std::int32_t maxLeft = std::max(firstCol, geometry.MaxLeftCol());
    topRow_ = std::clamp(topRow_, firstRow, std::max(firstRow, maxTop));
    leftCol_ = std::clamp(leftCol_, firstCol, maxLeft);
    verticalScrollBar()->setRange(0, std::max(0, maxTop - firstRow));
    verticalScrollBar()->setPageStep(std::max(1, geometry.FullyVisibleRows()));
    verticalScrollBar()->setValue(topRow_ - firstRow);
    horizontalScrollBar()->setRange(0, std::max(0, maxLeft - firstCol));
    horizontalScrollBar()->setPageStep(1);
    horizontalScrollBar()->setValue(leftCol_ - firstCol);
}

void ASFGrid::scrollContentsBy(int, int) {
    topRow_ = table_.FixedRows() + verticalScrollBar()->value();
    leftCol_ = std::max(1, table_.FixedCols()) + horizontalScrollBar()->value();
    viewport()->update();
}

void ASFGrid::PaintCell(QPainter& painter, const QRect& rect, std::int32_t col, std::int32_t row) {
    const bool fixed = col < table_.FixedCols() || row < table_.FixedRows();
    const QColor buttonFace = palette().color(QPalette::Button);
    QColor textColor = palette().color(QPalette::WindowText);
    if (rect.width() > 0) {
        if (fixed) {
            // Ten bands from white at the top to the button face at the bottom.
            for (int band = 0; band < 10; ++band) {
                const int top = rect.top() + rect.height() * band / 10;
                const int bottom = rect.top() + rect.height() * (band + 1) / 10;
                const double t = band / 9.0;
                const QColor color(255 + static_cast<int>((buttonFace.red() - 255) * t),
                                   255 + static_cast<int>((buttonFace.green() - 255) * t),
                                   255 + static_cast<int>((buttonFace.blue() - 255) * t));
                painter.fillRect(QRect(rect.left(), top, rect.width(), bottom - top), color);
            }
            painter.setPen(Qt::white);
            painter.drawLine(rect.topLeft(), rect.topRight());
            painter.drawLine(rect.topLeft(), rect.bottomLeft());
            painter.setPen(
                QColor(buttonFace.red() / 2, buttonFace.green() / 2, buttonFace.blue() / 2));
            painter.drawLine(rect.bottomLeft(), rect.bottomRight());
        } else if (row == selectedRow_) {
            painter.fillRect(rect, kSelectedRow);
            textColor = Qt::black;
        } else {
            painter.fillRect(rect, palette().color(QPalette::Base));
        }
        const std::string& text = table_.CellText(col, row);
        if (!text.empty()) {
            painter.save();
            painter.setClipRect(rect);
            painter.setFont(fixed ? TahomaFont(13, true) : TahomaFont(12));
            painter.setPen(textColor);
            painter.drawText(rect.adjusted(2, 2, -2, 0),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, FromNative(text));
            painter.restore();
        }
    }
    // The grid lines right of and below the cell.
    painter.setPen(fixed ? QColor(Qt::black) : kSilver);
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();
    painter.drawLine(right, rect.top(), right, bottom);
    painter.drawLine(rect.left(), bottom, right, bottom);
}

void ASFGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    const GridGeometry geometry = Geometry();
    const std::int32_t lastCol = geometry.LastVisibleCol();
    const std::int32_t lastRow = geometry.LastVisibleRow();
    auto paintRow = [&](std::int32_t row) {
        const int y = geometry.RowY(row);
        if (y < 0)
            return;
        for (std::int32_t col = 0; col <= lastCol; ++col) {
            if (col >= table_.FixedCols() && col < leftCol_)
                col = leftCol_;
            const int x = geometry.ColumnX(col);
            if (x < 0)
                continue;
            const QRect rect(x, y, std::max(0, table_.ColWidths(col)),
                             GridGeometry::kDefaultRowHeight);
            if (rect.adjusted(0, 0, 1, 1).intersects(event->rect()))
                PaintCell(painter, rect, col, row);
        }
    };
    for (std::int32_t row = 0; row < table_.FixedRows(); ++row)
        paintRow(row);
    for (std::int32_t row = topRow_; row <= lastRow; ++row)
        paintRow(row);
}

}  // namespace tamrel
