#include "ASFGrid.h"
#include "archive/pair/Unpack.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "AppSetup.h"

namespace tamrel {
namespace {

// Fills the table as Unpack does, for streams of the given sizes.
void FillLikeUnpack(StreamTable& table, const std::vector<int>& sizes) {
    table.Reset();
    table.Clear();
    PrepareStreamColumns(table);
    table.SetRowCount(static_cast<std::int32_t>(sizes.size()) + 1);
    int address = 0;
    for (std::size_t k = 1; k <= sizes.size(); ++k) {
        const auto row = static_cast<std::int32_t>(k);
        table.SetCellText(0, row, std::to_string(k));
        table.SetCellText(1, row, "intro_0000" + std::to_string(k) + ".asf");
        table.SetCellText(3, row, std::to_string(address));
        table.SetCellText(4, row, k == 1 ? "0" : std::to_string(40 * (k - 1)));
        table.SetCellText(11, row, std::to_string(sizes[k - 1]));
        address += sizes[k - 1];
    }
}

class ASFGridTest : public ::testing::Test {
protected:
    ASFGridTest() : grid(table) {
        grid.resize(533, 241);
        grid.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    QWidget* View() { return grid.viewport(); }
    // The middle of a header cell, and a point a few pixels from its edges.
    QPoint Header(std::int32_t col, int dx = -1) {
        const GridGeometry g = grid.Geometry();
        const int x = dx < 0 ? (g.ColumnX(col) + g.ColumnRight(col)) / 2 : g.ColumnX(col) + dx;
        return QPoint(x, 10);
    }
    std::vector<std::string> Column(std::int32_t col) const {
        std::vector<std::string> texts;
        for (std::int32_t row = 1; row < table.RowCount(); ++row)
            texts.push_back(table.CellText(col, row));
        return texts;
    }
    QImage Picture() { return View()->grab().toImage(); }

    StreamTable table;
    ASFGrid grid;
};

using Texts = std::vector<std::string>;

TEST_F(ASFGridTest, TheStartTableNeitherSortsNorShowsAnIndicator) {
    ASSERT_EQ(table.RowCount(), 2);
    const QImage before = Picture();
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(0));
    EXPECT_EQ(grid.Sort().Column, 0);
    EXPECT_EQ(grid.Sort().Direction, sdAscending);
    EXPECT_EQ(Picture(), before);
    EXPECT_EQ(grid.SelectedRow(), 1);
}

TEST_F(ASFGridTest, HeaderClicksSortWholeRowsAndTurnTheDirection) {
    FillLikeUnpack(table, {100, 200, 50});
    // "#" starts ascending, so its first click sorts descending.
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(0));
    EXPECT_EQ(Column(0), (Texts{"3", "2", "1"}));
    EXPECT_EQ(grid.Sort().Direction, sdDescending);
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(0));
    EXPECT_EQ(Column(0), (Texts{"1", "2", "3"}));

    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(11));
    EXPECT_EQ(Column(0), (Texts{"3", "1", "2"}));
    EXPECT_EQ(Column(11), (Texts{"50", "100", "200"}));
    EXPECT_EQ(Column(3), (Texts{"300", "0", "100"}));  // the rows moved whole
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(11));
    EXPECT_EQ(Column(0), (Texts{"2", "1", "3"}));

    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(1));  // names sort as text
    EXPECT_EQ(Column(0), (Texts{"1", "2", "3"}));
    EXPECT_EQ(grid.SelectedRow(), 1);  // the selection keeps its row index
}

TEST_F(ASFGridTest, ClicksNearAHeaderEdgeDoNotSort) {
    FillLikeUnpack(table, {100, 200, 50});
    const GridGeometry g = grid.Geometry();
    // 3 pixels in from the left edge of "Asf Size", and 3 in from the right
    // edge of "Ast Addr" (inside the sizing zone: a click without a drag).
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(g.ColumnX(11) + 3, 10));
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(g.ColumnRight(3) - 3, 10));
    EXPECT_EQ(Column(0), (Texts{"1", "2", "3"}));
    EXPECT_EQ(table.ColWidths(3), 100);
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(g.ColumnX(11) + 4, 10));
    EXPECT_EQ(Column(0), (Texts{"3", "1", "2"}));
}

TEST_F(ASFGridTest, DraggingABorderSizesItsColumnButNeverBelowTwoPixels) {
    FillLikeUnpack(table, {100, 200});
    const GridGeometry g = grid.Geometry();
    const QPoint border(g.ColumnRight(3), 10);
    auto drag = [&](int toX) {
        QTest::mousePress(View(), Qt::LeftButton, {}, border);
        QMouseEvent move(QEvent::MouseMove, QPointF(toX, 10), View()->mapToGlobal(QPointF(toX, 10)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(View(), &move);
        QTest::mouseRelease(View(), Qt::LeftButton, {}, QPoint(toX, 10));
    };
    drag(g.ColumnX(3) + 1);
    EXPECT_EQ(table.ColWidths(3), 100);
    drag(g.ColumnX(3) + 2);
    EXPECT_EQ(table.ColWidths(3), 2);
    EXPECT_EQ(Column(0), (Texts{"1", "2"}));  // a drag never sorts
}

TEST_F(ASFGridTest, SizingZonesAndHiddenColumns) {
    FillLikeUnpack(table, {100, 200});
    const GridGeometry g = grid.Geometry();
    const int line = g.ColumnRight(4);  // "Abk Pos", followed by six hidden columns
    EXPECT_EQ(g.SizingColumnAt(line - 3), 4);
    EXPECT_EQ(g.SizingColumnAt(line + 4), 4);
    EXPECT_EQ(g.SizingColumnAt(line + 5), 5);  // the hidden columns, just beyond
    EXPECT_EQ(g.SizingColumnAt(line + 10), 10);
    EXPECT_EQ(g.SizingColumnAt(line + 11), -1);
    EXPECT_EQ(g.ColumnX(11), line + 7);                 // seven grid lines between the two
    EXPECT_EQ(g.SizingColumnAt(g.ColumnRight(0)), -1);  // the number column is not sized
    EXPECT_EQ(g.SizingColumnAt(g.ColumnRight(0) + 4), -1);
    EXPECT_EQ(g.RowAt(10), 0);
    EXPECT_EQ(g.RowAt(22), 1);
}

TEST_F(ASFGridTest, ADoubleClickOnABorderSizesToTheWidestText) {
    FillLikeUnpack(table, {100, 200});
    table.SetCellText(1, 2, "a much longer stream name.asf");
    const GridGeometry g = grid.Geometry();
    QTest::mouseDClick(View(), Qt::LeftButton, {}, QPoint(g.ColumnRight(1) - 1, 10));
    const int expected =
        QFontMetrics(TahomaFont(12)).horizontalAdvance("a much longer stream name.asf") + 6;
    EXPECT_EQ(table.ColWidths(1), expected);
    EXPECT_EQ(Column(0), (Texts{"1", "2"}));  // the double-click did not sort
    // A short column: the header, measured in the bold font, is the widest text.
    // Near a cell's left edge: the column to its left is sized.
    QTest::mouseDClick(View(), Qt::LeftButton, {}, QPoint(grid.Geometry().ColumnX(4) + 1, 10));
    EXPECT_EQ(table.ColWidths(3),
              QFontMetrics(TahomaFont(13, true)).horizontalAdvance("Ast Addr") + 6);
}

TEST_F(ASFGridTest, TheIndicatorStaysAcrossARefill) {
    FillLikeUnpack(table, {100, 200, 50});
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(11));
    FillLikeUnpack(table, {100, 200, 50});
    EXPECT_EQ(grid.Sort().Column, 11);
    EXPECT_EQ(Column(0), (Texts{"1", "2", "3"}));
    QTest::mouseClick(View(), Qt::LeftButton, {}, Header(11));  // the other direction
    EXPECT_EQ(Column(0), (Texts{"2", "1", "3"}));
}

TEST_F(ASFGridTest, PixelsOfLinesSelectionAndIndicator) {
    FillLikeUnpack(table, {100, 200, 50});
    const GridGeometry g = grid.Geometry();
    const QImage image = Picture();
    const int headerLineY = GridGeometry::kDefaultRowHeight;              // below the header row
    EXPECT_EQ(image.pixelColor(g.ColumnRight(0), 5), QColor(Qt::black));  // between fixed cells
    EXPECT_EQ(image.pixelColor(g.ColumnRight(3), 30), QColor(192, 192, 192));  // between data cells
    EXPECT_EQ(image.pixelColor(30, headerLineY), QColor(Qt::black));
    for (int x = g.ColumnRight(4); x < g.ColumnX(11); ++x)
        EXPECT_EQ(image.pixelColor(x, 60), QColor(192, 192, 192)) << x;  // the seven-pixel line
    EXPECT_EQ(image.pixelColor(g.ColumnX(3) + 60, 22 + 15),
              QColor(182, 202, 234));  // row 1 selected
    EXPECT_EQ(image.pixelColor(g.ColumnX(3) + 60, 44 + 15), QColor(Qt::white));
    // The ascending indicator in "#": an upward triangle centred 7 pixels
    // left of the right edge, 8 below the top; its left side grey, bottom white.
    const int cx = g.ColumnRight(0) - 7, cy = 8;
    EXPECT_EQ(image.pixelColor(cx - 3, cy + 2), QColor(128, 128, 128));
    EXPECT_EQ(image.pixelColor(cx, cy + 4), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(cx + 2, cy), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(cx - 2, cy), QColor(128, 128, 128));
}

TEST_F(ASFGridTest, KeysAndTheWheelMoveTheSelection) {
    std::vector<int> sizes(40, 16);
    FillLikeUnpack(table, sizes);
    QApplication::processEvents();
    EXPECT_TRUE(grid.verticalScrollBar()->isVisible());  // not all rows fit
    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(100, 100), View()->mapToGlobal(QPointF(100, 100)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(View(), &event);
    };
    grid.clearFocus();
    wheel(-120);
    EXPECT_EQ(grid.SelectedRow(), 1);  // no focus: the wheel does nothing
    grid.setFocus();
    ASSERT_TRUE(grid.hasFocus());
    wheel(-120);
    EXPECT_EQ(grid.SelectedRow(), 1 + QApplication::wheelScrollLines() + 1);
    wheel(120 * 50);
    EXPECT_EQ(grid.SelectedRow(), 1);

    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(grid.SelectedRow(), 2);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ControlModifier);  // scrolls; the selection stays
    EXPECT_EQ(grid.TopRow(), 2);
    EXPECT_EQ(grid.SelectedRow(), 2);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(grid.SelectedRow(), 2);
    QTest::keyClick(&grid, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(grid.SelectedRow(), grid.TopRow() + grid.Geometry().FullyVisibleRows() - 1);
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(grid.AllRowsHighlighted());
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_FALSE(grid.AllRowsHighlighted());
    QTest::keyClick(&grid, Qt::Key_Return);
    QTest::keyClicks(&grid, "typed");
    EXPECT_EQ(table.CellText(1, 1), "intro_00001.asf");  // nothing is ever edited
}

TEST_F(ASFGridTest, ClickAndDragSelectDataRowsOnly) {
    FillLikeUnpack(table, {100, 200, 50});
    const GridGeometry g = grid.Geometry();
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(g.ColumnX(3) + 10, g.RowY(3) + 5));
    EXPECT_EQ(grid.SelectedRow(), 3);
    EXPECT_TRUE(grid.hasFocus());
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(10, g.RowY(2) + 5));  // the number column
    EXPECT_EQ(grid.SelectedRow(), 3);
    QTest::mousePress(View(), Qt::LeftButton, {}, QPoint(g.ColumnX(3) + 10, g.RowY(1) + 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(g.ColumnX(3) + 10, g.RowY(2) + 5),
                     View()->mapToGlobal(QPointF(g.ColumnX(3) + 10, g.RowY(2) + 5)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(View(), &move);
    EXPECT_EQ(grid.SelectedRow(), 2);
    QTest::mouseRelease(View(), Qt::LeftButton, {}, QPoint(g.ColumnX(3) + 10, g.RowY(2) + 5));
}

}  // namespace
}  // namespace tamrel
