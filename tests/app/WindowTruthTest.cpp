// The window tells what is on disk and acts on what it shows: rows that
// follow their files, the folder pickers, the keys of the tool bar.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "ASFGrid.h"
#include "HelpSupport.h"
#include "PairBuilder.h"
#include "RecordingPrompts.h"
#include "TestFiles.h"
#include "Unit1.h"

namespace tamrel {
namespace {

// Each key of the tool bar presses its button, and only while the button
// takes a click.
TEST(WindowTruth, TheToolBarsKeysPressItsButtons) {
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(shared.purposes, QList<int>{static_cast<int>(Prompts::Purpose::Unpack)});
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::Pack));

    bool helpShown = false;
    QTimer::singleShot(50, [&helpShown] {
        if (auto* help = qobject_cast<THelpSupport*>(QApplication::activeModalWidget())) {
            helpShown = true;
            help->accept();
        }
    });
    QTest::keyClick(&form, Qt::Key_F1);
    EXPECT_TRUE(helpShown);
    form.activateWindow();  // offscreen, no window manager gives it back
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    // A busy tool bar takes no key either.
    form.Busy();
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(shared.purposes.size(), 2);
    form.Idle();
    QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace tamrel
