// What only a real display shows: a balloon tip under a real pointer, moved
// by xdotool as a user's mouse moves it, on an X server (Xvfb), with and
// without a window manager (scripts/run-under-xvfb.sh runs it both ways).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <string>

#include "AppSetup.h"
#include "BalloonTip.h"
#include "Unit1.h"

namespace tamrel {
namespace {

// Counts the times the tip's window is mapped and unmapped.
class VisibilityCounter : public QObject {
public:
    int shown = 0, hidden = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ++shown;
        if (event->type() == QEvent::Hide)
            ++hidden;
        return false;
    }
};

void MovePointer(QPoint global) {
    const std::string command =
        "xdotool mousemove " + std::to_string(global.x()) + " " + std::to_string(global.y());
    ASSERT_EQ(std::system(command.c_str()), 0);
}

void Wait(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(TipOnDisplay, ATipStaysWhileThePointerRestsAndThenCloses) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    Wait(300);
    auto* pack = form.findChild<QToolButton*>(QStringLiteral("ImportButton"));
    ASSERT_NE(pack, nullptr);
    BalloonTip* tip = form.Tips()->Tip();
    VisibilityCounter counter;
    tip->installEventFilter(&counter);
    const QPoint away = form.mapToGlobal(QPoint(300, 150));
    const QPoint onPack = pack->mapToGlobal(pack->rect().center());

    MovePointer(away);  // away from every button first
    Wait(700);
    QElapsedTimer sinceMove;
    MovePointer(onPack);
    sinceMove.start();
    while (!tip->isVisible() && sinceMove.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 shownAfter = sinceMove.elapsed();
    ASSERT_TRUE(tip->isVisible());
    // Not before the pointer has rested 500 ms (xdotool's own start adds a little).
    EXPECT_GE(shownAfter, 480);
    EXPECT_LT(shownAfter, 800);
    EXPECT_EQ(tip->Text(), QStringLiteral("Pack"));
    // Above and to the right of the pointer, never under it.
    EXPECT_LT(tip->geometry().bottom(), onPack.y());
    EXPECT_GE(tip->geometry().right(), onPack.x());
    // It stays, shown once, for its 2500 ms, and then closes, once.
    QElapsedTimer sinceShown;
    sinceShown.start();
    Wait(2350);
    EXPECT_TRUE(tip->isVisible());
    EXPECT_EQ(counter.shown, 1);
    EXPECT_EQ(counter.hidden, 0);
    Wait(2700 - static_cast<int>(sinceShown.elapsed()));
    EXPECT_FALSE(tip->isVisible());
    EXPECT_EQ(counter.shown, 1);
    EXPECT_EQ(counter.hidden, 1);

    // Moving off the button closes a showing tip at once.
    MovePointer(away);
    Wait(600);
    MovePointer(onPack);
    Wait(900);
    ASSERT_TRUE(tip->isVisible());
    MovePointer(away);
    Wait(150);
    EXPECT_FALSE(tip->isVisible());
}

}  // namespace
}  // namespace tamrel

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::testing::InitGoogleTest(&argc, argv);
    char programName[] = "/usr/bin/tamrel";
    int appArgc = 1;
    char* appArgv[] = {programName, nullptr};
    tamrel::TamrelApplication app(appArgc, appArgv);
    tamrel::RegisterBundledFonts();
    return RUN_ALL_TESTS();
}
