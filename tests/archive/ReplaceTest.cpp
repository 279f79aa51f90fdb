#include "archive/folder/Replace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <vector>

#include "Ffmpeg.h"
#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "archive/pair/Pack.h"
#include "archive/pair/Unpack.h"
#include "audio/AudioFile.h"
#include "audio/Blocks.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/Export.h"
#include "audio/Wav.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

namespace fs = std::filesystem;
using test::BuildStream;
using test::ReadFileBytes;
using test::StreamParts;
using test::Uint32;

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
    const std::string tableBefore = ReadFileBytes(folder + test::kSep + "music_.tba");
    const std::string original = ReadFileBytes(Stream(2));
    ReplaceReport report;
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window, &report),
              ReplaceOutcome::Replaced);
    const std::string replaced = ReadFileBytes(Stream(2));
    EXPECT_EQ(ReadFileBytes(Stream(2) + ".orig"), original);
    EXPECT_EQ(ReadFileBytes(folder + test::kSep + "music_.tba"), tableBefore);
    EXPECT_EQ(report.oldSize, original.size());
    EXPECT_EQ(report.newSize, replaced.size());
    EXPECT_NEAR(report.newSeconds, 2.0, 0.01);
    const StreamInfo info = ReadStreamInfo(MemorySource(replaced));
    EXPECT_EQ(info.CodecName(), "XA ADPCM R2");
    EXPECT_EQ(info.samples, 44100u);

    // The same audio again encodes to the same bytes: nothing is written.
    const auto modified = fs::last_write_time(Stream(2));
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::Unchanged);
    EXPECT_EQ(fs::last_write_time(Stream(2)), modified);
    // Another sound, then the first again: the kept original is the
    // template each time, so the first sound gives its first bytes back.
    std::vector<std::int16_t> other;
    for (int i = 0; i < 30000; ++i)
        other.push_back(static_cast<std::int16_t>(9000 * std::sin(i * 0.11)));
    WriteWavFile(dir / "other.wav", other, 1, 22050, std::nullopt);
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "other.wav", window),
              ReplaceOutcome::Replaced);
    ASSERT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::Replaced);
    EXPECT_EQ(ReadFileBytes(Stream(2)), replaced);
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
              "warning Error: The stream music_00003.asf is ATRAC3plus: only one large library "
              "decodes it and no open encoder exists, so this program can neither play nor "
              "replace it; its bytes are kept as they are.");
    FolderLock held;
    ASSERT_EQ(held.TryLock(folder), LockResult::Locked);
    EXPECT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::FolderInUse);
    held.Unlock();
    try {
        ReplaceStream(folder, "../music.ast", dir / "new.wav", window);
        ADD_FAILURE() << "no refusal";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "The table names ../music.ast, which is not a file of the work folder " + folder + ".");
    }
    try {
        ReplaceStream(folder, "music_00002.asf", dir / "none.wav", window);
        ADD_FAILURE() << "no refusal";
    } catch (const AudioFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot read the audio file " + (dir / "none.wav") +
                                             ": No such file or directory");
    }
    EXPECT_EQ(test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(3)), before);
}

// A loop set in place: the header's loop tags alone change, the blocks stay
// byte for byte, the first original is kept, export writes the new loop;
// set again or removed the same way. Stream 1 (PCM, 100 samples at 32000
// Hz) loops over 5 to 100; stream 2 (XA, 28 samples) has no loop tags, so
// its header grows to take them.
TEST_F(ReplaceTest, ALoopIsSetInTheHeaderAloneAndRemoved) {
    const std::string folder = dir / "music_";
    const struct {
        int stream;
        LoopRequest request;
        ReplaceOutcome outcome;
        std::optional<std::pair<std::uint64_t, std::uint64_t>> loop;
    } steps[] = {
        {1, {false, true, 10, 60}, ReplaceOutcome::LoopWritten, std::pair{10u, 60u}},
        {1,
         {false, false, 20 / 32000.0, 90 / 32000.0},
         ReplaceOutcome::LoopWritten,
         std::pair{20u, 90u}},
        {1, {false, true, 20, 90}, ReplaceOutcome::Unchanged, std::pair{20u, 90u}},
        {1, {true, false, 0, 0}, ReplaceOutcome::LoopWritten, std::nullopt},
        {1, {true, false, 0, 0}, ReplaceOutcome::Unchanged, std::nullopt},
        {2, {false, true, 3, 28}, ReplaceOutcome::LoopWritten, std::pair{3u, 28u}},
    };
    std::map<int, std::string> originals = {{1, ReadFileBytes(Stream(1))},
                                            {2, ReadFileBytes(Stream(2))}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.stream) + " " + std::to_string(step.request.start));
        const std::string name = "music_0000" + std::to_string(step.stream) + ".asf";
        const std::string before = ReadFileBytes(Stream(step.stream));
        const StreamInfo old = ReadStreamInfo(MemorySource(before));
        ASSERT_EQ(SetStreamLoop(folder, name, step.request, window), step.outcome);
        const std::string after = ReadFileBytes(Stream(step.stream));
        const StreamInfo now = ReadStreamInfo(MemorySource(after));
        EXPECT_EQ(now.ValidLoop(), step.loop);
        EXPECT_EQ(now.Loops(), step.loop.has_value());
        EXPECT_EQ(now.headerSamples, old.headerSamples);
        EXPECT_EQ(after.substr(now.headerSize), before.substr(old.headerSize));
        EXPECT_EQ(Decoded(after), Decoded(before));
        EXPECT_EQ(ReadFileBytes(Stream(step.stream) + ".orig"), originals[step.stream]);
        // Export writes the loop the header now has.
        ExportWav(FileSource(Stream(step.stream)), name, dir / "loop.wav");
        const auto facts = AudioFileReader(dir / "loop.wav").Facts().loop;
        ASSERT_EQ(facts.has_value(), step.loop.has_value());
        if (facts) {
            EXPECT_EQ(std::pair(facts->start, facts->end), *step.loop);
        }
    }
    EXPECT_GT(ReadStreamInfo(MemorySource(ReadFileBytes(Stream(2)))).headerSize,
              ReadStreamInfo(MemorySource(originals[2])).headerSize);
    EXPECT_EQ(RestoreStream(folder, "music_00002.asf", window), ReplaceOutcome::Restored);
    EXPECT_EQ(ReadFileBytes(Stream(2)), originals[2]);
}

// A loop the header cannot take alone, or one outside the stream, is refused
// with why, and nothing in the folder changes.
TEST_F(ReplaceTest, ALoopThatTheHeaderCannotTakeIsRefused) {
    const std::string folder = dir / "music_";
    StreamParts microTalk;
    microTalk.tags = {{0x80, 1}, {0x82, 1}, {0xA0, 0x04}};
    microTalk.dataPayloads = {Uint32(432, false) + Uint32(0, false) + "\x01" +
                              std::string(86, '\0')};
    test::WriteFileBytes(folder + test::kSep + "talk.asf", BuildStream(microTalk));
    StreamParts withLoopBlock;
    withLoopBlock.tags = {{0xA0, 0x00}, {0x82, 1}, {0x84, 22050}};
    withLoopBlock.dataPayloads = {Uint32(10, false) + std::string(20, '\x01')};
    std::string blocked = BuildStream(withLoopBlock);
    blocked.insert(blocked.size() - 8, test::Block("SCLl", Uint32(0, false)));
    test::WriteFileBytes(folder + test::kSep + "blocked.asf", blocked);
    const struct {
        const char* name;
        LoopRequest request;
        std::string why;
    } cases[] = {
        {"music_00001.asf",
         {false, true, 10, 101},
         "The loop 10-101 does not lie inside the 100 samples of music_00001.asf."},
        {"music_00001.asf",
         {false, false, 0.001, 0.004},
         "The loop 32-128 does not lie inside the 100 samples of music_00001.asf."},
        {"talk.asf",
         {false, true, 0, 100},
         "The loop of talk.asf cannot be set in its header alone: a MicroTalk stream keeps its "
         "loop as a second bitstream."},
        {"blocked.asf",
         {true, false, 0, 0},
         "The loop of blocked.asf cannot be set in its header alone: the stream has a loop "
         "block as well."},
    };
    const std::string before = test::TempDir::ListingOf(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SetStreamLoop(folder, c.name, c.request, window), ReplaceOutcome::LoopRefused);
        EXPECT_EQ(window.calls.back(), "warning Error: " + c.why);
        EXPECT_EQ(test::TempDir::ListingOf(folder), before);
    }
}

// Stream 1 is PCM at 32000 Hz, stereo, 100 samples looping over 5 to 100;
// stream 2 is XA ADPCM R2 and does not loop.
TEST_F(ReplaceTest, TheLoopComesFromTheFileTheUserOrTheStream) {
    const std::string folder = dir / "music_";
    ExportWav(FileSource(Stream(1)), "music_00001.asf", dir / "own.wav");
    auto tone = [](int rate, double seconds) {
        std::vector<std::int16_t> out;
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
            for (int c = 0; c < 2; ++c)
                out.push_back(static_cast<std::int16_t>(5000 * std::sin(i * 0.02 + c)));
        return out;
    };
    WriteWavFile(dir / "half-rate-loop.wav", tone(16000, 1.0), 2, 16000, WavLoop{1600, 8000});
    WriteWavFile(dir / "same-length.wav", tone(32000, 100.0 / 32000), 2, 32000, std::nullopt);
    WriteWavFile(dir / "second.wav", tone(32000, 1.0), 2, 32000, std::nullopt);
    WriteWavFile(dir / "loop-past-end.wav", tone(32000, 1.0), 2, 32000, WavLoop{100, 40000});
    struct Case {
        const char* what;
        int stream;
        std::string audio;
        std::optional<GivenLoop> given;
        std::optional<SampleLoop> expected;  // the new stream's loop tags, as read
        LoopOrigin origin;
        std::string text;
    };
    const Case cases[] = {
        {"its own export: the same loop, exactly",
         1,
         "own.wav",
         {},
         SampleLoop{5, 100},
         LoopOrigin::AudioFile,
         "Loop 0:00.00 to 0:00.00: the audio file's loop."},
        {"a file's loop at another rate, at the stream's",
         1,
         "half-rate-loop.wav",
         {},
         SampleLoop{3200, 16000},
         LoopOrigin::AudioFile,
         "Loop 0:00.10 to 0:00.50: the audio file's loop."},
        {"no loop but the same length: the stream's loop stays",
         1,
         "same-length.wav",
         {},
         SampleLoop{5, 100},
         LoopOrigin::KeptFromStream,
         "Loop 0:00.00 to 0:00.00: the stream's own loop, kept, as the new audio is just as "
         "long."},
        {"no loop and another length: over everything",
         1,
         "second.wav",
         {},
         SampleLoop{0, 32000},
         LoopOrigin::WholeAudio,
         "Loop 0:00.00 to 0:01.00: the whole new audio."},
        {"a loop given by hand", 1, "second.wav", GivenLoop{0.25, 0.5}, SampleLoop{8000, 16000},
         LoopOrigin::Given, "Loop 0:00.25 to 0:00.50: as given."},
        {"a file's loop past its end is not used",
         1,
         "loop-past-end.wav",
         {},
         SampleLoop{0, 32000},
         LoopOrigin::WholeAudio,
         "Loop 0:00.00 to 0:01.00: the whole new audio. The audio file's loop (0:00.00 to "
         "0:01.25) was not used: it lies outside the audio."},
        {"a stream that does not loop gets no loop",
         2,
         "half-rate-loop.wav",
         {},
         std::nullopt,
         LoopOrigin::None,
         "The audio file's loop (0:00.10 to 0:00.50) was not used: the stream does not loop."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "music_0000" + std::to_string(c.stream) + ".asf";
        ReplaceReport report;
        ReplaceOptions options;
        options.loop = c.given;
        ASSERT_EQ(ReplaceStream(folder, name, dir / c.audio, window, &report, options),
                  ReplaceOutcome::Replaced);
        const StreamInfo info = ReadStreamInfo(FileSource(Stream(c.stream)));
        EXPECT_EQ(info.ProblemTexts(), std::vector<std::string>{});
        EXPECT_EQ(report.loop.origin, c.origin);
        EXPECT_EQ(report.loopText, c.text);
        EXPECT_FALSE(test::ReadFileBytes(Stream(c.stream)).find("SCLl") != std::string::npos);
        if (c.expected) {
            EXPECT_EQ(info.loopStart, c.expected->start);
            EXPECT_EQ(info.loopEnd, c.expected->end);
        } else {
            EXPECT_FALSE(info.Loops());
        }
        ASSERT_EQ(RestoreStream(folder, name, window), ReplaceOutcome::Restored);
    }
}

TEST_F(ReplaceTest, ALoopThatCannotBeTakenIsRefusedAndNothingChanges) {
    const std::string folder = dir / "music_";
    const std::string before =
        test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(1)) + ReadFileBytes(Stream(2));
    ReplaceOptions options;
    options.loop = GivenLoop{0.5, 2.5};  // the new audio lasts two seconds
    EXPECT_EQ(ReplaceStream(folder, "music_00001.asf", dir / "new.wav", window, nullptr, options),
              ReplaceOutcome::LoopRefused);
    EXPECT_EQ(window.calls.back(),
              "warning Error: The loop 0:00.50 to 0:02.50 does not lie within the new audio, "
              "which is 0:02.00 long.");
    EXPECT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window, nullptr, options),
              ReplaceOutcome::LoopRefused);
    EXPECT_EQ(window.calls.back(),
              "warning Error: The stream music_00002.asf does not loop, so it takes no loop.");
    EXPECT_EQ(
        test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(1)) + ReadFileBytes(Stream(2)),
        before);
}

TEST_F(ReplaceTest, DamagedOrHostileInputChangesNothing) {
    const std::string folder = dir / "music_";
    std::vector<const char*> audioFiles = {"empty.wav"};
    test::WriteFileBytes(dir / "empty.wav", "");
    if (test::kHaveFfmpeg) {
        std::vector<std::int16_t> tone;
        for (int i = 0; i < 4 * 44100; ++i)
            tone.push_back(static_cast<std::int16_t>(7000 * std::sin(i * 0.03)));
        WriteWavFile(dir / "long.wav", tone, 1, 44100, std::nullopt);
        test::FfmpegConvert(dir / "long.wav", dir / "long.flac");
        std::string flac = ReadFileBytes(dir / "long.flac");
        for (std::size_t i = flac.size() / 2; i < flac.size() / 2 + 1000; ++i)
            flac[i] = static_cast<char>(~flac[i]);
        test::WriteFileBytes(dir / "damaged.flac", flac);
        audioFiles.push_back("damaged.flac");
    }
    const std::string before = test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(2));
    for (const char* audio : audioFiles) {
        SCOPED_TRACE(audio);
        EXPECT_THROW(ReplaceStream(folder, "music_00002.asf", dir / audio, window), AudioFileError);
        EXPECT_EQ(test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(2)), before);
    }
    // A WAV file whose data chunk declares almost 4 GiB: as PCM16 stereo
    // that is more than a stream may hold, refused before it is read.
    std::string claims = WavBytes(std::vector<std::int16_t>(200, 5), 2, 44100, std::nullopt);
    claims.replace(40, 4, std::string("\xF0\xFF\xFF\xFF", 4));
    test::WriteFileBytes(dir / "claims.wav", claims);
    try {
        ReplaceStream(folder, "music_00001.asf", dir / "claims.wav", window);
        ADD_FAILURE() << "no refusal";
    } catch (const EncodeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot replace music_00001.asf: the new stream would reach 2 GiB, more than "
                  "this program's files may hold.");
    }
    EXPECT_EQ(test::TempDir::ListingOf(folder) + ReadFileBytes(Stream(2)), before);
    // A header that no stream can have: 2^31 Hz.
    StreamParts parts;
    parts.tags = {{0xA0, 0x00}, {0x82, 2}, {0x84, 0x80000000u}};
    parts.dataPayloads = {Uint32(28, false) + std::string(112, '\0')};
    test::WriteFileBytes(Stream(2), BuildStream(parts));
    EXPECT_EQ(ReplaceStream(folder, "music_00002.asf", dir / "new.wav", window),
              ReplaceOutcome::CannotEncode);
    EXPECT_EQ(window.calls.back(),
              "warning Error: The stream music_00002.asf cannot be replaced: the header declares "
              "2147483648 Hz, which no stream can have.");
    EXPECT_FALSE(std::filesystem::exists(Stream(2) + ".orig"));
}

}  // namespace
}  // namespace tamrel
