// The Windows window under wine, on the test's X display, against the Linux
// window on the same display: each is started with a copy of the same pair
// on its command line (as "Open with" starts it), unpacks it and says so in
// its box. The Windows window must be found by its caption, be as large as
// the Linux one and be painted (not left black); the two work folders must
// hold the same bytes.
//
// Run by scripts/windows.sh on a display of its own, which sets
// TAMREL_WINDOWS_WINDOW to the Windows program and TAMREL_WINE to the
// script that runs it under wine.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "PairBuilder.h"
#include "Process.h"
#include "TestFiles.h"
#include "Version.h"
#include "windows/Host.h"

namespace tamrel {
namespace {

using test::Quoted;
using test::TempDir;

const std::string kCaption = std::string("Tamrel Ast-Abk Packer/Unpacker v") + TAMREL_VERSION;

// A program started in the background, ended when the object goes.
class Started {
public:
    Started(const std::string& command, const TempDir& io) : pidFile_(io / "pid") {
        const std::string line = "(" + command + ") >" + Quoted(io / "out") + " 2>" +
                                 Quoted(io / "err") + " & echo $! >" + Quoted(pidFile_);
        EXPECT_EQ(std::system(line.c_str()), 0);
    }
    ~Started() {
        const std::string pid = test::ReadFileBytes(pidFile_);
        const std::string kill =
            "pkill -TERM -P " + pid + " 2>/dev/null; kill " + pid + " 2>/dev/null; sleep 0.5";
        [[maybe_unused]] const int ignored = std::system(kill.c_str());
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

private:
    std::string pidFile_;
};

// What an X client answers, its last line break taken off.
std::string Ask(const std::string& command, const TempDir& io) {
    std::string out = test::RunProgram(command, "", io / "ask-out", io / "ask-err").out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// The first window with exactly that name, waiting up to the timeout.
std::optional<std::string> WindowNamed(const std::string& name, const TempDir& io,
                                       std::chrono::seconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    do {
        const std::string ids =
            Ask("xdotool search --onlyvisible --name " + Quoted("^" + name + "$"), io);
        if (!ids.empty())
            return ids.substr(0, ids.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    } while (std::chrono::steady_clock::now() < until);
    return std::nullopt;
}

struct Shown {
    QImage picture;  // what the screen shows of the main window
    std::string folder;
};

// Starts the program with the pair's archive, waits for its box, and takes
// a picture of its main window.
Shown OpenPairIn(const std::string& program, const std::string& archiveArgument,
                 const std::string& folder, const TempDir& io) {
    Shown shown;
    shown.folder = folder;
    Started started(program + " " + Quoted(archiveArgument), io);
    const auto box = WindowNamed("Information", io, std::chrono::seconds(120));
    EXPECT_TRUE(box) << "no box came: " << test::ReadFileBytes(io / "err");
    const auto main = WindowNamed(kCaption, io, std::chrono::seconds(5));
    EXPECT_TRUE(main) << "no window is named " << kCaption;
    if (!box || !main)
        return shown;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // painted after mapping
    const std::string png = io / "shot.png";
    EXPECT_EQ(
        test::RunProgram("import -window " + *main + " " + Quoted(png), "", io / "o", io / "e")
            .status,
        0);
    shown.picture.load(QString::fromStdString(png));
    return shown;
}

// Shares of the pixels in the upper half (the tool bar, the grid's heading
// and first rows, above where the box stands) that are black, light (the
// window's face and the grid) and dark (text and lines).
struct Shares {
    double black = 0, light = 0, dark = 0;
};
Shares SharesOf(const QImage& image) {
    Shares shares;
    const int height = image.height() / 2;
    const double all = static_cast<double>(image.width()) * height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int sum = c.red() + c.green() + c.blue();
            shares.black += sum == 0 ? 1 / all : 0;
            shares.light += sum > 3 * 180 ? 1 / all : 0;
            shares.dark += sum < 3 * 100 ? 1 / all : 0;
        }
    return shares;
}

TEST(WindowUnderWine, OpensAPairFromItsCommandLineAsTheLinuxWindowDoes) {
    const char* window = std::getenv("TAMREL_WINDOWS_WINDOW");
    const char* wine = std::getenv("TAMREL_WINE");
    if (!window || !wine || !std::getenv("DISPLAY"))
        GTEST_SKIP() << "TAMREL_WINDOWS_WINDOW, TAMREL_WINE or DISPLAY is unset "
                        "(scripts/windows.sh sets them)";
    TempDir linuxDir, windowsDir, io;
    test::BuildPair(linuxDir.path(), "music", test::ThreeStreams());
    test::BuildPair(windowsDir.path(), "music", test::ThreeStreams());

    const Shown linux = OpenPairIn("QT_QPA_PLATFORM=xcb " + Quoted(TAMREL_WINDOW),
                                   linuxDir / "music.ast", linuxDir / "music_", io);
    // Wine's drive Z: is /, and Windows users give paths with "\".
    std::string onWindows = "Z:" + (windowsDir / "music.ast");
    std::replace(onWindows.begin(), onWindows.end(), '/', '\\');
    const Shown windows =
        OpenPairIn("env -u QT_QPA_PLATFORM " + Quoted(wine) + " " + Quoted(window), onWindows,
                   windowsDir / "music_", io);
    ASSERT_FALSE(linux.picture.isNull());
    ASSERT_FALSE(windows.picture.isNull());

    // Painted: its face, grid and text, and little black (the sorted
    // column's mark; a window left unpainted is black all over).
    EXPECT_EQ(windows.picture.size(), linux.picture.size());
    const Shares shares = SharesOf(windows.picture);
    EXPECT_LT(shares.black, 0.1);
    EXPECT_GT(shares.light, 0.6);
    EXPECT_GT(shares.dark, 0.01);
    if (HasFailure())
        windows.picture.save(
            QString::fromStdString(std::string(::testing::TempDir()) + "windows-window.png"));

    EXPECT_FALSE(test::FilesIn(windows.folder).empty());
    EXPECT_EQ(test::FilesIn(windows.folder), test::FilesIn(linux.folder));
}

}  // namespace
}  // namespace tamrel
