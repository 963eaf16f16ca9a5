// The timestamp clock's texts, driven by injected clock readings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/timestamp.h"

namespace {

PlatLocalTime local_time(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return PlatLocalTime{year - 1900, month, day, hour, minute, second, millisecond};
}

}  // namespace

// The first update formats every text, even when the seconds field is 0 like the empty clock's.
TEST(TimestampClock, FirstUpdateFormatsAllTexts)
{
    TimestampClock clock = {};
    EXPECT_STREQ("", clock.date_time_text);
    PlatLocalTime now = local_time(2026, 11, 7, 9, 5, 0, 370);
    timestamp_update(&clock, &now);
    EXPECT_STREQ("07-DEC-2026", clock.date_text);
    EXPECT_STREQ("09:05:00", clock.time_text);
    EXPECT_STREQ("07-DEC-2026  09:05:00", clock.date_time_text);
    EXPECT_STREQ(".37", clock.hundredths_text);
}

// The texts follow the whole calendar second: a later update in the same second renews only the hundredths,
// and one a whole minute, hour, day, month or year away (same seconds field, as after a pause) shows its own.
TEST(TimestampClock, CalendarSecondDecidesReformatting)
{
    struct Row {
        PlatLocalTime later;
        const char* date_time_text;
    };
    const Row rows[] = {
        {local_time(2026, 11, 7, 9, 5, 0, 450), "07-DEC-2026  09:05:00"},
        {local_time(2026, 11, 7, 9, 5, 1, 450), "07-DEC-2026  09:05:01"},
        {local_time(2026, 11, 7, 9, 6, 0, 450), "07-DEC-2026  09:06:00"},
        {local_time(2026, 11, 7, 10, 5, 0, 450), "07-DEC-2026  10:05:00"},
        {local_time(2026, 11, 8, 9, 5, 0, 450), "08-DEC-2026  09:05:00"},
        {local_time(2026, 0, 7, 9, 5, 0, 450), "07-JAN-2026  09:05:00"},
        {local_time(2027, 11, 7, 9, 5, 0, 450), "07-DEC-2027  09:05:00"},
    };
    for (const Row& row : rows) {
        TimestampClock clock = {};
        PlatLocalTime first = local_time(2026, 11, 7, 9, 5, 0, 120);
        timestamp_update(&clock, &first);
        timestamp_update(&clock, &row.later);
        EXPECT_STREQ(row.date_time_text, clock.date_time_text);
        EXPECT_EQ(std::string(row.date_time_text, 11), clock.date_text);
        EXPECT_EQ(std::string(row.date_time_text + 13), clock.time_text);
        EXPECT_STREQ(".45", clock.hundredths_text) << row.date_time_text;
    }
}

// Hundredths are the milliseconds truncated: 999 gives .99 and 5 gives .00.
TEST(TimestampClock, HundredthsTruncate)
{
    TimestampClock clock = {};
    PlatLocalTime now = local_time(2026, 11, 7, 9, 5, 0, 999);
    timestamp_update(&clock, &now);
    EXPECT_STREQ(".99", clock.hundredths_text);
    now.millisecond = 5;
    timestamp_update(&clock, &now);
    EXPECT_STREQ(".00", clock.hundredths_text);
}

// January is JAN, days and years keep their widths, and years past 2038 format correctly.
TEST(TimestampClock, MonthsAndYears)
{
    TimestampClock clock = {};
    PlatLocalTime new_year = local_time(2027, 0, 1, 0, 0, 7);
    timestamp_update(&clock, &new_year);
    EXPECT_STREQ("01-JAN-2027", clock.date_text);
    EXPECT_STREQ("00:00:07", clock.time_text);

    PlatLocalTime later = local_time(2040, 5, 30, 23, 59, 58);
    timestamp_update(&clock, &later);
    EXPECT_STREQ("30-JUN-2040  23:59:58", clock.date_time_text);
}

// The calendar of the tools' civil times, day counts checked by hand: the epoch, the millisecond before it, leap
// days; and back.
TEST(TimestampClock, CivilTimesOfMilliseconds)
{
    const int64_t DAY = 86400000;
    struct Row {
        int64_t ms;
        CivilTime civil;
    } rows[] = {{0, {1970, 1, 1, 0, 0, 0, 0}},
                {-1, {1969, 12, 31, 23, 59, 59, 999}},
                {11016 * DAY + 1, {2000, 2, 29, 0, 0, 0, 1}},
                {20796 * DAY + 32700370, {2026, 12, 9, 9, 5, 0, 370}},
                {47541 * DAY - 1, {2100, 2, 28, 23, 59, 59, 999}}};
    for (const Row& row : rows) {
        CivilTime t;
        timestamp_civil_of_ms(row.ms, &t);
        const CivilTime& w = row.civil;
        EXPECT_EQ(std::vector<int>({w.year, w.month, w.day, w.hour, w.minute, w.second, w.millisecond}),
                  std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}))
            << row.ms;
        EXPECT_EQ(row.ms, timestamp_civil_ms(&t));
    }
}

// The live clock gives texts of the right shape.
TEST(TimestampClock, LiveUpdateHasTheShape)
{
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    EXPECT_EQ(11u, strlen(clock.date_text));
    EXPECT_EQ(8u, strlen(clock.time_text));
    EXPECT_EQ(21u, strlen(clock.date_time_text));
    EXPECT_EQ(3u, strlen(clock.hundredths_text));
}
