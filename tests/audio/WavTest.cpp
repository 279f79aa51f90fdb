#include "audio/Wav.h"

#include <gtest/gtest.h>

#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Export.h"

namespace tamrel {
namespace {

std::string U16(int v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

TEST(Wav, ATinyStreamWithALoopByteForByte) {
    // PCM16 LE stereo at 22050 Hz: two samples per channel, looping over both.
    test::StreamParts parts;
    parts.tags = {{0xA0, 0x00}, {0x82, 2}, {0x86, 0}, {0x87, 1}};
    parts.dataPayloads = {test::Uint32(2, false) + U16(1) + U16(-1) + U16(300) + U16(-300)};
    test::TempDir dir;
    test::WriteFileBytes(dir / "s.asf", test::BuildStream(parts));
    ExportWav(FileSource(dir / "s.asf"), "s.asf", dir / "s.wav");
    const std::string expected =
        std::string("RIFF") + test::Uint32(4 + 24 + 8 + 8 + 8 + 60, false) + "WAVEfmt " +
        test::Uint32(16, false) + U16(1) + U16(2) + test::Uint32(22050, false) +
        test::Uint32(22050 * 4, false) + U16(4) + U16(16) + "data" + test::Uint32(8, false) +
        U16(1) + U16(-1) + U16(300) + U16(-300) + "smpl" + test::Uint32(60, false) +
        test::Uint32(0, false) + test::Uint32(0, false) + test::Uint32(45351, false) +
        test::Uint32(60, false) + test::Uint32(0, false) + test::Uint32(0, false) +
        test::Uint32(0, false) + test::Uint32(1, false) + test::Uint32(0, false) +
        // The loop: cue 0, forward, from sample 0 to sample 1 inclusive, forever.
        test::Uint32(0, false) + test::Uint32(0, false) + test::Uint32(0, false) +
        test::Uint32(1, false) + test::Uint32(0, false) + test::Uint32(0, false);
    EXPECT_EQ(test::ReadFileBytes(dir / "s.wav"), expected);
    EXPECT_EQ(dir.Listing(), "s.asf\ns.wav\n");  // no temporary file left
    EXPECT_EQ(WavNameFor("intro_00002.asf"), "intro_00002.wav");
}

TEST(Wav, NoLoopForALoopOutsideTheStreamAndNoFileBeyondWhatRiffHolds) {
    test::StreamParts parts;
    parts.tags = {{0xA0, 0x00}, {0x86, 0}, {0x87, 2}};  // the loop ends after the two samples
    parts.dataPayloads = {test::Uint32(2, false) + U16(1) + U16(2)};
    test::TempDir dir;
    test::WriteFileBytes(dir / "s.asf", test::BuildStream(parts));
    ExportWav(FileSource(dir / "s.asf"), "s.asf", dir / "s.wav");
    const std::string wav = test::ReadFileBytes(dir / "s.wav");
    EXPECT_EQ(wav.size(), 44u + 4);
    EXPECT_EQ(wav.find("smpl"), std::string::npos);

    // 2^30 stereo frames are 4 GiB of samples: refused before a file is made.
    EXPECT_THROW(WavFileWriter(dir / "big.wav", 2, 22050, std::uint64_t{1} << 30, std::nullopt),
                 WavTooLongError);
    EXPECT_EQ(dir.Listing(), "s.asf\ns.wav\n");
}

}  // namespace
}  // namespace tamrel
