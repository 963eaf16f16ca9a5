// Conversion of the settings texts.
#include <gtest/gtest.h>

#include <climits>

#include "acquisition/settings.h"

// Numbers read as atoi does: white space, sign, digits up to the first non-digit.
TEST(SettingsNumber, ReadsLikeAtoi)
{
    EXPECT_EQ(7, settings_parse_number("7dB"));
    EXPECT_EQ(-1, settings_parse_number("-1"));
    EXPECT_EQ(12, settings_parse_number(" \t\n\v\f\r+12"));
    EXPECT_EQ(0, settings_parse_number("abc"));
    EXPECT_EQ(0, settings_parse_number(""));
    EXPECT_EQ(0, settings_parse_number("- 5"));
}

// Digits beyond the int range saturate, so a huge value never wraps into an allowed one.
TEST(SettingsNumber, OverflowSaturates)
{
    EXPECT_EQ(INT_MAX, settings_parse_number("4294967303"));
    EXPECT_EQ(INT_MIN, settings_parse_number("-99999999999999999999"));
    EXPECT_EQ(3, settings_gain_from_text("4294967303"));
}

// Only the listed ranges are kept; anything else is 30.
TEST(SettingsValues, RangeAllowedOrDefault)
{
    for (const char* kept : {"5", "10", "20", "30", "40", "50", "60", "80", "100"}) {
        EXPECT_EQ(settings_parse_number(kept), settings_range_from_text(kept)) << kept;
    }
    for (const char* replaced : {"25", "120", "0", "-10", "abc", ""}) {
        EXPECT_EQ(30, settings_range_from_text(replaced)) << replaced;
    }
    EXPECT_EQ(40, settings_range_from_text("40m"));
}

// Gains 0 to 20 are kept, others are 3; a text without digits is gain 0.
TEST(SettingsValues, GainLimits)
{
    EXPECT_EQ(0, settings_gain_from_text("0"));
    EXPECT_EQ(20, settings_gain_from_text("20"));
    EXPECT_EQ(3, settings_gain_from_text("-1"));
    EXPECT_EQ(3, settings_gain_from_text("21"));
    EXPECT_EQ(7, settings_gain_from_text("7dB"));
    EXPECT_EQ(0, settings_gain_from_text("loud"));
}
