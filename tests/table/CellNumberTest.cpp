#include "table/CellNumber.h"

#include <gtest/gtest.h>

namespace tamrel {
namespace {

TEST(CellNumber, ScanningSignedNumbers) {
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

// A cell's number as Pack reads it: a whole 32-bit signed number and nothing
// else, held as unsigned.
TEST(CellNumber, ACellHoldsOneSigned32BitNumber) {
    const struct {
        const char* text;
        std::optional<std::uint32_t> value;
    } cases[] = {
        {"7", 7u},
        {"$10", 16u},
        {"0x10", 16u},
        {"-1", 0xFFFFFFFFu},
        {"2147483647", 0x7FFFFFFFu},
        {"-2147483648", 0x80000000u},
        {"2147483648", {}},
        {"x10", {}},
        {"1 ", {}},
        {"", {}},
        {"-", {}},
        {"12ab", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseCellNumber(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace tamrel
