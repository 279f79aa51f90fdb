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

}  // namespace
}  // namespace tamrel
