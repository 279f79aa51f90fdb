#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "ASFGrid.h"
#include "AppSetup.h"
#include "BalloonTip.h"
#include "PairBuilder.h"
#include "RangeProgressBar.h"
#include "RecordingPrompts.h"
#include "StatusPanels.h"
#include "TestFiles.h"
#include "Unit1.h"
#include "archive/host/ProgressRange.h"

namespace tamrel {
namespace {

using test::RecordingPrompts;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : form(std::make_unique<RecordingPrompts>(shared)) {
        form.show();
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    // The tool buttons from left to right.
    std::vector<QToolButton*> Buttons() const {
        auto buttons = form.ToolBar()->findChildren<QToolButton*>();
        std::sort(buttons.begin(), buttons.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
        return {buttons.begin(), buttons.end()};
    }
    RecordingPrompts::Shared shared;
    TForm1 form;
};

TEST_F(MainWindowTest, ANewWindow) {
    EXPECT_EQ(form.windowTitle(), "Tamrel Ast-Abk Packer/Unpacker v1.1");
    EXPECT_EQ(form.size(), QSize(548, 319));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    EXPECT_EQ(form.ToolBar()->geometry(), QRect(0, 0, 548, 33));
    EXPECT_EQ(form.Grid()->geometry(), QRect(7, 33, 533, 241));
    EXPECT_EQ(form.ProgressBar()->geometry(), QRect(7, 280, 533, 13));
    EXPECT_EQ(form.StatusBar()->geometry(), QRect(0, 294, 548, 25));

    const auto buttons = Buttons();
    ASSERT_EQ(buttons.size(), 4u);
    const char* names[] = {"ExportButton", "ImportButton", "ToolButton9", "ToolButton8"};
    const char* hints[] = {"Unpack", "Pack", "Help / Support", "Exit"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(buttons[i]->objectName(), names[i]);
        EXPECT_EQ(form.Tips()->HintOf(buttons[i]), hints[i]);
        EXPECT_EQ(buttons[i]->geometry(), QRect(8 + static_cast<int>(i) * 31, 2, 23, 22));
        EXPECT_FALSE(buttons[i]->autoRaise());
        EXPECT_EQ(buttons[i]->focusPolicy(), Qt::NoFocus);
        EXPECT_FALSE(buttons[i]->icon().isNull());
    }

    for (int panel = 0; panel < 4; ++panel)
        EXPECT_EQ(form.StatusBar()->PanelText(panel), "");
    EXPECT_EQ(form.StatusBar()->PanelRect(1).left(), 150);
    EXPECT_EQ(form.StatusBar()->PanelRect(3).left(), 440);
    const ProgressRange& range = form.ProgressBar()->Range();
    EXPECT_EQ(range.Min(), 0);
    EXPECT_EQ(range.Max(), 100);
    EXPECT_EQ(range.Position(), 0);

    EXPECT_EQ(form.Table().ColCount(), 2);
    EXPECT_EQ(form.Table().RowCount(), 2);
    EXPECT_EQ(form.Table().ColWidths(0), 60);
    EXPECT_EQ(form.Table().ColWidths(1), 100);
    EXPECT_TRUE(form.Grid()->hasFocus());
}

TEST_F(MainWindowTest, TheProgressBarKeepsTheRangeRule) {
    // The rule itself is tested in the core; the window's bar applies it.
    form.SetProgressMin(1);
    EXPECT_THROW(form.SetProgressMax(0), ProgressRangeError);
    EXPECT_EQ(form.ProgressBar()->Range().Max(), 100);
    form.SetProgressPosition(500);
    EXPECT_EQ(form.ProgressBar()->Range().ShownPosition(), 100);
}

TEST_F(MainWindowTest, ARefusedRangeReachesTheErrorBox) {
    form.RunCommand([&] { form.SetProgressMax(-1); });
    EXPECT_EQ(shared.boxes, QStringList{"error|Tamrel|TProgressBar property out of range."});
    EXPECT_EQ(form.ProgressBar()->Range().Min(), 0);
    EXPECT_EQ(form.ProgressBar()->Range().Max(), 100);
}

TEST(ErrorBoxText, AppendsAFullStopAfterALetterOrDigitOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"Cannot open file x.tba", "Cannot open file x.tba."},
        {"Done.", "Done."},
        {"Alarm!", "Alarm!"},
        {"(in brackets)", "(in brackets)"},
        {"out of bounds (-1)", "out of bounds (-1)"},
        {"ends in 7", "ends in 7."},
        {"", ""},
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(ErrorBoxText(message), shown) << message;
}

TEST(ApplicationTitle, FromTheProgramFileName) {
    EXPECT_EQ(ApplicationTitleFromProgramFile("/usr/bin/tamrel"), "Tamrel");
    EXPECT_EQ(ApplicationTitleFromProgramFile("C:/Tools/PACKER.EXE"), "Packer");
    EXPECT_EQ(ApplicationTitleFromProgramFile("build/app/my.prog.x"), "My");
    EXPECT_EQ(TamrelApplication::Instance()->Title(), "Tamrel");
}

TEST_F(MainWindowTest, BusyAndIdle) {
    ASSERT_TRUE(form.Grid()->hasFocus());
    form.Busy();
    EXPECT_FALSE(form.ToolBar()->isEnabled());
    EXPECT_FALSE(form.Grid()->isEnabled());
    EXPECT_FALSE(form.Grid()->hasFocus());
    EXPECT_TRUE(form.isEnabled());
    form.Idle();
    EXPECT_TRUE(form.ToolBar()->isEnabled());
    EXPECT_TRUE(form.Grid()->isEnabled());
    EXPECT_FALSE(form.Grid()->hasFocus());  // idle does not give the focus back
    QTest::mouseClick(form.Grid()->viewport(), Qt::LeftButton, {}, QPoint(150, 30));
    EXPECT_TRUE(form.Grid()->hasFocus());
}

TEST_F(MainWindowTest, DisabledWindowIgnoresClosing) {
    form.DisableWindow();
    EXPECT_FALSE(form.isEnabled());
    EXPECT_FALSE(form.Grid()->isEnabled());
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    form.EnableWindow();
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindowTest, CloseDuringACommandWaitsForItsEndAndItsLastBox) {
    QStringList order;
    shared.onBox = [&] { order << (form.isVisible() ? "box while open" : "box after close"); };
    form.RunCommand([&] {
        form.Busy();
        form.close();  // the close box pressed while the command pumps events
        form.PumpEvents();
        order << (form.isVisible() ? "still open" : "closed");
        form.Idle();
        form.InformationBox("Successfully extracted to x", "Information");
    });
    order << (form.isVisible() ? "open at the end" : "closed at the end");
    EXPECT_EQ(order, (QStringList{"still open", "box while open", "closed at the end"}));
}

TEST_F(MainWindowTest, ExitClosesAtOnce) {
    Buttons()[3]->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(shared.boxes.isEmpty());
}

TEST_F(MainWindowTest, ServicesReachTheirControls) {
    form.SetStatusPanel(0, "intro.abk - intro.ast");
    form.SetStatusPanel(1, "Asf count: 3");
    EXPECT_EQ(form.StatusBar()->PanelText(0), "intro.abk - intro.ast");
    EXPECT_EQ(form.StatusBar()->PanelText(1), "Asf count: 3");
    form.WarningBox("File: x not found.", "Error");
    form.InformationBox("Successfully saved to a\r\nand b", "Information");
    EXPECT_EQ(shared.boxes,
              (QStringList{"warning|Error|File: x not found.",
                           "information|Information|Successfully saved to a\r\nand b"}));
    shared.file = "/tmp/intro.ast";
    // The path as the core takes it: with the system's separators.
    EXPECT_EQ(form.FileOpenDialog("*.ast;*.abk|*.ast;*.abk"),
              std::optional<std::string>(NativePath(QStringLiteral("/tmp/intro.ast"))));
    EXPECT_EQ(shared.filters, QStringList{"*.ast;*.abk|*.ast;*.abk"});
    shared.folder.reset();
    EXPECT_EQ(form.FolderSelectionDialog(), std::nullopt);
}

TEST_F(MainWindowTest, UnpackAndPackFromTheToolBar) {
    test::TempDir dir;
    test::PairRecipe recipe = test::ThreeStreams();
    const test::Pair pair = test::BuildPair(dir.path(), "intro", recipe);

    shared.file = QString::fromStdString(pair.bankPath);
    Buttons()[0]->click();
    const QString folder = QString::fromStdString(dir / "intro_");
    EXPECT_EQ(shared.boxes,
              QStringList{"information|Information|Successfully extracted to " + folder});
    EXPECT_EQ(shared.filters, QStringList{"*.ast;*.abk|*.ast;*.abk"});
    EXPECT_EQ(form.StatusBar()->PanelText(0), "intro.abk - intro.ast");
    EXPECT_EQ(form.StatusBar()->PanelText(1), "Asf count: 3");
    EXPECT_EQ(form.Table().RowCount(), 4);
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(form.ToolBar()->isEnabled());

    test::WriteFileBytes(dir / "intro_/intro_00002.asf", test::StreamBytes(9, 250));
    shared.folder = folder;
    shared.boxes.clear();
    Buttons()[1]->click();
    const QString newBank = QString::fromStdString(dir / "intro_.abk");
    const QString newArchive = QString::fromStdString(dir / "intro_.ast");
    EXPECT_EQ(shared.boxes, QStringList{"information|Information|Successfully saved to " + newBank +
                                        "\r\nand " + newArchive});
    EXPECT_EQ(form.Table().CellText(3, 3), "356");
    EXPECT_EQ(test::ReadFileBytes(dir / "intro_.ast").size(), 406u);
    EXPECT_EQ(form.ProgressBar()->Range().Position(), 0);
}

TEST_F(MainWindowTest, AfterAnErrorTheWindowIsUsableAgain) {
    test::TempDir dir;
    QDir().mkpath(QString::fromStdString(dir / "music_"));
    test::WriteFileBytes(dir / "music_/music_.ida", "bank");
    test::WriteFileBytes(dir / "music_/music_.tba", "17,3\r\n1,-1,bad row\r\n");
    shared.folder = QString::fromStdString(dir / "music_");
    Buttons()[1]->click();
    EXPECT_EQ(shared.boxes, QStringList{"error|Tamrel|List index out of bounds (-1)"});
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(form.ToolBar()->isEnabled());
    EXPECT_EQ(test::TempDir::ListingOf(dir.path()), "music_\n");  // nothing written beside it
}

TEST(QtNameFilters, OneEntryPerLabelAndPatterns) {
    EXPECT_EQ(QtNameFilters("*.ast;*.abk|*.ast;*.abk"), QStringList{"*.ast;*.abk (*.ast *.abk)"});
    EXPECT_EQ(QtNameFilters("Banks|*.abk|All|*"), (QStringList{"Banks (*.abk)", "All (*)"}));
}

TEST(DesktopPrompts, TheRealWarningBoxAppearsWithOneOkButton) {
    DesktopPrompts prompts;
    QString seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            seen = "no box";
            return;
        }
        seen = QStringLiteral("%1|%2|%3|%4")
                   .arg(box->windowTitle(), box->text())
                   .arg(box->icon() == QMessageBox::Warning)
                   .arg(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    prompts.MessageBox(Prompts::Icon::Warning, "File: x not found.", "Error");
    EXPECT_EQ(seen, "Error|File: x not found.|1|1");
}

TEST(DesktopPrompts, TheFileDialogRemembersTheChosenFileAsAFullPath) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "intro.ast", "SCHl");
    // Qt's form of the path, with "/" on every system, as Qt's dialog gives it.
    const QString path = QDir::fromNativeSeparators(QString::fromStdString(dir / "intro.ast"));
    DesktopPrompts prompts;
    QString shownSecondTime;
    auto answer = [&](bool choose) {
        QTimer::singleShot(0, [&, choose] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
            EXPECT_EQ(dialog->nameFilters(), QStringList{"*.ast;*.abk (*.ast *.abk)"});
            if (choose) {
                name->setText(path);
                QMetaObject::invokeMethod(dialog, "accept");
            } else {
                shownSecondTime = name->text();
                dialog->reject();
            }
        });
    };
    answer(true);
    EXPECT_EQ(prompts.OpenFile(nullptr, "*.ast;*.abk|*.ast;*.abk"), std::optional<QString>(path));
    answer(false);
    EXPECT_EQ(prompts.OpenFile(nullptr, "*.ast;*.abk|*.ast;*.abk"), std::nullopt);
    EXPECT_EQ(shownSecondTime, path);
}

}  // namespace
}  // namespace tamrel
