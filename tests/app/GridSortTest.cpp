#include "GridSort.h"

#include <gtest/gtest.h>

namespace tamrel {
namespace {

TEST(CompareCellTexts, KindsDecidedByTheFirstText) {
    const SortLocale english = SortLocale::From(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case {
        const char* first;
        const char* second;
        int order;
    };
    const Case cases[] = {
        {"9", "10", -1},  // numbers by value
        {"100", "100", 0},
        {"-5", "3", -1},
        {"2.5", "2.25", 1},  // the locale's decimal separator
        {"0", "", 0},        // the empty text counts as 0
        {"7", "", 1},
        {"7", "x", -1},       // a text that is no number ranks after every number
        {"1,000", "2", -1},   // no thousands separators: text by character code
        {"B", "a", -1},       // capitals before small letters
        {"abc", "abcd", -1},  // a start before the longer text
        {"", "a", -1},
        {"1/2/2020", "12/1/2019", 1},  // dates by value
        {"1/2/20", "12/1/19", 1},
        {"10:30 AM", "9:15 AM", 1},  // times by value
        {"1/2/2020 10:00 AM", "1/2/2020 9:00 AM", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareCellTexts(c.first, c.second, english), c.order)
            << c.first << " / " << c.second;

    const SortLocale german = SortLocale::From(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(german.decimalSeparator, ',');
    EXPECT_EQ(german.dateSeparator, '.');
    EXPECT_EQ(CompareCellTexts("2,5", "2,25", german), 1);
    EXPECT_EQ(CompareCellTexts("01.02.20", "31.01.20", german), 1);
}

}  // namespace
}  // namespace tamrel
