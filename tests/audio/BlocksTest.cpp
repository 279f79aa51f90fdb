#include "audio/Blocks.h"

#include <gtest/gtest.h>

namespace tamrel {
namespace {

TEST(Blocks, ThePreamblesSizeByTheRuleTheCallerNames) {
    struct Case {
        std::string sizeBytes;
        std::optional<std::uint32_t> either, small;
    };
    const Case cases[] = {
        {std::string("\x10\0\0\0", 4), 16u, 16u},
        // Little-endian 0x00100000: one past the small rule's largest block.
        {std::string("\0\0\x10\0", 4), 0x100000u, std::nullopt},
        // Read little-endian far beyond any block: big-endian, 0x20.
        {std::string("\0\0\0\x20", 4), 0x20u, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string bytes = "SCDl" + c.sizeBytes;
        const auto either = ReadPreamble(bytes, 0, BlockSizeRule::EitherOrder);
        const auto small = ReadPreamble(bytes, 0, BlockSizeRule::LittleEndianSmall);
        EXPECT_EQ(either ? std::optional(either->size) : std::nullopt, c.either);
        EXPECT_EQ(small ? std::optional(small->size) : std::nullopt, c.small);
        EXPECT_TRUE(either->Is("SCDl"));
    }
    EXPECT_FALSE(ReadPreamble(std::string_view("SCDl\x10\0\0", 7), 0, BlockSizeRule::EitherOrder));
}

TEST(Blocks, TagsAreWalkedAndADamagedListSaysSo) {
    // 0xFD, tag 0x84 of two bytes, user data of a 4-byte length, 0xFE.
    const std::string tags("\xFD\x84\x02\x7D\x00\xA2\xFF\x00\x00\x00\x03xyz\xFE", 15);
    HeaderTags walk(tags);
    HeaderTag tag;
    ASSERT_TRUE(walk.Next(tag));
    EXPECT_EQ(tag.kind, HeaderTag::Kind::Marker);
    ASSERT_TRUE(walk.Next(tag));
    EXPECT_EQ(tag.id, 0x84);
    EXPECT_EQ(TagNumber(tag.value), 32000u);
    EXPECT_EQ(tag.stored, std::string_view("\x02\x7D\x00", 3));
    ASSERT_TRUE(walk.Next(tag));
    EXPECT_EQ(tag.id, 0xA2);
    EXPECT_EQ(tag.value, "xyz");
    EXPECT_FALSE(TagNumber(std::string_view("12345")).has_value());
    ASSERT_TRUE(walk.Next(tag));
    EXPECT_EQ(tag.kind, HeaderTag::Kind::Repeat);
    EXPECT_FALSE(walk.Next(tag));
    EXPECT_FALSE(walk.Truncated());

    for (const std::string& cut : {std::string("\x84", 1), std::string("\x84\x05\x01", 3),
                                   std::string("\xA2\xFF\x00\x00", 4)}) {
        HeaderTags damaged(cut);
        while (damaged.Next(tag)) {
        }
        EXPECT_TRUE(damaged.Truncated());
    }
}

}  // namespace
}  // namespace tamrel
