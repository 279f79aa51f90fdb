#include "BalloonTip.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QTest>
#include <QToolButton>

namespace tamrel {
namespace {

const QRect kScreen(0, 0, 1024, 768);

TEST(BalloonLayout, StandsAboveRightWithTheTailOnThePointer) {
    const BalloonLayout layout = LayOutBalloon(QPoint(300, 300), QSize(30, 13), kScreen);
    EXPECT_TRUE(layout.above);
    EXPECT_TRUE(layout.right);
    EXPECT_EQ(layout.box.width(), 55);  // never narrower than 55
    EXPECT_EQ(layout.box.height(), 13 + 8);
    // The tail's tip, 10 pixels in from the box's left edge and 20 below its
    // lower edge, points at the pointer from the pixel above it: the balloon
    // never covers the pointer.
    EXPECT_EQ(layout.window.left() + 10, 300);
    EXPECT_EQ(layout.window.top() + layout.box.bottom() + 20, 299);
    EXPECT_EQ(layout.window.bottom(), 299);
    EXPECT_GT(layout.window.right(), 300);
    EXPECT_TRUE(
        layout.shape.contains(QPointF(20.5, layout.box.bottom() + 5.0)));  // inside the tail
    EXPECT_FALSE(layout.shape.contains(QPointF(40.5, layout.box.bottom() + 5.0)));
    EXPECT_EQ(layout.text.left(), 4);
    EXPECT_EQ(layout.text.top(), 4);
}

TEST(BalloonLayout, FallsBackBelowAndToTheLeft) {
    const QSize text(90, 26);
    BalloonLayout nearTop = LayOutBalloon(QPoint(300, 10), text, kScreen);
    EXPECT_FALSE(nearTop.above);
    EXPECT_EQ(nearTop.window.top(), 11);  // the tip just below the pointer, box below it
    EXPECT_EQ(nearTop.box.top(), 20);

    BalloonLayout nearRight = LayOutBalloon(QPoint(1020, 300), text, kScreen);
    EXPECT_FALSE(nearRight.right);
    EXPECT_TRUE(nearRight.above);
    EXPECT_EQ(nearRight.window.left() + nearRight.box.width() - 10, 1020);
    EXPECT_LE(nearRight.window.left() + nearRight.box.width(), 1024 + 10);
    EXPECT_EQ(nearRight.box.width(), 98);
}

TEST(BalloonTip, WrapsTextAt100Pixels) {
    BalloonTip tip;
    tip.ShowAt("a rather long hint that certainly needs more than one line", QPoint(300, 300));
    EXPECT_LE(tip.Layout().text.width(), 100);
    EXPECT_GT(tip.Layout().text.height(), QFontMetrics(tip.font()).height());
    tip.hide();
}

TEST(BalloonTip, TheOutlineRunsInsideTheMaskOnEverySide) {
    for (const QPoint pointer : {QPoint(300, 300), QPoint(300, 5), QPoint(1020, 300)}) {
        BalloonTip tip;
        tip.ShowAt("Unpack", pointer);
        const QImage picture = tip.grab().toImage();
        const QRegion mask = tip.mask();
        const QColor outline = tip.palette().color(QPalette::ToolTipText);
        int edgePixels = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (!mask.contains(QPoint(x, y)))
                    continue;
                // Every pixel of the window at the mask's edge is outline: no
                // fill colour where the outline belongs, no fringe outside it.
                const bool edge =
                    !mask.contains(QPoint(x - 1, y)) || !mask.contains(QPoint(x + 1, y)) ||
                    !mask.contains(QPoint(x, y - 1)) || !mask.contains(QPoint(x, y + 1)) ||
                    x == 0 || y == 0 || x == picture.width() - 1 || y == picture.height() - 1;
                if (!edge)
                    continue;
                ++edgePixels;
                EXPECT_EQ(picture.pixelColor(x, y), outline) << "at " << x << "," << y;
            }
        }
        EXPECT_GT(edgePixels, tip.width() + tip.height());  // the check saw the edge
        tip.hide();
    }
}

TEST(BalloonTipController, ShowsTheHintAfterRestingAndHidesOnLeave) {
    QWidget window;
    window.resize(200, 100);
    auto* button = new QToolButton(&window);
    button->setGeometry(10, 10, 23, 22);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    BalloonTipController tips;
    tips.AddHint(button, "Pack");

    QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
    QCoreApplication::sendEvent(button, &enter);
    EXPECT_FALSE(tips.Tip()->isVisible());  // not before the pointer has rested
    QTRY_VERIFY_WITH_TIMEOUT(tips.Tip()->isVisible(), 2000);
    EXPECT_EQ(tips.Tip()->Text(), "Pack");

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    EXPECT_FALSE(tips.Tip()->isVisible());

    // Qt's own tip never shows for a control with a balloon hint.
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), QPoint(15, 15));
    EXPECT_TRUE(QCoreApplication::sendEvent(button, &help));
}

}  // namespace
}  // namespace tamrel
