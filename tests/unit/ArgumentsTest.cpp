#include "Arguments.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvine::Arguments;

TEST(Arguments, IntegersAcceptOneSignAndDigitsOnly) {
    EXPECT_EQ(parseInteger("0"), 0);
    EXPECT_EQ(parseInteger("+42"), 42);
    EXPECT_EQ(parseInteger("-42"), -42);
    EXPECT_EQ(parseInteger("007"), 7);
    for (const char* bad : {"", "+", "-", " 1", "1 ", "1.0", "0x10", "++1", "+-1", "1e3", "١"})
        EXPECT_FALSE(parseInteger(bad).has_value()) << bad;
}

TEST(Arguments, IntegersStayWithinSixtyFourBits) {
    EXPECT_EQ(parseInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parseInteger("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(parseInteger("9223372036854775808"));
    EXPECT_FALSE(parseInteger("-9223372036854775809"));
    EXPECT_FALSE(parseInteger("99999999999999999999999"));
}

TEST(Arguments, ProcessIdentifiersAreThirtyTwoBit) {
    EXPECT_EQ(parseInt32("2147483647"), 2147483647);
    EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(parseInt32("4294967296"));
    EXPECT_FALSE(parseInt32("2147483648"));
    EXPECT_FALSE(parseInt32("abc"));
}

TEST(Arguments, FloatsFollowStrtodInTheCLocale) {
    EXPECT_EQ(parseDouble("1.5"), 1.5);
    EXPECT_EQ(parseDouble("-2e3"), -2000.0);
    EXPECT_EQ(parseDouble("0x10"), 16.0);
    EXPECT_EQ(parseDouble("+.5"), 0.5);
    EXPECT_TRUE(std::isinf(*parseDouble("inf")));
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    for (const char* bad : {"", " 1", "\t1", "1 ", "1,5", "abc", "1.5x"})
        EXPECT_FALSE(parseDouble(bad).has_value()) << bad;
}
