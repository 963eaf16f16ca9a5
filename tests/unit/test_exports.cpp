// qkvdump's exports: the picture's row filters and rows, the pings' times and
// positions joined from navlog's lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/navlog/nmea.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/ping_time.h"
#include "tools/qkvdump/picture_filter.h"
#include "tools/qkvdump/waterfall_rows.h"

namespace {

// Each filter wins on the row it predicts exactly; a tie goes to the lower filter number.
TEST(PictureFilter, ChoosesTheSmallestSumOfMagnitudes)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> row, previous;
        PictureFilter want;
    } cases[] = {
        {"zeros: every filter ties", {0, 0, 0, 0}, {0, 0, 0, 0}, FILTER_NONE},
        {"small numbers as they are", {1, 0, 2, 1}, {90, 10, 200, 50}, FILTER_NONE},
        {"a ramp", {100, 101, 102, 103}, {0, 0, 0, 0}, FILTER_SUB},
        {"the row above again", {9, 200, 30, 180}, {9, 200, 30, 180}, FILTER_UP},
        {"between left and above", {100, 150, 175, 188}, {200, 200, 200, 200}, FILTER_AVERAGE},
        {"a step down the rows", {50, 80, 110, 140}, {40, 70, 100, 130}, FILTER_UP},
        {"a gradient both ways: Sub and Up tie", {10, 20, 30, 40}, {0, 10, 20, 30}, FILTER_SUB},
        {"255 read as -1, 254 as -2", {255, 1, 254, 2}, {0, 0, 0, 0}, FILTER_NONE},
        {"the upper left's step", {90, 70, 60, 50}, {90, 60, 50, 40}, FILTER_PAETH},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, picture_filter_choose(c.row.data(), c.previous.data(), c.row.size())) << c.what;
    }
    // Paeth's bytes: each the row's less the nearest of left, above and upper left to left + above - upper left.
    std::vector<uint8_t> previous = {90, 60, 50, 40}, row = {90, 70, 60, 50};
    uint8_t out[4];
    picture_filter_apply(FILTER_PAETH, row.data(), previous.data(), row.size(), out);
    EXPECT_EQ(std::vector<uint8_t>({0, 10, 0, 0}), std::vector<uint8_t>(out, out + 4));
}

// Rows share out the pings with the first rows taking one more; all pings are taken once.
TEST(WaterfallRows, SharesOutPingsAndRoundsTheirMeans)
{
    struct Case {
        long pings;
        int height;
        std::vector<long> want;
    } cases[] = {{10, 4, {3, 3, 2, 2}}, {8, 4, {2, 2, 2, 2}}, {3, 5, {1, 1, 1, 0, 0}}, {131072, 1, {131072}}};
    for (const Case& c : cases) {
        std::vector<long> got;
        for (int row = 0; row < c.height; ++row) got.push_back(waterfall_rows_pings_in(c.pings, c.height, row));
        EXPECT_EQ(c.want, got) << c.pings << " pings, " << c.height << " rows";
    }

    static WaterfallRows rows;
    static uint8_t ping[PING_SAMPLE_COUNT];
    uint8_t means[PING_SAMPLE_COUNT];
    waterfall_rows_begin(&rows, 3, 2);
    memset(ping, 1, sizeof ping);
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means));
    memset(ping, 2, sizeof ping);
    ASSERT_TRUE(waterfall_rows_add(&rows, ping, 1, means)) << "the first row takes two of three pings";
    EXPECT_EQ(2, means[0]) << "1.5 rounds up";
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means));
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means)) << "a ping more than counted joins the last row";
    ASSERT_TRUE(waterfall_rows_finish(&rows, 1, means));
    EXPECT_EQ(2, means[0]);
    EXPECT_FALSE(waterfall_rows_finish(&rows, 1, means));
}

// Local record times made UTC: fixed offsets and the computer's zone with its summer time; texts that are no time.
TEST(PingTime, RecordTimesAndOffsets)
{
    RecordView view = {"08-DEC-2026", "23:59:59", ".99", 0, 0, 0, 0, nullptr, 0};
    int64_t local = 0;
    ASSERT_TRUE(pingtime_from_record(&view, &local));
    char text[PINGTIME_ISO_SIZE];
    pingtime_iso_utc(local, text);
    EXPECT_STREQ("2026-12-08T23:59:59.990Z", text);
    int offset = 0;
    ASSERT_TRUE(pingtime_parse_offset("-05:30", &offset));
    pingtime_iso_utc(local - offset * 1000LL, text);
    EXPECT_STREQ("2026-12-09T05:29:59.990Z", text) << "into the next day";
    for (const char* bad : {"+1", "01:00", "+25:00", "+01:60", "+01:00x", ""}) {
        EXPECT_FALSE(pingtime_parse_offset(bad, &offset)) << bad;
    }
    for (RecordView odd : {RecordView{"08-DEX-2026", "10:00:00", ".00", 0, 0, 0, 0, nullptr, 0},
                           RecordView{"08-DEC-2026", "24:00:00", ".00", 0, 0, 0, 0, nullptr, 0},
                           RecordView{"", "10:00:00", ".00", 0, 0, 0, 0, nullptr, 0}}) {
        EXPECT_FALSE(pingtime_from_record(&odd, &local)) << odd.date_text << " " << odd.time_text;
    }
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    NavTime winter = {2026, 12, 8, 9, 0, 0, 0, 0}, summer = {2026, 7, 8, 9, 0, 0, 0, 0};
    EXPECT_EQ(3600, pingtime_machine_offset(pingtime_civil_ms(&winter)));
    EXPECT_EQ(7200, pingtime_machine_offset(pingtime_civil_ms(&summer)));
    unsetenv("TZ");
    tzset();
    int64_t utc = 0;
    const char* end = nullptr;
    ASSERT_TRUE(pingtime_parse_stamp("2026-12-08T09:05:00.123+01:00 $GPGGA", &utc, &offset, &end));
    pingtime_iso_utc(utc, text);
    EXPECT_STREQ("2026-12-08T08:05:00.123Z", text);
    EXPECT_STREQ(" $GPGGA", end);
}

// navlog's lines for a test: stamped local times at UTC+01:00, one GGA or RMC each.
struct Lines {
    std::vector<std::string> texts;
    size_t next = 0;
    static bool read(void* source, const char** line)
    {
        Lines* lines = static_cast<Lines*>(source);
        if (lines->next == lines->texts.size()) return false;
        *line = lines->texts[lines->next++].c_str();
        return true;
    }
};

// "09:05:SS.mmm" local, the sentence's body without '$' and checksum.
std::string line(const char* local_time, const std::string& body)
{
    char text[128];
    snprintf(text, sizeof text, "$%s", body.c_str());
    nmea_append_checksum(text, body.size() + 1);
    return std::string("2026-12-08T") + local_time + "+01:00 " + text;
}

// Each ping's position between the fixes either side: interpolated, taken whole at a fix, none across a gap of
// over 10 s or next to a fix of quality 0; GGA's position and quality with RMC's speed and course for one fix.
TEST(NavJoin, PositionsBetweenFixes)
{
    Lines lines;
    lines.texts = {
        line("09:05:00.000", "GPGGA,080500.00,5100.0000,N,00100.0000,E,1,09,0.9,1,M,47,M,,"),
        line("09:05:00.010", "GPRMC,080500.00,A,5100.0000,N,00100.0000,E,4.5,45.0,081226,,,A"),
        "not a line of navlog's",
        line("09:05:02.000", "GNGGA,080502.00,5100.1200,N,00100.0600,E,4,09,0.9,1,M,47,M,,"),
        line("09:05:04.000", "GPRMC,080504.00,V,5100.1200,N,00100.0600,E,0.0,0.0,081226,,,N"),
        line("09:05:20.000", "GPRMC,080520.00,A,3000.0000,S,17959.4000,E,3.0,90.0,081226,,,D"),
        line("09:05:21.000", "GPRMC,080521.00,A,3000.0000,S,17959.4000,W,3.0,90.0,081226,,,D"),
    };
    NavJoin join;
    nav_join_begin(&join, Lines::read, &lines);
    struct Case {
        const char* local;  // ping time, "SS.mmm" after 09:05
        bool known;
        double latitude, longitude;
        int quality;
        long age_ms;
        bool motion;
    } cases[] = {
        {"00.000", true, 51.0, 1.0, 1, 0, true},             // at the fix
        {"00.500", true, 51.0005, 1.00025, 1, 500, true},     // a quarter of the way
        {"01.500", true, 51.0015, 1.00075, 4, 500, false},    // nearer the RTK fix, which has no RMC
        {"03.000", false, 0, 0, 0, 0, false},                 // next to a fix of quality 0
        {"12.000", false, 0, 0, 0, 0, false},                 // over 10 s from either
        {"20.500", true, -30.0, 180.0, 2, 500, true},         // across the antimeridian, DGPS by RMC's mode
        {"22.000", false, 0, 0, 0, 0, false},                 // after the last fix
    };
    for (const Case& c : cases) {
        NavTime local = {2026, 12, 8, 9, 5, atoi(c.local), atoi(c.local + 3), 0};
        int64_t utc = 0;
        PingPosition p;
        ASSERT_TRUE(nav_join_locate(&join, pingtime_civil_ms(&local), &utc, &p)) << c.local;
        EXPECT_EQ(pingtime_civil_ms(&local) - 3600000, utc) << c.local;
        EXPECT_EQ(c.known, p.known) << c.local;
        if (!c.known || !p.known) continue;
        EXPECT_NEAR(c.latitude, p.latitude, 1e-9) << c.local;
        EXPECT_NEAR(c.longitude, std::abs(p.longitude), 1e-9) << c.local;
        EXPECT_EQ(c.quality, p.fix_quality) << c.local;
        EXPECT_EQ(c.age_ms, p.fix_age_ms) << c.local;
        EXPECT_EQ(c.motion, p.motion_known) << c.local;
    }
    EXPECT_EQ(1, join.unreadable);
}

}  // namespace
