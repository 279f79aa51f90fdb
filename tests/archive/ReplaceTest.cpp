#include "archive/Replace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "archive/Pack.h"
#include "archive/Unpack.h"
#include "audio/Decoder.h"
#include "audio/Wav.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::ReadFileBytes;

std::vector<std::int16_t> Decoded(const std::string& stream) {
    return DecodeStream(MemorySource(stream), ReadStreamInfo(MemorySource(stream)), "s");
}

class ReplaceTest : public ::testing::Test {
protected:
    ReplaceTest() {
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        pair = test::BuildPair(dir.path(), "music", recipe);
        StreamTable table;
        EXPECT_EQ(UnpackPickedFile(table, window, pair.archivePath), UnpackOutcome::Succeeded);
        // Two seconds of sound, far longer than the stream it replaces.
        std::vector<std::int16_t> tone;
        for (int i = 0; i < 44100; ++i)
            tone.push_back(static_cast<std::int16_t>(7000 * std::sin(i * 0.03)));
        WriteWavFile(dir / "new.wav", tone, 1, 22050, std::nullopt);
    }
    std::string Stream(int k) const {
        return dir / ("music_/music_0000" + std::to_string(k) + ".asf");
    }

    test::TempDir dir;
    test::Pair pair;
    test::RecordingWindow window;
};

TEST_F(ReplaceTest, AReplacedStreamIsPackedAndComesBackFromTheNewPair) {
    const std::string folder = dir / "music_";
    const std::string tableBefore = ReadFileBytes(folder + "/music_.tba");
    const std::string original = ReadFileBytes(Stream(2));
    ReplaceReport report;
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window, &report),
              ReplaceOutcome::Replaced);
    const std::string replaced = ReadFileBytes(Stream(2));
    EXPECT_EQ(ReadFileBytes(Stream(2) + ".orig"), original);
    EXPECT_EQ(ReadFileBytes(folder + "/music_.tba"), tableBefore);
    EXPECT_EQ(report.oldSize, original.size());
    EXPECT_EQ(report.newSize, replaced.size());
    EXPECT_NEAR(report.newSeconds, 2.0, 0.01);
    const StreamInfo info = ReadStreamInfo(MemorySource(replaced));
    EXPECT_EQ(info.CodecName(), "XA ADPCM R2");
    EXPECT_EQ(info.samples, 44100u);

    // A second replacement keeps the first original.
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::Replaced);
    EXPECT_EQ(ReadFileBytes(Stream(2) + ".orig"), original);

    StreamTable table;
    ASSERT_EQ(PackFolder(table, window, folder), PackOutcome::Succeeded);
    StreamTable again;
    ASSERT_EQ(UnpackPickedFile(again, window, dir / "music_.ast"), UnpackOutcome::Succeeded);
    std::string packed = ReadFileBytes(dir / "music__/music__00002.asf");
    EXPECT_EQ(Decoded(packed), Decoded(replaced));
    EXPECT_EQ(ReadFileBytes(dir / "music__/music__00003.asf").substr(0, 4), "SCHl");
}

TEST_F(ReplaceTest, RestorePutsTheOriginalBack) {
    const std::string folder = dir / "music_";
    const std::string original = ReadFileBytes(Stream(1));
    EXPECT_EQ(RestoreStream(folder, "music_00001.asf", window), ReplaceOutcome::NoOriginal);
    EXPECT_EQ(window.calls.back(),
              "information Information: No original of music_00001.asf is "
              "kept in " +
                  folder + ".");
    ASSERT_EQ(ReplaceStream(folder, "music_00001.asf", dir / "new.wav", window),
              ReplaceOutcome::Replaced);
    EXPECT_NE(ReadFileBytes(Stream(1)), original);
    EXPECT_EQ(RestoreStream(folder, "music_00001.asf", window), ReplaceOutcome::Restored);
    EXPECT_EQ(ReadFileBytes(Stream(1)), original);
    EXPECT_FALSE(std::filesystem::exists(Stream(1) + ".orig"));
}

TEST_F(ReplaceTest, RefusalsWriteNothing) {
    const std::string folder = dir / "music_";
    const std::string before = test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(3));
    EXPECT_EQ(ReplaceStream(folder, "music_00003.asf", dir / "new.wav", window),
              ReplaceOutcome::CannotEncode);
    EXPECT_EQ(window.calls.back(),
              "warning Error: The stream music_00003.asf is MicroTalk 10:1, "
              "which this program cannot encode yet.");
    FolderLock held;
    ASSERT_EQ(held.TryLock(folder), FolderLock::Result::Locked);
    EXPECT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::FolderInUse);
    held.Unlock();
    EXPECT_THROW(ReplaceStream(folder, "../music.ast", dir / "new.wav", window), std::exception);
    EXPECT_THROW(ReplaceStream(folder, "music_00002.asf", dir / "none.wav", window),
                 std::exception);
    EXPECT_EQ(test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(3)), before);
}

}  // namespace
}  // namespace tamrel
