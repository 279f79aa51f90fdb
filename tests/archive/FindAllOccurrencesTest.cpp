#include "archive/pair/FindAllOccurrences.h"

#include <gtest/gtest.h>

#include "RecordingWindow.h"

namespace tamrel {
namespace {

using test::RecordingWindow;

TEST(FindAllOccurrences, FindsLeftToRightWithoutOverlap) {
    using namespace std::string_literals;
    struct Case {
        std::string buffer, pattern;
        ArrInt offsets;
    };
    const Case cases[] = {
        {"aaaa", "aa", {0, 2}},
        {"aaa", "aa", {0}},
        {"SCHl", "SCHl", {0}},
        {"xxSCHl", "SCHl", {2}},                  // an occurrence that ends at the buffer's end
        {"SCHL", "SCHl", {}},                     // case matters
        {"\0\0\x10\0\0\0"s, "\0\x10\0\0"s, {1}},  // zero bytes are ordinary bytes
        {"SCHlabcSCHlSCHSCHl", "SCHl", {0, 7, 14}},
        {"", "SCHl", {}},
        {"SCHl", "", {}},
        {"SCH", "SCHl", {}},
    };
    for (const auto& c : cases) {
        RecordingWindow window;
        ArrInt offsets = {99, 98};  // emptied first
        std::int32_t count = FindAllOccurrences(c.buffer, c.pattern, false, offsets, window);
        EXPECT_EQ(offsets, c.offsets) << c.buffer << " / " << c.pattern;
        EXPECT_EQ(count, static_cast<std::int32_t>(c.offsets.size()));
        // One pump per occurrence, and none without progress.
        EXPECT_EQ(window.pumps, count);
        EXPECT_TRUE(window.calls.empty());
    }
}

TEST(FindAllOccurrences, ProgressFollowsEachOccurrence) {
    RecordingWindow window;
    ArrInt offsets;
    FindAllOccurrences("..SCHl....SCHl.", "SCHl", true, offsets, window);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"position 2", "position 10"}));
    EXPECT_EQ(window.progress.Position(), 10);

    RecordingWindow quiet;
    FindAllOccurrences("nothing here", "SCHl", true, offsets, quiet);
    EXPECT_TRUE(offsets.empty());
    EXPECT_TRUE(quiet.calls.empty());
    EXPECT_EQ(quiet.pumps, 0);
}

}  // namespace
}  // namespace tamrel
