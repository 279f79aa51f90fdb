#include "audio/AudioFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "TestFiles.h"
#include "audio/Wav.h"

namespace tamrel {
namespace {

std::vector<std::int16_t> Tone(int channels, int rate, double seconds) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
        for (int c = 0; c < channels; ++c)
            out.push_back(static_cast<std::int16_t>(9000 * std::sin(i * 0.05 + c) + c * 7));
    return out;
}

TEST(AudioFile, SixteenBitsAtTheStreamsRateAndChannelsPassUnchanged) {
    test::TempDir dir;
    const auto stereo = Tone(2, 22050, 0.5);
    WriteWavFile(dir / "s.wav", stereo, 2, 22050, std::nullopt);
    const PcmAudio same = ReadAudioFileAs(dir / "s.wav", 22050, 2);
    EXPECT_EQ(same.samples, stereo);

    // Mono to stereo duplicates each sample, still unchanged.
    const auto mono = Tone(1, 22050, 0.5);
    WriteWavFile(dir / "m.wav", mono, 1, 22050, std::nullopt);
    const PcmAudio doubled = ReadAudioFileAs(dir / "m.wav", 22050, 2);
    ASSERT_EQ(doubled.samples.size(), mono.size() * 2);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        EXPECT_EQ(doubled.samples[2 * i], mono[i]);
        EXPECT_EQ(doubled.samples[2 * i + 1], mono[i]);
    }
}

TEST(AudioFile, OtherRatesChannelsAndFormatsAreConverted) {
    test::TempDir dir;
    const auto stereo = Tone(2, 44100, 1.0);
    WriteWavFile(dir / "s.wav", stereo, 2, 44100, std::nullopt);
    // Stereo averaged to mono, 44100 resampled to 22050: half as many
    // samples, each near the average of the two channels.
    const PcmAudio half = ReadAudioFileAs(dir / "s.wav", 22050, 1);
    EXPECT_NEAR(static_cast<double>(half.samples.size()), 22050.0, 2.0);
    for (std::size_t i = 100; i < 20000; i += 997) {
        const double average = (stereo[4 * i] + stereo[4 * i + 1]) / 2.0;
        EXPECT_NEAR(half.samples[i], average, 300.0) << i;
    }
    // FLAC, Ogg Vorbis and MP3, as made by FFmpeg from the same sound.
    for (const char* ext : {"flac", "ogg", "mp3"}) {
        const std::string path = dir / (std::string("s.") + ext);
        const std::string command =
            "ffmpeg -nostdin -v error -y -i '" + (dir / "s.wav") + "' '" + path + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << ext;
        const PcmAudio read = ReadAudioFileAs(path, 32000, 2);
        EXPECT_NEAR(static_cast<double>(read.samples.size()) / 2, 32000.0, 1200.0) << ext;
    }
}

TEST(AudioFile, AnUnreadableFileIsNamed) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "notes.txt", "no sound here");
    for (const std::string& path : {dir / "notes.txt", dir / "missing.wav"}) {
        try {
            ReadAudioFileAs(path, 22050, 1);
            ADD_FAILURE() << "no error for " << path;
        } catch (const AudioFileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot read the audio file " + path + ": ", 0),
                      0u)
                << e.what();
        }
    }
}

}  // namespace
}  // namespace tamrel
