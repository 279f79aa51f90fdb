#include "ASFGrid.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "AppSetup.h"
#include "archive/folder/Replace.h"
#include "archive/folder/StreamSources.h"
#include "archive/pair/PackPlan.h"
#include "table/CellNumber.h"

namespace tamrel {

namespace {

constexpr int kRowPitch = GridGeometry::kDefaultRowHeight + GridGeometry::kGridLine;
// A header click this close to a cell's edge is taken for the border, not the cell.
constexpr int kBorderArea = 4;
// The header text keeps clear of the sort indicator.
constexpr int kIndicatorRoom = 10;
constexpr int kAutoSizePadding = 6;
constexpr int kAutoScrollMs = 60;
const QColor kSilver(192, 192, 192);
const QColor kSelectedRow(182, 202, 234);
const QColor kIndicatorShadow(128, 128, 128);
// A size read from disk, and the mark of a replaced stream.
const QColor kOnDisk(0, 0, 160);
const QColor kReplacedMark(0, 128, 0);
const QColor kMissing(176, 0, 0);
const QColor kPlaying(0, 96, 192);

QFont DataFont() {
    return TahomaFont(12);
}
QFont FixedFont() {
    return TahomaFont(13, true);
}

}  // namespace

ASFGrid::ASFGrid(StreamTable& table, QWidget* parent)
    : QAbstractScrollArea(parent), table_(table), locale_(SortLocale::From(QLocale())) {
    setObjectName(QStringLiteral("ASFGrid"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    autoScroll_.setInterval(kAutoScrollMs);
    connect(&autoScroll_, &QTimer::timeout, this, &ASFGrid::AutoScroll);
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

void ASFGrid::CellChanged(std::int32_t col, std::int32_t row) {
    // update() coalesces: a command that writes many cells costs one paint
    // per pumped event, not one per cell.
    viewport()->update();
    if (row == selectedRow_ && col == 1)
        emit SelectionChanged();
}

void ASFGrid::TableChanged() {
    selectedRow_ = std::clamp(selectedRow_, std::min(FirstDataRow(), LastDataRow()), LastDataRow());
    UpdateScrollBars();
    viewport()->update();
    emit SelectionChanged();
    emit RowsInSightChanged();
}

void ASFGrid::contextMenuEvent(QContextMenuEvent* event) {
    std::int32_t row = selectedRow_;
    QPoint at = event->globalPos();
    const bool noRows =
        LastDataRow() < FirstDataRow() || table_.CellText(kNameCol, FirstDataRow()).empty();
    if (event->reason() == QContextMenuEvent::Mouse) {
        // A right click on a data row acts on that row, and selects it; on
        // the header or the empty area, the folder's menu opens.
        const QPoint pos = viewport()->mapFrom(this, event->pos());
        row = InHeaderRow(pos.y()) ? -1 : Geometry().RowAt(pos.y());
        if (noRows || row < FirstDataRow() || row > LastDataRow()) {
            emit FolderMenuRequested(at);
            event->accept();
            return;
        }
        SelectRow(row);
    } else if (noRows) {
        emit FolderMenuRequested(viewport()->mapToGlobal(QPoint(20, Geometry().FixedRowsHeight())));
        event->accept();
        return;
    } else {
        // The menu key: at the selected row, as far as it is in sight.
        const QRect cell = Geometry().CellRect(1, selectedRow_);
        const int y = cell.isValid() ? cell.center().y() : Geometry().FixedRowsHeight();
        at = viewport()->mapToGlobal(QPoint(20, std::min(y, viewport()->height() - 1)));
    }
    if (row < FirstDataRow() || row > LastDataRow())
        return;
    emit StreamMenuRequested(row, at);
    event->accept();
}

void ASFGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    emit RowsInSightChanged();
}

void ASFGrid::UpdateScrollBars() {
    // Scroll bars count whole rows and whole columns. Their signals must go
    // through (the scroll area shows and hides them on a range change), so
    // the positions they report meanwhile are ignored.
    const GridGeometry geometry = Geometry();
    const std::int32_t firstRow = FirstDataRow();
    const std::int32_t firstCol = std::max(1, table_.FixedCols());
    const std::int32_t maxTop = std::max(firstRow, geometry.MaxTopRow());
    const std::int32_t maxLeft = std::max(firstCol, geometry.MaxLeftCol());
    const std::int32_t top = std::clamp(topRow_, firstRow, maxTop);
    const std::int32_t left = std::clamp(leftCol_, firstCol, maxLeft);
    updatingScrollBars_ = true;
    verticalScrollBar()->setRange(0, maxTop - firstRow);
    verticalScrollBar()->setPageStep(std::max(1, geometry.FullyVisibleRows()));
    verticalScrollBar()->setValue(top - firstRow);
    horizontalScrollBar()->setRange(0, maxLeft - firstCol);
    horizontalScrollBar()->setPageStep(1);
    horizontalScrollBar()->setValue(left - firstCol);
    updatingScrollBars_ = false;
    topRow_ = top;
    leftCol_ = left;
}

void ASFGrid::scrollContentsBy(int, int) {
    if (updatingScrollBars_)
        return;
    topRow_ = FirstDataRow() + verticalScrollBar()->value();
    leftCol_ = std::max(1, table_.FixedCols()) + horizontalScrollBar()->value();
    viewport()->update();
    emit RowsInSightChanged();
}

void ASFGrid::ScrollToRow(std::int64_t topRow) {
    topRow_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        topRow, FirstDataRow(), std::max(FirstDataRow(), Geometry().MaxTopRow())));
    UpdateScrollBars();
    viewport()->update();
}

void ASFGrid::ScrollToColumn(std::int32_t leftCol) {
    leftCol_ = leftCol;
    UpdateScrollBars();
    viewport()->update();
}

void ASFGrid::SelectRow(std::int64_t row) {
    if (LastDataRow() < FirstDataRow())
        return;
    const std::int32_t before = selectedRow_;
    selectedRow_ =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(row, FirstDataRow(), LastDataRow()));
    if (selectedRow_ != before)
        emit SelectionChanged();
    allSelected_ = false;
    const std::int32_t visible = std::max(1, Geometry().FullyVisibleRows());
    if (selectedRow_ < topRow_) {
        ScrollToRow(selectedRow_);
    } else if (selectedRow_ >= std::int64_t{topRow_} + visible) {
        ScrollToRow(std::int64_t{selectedRow_} - visible + 1);
    }
    viewport()->update();
}

bool ASFGrid::InHeaderRow(int y) const {
    return y >= 0 && y < Geometry().FixedRowsHeight();
}

void ASFGrid::SortBy(std::int32_t col) {
    if (col == sort_.Column) {
        sort_.Direction = sort_.Direction == sdAscending ? sdDescending : sdAscending;
    } else {
        sort_.Column = col;
        sort_.Direction = sdAscending;
    }
    // The rows move as wholes; the table reports one change, drawn once.
    // Sizes are compared as shown, the size on disk where it differs.
    tamrel::ShownText shown;
    if (diskFacts_ && col == kSizeCol)
        shown = [this](std::int32_t c, std::int32_t row) -> std::optional<std::string> {
            if (c != kSizeCol || row < FirstDataRow())
                return std::nullopt;
            return ShownText(c, row);
        };
    table_.MoveRows(FirstDataRow(), SortedRowOrder(table_, sort_, locale_, shown));
}

void ASFGrid::SetDiskFacts(DiskFacts facts) {
    diskFacts_ = std::move(facts);
    viewport()->update();
}

RowOnDisk ASFGrid::FactsOf(std::int32_t row) const {
    if (!diskFacts_ || row < FirstDataRow() || row > LastDataRow())
        return {};
    return diskFacts_(row);
}

void ASFGrid::SetPlayingRow(std::int32_t row) {
    if (row == playingRow_)
        return;
    playingRow_ = row;
    viewport()->update();
}

std::pair<std::int32_t, std::int32_t> ASFGrid::RowsInSight() const {
    return {topRow_, std::min(LastDataRow(), Geometry().LastVisibleRow())};
}

std::string ASFGrid::ShownText(std::int32_t col, std::int32_t row) const {
    const std::string& text = table_.CellText(col, row);
    if (col != kSizeCol || row < FirstDataRow())
        return text;
    const RowOnDisk facts = FactsOf(row);
    if (const auto changed = facts.size ? ChangedSize(*facts.size, text) : std::nullopt)
        return std::to_string(*changed);
    return text;
}

QString ASFGrid::HintAt(QPoint pos) const {
    if (InHeaderRow(pos.y()))
        return {};
    const GridGeometry geometry = Geometry();
    const std::int32_t row = geometry.RowAt(pos.y());
    const std::int32_t col = geometry.ColumnAt(pos.x());
    if (row < FirstDataRow() || row > LastDataRow())
        return {};
    if (col == 0 && row == playingRow_)
        return QStringLiteral("Playing (Stop in the row's menu)");
    const RowOnDisk facts = FactsOf(row);
    const std::string& name = table_.CellText(kNameCol, row);
    if ((col == kNameCol || col == kSizeCol) && !facts.missing.empty())
        return FromNative(facts.missing);
    if (col == kNameCol && facts.replaced)
        return FromNative("Replaced: the original is kept as " + KeptOriginalOf(name));
    const std::string& cell = table_.CellText(col, row);
    if (col == kSizeCol && ShownText(col, row) != cell) {
        const auto tableSize = ParseCellNumber(cell);
        // A shorter stream keeps its place: Pack fills it with zero bytes.
        if (tableSize && facts.size && *facts.size < *tableSize)
            return FromNative("On disk: " + ShownText(col, row) + " bytes; Pack fills it with " +
                              "zero bytes to the table's " + cell);
        return FromNative("On disk: " + ShownText(col, row) + " bytes; the table says " + cell +
                          " until the next Pack");
    }
    return {};
}

void ASFGrid::SizeToContents(std::int32_t col) {
    const QFontMetrics fixed(FixedFont());
    const QFontMetrics data(DataFont());
    int widest = 0;
    for (std::int32_t row = 0; row < table_.RowCount(); ++row) {
        const std::string& text = table_.CellText(col, row);
        if (text.empty())
            continue;
        const QFontMetrics& metrics = row < table_.FixedRows() ? fixed : data;
        widest = std::max(widest, metrics.horizontalAdvance(FromNative(text)));
    }
    table_.SetColWidths(col, widest + kAutoSizePadding);
}

void ASFGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;  // the middle button does nothing
    const QPoint pos = event->position().toPoint();
    const GridGeometry geometry = Geometry();
    drag_ = Drag::None;
    if (InHeaderRow(pos.y())) {
        const std::int32_t col = geometry.SizingColumnAt(pos.x());
        if (col >= 0) {
            drag_ = Drag::Sizing;
            sizingCol_ = col;
            sizingOffset_ = geometry.ColumnRight(col) - pos.x();
            sizingX_ = pos.x() + sizingOffset_;
            viewport()->update();
        } else {
            drag_ = Drag::HeaderPress;
        }
        return;
    }
    const std::int32_t row = geometry.RowAt(pos.y());
    const std::int32_t col = geometry.ColumnAt(pos.x());
    if (row >= FirstDataRow() && col >= table_.FixedCols()) {
        drag_ = Drag::Selecting;
        SelectRow(row);
    }
}

void ASFGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (drag_ == Drag::None || drag_ == Drag::HeaderPress) {
        const bool overBorder = InHeaderRow(pos.y()) && Geometry().SizingColumnAt(pos.x()) >= 0;
        viewport()->setCursor(overBorder || drag_ == Drag::Sizing ? Qt::SplitHCursor
                                                                  : Qt::ArrowCursor);
    }
    if (drag_ == Drag::Sizing) {
        sizingX_ = pos.x() + sizingOffset_;
        viewport()->update();
        return;
    }
    if (drag_ != Drag::Selecting)
        return;
    // Beyond the top or bottom edge the view scrolls; inside, the selection
    // follows the pointer row by row.
    const GridGeometry geometry = Geometry();
    if (pos.y() < geometry.FixedRowsHeight()) {
        autoScrollStep_ = -1;
    } else if (pos.y() >= viewport()->height()) {
        autoScrollStep_ = 1;
    } else {
        autoScrollStep_ = 0;
        const std::int32_t row = geometry.RowAt(pos.y());
        if (row >= FirstDataRow())
            SelectRow(row);
    }
    if (autoScrollStep_ != 0 && !autoScroll_.isActive()) {
        AutoScroll();
        autoScroll_.start();
    } else if (autoScrollStep_ == 0) {
        autoScroll_.stop();
    }
}

void ASFGrid::AutoScroll() {
    if (drag_ != Drag::Selecting || autoScrollStep_ == 0) {
        autoScroll_.stop();
        return;
    }
    SelectRow(std::int64_t{selectedRow_} + autoScrollStep_);
}

void ASFGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const Drag drag = std::exchange(drag_, Drag::None);
    autoScroll_.stop();
    const bool secondClickSized = std::exchange(doubleClickSized_, false);
    const GridGeometry geometry = Geometry();
    if (drag == Drag::Sizing) {
        // The width is the distance from the column's left edge to the line;
        // 1 pixel or less is not applied.
        const int width = sizingX_ - geometry.ColumnX(sizingCol_);
        if (width > 1 && width != table_.ColWidths(sizingCol_))
            table_.SetColWidths(sizingCol_, width);
        sizingCol_ = -1;
        viewport()->update();
        return;
    }
    if (drag != Drag::HeaderPress || secondClickSized || !InHeaderRow(pos.y()))
        return;
    if (table_.RowCount() < 3)
        return;  // fewer than two data rows
    const std::int32_t col = geometry.ColumnAt(pos.x());
    if (col < 0)
        return;
    const int left = geometry.ColumnX(col);
    const int right = geometry.ColumnRight(col);
    if (pos.x() - left < kBorderArea || right - pos.x() < kBorderArea)
        return;
    SortBy(col);
}

void ASFGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && InHeaderRow(pos.y())) {
        const GridGeometry geometry = Geometry();
        const std::int32_t col = geometry.ColumnAt(pos.x());
        std::int32_t target = -1;
        if (col >= 0 && pos.x() - geometry.ColumnX(col) < kBorderArea) {
            target = col - 1;
        } else if (col >= 0 && geometry.ColumnRight(col) - pos.x() < kBorderArea) {
            target = col;
        }
        if (target >= table_.FixedCols()) {
            SizeToContents(target);
            doubleClickSized_ = true;
            drag_ = Drag::None;
            return;
        }
    }
    // Otherwise the second click counts as a click of its own.
    mousePressEvent(event);
}

void ASFGrid::wheelEvent(QWheelEvent* event) {
    event->accept();
    // The wheel acts only with the focus, and not with Ctrl held.
    if (!hasFocus() || (event->modifiers() & Qt::ControlModifier))
        return;
    wheelRemainder_ += event->angleDelta().y();
    const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
    wheelRemainder_ -= notches * QWheelEvent::DefaultDeltasPerStep;
    if (notches == 0)
        return;
    // Turned toward the user (a negative delta), the selection moves down.
    const std::int64_t rows = std::int64_t{QApplication::wheelScrollLines() + 1} * notches;
    SelectRow(std::int64_t{selectedRow_} - rows);
}

void ASFGrid::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const GridGeometry geometry = Geometry();
    const std::int32_t page = std::max(1, geometry.FullyVisibleRows());
    switch (event->key()) {
        case Qt::Key_Up:
            ctrl ? ScrollToRow(std::int64_t{topRow_} - 1)
                 : SelectRow(std::int64_t{selectedRow_} - 1);
            break;
        case Qt::Key_Down:
            ctrl ? ScrollToRow(std::int64_t{topRow_} + 1)
                 : SelectRow(std::int64_t{selectedRow_} + 1);
            break;
        case Qt::Key_Left:
            if (!ctrl)
                SelectRow(std::int64_t{selectedRow_} - 1);
            break;
        case Qt::Key_Right:
            if (!ctrl)
                SelectRow(std::int64_t{selectedRow_} + 1);
            break;
        case Qt::Key_PageUp:
            ctrl ? SelectRow(topRow_) : SelectRow(std::int64_t{selectedRow_} - page);
            break;
        case Qt::Key_PageDown:
            ctrl ? SelectRow(std::int64_t{topRow_} + page - 1)
                 : SelectRow(std::int64_t{selectedRow_} + page);
            break;
        case Qt::Key_Home:
            ScrollToColumn(std::max(1, table_.FixedCols()));
            break;
        case Qt::Key_End:
            ScrollToColumn(geometry.MaxLeftCol());
            break;
        case Qt::Key_F10:
            // Shift+F10 is the menu key's twin.
            if (event->modifiers() & Qt::ShiftModifier) {
                QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
                contextMenuEvent(&menu);
            }
            break;
        case Qt::Key_A:
            if (ctrl) {
                allSelected_ = true;
                viewport()->update();
            }
            break;
        default:
            // Enter, F2, typing and the rest: cells are never edited.
            break;
    }
    event->accept();
}

void ASFGrid::PaintSortIndicator(QPainter& painter, const QRect& cell) {
    // An etched triangle, 8 by 8, centred 7 pixels left of the right edge and
    // 8 pixels below the top.
    const int cx = cell.left() + cell.width() - 7;
    const int cy = cell.top() + 8;
    painter.save();
    if (sort_.Direction == sdAscending) {
        const QPoint top(cx, cy - 4), left(cx - 4, cy + 4), right(cx + 4, cy + 4);
        painter.setPen(kIndicatorShadow);
        painter.drawLine(left, top);
        painter.setPen(Qt::white);
        painter.drawLine(top, right);
        painter.drawLine(left, right);
    } else {
        const QPoint left(cx - 4, cy - 4), right(cx + 4, cy - 4), bottom(cx, cy + 4);
        painter.setPen(kIndicatorShadow);
        painter.drawLine(left, right);
        painter.drawLine(left, bottom);
        painter.setPen(Qt::white);
        painter.drawLine(right, bottom);
    }
    painter.restore();
}

void ASFGrid::PaintCell(QPainter& painter, const QRect& rect, std::int32_t col, std::int32_t row) {
    const bool fixed = col < table_.FixedCols() || row < table_.FixedRows();
    const QColor buttonFace = palette().color(QPalette::Button);
    QColor textColor = palette().color(QPalette::WindowText);
    const bool indicator = row == 0 && col == sort_.Column && table_.RowCount() >= 3;
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
        } else if (row == selectedRow_ || allSelected_) {
            painter.fillRect(rect, kSelectedRow);
            textColor = Qt::black;
        } else {
            painter.fillRect(rect, palette().color(QPalette::Base));
        }
        const std::string text = ShownText(col, row);
        const bool fromDisk = text != table_.CellText(col, row);
        if (fromDisk)
            textColor = kOnDisk;
        // A row whose stream file is not there: its name struck through.
        const bool missing = !fixed && col == kNameCol && !FactsOf(row).missing.empty();
        if (missing)
            textColor = kMissing;
        if (!text.empty()) {
            painter.save();
            painter.setClipRect(rect);
            QFont font = fixed ? FixedFont() : DataFont();
            font.setStrikeOut(missing);
            painter.setFont(font);
            painter.setPen(textColor);
            // 2 pixels in from the left and top, clear of the right edge (and
            // of the sort indicator); wrapped at spaces and cut at the cell.
            const QRect textRect = rect.adjusted(2, 2, indicator ? -kIndicatorRoom : -2, 0);
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                             FromNative(text));
            painter.restore();
        }
        if (indicator)
            PaintSortIndicator(painter, rect);
        // The row that is playing: a small play sign at the end of its number.
        if (col == 0 && row == playingRow_ && row >= FirstDataRow()) {
            const int h = std::min(9, rect.height() - 4);
            const QPoint tip(rect.left() + rect.width() - 4, rect.top() + rect.height() / 2);
            const QPolygon sign(
                {tip, tip - QPoint(h * 3 / 4, h / 2), tip - QPoint(h * 3 / 4, -h / 2)});
            painter.save();
            painter.setPen(Qt::NoPen);
            painter.setBrush(kPlaying);
            painter.drawPolygon(sign);
            painter.restore();
        }
        // A replaced stream: a small corner mark on its name, like a note.
        if (!fixed && col == kNameCol && FactsOf(row).replaced) {
            const int size = std::min(7, rect.height() - 2);
            const QPoint corner(rect.left() + rect.width() - 1, rect.top());
            const QPolygon mark({corner, corner - QPoint(size, 0), corner + QPoint(0, size)});
            painter.save();
            painter.setPen(Qt::NoPen);
            painter.setBrush(kReplacedMark);
            painter.drawPolygon(mark);
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
    if (drag_ == Drag::Sizing) {
        // The line that follows the pointer while a border is dragged.
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawLine(sizingX_, 0, sizingX_, viewport()->height());
    }
}

}  // namespace tamrel
