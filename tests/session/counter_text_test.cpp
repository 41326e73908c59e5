#include "session/counter_text.h"

#include <gtest/gtest.h>

namespace {
std::string text_of(std::uint32_t seconds) {
    FixedText<20> text;
    format_counter(seconds, text);
    return text.str();
}
} // namespace

TEST(CounterText, EachRangeHasItsFormAndNoLeadingZeros) {
    EXPECT_EQ(text_of(0), "0 s");
    EXPECT_EQ(text_of(59), "59 s");
    EXPECT_EQ(text_of(60), "1 min 0 s");
    EXPECT_EQ(text_of(61), "1 min 1 s");
    EXPECT_EQ(text_of(3599), "59 min 59 s");
    EXPECT_EQ(text_of(3600), "1 h 0 min 0 s");
    EXPECT_EQ(text_of(5400), "1 h 30 min 0 s");
    EXPECT_EQ(text_of(86399), "23 h 59 min 59 s");
}

TEST(CounterText, FiveDigitHoursFitAndWiderCountsAreCutNotOverrun) {
    EXPECT_EQ(text_of(99999u * 3600u + 3599u), "99999 h 59 min 59 s");
    const std::string widest = text_of(4294967295u); // "1193046 h 28 min 15 s" has 21 characters
    EXPECT_EQ(widest, "1193046 h 28 min 15");
    EXPECT_EQ(widest.size(), 19u);
}
