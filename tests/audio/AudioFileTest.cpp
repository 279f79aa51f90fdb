#include "audio/AudioFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>

#include "Ffmpeg.h"
#include "TestFiles.h"
#include "audio/Wav.h"

namespace tamrel {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> Tone(int channels, int rate, double seconds) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
        for (int c = 0; c < channels; ++c)
            out.push_back(static_cast<std::int16_t>(9000 * std::sin(i * 0.05 + c) + c * 7));
    return out;
}

// One tone per channel, each its own whole number of cycles per second:
// channel c at 300 + 200 c Hz.
std::vector<std::int16_t> TonePerChannel(int channels, int rate, double amplitude) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < rate; ++i)
        for (int c = 0; c < channels; ++c)
            out.push_back(static_cast<std::int16_t>(
                std::lround(amplitude * std::sin(2 * kPi * (300 + 200 * c) * i / rate))));
    return out;
}

// The amplitude of the tone of frequency hz in channel c of the samples.
double ToneAmplitude(const std::vector<std::int16_t>& samples, int channels, int c, int rate,
                     double hz) {
    std::complex<double> sum;
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < frames; ++i)
        sum +=
            double(samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]) *
            std::polar(1.0, -2 * kPi * hz * static_cast<double>(i) / rate);
    return 2 * std::abs(sum) / static_cast<double>(frames);
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
    TAMREL_NEEDS_FFMPEG();
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
        test::FfmpegConvert(dir / "s.wav", path);
        const PcmAudio read = ReadAudioFileAs(path, 32000, 2);
        EXPECT_NEAR(static_cast<double>(read.samples.size()) / 2, 32000.0, 1200.0) << ext;
    }
}

TEST(AudioFile, FiveOneIsMixedNotCut) {
    TAMREL_NEEDS_FFMPEG();
    // L, R, C, LFE, back L, back R: a tone each, at 0.3 of full scale.
    const double a = 9830;
    test::TempDir dir;
    WriteWavFile(dir / "six.wav", TonePerChannel(6, 22050, a), 6, 22050, std::nullopt);
    // The same sound with its channel mask, and in Ogg Vorbis, whose order
    // puts the centre second: both name their channels, and FFmpeg keeps
    // each tone on its own channel.
    test::FfmpegConvert(dir / "six.wav", dir / "mask.wav", "-channel_layout 5.1 -c:a pcm_s16le");
    test::FfmpegConvert(dir / "six.wav", dir / "six.ogg",
                        "-channel_layout 5.1 -c:a libvorbis -q:a 8");
    const double sum = 1 + 2 * 0.70710678;
    const double front = a / sum, centre = a * 0.70710678 / sum;
    // Expected amplitude of each channel's tone on the left; the right mirrors it.
    const double left[6] = {front, 0, centre, 0, centre, 0};
    const double right[6] = {0, front, centre, 0, 0, centre};
    for (const char* name : {"six.wav", "mask.wav", "six.ogg"}) {
        SCOPED_TRACE(name);
        const bool lossy = std::string(name).find(".ogg") != std::string::npos;
        const double tolerance = lossy ? 0.05 * a : 0.01 * a;
        const PcmAudio stereo = ReadAudioFileAs(dir / name, 22050, 2);
        ASSERT_NEAR(static_cast<double>(stereo.samples.size()), 2 * 22050.0, lossy ? 2048 : 0);
        for (int c = 0; c < 6; ++c) {
            EXPECT_NEAR(ToneAmplitude(stereo.samples, 2, 0, 22050, 300 + 200 * c), left[c],
                        tolerance)
                << "channel " << c;
            EXPECT_NEAR(ToneAmplitude(stereo.samples, 2, 1, 22050, 300 + 200 * c), right[c],
                        tolerance)
                << "channel " << c;
        }
        // Mono is the mean of that stereo: the centre whole, each side halved.
        const PcmAudio mono = ReadAudioFileAs(dir / name, 22050, 1);
        for (int c = 0; c < 6; ++c)
            EXPECT_NEAR(ToneAmplitude(mono.samples, 1, 0, 22050, 300 + 200 * c),
                        (left[c] + right[c]) / 2, tolerance)
                << "channel " << c;
    }
    // Into four channels, channel c is the file's channel c.
    const PcmAudio four = ReadAudioFileAs(dir / "six.wav", 22050, 4);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(ToneAmplitude(four.samples, 4, c, 22050, 300 + 200 * c), a, 0.01 * a);
    // A stereo file into four channels: the two missing ones are silent.
    WriteWavFile(dir / "two.wav", TonePerChannel(2, 22050, a), 2, 22050, std::nullopt);
    const PcmAudio wide = ReadAudioFileAs(dir / "two.wav", 22050, 4);
    ASSERT_EQ(wide.samples.size(), 4u * 22050);
    for (std::size_t i = 0; i < 22050; ++i)
        ASSERT_EQ(wide.samples[4 * i + 2] | wide.samples[4 * i + 3], 0) << i;
}

TEST(AudioFile, RefusalsSayWhatIsWrong) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "notes.txt", "no sound here");
    test::WriteFileBytes(dir / "empty.wav", "");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
#endif
    std::filesystem::create_directory(dir / "folder.wav");
    WriteWavFile(dir / "slow.wav", Tone(1, 8, 2.0), 1, 8, std::nullopt);
    WriteWavFile(dir / "silent.wav", {}, 1, 22050, std::nullopt);
    const std::pair<std::string, std::string> cases[] = {
        {"notes.txt",
         " is not an audio file this program can read (WAV, FLAC, Ogg Vorbis, Opus, MP3)."},
        {"missing.wav", ": No such file or directory"},
        {"empty.wav", " holds no audio."},
        {"silent.wav", " holds no audio."},
#ifndef _WIN32
        {"pipe.wav", " is not a regular file."},  // and no wait for a writer
#endif
        {"folder.wav", " is not a regular file."},
        {"slow.wav", " has a rate of 8 Hz; this program takes audio of 1000 Hz or more."},
    };
    for (const auto& [name, ending] : cases) {
        SCOPED_TRACE(name);
        try {
            ReadAudioFileAs(dir / name, 22050, 1);
            ADD_FAILURE() << "no error";
        } catch (const AudioFileError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(dir / name), std::string::npos) << text;
            EXPECT_TRUE(text.size() >= ending.size() &&
                        text.compare(text.size() - ending.size(), ending.size(), ending) == 0)
                << text;
        }
    }
}

TEST(AudioFile, DamageAndCutsAreFoundNotPassedOver) {
    TAMREL_NEEDS_FFMPEG();
    test::TempDir dir;
    const auto sound = Tone(2, 44100, 4.0);
    WriteWavFile(dir / "s.wav", sound, 2, 44100, std::nullopt);
    test::FfmpegConvert(dir / "s.wav", dir / "s.flac");
    const std::string flac = test::ReadFileBytes(dir / "s.flac");
    const std::string wav = test::ReadFileBytes(dir / "s.wav");
    std::string damaged = flac;
    for (std::size_t i = flac.size() / 2; i < flac.size() / 2 + 2000; ++i)
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    test::WriteFileBytes(dir / "damaged.flac", damaged);
    test::WriteFileBytes(dir / "cut.flac", flac.substr(0, flac.size() / 2));
    test::WriteFileBytes(dir / "cut.wav", wav.substr(0, wav.size() / 2));
    // Files that claim far more than they hold: 2^28 frames in FLAC's stream
    // info (36 bits from bit 108 of it), 2^31 bytes in a WAV data chunk. They
    // cost no memory for the claim, and end as damage where their sound ends.
    std::string claims = flac;
    claims[8 + 13] = static_cast<char>(claims[8 + 13] & 0xF0);
    claims.replace(8 + 14, 4, std::string("\x10\0\0\0", 4));
    test::WriteFileBytes(dir / "claims.flac", claims);
    std::string claimsWav = wav;
    claimsWav.replace(40, 4, std::string("\0\0\0\x80", 4));
    test::WriteFileBytes(dir / "claims.wav", claimsWav);
    // Ogg Vorbis and Opus cut in half, or with bytes changed in the middle
    // (a page that fails its checksum); AIFF and compressed WAV cut in half.
    const std::pair<const char*, const char*> made[] = {
        {"s.ogg", "-c:a libvorbis"},       {"s.opus", "-c:a libopus"},  {"s.aiff", ""},
        {"ima.wav", "-c:a adpcm_ima_wav"}, {"ms.wav", "-c:a adpcm_ms"},
    };
    std::vector<std::string> names = {"damaged.flac", "cut.flac", "cut.wav", "claims.flac",
                                      "claims.wav"};
    for (const auto& [name, options] : made) {
        test::FfmpegConvert(dir / "s.wav", dir / name, options);
        const std::string whole = test::ReadFileBytes(dir / name);
        test::WriteFileBytes(dir / ("cut-" + std::string(name)), whole.substr(0, whole.size() / 2));
        names.push_back("cut-" + std::string(name));
        if (std::string(name).find(".o") != std::string::npos) {
            std::string flipped = whole;
            for (std::size_t i = whole.size() / 2; i < whole.size() / 2 + 64; ++i)
                flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
            test::WriteFileBytes(dir / ("flipped-" + std::string(name)), flipped);
            names.push_back("flipped-" + std::string(name));
        }
        // The whole file reads without a complaint, as long as it says it is.
        SCOPED_TRACE(name);
        AudioFileReader reader(dir / name);
        const std::uint64_t frames =
            reader.ConvertTo(44100, 2, [](const std::int16_t*, std::size_t) { return true; });
        EXPECT_NEAR(static_cast<double>(frames), 4.0 * 44100, 44100 * 0.05);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        try {
            ReadAudioFileAs(dir / name, 22050, 2);
            ADD_FAILURE() << "no error";
        } catch (const AudioFileError& e) {
            const std::string text = e.what();
            const std::string start =
                "Cannot read the audio file " + (dir / name) + ": it is damaged at 0:0";
            ASSERT_GE(text.size(), start.size() + 4) << text;
            EXPECT_EQ(text.rfind(start, 0), 0u) << text;
            // Somewhere in the four seconds: the middle, or the end for a claim.
            const double at = std::stod(text.substr(start.size()));
            EXPECT_GT(at, 0.5) << text;
            EXPECT_LE(at, 4.0) << text;
        }
    }
    // The whole file reads without a complaint.
    EXPECT_EQ(ReadAudioFileAs(dir / "s.flac", 44100, 2).samples, sound);
}

TEST(AudioFile, TheLoopOfAWavFileIsRead) {
    test::TempDir dir;
    WriteWavFile(dir / "l.wav", Tone(1, 22050, 1.0), 1, 22050, WavLoop{1000, 5000});
    const AudioFileReader reader(dir / "l.wav");
    ASSERT_TRUE(reader.Facts().loop.has_value());
    EXPECT_EQ(reader.Facts().loop->start, 1000u);
    EXPECT_EQ(reader.Facts().loop->end, 5000u);  // exclusive, as written
    EXPECT_EQ(reader.Facts().exactFrames, 22050u);
    WriteWavFile(dir / "n.wav", Tone(1, 22050, 1.0), 1, 22050, std::nullopt);
    EXPECT_FALSE(AudioFileReader(dir / "n.wav").Facts().loop.has_value());
}

}  // namespace
}  // namespace tamrel
