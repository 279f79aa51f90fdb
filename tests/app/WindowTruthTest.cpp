// The window tells what is on disk and acts on what it shows: rows that
// follow their files, the folder pickers, the keys of the tool bar.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "ASFGrid.h"
#include "FolderDialog.h"
#include "HelpSupport.h"
#include "PairBuilder.h"
#include "RangeProgressBar.h"
#include "RecordingPrompts.h"
#include "StatusPanels.h"
#include "StreamActions.h"
#include "StreamBuilder.h"
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

// The window on a work folder of three streams (PCM, XA ADPCM, ATRAC3plus).
class OnDisk : public ::testing::Test {
protected:
    OnDisk() {
        form = std::make_unique<TForm1>(std::make_unique<test::RecordingPrompts>(shared));
        form->show();
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        pair = test::BuildPair(dir.path(), "music", recipe);
        shared.file = QString::fromStdString(pair.archivePath);
        form->ExportButtonClick();
    }
    std::string Stream(int k) const {
        return dir / ("music_/music_0000" + std::to_string(k) + ".asf");
    }
    // Waits until the signal came, or a second and a half has gone.
    static bool Came(QSignalSpy& spy) {
        QElapsedTimer timer;
        timer.start();
        while (spy.isEmpty() && timer.elapsed() < 1500)
            QTest::qWait(20);
        return !spy.isEmpty();
    }
    QString Hint(int col, int row) const {
        ASFGrid* grid = form->Grid();
        const QRect cell = grid->Geometry().CellRect(col, row);
        return grid->HintAt(cell.center());
    }

    test::TempDir dir;
    test::Pair pair;
    test::RecordingPrompts::Shared shared;
    std::unique_ptr<TForm1> form;
};

// Files changed by other programs are seen within a second: a stream file
// removed is marked in its row, one appended to shows its size.
TEST_F(OnDisk, TheGridFollowsFilesOtherProgramsChange) {
    ASFGrid* grid = form->Grid();
    QSignalSpy changed(&form->Actions().Watch(), &FolderWatch::Changed);
    std::filesystem::remove(test::FsPath(Stream(3)));
    ASSERT_TRUE(Came(changed));
    EXPECT_EQ(grid->FactsOf(3).missing,
              "No stream file: the work folder holds no music_00003.asf.");
    EXPECT_EQ(Hint(kNameCol, 3).toStdString(),
              "No stream file: the work folder holds no music_00003.asf.");

    changed.clear();
    const std::string bytes = test::ReadFileBytes(Stream(2));
    test::WriteFileBytes(Stream(2), bytes + std::string(40, '\0'));
    ASSERT_TRUE(Came(changed));
    EXPECT_EQ(grid->ShownText(kSizeCol, 2), std::to_string(bytes.size() + 40));
}

// A folder that goes away is said once; what needs it refuses with that
// cause and never blames the streams.
TEST_F(OnDisk, AFolderThatGoesAwayIsSaidOnceAndCommandsSayWhy) {
    QSignalSpy gone(&form->Actions().Watch(), &FolderWatch::FolderGone);
    const auto boxes = shared.boxes.size();
    std::filesystem::rename(test::FsPath(dir / "music_"), test::FsPath(dir / "moved_"));
    ASSERT_TRUE(Came(gone));
    QTest::qWait(1300);  // a second look finds it gone still: not said again
    const QString said = QStringLiteral(
                             "warning|Error|The work folder %1 is no longer there (No "
                             "such file or directory).")
                             .arg(QString::fromStdString(dir / "music_"));
    EXPECT_EQ(shared.boxes.mid(boxes), QStringList{said});
    EXPECT_EQ(form->Grid()->FactsOf(2).missing, said.section('|', 2).toStdString());

    shared.folder = QString::fromStdString(dir.path());
    std::unique_ptr<QMenu> menu(form->Actions().BuildFolderMenu(form.get()));
    menu->actions().first()->trigger();  // "Export all as WAV..."
    EXPECT_EQ(shared.boxes.last(), said);
    EXPECT_EQ(test::TempDir::ListingOf(dir.path()).find(".wav"), std::string::npos);

    // Back again: the rows are what the files say.
    std::filesystem::rename(test::FsPath(dir / "moved_"), test::FsPath(dir / "music_"));
    QSignalSpy changed(&form->Actions().Watch(), &FolderWatch::Changed);
    ASSERT_TRUE(Came(changed));
    EXPECT_EQ(form->Grid()->FactsOf(2).missing, "");
}

// Not one stream exported is a failure, said in a warning box.
TEST_F(OnDisk, AnExportThatWritesNothingIsAFailure) {
    for (int k : {1, 2})
        test::WriteFileBytes(Stream(k), "not a stream");
    shared.folder = QString::fromStdString(dir / "music_");
    std::unique_ptr<QMenu> menu(form->Actions().BuildFolderMenu(form.get()));
    menu->actions().first()->trigger();
    EXPECT_TRUE(shared.boxes.last().startsWith(
        QStringLiteral("warning|Error|Exported 0 of 3 streams as WAV files to ")))
        << shared.boxes.last().toStdString();
}

// After Pack, a stream that grew is filled up to a multiple of 16 bytes and
// the table says so: its file is not marked as changed.
TEST_F(OnDisk, PacksPaddingIsNoChange) {
    const std::string grown = test::ReadFileBytes(Stream(2)) + std::string(101, '\0');
    test::WriteFileBytes(Stream(2), grown);
    EXPECT_EQ(form->Grid()->ShownText(kSizeCol, 2), std::to_string(grown.size()));
    shared.folder = QString::fromStdString(dir / "music_");
    form->ImportButtonClick();
    ASSERT_TRUE(shared.boxes.last().startsWith(QStringLiteral("information|Information|")));
    const std::string cell = form->Table().CellText(kSizeCol, 2);
    ASSERT_NE(cell, std::to_string(grown.size()));
    EXPECT_EQ(form->Grid()->ShownText(kSizeCol, 2), cell);
    EXPECT_EQ(Hint(kSizeCol, 2), QString());
    // A stream file that shrank keeps its place, filled with zero bytes.
    test::WriteFileBytes(Stream(3), test::ReadFileBytes(Stream(3)).substr(0, 20));
    EXPECT_EQ(form->Grid()->ShownText(kSizeCol, 3), "20");
    EXPECT_TRUE(Hint(kSizeCol, 3).contains(QStringLiteral("Pack fills it with zero bytes")));
}

// A work folder opened counts as chosen: Pack's dialog offers the folder on
// screen, and after a Pack the panels name the folder whose rows are shown.
TEST_F(OnDisk, TheFolderOnScreenIsTheOneTheDialogsOffer) {
    // A second work folder, packed once by the window (the dialog's last OK).
    test::TempDir other;
    test::PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    recipe.references = {40, 120};
    test::BuildPair(other.path(), "voice", recipe);
    shared.file = QString::fromStdString(other / "voice.ast");
    form->ExportButtonClick();
    shared.folder = QString::fromStdString(other / "voice_");
    form->ImportButtonClick();
    EXPECT_EQ(form->StatusBar()->PanelText(0), QStringLiteral("voice_"));

    form->OpenPath(QString::fromStdString(dir / "music_"));
    EXPECT_EQ(shared.chosenFolder.toStdString(), dir / "music_");
    EXPECT_EQ(form->StatusBar()->PanelText(0), QStringLiteral("music_"));
    EXPECT_EQ(form->StatusBar()->PanelText(1), QStringLiteral("Asf count: 3"));

    // The real dialogs take the opened folder as their next choice.
    DesktopPrompts prompts;
    prompts.ChoseFolder(QString::fromStdString(dir / "music_"));
    QString offered;
    QTimer::singleShot(100, [&offered] {
        if (auto* dialog =
                qobject_cast<BrowseForFolderDialog*>(QApplication::activeModalWidget())) {
            offered = dialog->ChosenPath();
            dialog->reject();
        }
    });
    prompts.SelectFolder(form.get(), Prompts::Purpose::Pack);
    EXPECT_EQ(offered, QDir::fromNativeSeparators(QString::fromStdString(dir / "music_")));
}

// A work folder of many small streams, open in the window.
std::unique_ptr<TForm1> WindowOnManyStreams(const test::TempDir& dir,
                                            test::RecordingPrompts::Shared& shared, int count) {
    test::PairRecipe recipe;
    recipe.streams.assign(static_cast<std::size_t>(count), test::ThreeKindsOfStreams()[0]);
    test::BuildPair(dir.path(), "many", recipe);
    auto form = std::make_unique<TForm1>(std::make_unique<test::RecordingPrompts>(shared));
    form->show();
    shared.file = QString::fromStdString(dir / "many.ast");
    form->ExportButtonClick();
    return form;
}

// Presses what press() names once the export has begun its sixth stream.
void WhenExportIsUnderWay(TForm1& form, const std::function<void()>& press) {
    auto* timer = new QTimer(&form);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [&form, timer, press] {
        if (form.CancelButton()->isVisible() && form.ProgressBar()->Range().Position() >= 5) {
            timer->stop();
            press();
        }
    });
    timer->start();
}

// "Cancel" stops an export after the stream it is on: what is done stays,
// what is not is untouched, and the box says how far it got.
TEST(LongWork, CancelStopsAnExportAfterTheCurrentStream) {
    test::TempDir dir;
    test::RecordingPrompts::Shared shared;
    const auto form = WindowOnManyStreams(dir, shared, 400);
    EXPECT_FALSE(form->CancelButton()->isVisible());
    WhenExportIsUnderWay(*form, [&form] { form->CancelButton()->click(); });
    shared.folder = QString::fromStdString(dir / "out");
    std::filesystem::create_directory(test::FsPath(dir / "out"));
    std::unique_ptr<QMenu> menu(form->Actions().BuildFolderMenu(form.get()));
    menu->actions().first()->trigger();
    const QString box = shared.boxes.last();
    ASSERT_TRUE(box.startsWith(QStringLiteral("information|Information|Stopped after ")))
        << box.toStdString();
    const int done = box.section(' ', 2, 2).toInt();
    EXPECT_GE(done, 5);
    EXPECT_LT(done, 400);
    EXPECT_TRUE(box.contains(
        QStringLiteral(" of 400 streams. Exported %1 of %1 streams as WAV files to ").arg(done)))
        << box.toStdString();
    const std::string listing = test::TempDir::ListingOf(dir / "out");
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), done);
    EXPECT_FALSE(form->CancelButton()->isVisible());
    EXPECT_TRUE(form->ToolBar()->isEnabled());
}

// Closing the window while a long command runs asks first; "Stop and quit"
// stops it after the current stream and closes the window, with no box.
TEST(LongWork, ClosingTheWindowMeanwhileAsksAndStopsIt) {
    test::TempDir dir;
    test::RecordingPrompts::Shared shared;
    const auto form = WindowOnManyStreams(dir, shared, 400);
    shared.answer = true;
    WhenExportIsUnderWay(*form, [&form] { form->close(); });
    shared.folder = QString::fromStdString(dir / "many_");
    const auto boxes = shared.boxes.size();
    std::unique_ptr<QMenu> menu(form->Actions().BuildFolderMenu(form.get()));
    menu->actions().first()->trigger();
    ASSERT_EQ(shared.questions.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^Confirm\\|Export is running \\([0-9,]+ of 400\\)\\. Stop it and "
                           "quit\\?\\|Stop and quit\\|Continue$"))
            .match(shared.questions.last())
            .hasMatch())
        << shared.questions.last().toStdString();
    EXPECT_EQ(shared.boxes.size(), boxes);
    EXPECT_FALSE(form->isVisible());
    const std::string listing = test::TempDir::ListingOf(dir / "many_");
    EXPECT_LT(std::count(listing.begin(), listing.end(), 'w'), 400);  // not every stream
}

}  // namespace
}  // namespace tamrel
