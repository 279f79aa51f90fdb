// The window's finish: boxes placed and giving activation back, the progress
// bar alive while the window is disabled, the file filter's label, drops.
#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include "ASFGrid.h"
#include "HelpSupport.h"
#include "PairBuilder.h"
#include "Placement.h"
#include "RangeProgressBar.h"
#include "RecordingPrompts.h"
#include "RecordingWindow.h"
#include "StatusPanels.h"
#include "StreamActions.h"
#include "TestFiles.h"
#include "Unit1.h"
#include "archive/pair/Unpack.h"

namespace tamrel {
namespace {

// Runs check on the modal widget that opens next, then closes it.
void WhenModalOpens(const std::function<void(QWidget*)>& check) {
    QTimer::singleShot(100, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        check(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
}

TEST(WindowPolish, BoxesAreTheWindowsChildrenCentredAndGiveTheFocusBack) {
    TForm1 form;  // the desktop's own boxes
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QRect boxFrame;
    QWidget* parent = nullptr;
    WhenModalOpens([&](QWidget* box) {
        parent = box->parentWidget();
        boxFrame = box->frameGeometry();
    });
    form.InformationBox("Successfully extracted to here", "Information");
    EXPECT_EQ(parent, &form);
    EXPECT_LE((boxFrame.center() - ScreenAreaOf(&form).center()).manhattanLength(), 1);
    QTRY_VERIFY(form.isActiveWindow());
    QTRY_VERIFY(form.Grid()->hasFocus());

    QRect dialogFrame;
    WhenModalOpens([&](QWidget* dialog) { dialogFrame = dialog->frameGeometry(); });
    form.ToolButton9Click();
    EXPECT_LE((dialogFrame.center() - form.frameGeometry().center()).manhattanLength(), 1);
    QTRY_VERIFY(form.Grid()->hasFocus());
}

TEST(WindowPolish, TheFileFilterIsLabelledAsGiven) {
    DesktopPrompts prompts;
    QString label;
    WhenModalOpens([&](QWidget* dialog) {
        if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            label = combo->currentText();
    });
    EXPECT_FALSE(prompts.OpenFile(nullptr, QStringLiteral("*.ast;*.abk|*.ast;*.abk")));
    EXPECT_EQ(label.toStdString(), "*.ast;*.abk");
}

TEST(WindowPolish, TheProgressBarAndStatusTextKeepTheirColoursWhileDisabled) {
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();
    form.SetProgressMax(10);
    form.SetProgressPosition(6);
    form.SetStatusPanel(0, "intro.abk - intro.ast");
    const QImage bar = form.ProgressBar()->grab().toImage();
    const QImage status = form.StatusBar()->grab().toImage();
    form.DisableWindow();
    EXPECT_EQ(form.ProgressBar()->grab().toImage(), bar);
    EXPECT_EQ(form.StatusBar()->grab().toImage(), status);
    form.EnableWindow();
}

QList<QUrl> Urls(std::initializer_list<std::string> paths) {
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls << QUrl::fromLocalFile(QString::fromStdString(path));
    return urls;
}

TEST(WindowPolish, DroppingAPairFileUnpacksItAndAFolderOpensIt) {
    test::TempDir dir;
    test::PairRecipe recipe = test::ThreeStreams();
    const test::Pair pair = test::BuildPair(dir.path(), "intro", recipe);
    test::WriteFileBytes(dir / "notes.txt", "x");
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();

    using Action = TForm1::DropAction;
    struct Case {
        QList<QUrl> urls;
        Action action;
    };
    const Case cases[] = {
        {Urls({pair.archivePath}), Action::Unpack},
        {Urls({pair.bankPath}), Action::Unpack},
        {Urls({dir.path() + "/"}), Action::Open},
        {Urls({dir / "notes.txt"}), Action::None},
        {Urls({pair.archivePath, pair.bankPath}), Action::None},
        {{QUrl(QStringLiteral("https://example.org/intro.ast"))}, Action::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(form.DropActionFor(c.urls), c.action) << c.urls.front().toString().toStdString();
    QString path;
    form.DropActionFor(Urls({dir.path() + "/"}), &path);
    // As the dialog gives it: Qt's form, with "/" on every system.
    EXPECT_EQ(path, QDir::fromNativeSeparators(QString::fromStdString(dir.path())));

    // A drag that enters the window, then the drop, as the desktop sends them.
    auto drop = [&](const std::string& item) {
        QMimeData data;
        data.setUrls(Urls({item}));
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &event);
        ASSERT_FALSE(shared.boxes.isEmpty());
    };
    drop(pair.archivePath);
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Successfully extracted to " + (dir / "intro_"));
    // A folder opens: its table in the grid, nothing written, Pack stays
    // the button's.
    form.Table().Reset();
    const auto boxes = shared.boxes.size();
    drop(dir / "intro_");
    EXPECT_EQ(shared.boxes.size(), boxes);
    EXPECT_EQ(form.Table().RowCount(), 4);
    EXPECT_EQ(form.StatusBar()->PanelText(0), QStringLiteral("intro_"));
    EXPECT_EQ(form.StatusBar()->PanelText(1), QStringLiteral("Asf count: 3"));
    EXPECT_EQ(form.Actions().WorkFolder(), dir / "intro_");
    EXPECT_FALSE(std::filesystem::exists(dir / "intro_.ast"));
    drop(dir.path());
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Resource files not found in " + dir.path());
    // While the window is disabled for a command, nothing is taken.
    form.DisableWindow();
    EXPECT_EQ(form.DropActionFor(Urls({pair.archivePath})), Action::None);
    form.EnableWindow();
}

TEST(WindowPolish, AWorkFolderOpensFromTheMenuAndFromAPathGiven) {
    test::TempDir dir;
    const test::Pair pair = test::BuildPair(dir.path(), "intro", test::ThreeStreams());
    {
        test::RecordingWindow window;
        StreamTable table;
        ASSERT_EQ(UnpackPickedFile(table, window, pair.archivePath), UnpackOutcome::Succeeded);
    }
    test::WriteFileBytes(dir / "notes.txt", "x");
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();
    shared.folder = QString::fromStdString(dir / "intro_");
    std::unique_ptr<QMenu> menu(form.Actions().BuildFolderMenu(&form));
    menu->actions().last()->trigger();  // "Open work folder..."
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::OpenFolder));
    EXPECT_TRUE(shared.boxes.isEmpty());
    EXPECT_EQ(form.Table().RowCount(), 4);
    EXPECT_EQ(form.Table().CellText(1, 3), "intro_00003.asf");
    EXPECT_EQ(form.Actions().WorkFolder(), dir / "intro_");
    EXPECT_EQ(shared.startFolder.toStdString(), dir / "intro_");  // where folder dialogs start

    form.OpenPath(QString::fromStdString(dir / "notes.txt"));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "error|Tamrel|" + (dir / "notes.txt") +
                  " is neither a work folder nor a file of a pair (.ast, .abk)");
    form.OpenPath(QString::fromStdString(dir.path()));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Resource files not found in " + dir.path());
    test::WriteFileBytes(dir / "intro_/intro_.tba", "17,2147483647\r\n");
    form.OpenPath(QString::fromStdString(dir / "intro_"));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "warning|Error|The table file " + (dir / "intro_/intro_.tba") +
                  " cannot be read: its size line declares 2147483647 rows and 17 columns, more "
                  "than its 1 lines can hold.");
    EXPECT_EQ(form.Actions().WorkFolder(), "");
}

TEST(WindowPolish, UnpackAsksBeforeItReplacesEditedStreams) {
    test::TempDir dir;
    test::PairRecipe recipe = test::ThreeStreams();
    const test::Pair pair = test::BuildPair(dir.path(), "intro", recipe);
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();
    shared.file = QString::fromStdString(pair.archivePath);
    form.ExportButtonClick();
    EXPECT_TRUE(shared.questions.isEmpty());
    test::WriteFileBytes(dir / "intro_/intro_00002.asf", "edited");
    test::WriteFileBytes(dir / "intro_/intro_00003.asf", "edited too");
    const int boxes = static_cast<int>(shared.boxes.size());
    form.ExportButtonClick();
    ASSERT_EQ(shared.questions.size(), 1);
    EXPECT_EQ(shared.questions.front().toStdString(),
              "Confirm|The work folder " + (dir / "intro_") +
                  " holds 2 stream files that differ from " + pair.archivePath +
                  " (intro_00002.asf, intro_00003.asf). Unpacking again replaces them. Replace "
                  "them?|Replace|Cancel");
    // Cancel writes nothing; the window shows the work folder, opened.
    EXPECT_EQ(test::ReadFileBytes(dir / "intro_/intro_00002.asf"), "edited");
    EXPECT_EQ(static_cast<int>(shared.boxes.size()), boxes);
    EXPECT_EQ(form.Table().CellText(3, 3), "300");
    EXPECT_EQ(form.StatusBar()->PanelText(0), QStringLiteral("intro_"));
    EXPECT_EQ(form.Actions().WorkFolder(), dir / "intro_");
    // One file: the question says so in the singular.
    test::WriteFileBytes(dir / "intro_/intro_00003.asf", pair.archive.substr(300));
    form.ExportButtonClick();
    ASSERT_EQ(shared.questions.size(), 2);
    EXPECT_EQ(shared.questions.back().toStdString(),
              "Confirm|The work folder " + (dir / "intro_") +
                  " holds 1 stream file that differs from " + pair.archivePath +
                  " (intro_00002.asf). Unpacking again replaces it. Replace it?|Replace|Cancel");
    shared.answer = true;
    form.ExportButtonClick();
    EXPECT_EQ(test::ReadFileBytes(dir / "intro_/intro_00002.asf"), pair.archive.substr(100, 200));
}

}  // namespace
}  // namespace tamrel
