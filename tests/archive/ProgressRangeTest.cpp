#include "archive/host/ProgressRange.h"

#include <gtest/gtest.h>

#include <vector>

namespace tamrel {
namespace {

TEST(ProgressRange, EachBoundIsTestedAgainstTheOtherAsItStands) {
    struct Step {
        char bound;  // 'n' minimum, 'x' maximum, 'p' position
        std::int32_t value;
        bool refused;
    };
    struct Case {
        std::vector<Step> steps;
        std::int32_t min, max;
    };
    const Case cases[] = {
        {{{'n', 1, false}, {'x', 0, true}}, 1, 100},  // the maximum is refused
        {{{'x', 0, false}, {'n', 1, true}}, 0, 0},    // the minimum is refused
        {{{'x', -1, true}}, 0, 100},
        {{{'x', 5, false}, {'n', 5, false}}, 5, 5},  // an empty range is allowed
        {{{'n', 1, false}, {'x', 1, false}, {'p', -9, false}, {'p', 1 << 30, false}}, 1, 1},
    };
    for (const auto& c : cases) {
        ProgressRange range;
        for (const auto& step : c.steps) {
            auto apply = [&] {
                if (step.bound == 'n')
                    range.SetMin(step.value);
                if (step.bound == 'x')
                    range.SetMax(step.value);
                if (step.bound == 'p')
                    range.SetPosition(step.value);
            };
            if (step.refused) {
                try {
                    apply();
                    ADD_FAILURE() << "accepted " << step.bound << step.value;
                } catch (const ProgressRangeError& e) {
                    EXPECT_STREQ(e.what(), "TProgressBar property out of range");
                }
            } else {
                EXPECT_NO_THROW(apply());
            }
        }
        EXPECT_EQ(range.Min(), c.min);
        EXPECT_EQ(range.Max(), c.max);
    }

    // Any position is taken; the bar shows it limited to the range.
    ProgressRange range;
    range.SetPosition(500);
    EXPECT_EQ(range.Position(), 500);
    EXPECT_EQ(range.ShownPosition(), 100);
    range.SetPosition(-5);
    EXPECT_EQ(range.ShownPosition(), 0);
}

}  // namespace
}  // namespace tamrel
