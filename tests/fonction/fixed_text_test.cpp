#include "fonction/conversion.h"
#include "fonction/fixed_text.h"

#include <gtest/gtest.h>

TEST(FixedText, CutsAtCapacityAndStaysTerminated) {
    FixedText<6> text("abcdefghij");
    EXPECT_EQ(text.size(), 5u);
    EXPECT_STREQ(text.c_str(), "abcde");
    EXPECT_TRUE(FixedText<6>::fits(5));
    EXPECT_FALSE(FixedText<6>::fits(6));
}

TEST(FixedText, AnEmbeddedNulEndsTheText) {
    FixedText<20> text;
    text.assign(std::string("ab\0cd", 5));
    EXPECT_EQ(text.size(), 2u);
    EXPECT_EQ(text.str(), "ab");
}

TEST(FixedText, CopiesBetweenCapacities) {
    FixedText<100> long_text(std::string(99, 'x'));
    FixedText<10> short_text;
    short_text = long_text;
    EXPECT_EQ(short_text.str(), std::string(9, 'x'));
    short_text = nullptr;
    EXPECT_TRUE(short_text.empty());
}

TEST(Conversion, AcceptsDecimalIntegersOnly) {
    EXPECT_EQ(to_int("42"), 42);
    EXPECT_EQ(to_int("-7"), -7);
    EXPECT_EQ(to_int("2147483647"), 2147483647);
    for (const char* bad : {"", "abc", "12a", " 1", "1 ", "+", "2147483648", "1.5"}) {
        EXPECT_THROW(to_int(bad), ConversionError) << bad;
    }
    EXPECT_THROW(to_int(nullptr), ConversionError);
}
