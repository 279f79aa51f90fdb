#include "archive/pair/Patcher.h"

#include <gtest/gtest.h>

#include "archive/pair/AddressKey.h"

namespace tamrel {
namespace {

TEST(Patcher, ReverseHexBytes) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"7", "07"},
        {"123", "2301"},
        {"ABC", "BC0A"},
        {"0001E240", "40E20100"},
        {"12345678", "78563412"},
        {"zy!?", "!?zy"},
    };
    for (const auto& [text, reversed] : cases)
        EXPECT_EQ(ReverseHexBytes(text), reversed) << text;
}

TEST(Patcher, HexToBytes) {
    const std::pair<const char*, std::string> cases[] = {
        {"0a", "\x0A"},
        {"0A", "\x0A"},
        {"a", "\x0A"},
        {"ff", "\xFF"},
        {"FF", "\xFF"},
        {"fF", "\xFF"},
        {"", ""},
        {"1G", ""},
        {"121G", ""},
        {"G12", ""},
        {"00", std::string(1, '\0')},
        {"45230100", std::string("\x45\x23\x01\x00", 4)},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(HexToBytes(text), bytes) << text;
}

TEST(Patcher, AddressKeyIsTheLittleEndianAddress) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0, std::string("\x00\x00\x00\x00", 4)},
        {74565, std::string("\x45\x23\x01\x00", 4)},
        {256, std::string("\x00\x01\x00\x00", 4)},
        {2147483647, std::string("\xFF\xFF\xFF\x7F", 4)},
        {0xFFFFFFFFu, std::string("\xFF\xFF\xFF\xFF", 4)},
    };
    for (const auto& [address, key] : cases)
        EXPECT_EQ(AddressKey(address), key) << address;
}

}  // namespace
}  // namespace tamrel
