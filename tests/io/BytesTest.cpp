#include "io/Bytes.h"

#include <gtest/gtest.h>

namespace tamrel {
namespace {

TEST(Bytes, LittleEndianAndHexDigits) {
    std::string bytes = "ab" + Uint32LE(0x12345678) + "yz";
    EXPECT_EQ(bytes.substr(2, 4), std::string("\x78\x56\x34\x12", 4));
    EXPECT_EQ(ReadUint32LE(bytes, 2), 0x12345678u);
    WriteUint32LE(bytes, 2, 0xFFFFFF7Fu);
    EXPECT_EQ(ReadUint32LE(bytes, 2), 0xFFFFFF7Fu);
    EXPECT_EQ(bytes.substr(0, 2) + bytes.substr(6), "abyz");
    const std::pair<char, int> digits[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'F', 15},
                                           {'g', -1}, {' ', -1}, {'x', -1}};
    for (const auto& [c, value] : digits)
        EXPECT_EQ(HexDigitValue(c), value) << c;
}

TEST(Bytes, ScanningSignedNumbers) {
    struct Case {
        const char* text;
        bool bareXIsHex;
        bool negative;
        std::uint64_t magnitude;
        std::size_t digits, end;
    };
    const Case cases[] = {
        {"123", false, false, 123, 3, 3},
        {"-12ab", false, true, 12, 2, 3},
        {"+7", false, false, 7, 1, 2},
        {"$ff", false, false, 255, 2, 3},
        {"0x1A", false, false, 26, 2, 4},
        {"x1A", false, false, 0, 0, 0},
        {"x1A", true, false, 26, 2, 3},
        {"", false, false, 0, 0, 0},
        {"-", false, true, 0, 0, 1},
        {"99999999999999", false, false, std::uint64_t{1} << 32, 14, 14},
    };
    for (const auto& c : cases) {
        const ScannedNumber n = ScanNumber(c.text, 0, c.bareXIsHex);
        EXPECT_EQ(n.negative, c.negative) << c.text;
        EXPECT_EQ(n.magnitude, c.magnitude) << c.text;
        EXPECT_EQ(n.digits, c.digits) << c.text;
        EXPECT_EQ(n.end, c.end) << c.text;
    }
}

}  // namespace
}  // namespace tamrel
