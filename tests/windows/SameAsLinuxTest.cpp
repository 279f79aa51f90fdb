// The Windows console program, run under wine, against this Linux build: the
// same commands on the same pairs must print the same text and write the same
// bytes. Pairs are named in Latin and Cyrillic letters outside ASCII, and the
// Windows program is given paths with "\" or "/" and with a trailing
// separator, as Windows users type them. A replacement that is resampled is
// compared by its decoded audio: the resampler's last bits differ between the
// two systems' C libraries.
//
// Run by scripts/windows.sh, which sets TAMREL_WINDOWS_CLI to the Windows
// program and TAMREL_WINE to the script that runs it under wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Ffmpeg.h"
#include "PairBuilder.h"
#include "Process.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "audio/Wav.h"
#include "windows/Host.h"

namespace tamrel {
namespace {

using test::Files;
using test::FilesIn;
using test::Quoted;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::vector<std::int16_t> Tone(int channels, int rate, double hertz, double seconds) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
        for (int c = 0; c < channels; ++c)
            out.push_back(static_cast<std::int16_t>(
                8000 * std::sin(2 * M_PI * hertz * (c + 1) * i / rate) + 500 * std::sin(i * 0.3)));
    return out;
}

// Three streams the program can decode and encode, and one it only carries.
test::PairRecipe SoundRecipe() {
    auto encoded = [](std::vector<std::pair<int, std::uint32_t>> tags, int channels, int rate,
                      const std::vector<std::int16_t>& samples) {
        test::StreamParts parts;
        parts.tags = std::move(tags);
        parts.tags.push_back({0x82, static_cast<std::uint32_t>(channels)});
        parts.tags.push_back({0x84, static_cast<std::uint32_t>(rate)});
        parts.dataPayloads = {test::Uint32(28, false) + std::string(28 * channels, '\0')};
        const std::string old = test::BuildStream(parts);
        return EncodeStream(ReadStreamInfo(MemorySource(old)), old, samples);
    };
    test::PairRecipe recipe;
    recipe.streams = {encoded({{0xA0, 0x00}}, 2, 32000, Tone(2, 32000, 440, 0.5)),
                      encoded({{0x80, 2}}, 1, 22050, Tone(1, 22050, 330, 0.5)),
                      encoded({{0x83, 7}}, 2, 22050, Tone(2, 22050, 220, 0.5)),
                      test::ThreeKindsOfStreams()[2]};
    recipe.references = {40, 120, 200};
    return recipe;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

double Snr(const std::vector<std::int16_t>& want, const std::vector<std::int16_t>& got) {
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const double w = want[i], d = w - (i < got.size() ? got[i] : 0);
        signal += w * w;
        error += d * d;
    }
    return 10 * std::log10(signal / std::max(error, 1e-9));
}

std::vector<std::int16_t> Decoded(const std::string& streamFile) {
    const std::string bytes = ReadFileBytes(streamFile);
    return DecodeStream(MemorySource(bytes), ReadStreamInfo(MemorySource(bytes)), "s");
}

// How the Windows program is given its paths.
struct PathForm {
    const char* what;
    char separator;  // '\\' or '/' after the drive
    bool trailing;   // folders given with a separator at their end
};

class SameAsLinux : public ::testing::Test {
protected:
    void SetUp() override {
        const char* windows = std::getenv("TAMREL_WINDOWS_CLI");
        const char* wine = std::getenv("TAMREL_WINE");
        if (!windows || !wine)
            GTEST_SKIP() << "TAMREL_WINDOWS_CLI and TAMREL_WINE are unset (scripts/windows.sh "
                            "sets them)";
        windowsProgram_ = Quoted(wine) + " " + Quoted(windows);
    }

    // The Windows spelling of a path of this machine: wine's drive Z: is /.
    static std::string OnWindows(const std::string& path, const PathForm& form) {
        std::string out = "Z:" + path;
        std::replace(out.begin(), out.end(), '/', form.separator);
        return out;
    }

    struct Both {
        int linuxStatus, windowsStatus;
        std::string linuxText, windowsText;  // stdout and stderr, paths as DIR
        double linuxSeconds, windowsSeconds;
    };

    // Runs the command in both folders. In pattern, "DIR" stands for the
    // folder, "/" for a separator and "FOLDER" for a work folder's name (with
    // a trailing separator when the form says so).
    Both Run(const std::string& pattern, const std::string& folderName, const PathForm& form) {
        auto spell = [&](const std::string& dir, char separator, bool trailing) {
            std::string arguments = pattern;
            ReplaceAll(arguments, "FOLDER",
                       folderName + (trailing ? std::string(1, separator) : ""));
            ReplaceAll(arguments, "/", std::string(1, separator));
            ReplaceAll(arguments, "DIR", dir);
            std::string quoted;
            std::size_t start = 0;
            for (std::size_t space = arguments.find(' ');; space = arguments.find(' ', start)) {
                quoted += Quoted(arguments.substr(start, space - start)) + " ";
                if (space == std::string::npos)
                    break;
                start = space + 1;
            }
            return quoted;
        };
        const std::string windowsDir = OnWindows(windowsDir_.path(), form);
        using Clock = std::chrono::steady_clock;
        const auto started = Clock::now();
        const auto linux = test::RunProgram(TAMREL_CLI, spell(linuxDir_.path(), '/', false),
                                            io_ / "out", io_ / "err");
        const auto between = Clock::now();
        const auto windows =
            test::RunProgram(windowsProgram_, spell(windowsDir, form.separator, form.trailing),
                             io_ / "out", io_ / "err");
        const auto ended = Clock::now();
        Both both{linux.status,
                  windows.status,
                  linux.out + linux.err,
                  windows.out + windows.err,
                  std::chrono::duration<double>(between - started).count(),
                  std::chrono::duration<double>(ended - between).count()};
        ReplaceAll(both.linuxText, linuxDir_.path(), "DIR");
        std::replace(both.windowsText.begin(), both.windowsText.end(), '\\', '/');
        std::string slashed = windowsDir;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        ReplaceAll(both.windowsText, slashed, "DIR");
        return both;
    }

    Both ExpectSame(const std::string& pattern, const std::string& folderName,
                    const PathForm& form) {
        SCOPED_TRACE(pattern);
        const Both both = Run(pattern, folderName, form);
        EXPECT_EQ(both.windowsStatus, both.linuxStatus) << both.windowsText;
        EXPECT_EQ(both.windowsText, both.linuxText);
        EXPECT_EQ(FilesIn(windowsDir_.path()), FilesIn(linuxDir_.path()));
        return both;
    }

    // The same inputs in both folders.
    void Put(const std::string& name, const std::string& bytes) {
        WriteFileBytes(linuxDir_ / name, bytes);
        WriteFileBytes(windowsDir_ / name, bytes);
    }

    TempDir linuxDir_, windowsDir_, io_;
    std::string windowsProgram_;
};

TEST_F(SameAsLinux, EveryCommandOnPairsNamedInAnyScript) {
    const PathForm backslashes{"backslashes, trailing", '\\', true};
    const PathForm slashes{"slashes", '/', false};
    const struct {
        std::string base;
        PathForm form;
    } cases[] = {
        {"intro", slashes},
        {"müsic", backslashes},
        {"музыка", {"slashes, trailing", '/', true}},
        {"звук", {"backslashes", '\\', false}},
    };
    const test::PairRecipe recipe = SoundRecipe();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + ", " + c.form.what);
        const test::Pair pair = test::BuildPair(linuxDir_.path(), c.base, recipe);
        test::BuildPair(windowsDir_.path(), c.base, recipe);
        const std::string folder = c.base + "_";
        ExpectSame("unpack DIR/" + c.base + ".ast", folder, c.form);
        ExpectSame("list DIR/" + c.base + ".abk", folder, c.form);
        ExpectSame("list --details DIR/FOLDER", folder, c.form);
        ExpectSame("check DIR/" + c.base + ".ast DIR/FOLDER", folder, c.form);
        ExpectSame("export DIR/FOLDER --rows 1-3", folder, c.form);
        // A same-rate WAV and, decoded by libsndfile on both systems, FLAC.
        Put(folder + "/new2.wav", WavBytes(Tone(1, 22050, 523, 0.7), 1, 22050, std::nullopt));
        ExpectSame("replace DIR/FOLDER 2 DIR/" + folder + "/new2.wav", folder, c.form);
        WriteFileBytes(linuxDir_ / "flac.wav",
                       WavBytes(Tone(2, 32000, 600, 0.6), 2, 32000, std::nullopt));
        test::FfmpegConvert(linuxDir_ / "flac.wav", linuxDir_ / "new1.flac");
        Put("new1.flac", ReadFileBytes(linuxDir_ / "new1.flac"));
        std::filesystem::remove(linuxDir_ / "flac.wav");
        ExpectSame("replace DIR/FOLDER 1 DIR/new1.flac", folder, c.form);
        ExpectSame("pack DIR/FOLDER", folder, c.form);
        ExpectSame("check DIR/" + folder + ".ast DIR/FOLDER", folder, c.form);
        ExpectSame("restore DIR/FOLDER 2", folder, c.form);
        ExpectSame("pack --dry-run DIR/FOLDER", folder, c.form);
        ExpectSame("export DIR/" + folder + ".ast --rows 2 -o DIR/" + folder + "/out", folder,
                   c.form);
        // Errors read the same too.
        ExpectSame("replace DIR/FOLDER 9 DIR/new1.flac", folder, c.form);
        ExpectSame("unpack DIR/missing.ast", folder, c.form);
        if (testing::Test::HasFailure())
            return;
    }
}

// A stream of 130,000 small blocks (53 MB): its details and its export read
// the same on both systems, and the times are printed beside each
// program's start (its --version). Under wine the start alone takes one to
// two seconds and varies by half a second from run to run, so one run's
// times are no ratio: bench/ratios.sh takes the medians of several.
TEST_F(SameAsLinux, AStreamOfManyBlocksReadsTheSameAndTheTimesArePrinted) {
    const PathForm slashes{"slashes", '/', false};
    test::PairRecipe recipe;
    recipe.streams = {test::ManyBlockStream(130000), test::ThreeKindsOfStreams()[0]};
    test::BuildPair(linuxDir_.path(), "long", recipe);
    test::BuildPair(windowsDir_.path(), "long", recipe);
    ExpectSame("unpack DIR/long.ast", "long_", slashes);
    const Both start = ExpectSame("--version", "long_", slashes);
    for (const char* command : {"list --details DIR/FOLDER", "export DIR/FOLDER --rows 1"}) {
        const Both both = ExpectSame(command, "long_", slashes);
        std::printf("%-26s Linux %.2f s, wine %.2f s (the start: %.2f s and %.2f s)\n", command,
                    both.linuxSeconds, both.windowsSeconds, start.linuxSeconds,
                    start.windowsSeconds);
    }
}

// Windows' old limit of 260 characters a path does not hold for the program.
TEST_F(SameAsLinux, PathsLongerThanWindowsOldLimit) {
    const PathForm form{"backslashes", '\\', false};
    const std::string deep = std::string(70, 'a') + "/" + std::string(70, 'b') + "/" +
                             "очень-длинный-путь-" + std::string(60, 'c') + "/" +
                             std::string(40, 'd');
    std::filesystem::create_directories(test::FsPath(linuxDir_ / deep));
    std::filesystem::create_directories(test::FsPath(windowsDir_ / deep));
    const test::PairRecipe recipe = SoundRecipe();
    test::BuildPair(linuxDir_ / deep, "long", recipe);
    test::BuildPair(windowsDir_ / deep, "long", recipe);
    const std::string folder = deep + "/long_";
    ASSERT_GT(OnWindows(windowsDir_ / (folder + "/long_00002.asf"), form).size(), 260u);
    ExpectSame("unpack DIR/" + deep + "/long.ast", folder, form);
    Put("new.wav", WavBytes(Tone(1, 22050, 523, 0.7), 1, 22050, std::nullopt));
    ExpectSame("replace DIR/FOLDER 2 DIR/new.wav", folder, form);
    ExpectSame("export DIR/FOLDER --rows 2", folder, form);
    ExpectSame("pack DIR/FOLDER", folder, form);
    ExpectSame("check DIR/" + folder + ".ast DIR/FOLDER", folder, form);
}

TEST_F(SameAsLinux, AResampledReplacementSoundsTheSame) {
    const PathForm form{"backslashes", '\\', false};
    const test::PairRecipe recipe = SoundRecipe();
    test::BuildPair(linuxDir_.path(), "песня", recipe);
    test::BuildPair(windowsDir_.path(), "песня", recipe);
    ExpectSame("unpack DIR/песня.ast", "песня_", form);
    // 44100 Hz into streams of 22050 and 32000 Hz, through Ogg Vorbis too.
    const auto tone = Tone(2, 44100, 400, 0.8);
    Put("new.wav", WavBytes(tone, 2, 44100, std::nullopt));
    test::FfmpegConvert(linuxDir_ / "new.wav", linuxDir_ / "new.ogg", "-c:a libvorbis -q:a 8");
    Put("new.ogg", ReadFileBytes(linuxDir_ / "new.ogg"));
    for (const auto& [row, audio] : {std::pair{"3", "new.wav"}, std::pair{"1", "new.ogg"}}) {
        SCOPED_TRACE(std::string(row) + " from " + audio);
        const Both both =
            Run("replace DIR/FOLDER " + std::string(row) + " DIR/" + audio, "песня_", form);
        ASSERT_EQ(both.linuxStatus, 0) << both.linuxText;
        EXPECT_EQ(both.windowsStatus, 0) << both.windowsText;
        EXPECT_EQ(both.windowsText, both.linuxText);
        const std::string stream = std::string("песня_/песня_0000") + row + ".asf";
        const auto ours = Decoded(linuxDir_ / stream);
        const auto theirs = Decoded(windowsDir_ / stream);
        ASSERT_EQ(theirs.size(), ours.size());
        EXPECT_GE(Snr(ours, theirs), 60.0);
    }
}

}  // namespace
}  // namespace tamrel
