// The .NAV line: written with its time and offset, read back, and the day's file name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "navfile/nav_line.h"

namespace {

const char GGA[] = "$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*5C";

}  // namespace

// Each line read back gives the time, the offset and the sentence written; lines of another shape are none.
TEST(NavLine, WrittenAndReadBack)
{
    struct Case {
        NavTime time;
        const char* expected;
    };
    const Case cases[] = {
        {{2026, 12, 8, 9, 5, 0, 123, 3600}, "2026-12-08T09:05:00.123+01:00"},
        {{2026, 1, 31, 23, 59, 59, 999, 0}, "2026-01-31T23:59:59.999+00:00"},
        {{2026, 7, 4, 0, 0, 0, 7, -(3 * 3600 + 30 * 60)}, "2026-07-04T00:00:00.007-03:30"},
        {{2026, 7, 4, 12, 0, 0, 0, 13 * 3600 + 45 * 60}, "2026-07-04T12:00:00.000+13:45"},
        {{1937, 6, 30, 12, 0, 0, 0, 19 * 60 + 32}, "1937-06-30T12:00:00.000+00:19:32"},
        {{2026, 12, 9, 1, 2, 3, 40, -(5 * 3600 + 1)}, "2026-12-09T01:02:03.040-05:00:01"},
    };
    for (const Case& c : cases) {
        char line[NAVFILE_LINE_SIZE];
        size_t length = navfile_line(&c.time, GGA, line);
        std::string expected = std::string(c.expected) + " " + GGA + "\n";
        EXPECT_EQ(expected, std::string(line, length));
        line[length - 1] = 0;
        NavTime back;
        const char* sentence = nullptr;
        ASSERT_TRUE(navfile_line_split(line, &back, &sentence)) << c.expected;
        EXPECT_EQ(0, memcmp(&c.time, &back, sizeof back)) << c.expected;
        EXPECT_STREQ(GGA, sentence);
    }
    // Two blanks, a checksum that is none, month 13, a blank for 'T'.
    const std::string stamp = "2026-12-08T09:05:00.123+01:00", at_nine = stamp.substr(10);
    for (const std::string& other : {stamp + "  " + GGA, stamp + " " + GGA + "0", "2026-13-08" + at_nine + " " + GGA,
                                     "2026-12-08 " + at_nine.substr(1) + " " + GGA}) {
        NavTime time;
        const char* sentence = nullptr;
        EXPECT_FALSE(navfile_line_split(other.c_str(), &time, &sentence)) << other;
    }
}

// The day's file changes at local midnight, named as the data files' day.
TEST(NavLine, FileOfTheDay)
{
    NavTime before = {{2026, 12, 8, 23, 59, 59, 999}, 3600};
    NavTime after = {{2026, 12, 9, 0, 0, 0, 0}, 3600};
    NavTime new_year = {{2027, 1, 1, 0, 0, 0, 0}, 0};
    char name[NAVFILE_NAME_SIZE];
    navfile_file_name(&before, name);
    EXPECT_STREQ("08DEC2026.NAV", name);
    navfile_file_name(&after, name);
    EXPECT_STREQ("09DEC2026.NAV", name);
    navfile_file_name(&new_year, name);
    EXPECT_STREQ("01JAN2027.NAV", name);
    EXPECT_FALSE(navfile_same_day(&before, &after));
    EXPECT_TRUE(navfile_same_day(&after, &after));
}
