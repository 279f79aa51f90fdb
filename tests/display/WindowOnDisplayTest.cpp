// The window as a display shows it: what is on the screen after a command,
// keys and clicks given by xdotool as a user gives them, boxes painted, and
// sound played to its end into an audio server's null output.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ASFGrid.h"
#include "FolderDialog.h"
#include "PairBuilder.h"
#include "RangeProgressBar.h"
#include "RecordingPrompts.h"
#include "RecordingWindow.h"
#include "StatusPanels.h"
#include "StreamActions.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "Unit1.h"
#include "archive/pair/Unpack.h"
#include "audio/Wav.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void Wait(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Waits until done() holds, or the time is up; whether it holds.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// What the screen shows of a widget, read back from the X server.
QImage OnScreen(const QWidget* widget, const QRect& area) {
    const QPoint at = widget->mapToGlobal(area.topLeft());
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, at.x(), at.y(), area.width(), area.height())
        .toImage();
}

int PixelsLike(const QImage& image, const std::function<bool(QColor)>& like) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += like(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool Green(QColor c) {
    return c.green() > 100 && c.red() < 60 && c.blue() < 60;
}
bool Reddish(QColor c) {
    return c.red() > 120 && c.green() < 60 && c.blue() < 60;
}

// The main window on a work folder of three streams (PCM, XA ADPCM,
// ATRAC3plus), its boxes recorded.
class OnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        form = std::make_unique<TForm1>(std::make_unique<test::RecordingPrompts>(shared));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        test::BuildPair(dir.path(), "music", recipe);
        shared.file = QString::fromStdString(dir / "music.ast");
        form->ExportButtonClick();
        Wait(200);
    }
    QRect NameCell(int row) const { return form->Grid()->Geometry().CellRect(kNameCol, row); }
    std::string Stream(int k) const {
        return dir / ("music_/music_0000" + std::to_string(k) + ".asf");
    }

    test::TempDir dir;
    test::RecordingPrompts::Shared shared;
    std::unique_ptr<TForm1> form;
};

// Restore puts the original back, and the row on the screen drops its green
// mark at once; a stream file removed by another program is struck through
// within a second.
TEST_F(OnDisplay, TheRowsOnScreenFollowTheFiles) {
    QWidget* viewport = form->Grid()->viewport();
    std::vector<std::int16_t> tone(4000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(6000 * std::sin(0.05 * static_cast<double>(i)));
    WriteWavFile(dir / "new.wav", tone, 1, 22050, std::nullopt);
    shared.file = QString::fromStdString(dir / "new.wav");
    form->Actions().ReplaceRow(2);
    Wait(150);
    EXPECT_GT(PixelsLike(OnScreen(viewport, NameCell(2)), Green), 5);

    shared.answer = true;
    form->Actions().RestoreRow(2);
    Wait(100);
    EXPECT_EQ(PixelsLike(OnScreen(viewport, NameCell(2)), Green), 0);

    EXPECT_EQ(PixelsLike(OnScreen(viewport, NameCell(3)), Reddish), 0);
    std::filesystem::remove(test::FsPath(Stream(3)));
    EXPECT_TRUE(
        WaitFor([&] { return PixelsLike(OnScreen(viewport, NameCell(3)), Reddish) > 10; }, 1500));
}

// The keys of the tool bar, typed on the keyboard.
TEST_F(OnDisplay, TheToolBarsKeysWork) {
    const auto before = shared.purposes.size();
    Shell("xdotool key ctrl+o");
    EXPECT_TRUE(WaitFor([&] { return shared.purposes.size() > before; }, 2000));
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::Unpack));
    Shell("xdotool key ctrl+s");
    EXPECT_TRUE(WaitFor([&] { return shared.purposes.size() > before + 1; }, 2000));
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::Pack));
    Shell("xdotool key ctrl+q");
    EXPECT_TRUE(WaitFor([&] { return !form->isVisible(); }, 2000));
}

// "Cancel" pressed with the pointer stops an export of many streams after
// the stream at hand.
TEST(LongWorkOnDisplay, CancelUnderThePointerStopsTheExport) {
    test::TempDir dir;
    test::RecordingPrompts::Shared shared;
    test::PairRecipe recipe;
    recipe.streams.assign(3000, test::ThreeKindsOfStreams()[0]);
    test::BuildPair(dir.path(), "many", recipe);
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    shared.file = QString::fromStdString(dir / "many.ast");
    form.ExportButtonClick();
    std::filesystem::create_directory(test::FsPath(dir / "out"));
    shared.folder = QString::fromStdString(dir / "out");
    QPushButton* cancel = form.CancelButton();
    bool clicked = false;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (clicked || !cancel->isVisible() || form.ProgressBar()->Range().Position() < 20)
            return;
        clicked = true;
        const QPoint at = cancel->mapToGlobal(cancel->rect().center());
        Shell("xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
              " click 1");
    });
    timer.start();
    std::unique_ptr<QMenu> menu(form.Actions().BuildFolderMenu(&form));
    menu->actions().first()->trigger();  // "Export all as WAV..."
    timer.stop();
    ASSERT_TRUE(clicked);
    EXPECT_TRUE(
        shared.boxes.last().startsWith(QStringLiteral("information|Information|Stopped after ")))
        << shared.boxes.last().toStdString();
    EXPECT_FALSE(cancel->isVisible());
}

// Opening a work folder makes it the folder Pack's real dialog selects.
TEST(DialogsOnDisplay, PacksDialogSelectsTheFolderOnScreen) {
    test::TempDir dir;
    for (const char* name : {"first", "second"}) {
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        test::BuildPair(dir.path(), name, recipe);
        test::RecordingWindow window;
        StreamTable table;
        ASSERT_EQ(UnpackPickedFile(table, window, dir / (std::string(name) + ".ast")),
                  UnpackOutcome::Succeeded);
    }
    TForm1 form;  // the real dialogs
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.OpenPath(QString::fromStdString(dir / "second_"));
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QString offered;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* dialog =
                qobject_cast<BrowseForFolderDialog*>(QApplication::activeModalWidget())) {
            offered = dialog->ChosenPath();
            dialog->reject();
        }
    });
    timer.start();
    Shell("xdotool key ctrl+s");
    EXPECT_TRUE(WaitFor([&] { return !offered.isEmpty(); }, 3000));
    EXPECT_EQ(offered.toStdString(), dir / "second_");
    EXPECT_EQ(form.StatusBar()->PanelText(0), QStringLiteral("second_"));
}

// The box that says Unpack succeeded is painted, with and without a window
// manager: its pixels are the box's, not black.
TEST(BoxesOnDisplay, TheSuccessBoxAfterUnpackIsPainted) {
    test::TempDir dir;
    test::PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    recipe.references = {40, 120};
    test::BuildPair(dir.path(), "music", recipe);
    TForm1 form;  // the real boxes
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    int black = -1, all = 0;
    QString text;
    QTimer timer;
    timer.setInterval(50);
    QElapsedTimer shown;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isVisible())
            return;
        if (!shown.isValid()) {
            shown.start();
            return;
        }
        if (shown.elapsed() < 700)
            return;
        const QImage image = OnScreen(box, box->rect());
        all = image.width() * image.height();
        black = PixelsLike(image, [](QColor c) { return c.lightness() < 16; });
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            text = label->text();
        timer.stop();
        box->close();
    });
    timer.start();
    form.OpenPath(QString::fromStdString(dir / "music.ast"));
    ASSERT_GT(all, 0);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Successfully extracted to ")))
        << text.toStdString();
    EXPECT_LT(black, all / 10) << black << " of " << all << " pixels black";
}

// A stream of a second plays into the audio server's null output to its
// end: no error box, the position moving on and never past the sound, and
// playing not ended before the sound could have been heard.
TEST(SoundOnDisplay, PlayingGoesQuietlyToTheEnd) {
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    if (!form.Actions().Output().Available())
        GTEST_SKIP() << "no audio server (scripts/run-under-xvfb.sh starts one with pulseaudio)";
    test::TempDir dir;
    test::StreamParts parts;
    parts.tags = {{0xA0, 0x00}, {0x82, 1}, {0x84, 22050}};
    for (int block = 0; block < 10; ++block) {
        std::string payload = test::Uint32(2205, false);
        for (int i = 0; i < 2205; ++i) {
            const auto v = static_cast<std::int16_t>(5000 * std::sin(0.06 * (block * 2205 + i)));
            payload += std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
        }
        parts.dataPayloads.push_back(payload);
    }
    test::PairRecipe recipe;
    recipe.streams = {test::BuildStream(parts), test::ThreeKindsOfStreams()[1]};
    recipe.references = {40};
    test::BuildPair(dir.path(), "song", recipe);
    form.show();
    shared.file = QString::fromStdString(dir / "song.ast");
    form.ExportButtonClick();
    const auto boxes = shared.boxes.size();
    QElapsedTimer playing;
    playing.start();
    form.Actions().Play(1);
    ASSERT_TRUE(form.Actions().Output().Playing());
    qint64 last = -1, positions = 0;
    while (form.Actions().Output().Playing() && playing.elapsed() < 5000) {
        const qint64 at = form.Actions().Output().PositionMs();
        EXPECT_LE(at, 1000);
        if (at > last)
            ++positions, last = at;
        Wait(50);
    }
    EXPECT_FALSE(form.Actions().Output().Playing());
    EXPECT_GE(playing.elapsed(), 900);
    EXPECT_GT(positions, 3);
    EXPECT_EQ(shared.boxes.size(), boxes) << shared.boxes.last().toStdString();
    EXPECT_EQ(form.Grid()->PlayingRow(), 0);
}

}  // namespace
}  // namespace tamrel
