// qkvdump's logic: its command line, the picture's row filters and rows, the
// pings' times and positions joined from navlog's lines, and each ping located.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "navfile/nmea.h"
#include "tools/qkvdump/echogram.h"
#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/geojson_track.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/nav_motion.h"
#include "tools/qkvdump/ping_locate.h"
#include "navfile/ping_time.h"
#include "tools/qkvdump/picture_filter.h"
#include "waterfall/waterfall_rows.h"
#include "tests/unit/store_scratch_dir.h"

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
    CivilTime winter = {2026, 12, 8, 9, 0, 0, 0}, summer = {2026, 7, 8, 9, 0, 0, 0};
    PingTimeZoneMinute memo = {};
    EXPECT_EQ(timestamp_civil_ms(&winter) - 3600000, pingtime_machine_utc(timestamp_civil_ms(&winter), nullptr, &memo));
    EXPECT_EQ(timestamp_civil_ms(&summer) - 7200000, pingtime_machine_utc(timestamp_civil_ms(&summer), nullptr, &memo));
    // 02:30 on 25 Oct 2026 comes twice, at 00:30 and 01:30 UTC: the second once the pings' times stepped back.
    CivilTime twice = {2026, 10, 25, 2, 30, 0, 0};
    int64_t first_pass = timestamp_civil_ms(&twice) - 7200000, second_pass = first_pass + 3600000;
    struct {
        const char* what;
        int64_t previous;  // the ping before's UTC time, seconds from the first pass; 0: none
        int64_t want;
    } passes[] = {{"no ping before", 0, first_pass},
                  {"the clock set back 30 s", 20, first_pass},
                  {"the records stepped back from 02:59:50", 1790, second_pass},
                  {"the second pass going on", 3590, second_pass}};
    for (const auto& pass : passes) {
        int64_t previous = first_pass + pass.previous * 1000;
        EXPECT_EQ(pass.want, pingtime_machine_utc(first_pass + 7200000, pass.previous ? &previous : nullptr, &memo))
            << pass.what;
    }
    unsetenv("TZ");
    tzset();
}

// "YYYY-MM-DD HH:MM:SS.mmm" as milliseconds read as UTC.
int64_t civil(const char* text)
{
    CivilTime t = {atoi(text), atoi(text + 5), atoi(text + 8), atoi(text + 11), atoi(text + 14), atoi(text + 17),
                   atoi(text + 20)};
    return timestamp_civil_ms(&t);
}

// The echogram's time ticks: at whole steps of the clock chosen for the span, labelled with the step crossed, not
// the ping that crossed it; dates from steps of a day on, and at midnight; where the clock goes back, the step
// passed going back.
TEST(EchogramTicks, WholeStepsOverAnySpan)
{
    struct Case {
        const char *what, *first;  // the first ping's time, "YYYY-MM-DD HH:MM:SS.mmm"
        int64_t apart_ms;          // from one ping to the next
        int pings;
        int64_t step_ms;
        const char* labels;
    } cases[] = {
        {"pings 7 h apart over 14 days", "2026-12-08 09:00:00.000", 7 * 3600000LL, 48, 2 * 86400000LL,
         "2026-12-08 2026-12-09 2026-12-11 2026-12-13 2026-12-15 2026-12-17 2026-12-19 2026-12-21"},
        {"two pings two years apart", "2024-01-01 00:00:00.000", 731 * 86400000LL, 2, 100 * 86400000LL,
         "2024-01-01 2025-11-08"},
        {"times going back", "2026-12-08 10:00:59.500", -1000, 20, 2000,
         "10:00:59 10:00:58 10:00:56 10:00:54 10:00:52 10:00:50 10:00:48 10:00:46 10:00:44 10:00:42"},
        {"over midnight", "2026-12-08 23:59:58.500", 1000, 4, 1000, "23:59:58 23:59:59 2026-12-09 00:00:01"},
    };
    for (const Case& c : cases) {
        int64_t first = civil(c.first), span = c.apart_ms * (c.pings - 1);
        int64_t step = echogram_time_step(span < 0 ? -span : span, ECHOGRAM_COLUMNS_MIN);
        EXPECT_EQ(c.step_ms, step) << c.what;
        char label[ECHOGRAM_LABEL_SIZE];
        echogram_time_label(first, step, label);
        std::string labels = label;
        for (int64_t ping = 1, crossed = 0, at = first; ping < c.pings; ++ping, at += c.apart_ms) {
            if (!echogram_time_crossed(at, at + c.apart_ms, step, &crossed)) continue;
            echogram_time_label(crossed, step, label);
            labels += std::string(" ") + label;
        }
        EXPECT_EQ(c.labels, labels) << c.what;
    }
}

// File names in the track are JSON strings of valid UTF-8 whatever the file system's bytes: UTF-8 as it is, any
// other byte (a Latin-1 or ANSI code page name, half a character, a surrogate's encoding) as the character of
// that number.
TEST(GeojsonTrack, NamesAreAlwaysUtf8)
{
    struct {
        const char* name;
        const char* want;
    } cases[] = {
        {"baie-\xe9t\xe9.QKV", "\"baie-\\u00e9t\\u00e9.QKV\""},
        {"baie-\xc3\xa9t\xc3\xa9 \xf0\x9f\x8c\x8a.QKV", "\"baie-\xc3\xa9t\xc3\xa9 \xf0\x9f\x8c\x8a.QKV\""},
        {"\xed\xa0\x80\xc0\xaf", "\"\\u00ed\\u00a0\\u0080\\u00c0\\u00af\""},
    };
    for (const auto& c : cases) {
        char out[128];
        ASSERT_NE(0u, geojson_string(c.name, out, sizeof out)) << c.want;
        EXPECT_STREQ(c.want, out);
    }
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
        CivilTime local = {2026, 12, 8, 9, 5, atoi(c.local), atoi(c.local + 3)};
        int64_t utc = 0;
        PingPosition p;
        ASSERT_TRUE(nav_join_locate(&join, timestamp_civil_ms(&local), &utc, &p)) << c.local;
        EXPECT_EQ(timestamp_civil_ms(&local) - 3600000, utc) << c.local;
        EXPECT_EQ(c.known, p.known) << c.local;
        if (!c.known || !p.known) continue;
        EXPECT_NEAR(c.latitude, p.latitude, 1e-9) << c.local;
        EXPECT_NEAR(c.longitude, std::abs(p.longitude), 1e-9) << c.local;
        EXPECT_EQ(c.quality, p.fix_quality) << c.local;
        EXPECT_EQ(c.age_ms, p.fix_age_ms) << c.local;
        EXPECT_EQ(c.motion, p.motion_known) << c.local;
    }
    EXPECT_EQ(1, join.skipped[NAV_SKIP_UNREADABLE]);
}

// A GGA line: its stamp, and a fix at real second s of a test (its sentence's UTC time 00:59:00 + s, or that time
// jumped by the receiver, its latitude 54 degrees and 30 minutes plus s thousandths, with 8 decimals), of the
// quality given.
std::string fix_line(const std::string& stamp, int s, int quality = 4, int receiver_jump = 0)
{
    char body[128], text[160];
    int said = 3540 + s + receiver_jump;
    snprintf(body, sizeof body, "$GNGGA,%02d%02d%02d.00,54%011.8f,N,01000.00000000,E,%d,12,0.8,20.0,M,40.0,M,,",
             said / 3600, said / 60 % 60, said % 60, 30 + s * 0.001, quality);
    nmea_append_checksum(body, strlen(body));
    snprintf(text, sizeof text, "%s %s", stamp.c_str(), body);
    return text;
}

// Pings and lines of one computer whose clock steps back (the zone leaving summer time, the clock set back) or
// forward, or of a receiver whose own time jumps, stands still or is off from the start: each ping gets its real UTC
// time and the position of its real time, and 10 decimals of degrees for the receiver's 8 of minutes; where the
// receiver's time and the stamps part, the first such jump (or the offset from the first fix) is kept to be told.
// Positions entered by hand (7) or simulated (8) are none; estimated ones (6) kept.
TEST(NavJoin, ClockStepsAndFixQualities)
{
    struct Ping {
        const char* local;  // "YYYY-MM-DD HH:MM:SS.mmm"
        int offset_hours;   // of its UTC time
        double real;        // its real second of the test; < 0: no position
        int quality;
    };
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::vector<Ping> pings;
        long unplaced;
        int jump_s;  // how much further the receiver's time went than the stamps at the first jump; 0: none
    } cases[] = {
        {"autumn: the hour from 02:00 twice, the second pass after the records step back",
         {fix_line("2026-10-25T02:59:58.000+02:00", 58), fix_line("2026-10-25T02:59:59.000+02:00", 59),
          fix_line("2026-10-25T02:00:00.000+01:00", 60), fix_line("2026-10-25T02:00:01.000+01:00", 61),
          fix_line("2026-10-25T02:00:02.000+01:00", 62)},
         {{"2026-10-25 02:59:58.500", 2, 58.5, 4}, {"2026-10-25 02:59:59.500", 2, 59.5, 4},
          {"2026-10-25 02:00:00.500", 1, 60.5, 4}, {"2026-10-25 02:00:02.000", 1, 62, 4}},
         0, 0},
        {"autumn, pings far apart: the second pass found by the lines' own step back",
         {fix_line("2026-10-25T02:59:58.000+02:00", 58), fix_line("2026-10-25T02:59:59.000+02:00", 59),
          fix_line("2026-10-25T02:00:00.000+01:00", 60), fix_line("2026-10-25T02:00:01.000+01:00", 61)},
         {{"2026-10-25 02:59:58.000", 2, 58, 4}, {"2026-10-25 02:00:00.250", 1, 60.25, 4}},
         0, 0},
        {"autumn, the lines stopped over the change: the first pass kept until the records step back",
         {fix_line("2026-10-25T02:29:59.000+02:00", -1741), fix_line("2026-10-25T02:45:00.000+01:00", 2760),
          fix_line("2026-10-25T02:45:01.000+01:00", 2761)},
         {{"2026-10-25 02:50:00.000", 2, -1, 0}, {"2026-10-25 02:00:10.000", 1, -1, 0},
          {"2026-10-25 02:45:00.500", 1, 2760.5, 4}},
         0, 0},
        {"spring: no hour from 02:00",
         {fix_line("2026-03-29T01:59:59.000+01:00", 59), fix_line("2026-03-29T03:00:00.000+02:00", 60),
          fix_line("2026-03-29T03:00:01.000+02:00", 61)},
         {{"2026-03-29 01:59:59.500", 1, 59.5, 4}, {"2026-03-29 03:00:00.500", 2, 60.5, 4}},
         0, 0},
        {"the clock set back 30 s between fixes 20 and 21, in records and lines alike",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19), fix_line("2026-12-08T00:59:20.000+00:00", 20),
          fix_line("2026-12-08T00:58:51.000+00:00", 21), fix_line("2026-12-08T00:58:52.000+00:00", 22)},
         {{"2026-12-08 00:59:19.500", 0, 19.5, 4}, {"2026-12-08 00:59:20.400", 0, 20.4, 4},
          {"2026-12-08 00:58:50.800", 0, 20.8, 4}, {"2026-12-08 00:58:51.500", 0, 21.5, 4}},
         0, 30},
        {"the clock set back 30 s while the log was stopped: told by the sentences' times",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19), fix_line("2026-12-08T00:59:20.000+00:00", 20),
          fix_line("2026-12-08T01:00:10.000+00:00", 100), fix_line("2026-12-08T01:00:11.000+00:00", 101)},
         {{"2026-12-08 00:59:20.500", 0, -1, 0}, {"2026-12-08 00:59:20.000", 0, -1, 0},
          {"2026-12-08 01:00:10.500", 0, 100.5, 4}},
         0, 30},
        {"the records' clock set back with no such step in the lines: counted",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19), fix_line("2026-12-08T00:59:20.000+00:00", 20),
          fix_line("2026-12-08T00:59:21.000+00:00", 21)},
         {{"2026-12-08 00:59:20.000", 0, 20, 4}, {"2026-12-08 00:59:19.500", 0, -1, 0}},
         1, 0},
        {"the receiver's time 18 s back (GPS time to UTC) and 155 s ahead (after an outage): the stamps join",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19), fix_line("2026-12-08T00:59:20.000+00:00", 20),
          fix_line("2026-12-08T00:59:21.000+00:00", 21, 4, -18), fix_line("2026-12-08T00:59:22.000+00:00", 22, 4, -18),
          fix_line("2026-12-08T00:59:23.000+00:00", 23, 4, 137), fix_line("2026-12-08T00:59:24.000+00:00", 24, 4, 137)},
         {{"2026-12-08 00:59:20.500", 0, 20.5, 4}, {"2026-12-08 00:59:21.500", 0, 21.5, 4},
          {"2026-12-08 00:59:22.900", 0, 22.9, 4}, {"2026-12-08 00:59:24.000", 0, 24, 4}},
         0, -18},
        {"the receiver's time an hour ahead all along (a replayed log, a simulator): told from the first fix",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19, 4, 3600),
          fix_line("2026-12-08T00:59:20.000+00:00", 20, 4, 3600)},
         {{"2026-12-08 00:59:19.500", 0, 19.5, 4}},
         0, 3600},
        {"the receiver's date three days behind, by its RMC",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19),
          line("01:59:19.010", "GNRMC,005919.00,A,5430.019,N,01000.000,E,0.0,0.0,051226,,,A"),
          fix_line("2026-12-08T00:59:20.000+00:00", 20)},
         {{"2026-12-08 00:59:19.500", 0, 19.5, 4}},
         0, -3 * 86400},
        {"the receiver's time standing still: a fix a sentence",
         {fix_line("2026-12-08T00:59:19.000+00:00", 19), fix_line("2026-12-08T00:59:20.000+00:00", 20, 4, -1),
          fix_line("2026-12-08T00:59:21.000+00:00", 21, 4, -2)},
         {{"2026-12-08 00:59:19.500", 0, 19.5, 4}, {"2026-12-08 00:59:20.500", 0, 20.5, 4}},
         0, 0},
        {"quality 7 and 8 give no position, 6 keeps its own",
         {fix_line("2026-12-08T00:59:00.000+00:00", 0, 7), fix_line("2026-12-08T00:59:01.000+00:00", 1, 6),
          fix_line("2026-12-08T00:59:02.000+00:00", 2, 4), fix_line("2026-12-08T00:59:03.000+00:00", 3, 8)},
         {{"2026-12-08 00:59:00.500", 0, -1, 0}, {"2026-12-08 00:59:01.200", 0, 1.2, 6},
          {"2026-12-08 00:59:02.000", 0, 2, 4}, {"2026-12-08 00:59:02.500", 0, -1, 0}},
         0, 0},
    };
    for (const Case& c : cases) {
        Lines lines;
        lines.texts = c.lines;
        NavJoin join;
        nav_join_begin(&join, Lines::read, &lines);
        for (const Ping& ping : c.pings) {
            int64_t utc = 0;
            PingPosition p;
            ASSERT_TRUE(nav_join_locate(&join, civil(ping.local), &utc, &p)) << c.what;
            EXPECT_EQ(civil(ping.local) - ping.offset_hours * 3600000LL, utc) << c.what << ": " << ping.local;
            EXPECT_EQ(ping.real >= 0, p.known) << c.what << ": " << ping.local;
            if (ping.real < 0 || !p.known) continue;
            EXPECT_NEAR(54 + (30 + ping.real * 0.001) / 60, p.latitude, 1e-12) << c.what << ": " << ping.local;
            EXPECT_EQ(ping.quality, p.fix_quality) << c.what << ": " << ping.local;
            EXPECT_EQ(10, p.decimals) << c.what;
        }
        EXPECT_EQ(c.unplaced, join.unplaced) << c.what;
        EXPECT_EQ(c.jump_s * 1000LL, join.jumps > 0 ? join.first_jump.size_ms : 0) << c.what;
    }
}

using NavLinesRead = StoreScratchDir;

// A line holding a NUL byte, or longer than navlog writes, comes as an empty line of its own; the lines after it,
// CR LF or LF, the last without its line end, come as they are, from one file and the next. Given out of time
// order, as a shell sorts a month's end, the files are read by their first stamps.
TEST_F(NavLinesRead, BadLinesSpoilOnlyThemselves)
{
    const std::string december = fix_line("2026-12-01T00:00:01.000+00:00", 0),
                      november = fix_line("2026-11-30T23:59:59.000+00:00", 0);
    const std::string contents[] = {std::string("one\r\ntw\0o\nthree\n", 16) + std::string(300, 'x') + "\nfour",
                                    std::string("\0\nfive\n", 7), december + "\n",
                                    "not a line of navlog's\n" + november + "\n"};
    const char* const files[] = {"a.NAV", "b.NAV", "01DEC2026.NAV", "30NOV2026.NAV"};
    for (int i = 0; i < 4; ++i) {
        FILE* file = fopen(files[i], "wb");
        ASSERT_NE(nullptr, file);
        fwrite(contents[i].data(), 1, contents[i].size(), file);
        fclose(file);
    }
    NavLines lines;
    nav_lines_open(&lines, files, 2);
    std::vector<std::string> got;
    const char* line = nullptr;
    while (nav_lines_next(&lines, &line)) got.push_back(line);
    EXPECT_EQ(std::vector<std::string>({"one", "", "three", "", "four", "", "five"}), got);
    EXPECT_TRUE(nav_lines_close(&lines));
    const char* const month_end[] = {"a.NAV", "01DEC2026.NAV", "30NOV2026.NAV"};
    nav_lines_open(&lines, month_end, 3);
    got.clear();
    while (nav_lines_next(&lines, &line)) got.push_back(line);
    EXPECT_EQ(std::vector<std::string>({"one", "", "three", "", "four", "not a line of navlog's", november, december}),
              got);
    EXPECT_TRUE(nav_lines_close(&lines));
}

// What a command line asks for, in short: the options given and what they imply, or the message refusing it.
std::string asked(std::vector<const char*> arguments)
{
    static DumpOptions o;
    arguments.insert(arguments.begin(), "qkvdump");
    std::vector<char*> argv;
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    char message[CMDLINE_MESSAGE_SIZE] = "";
    DumpParse parsed = dump_parse(static_cast<int>(argv.size()), argv.data(), &o, message);
    if (parsed == DUMP_PARSE_BAD || parsed == DUMP_PARSE_HELP || parsed == DUMP_PARSE_VERSION) {
        return parsed == DUMP_PARSE_BAD ? message : parsed == DUMP_PARSE_HELP ? "help" : "version";
    }
    std::string got = parsed == DUMP_PARSE_FOLLOW ? "follow" : "run";
    auto add = [&](bool given, const std::string& word) { got += given ? " " + word : ""; };
    for (int i = 0; i < o.file_count; ++i) got += std::string(" ") + o.files[i];
    add(o.csv, "csv");
    add(o.samples, "samples");
    add(o.force, "force");
    add(o.png, std::string("png=") + (o.png ? o.png : "") + " bins=" + std::to_string(o.bins) +
                   " groups=" + std::to_string(o.groups));
    add(o.gray, "gray");
    add(o.axes, "axes");
    add(o.nav_count > 0, "nav=" + std::to_string(o.nav_count));
    add(o.geojson, std::string("geojson=") + (o.geojson ? o.geojson : ""));
    add(o.xyz, std::string("xyz=") + (o.xyz ? o.xyz : ""));
    add(o.netcdf, std::string("netcdf=") + (o.netcdf ? o.netcdf : ""));
    add(o.utc_offset, "offset=" + std::to_string(o.offset_seconds));
    add(o.grid, std::string("grid=") + (o.grid ? o.grid : ""));
    add(o.contours, std::string("contours=") + (o.contours ? o.contours : ""));
    char cells[64 + CONTOUR_LEVELS_MAX * 8];
    int at = snprintf(cells, sizeof cells, "cell=%g interval=%g crs=%s depths", o.cell_m, o.contour_interval_m,
                      o.crs ? o.crs : "utm");
    for (int i = 0; i < o.contour_depth_count; ++i) at += snprintf(cells + at, sizeof cells - at, " %g", o.contour_depths[i]);
    add(o.cell_m != 0, cells);
    char depth[64];
    snprintf(depth, sizeof depth, "depth draft=%g blank=%g", o.draft_m, o.depth_settings.blanking_m);
    add(o.depth, depth);
    add(o.nmea_address[0] != 0, std::string("nmea=") + o.nmea_address + ":" + std::to_string(o.nmea_port));
    char text[256];
    const DumpReduction* r = &o.reduction;
    const ReductionSettings* s = &r->settings;
    snprintf(text, sizeof text, "keel=%g", o.keel_m);
    add(o.keel, text);
    add(r->asked, "reduced");
    snprintf(text, sizeof text, "speed=%g", s->sound_speed_m_s);
    add(s->speed == REDUCTION_SPEED_CONSTANT, text);
    add(r->profile, std::string("profile=") + (r->profile ? r->profile : ""));
    add(r->water_level, std::string("level=") + (r->water_level ? r->water_level : ""));
    snprintf(text, sizeof text, "rtk=%g,%g", s->antenna_above_waterline_m, s->datum_above_ellipsoid_m);
    add(s->level == REDUCTION_LEVEL_RTK, text);
    add(s->datum[0] != 0, std::string("datum=") + s->datum);
    add(s->heave, "heave");
    snprintf(text, sizeof text, "offset=%g,%g", s->forward_m, s->starboard_m);
    add(s->forward_m != 0 || s->starboard_m != 0, text);
    snprintf(text, sizeof text, "gates=%g,%g", s->gate_min_m, s->gate_max_m);
    add(s->gates, text);
    add(r->edits, std::string("edits=") + (r->edits ? r->edits : ""));
    add(r->xyz_flagged, "flagged");
    return got;
}

// Each good command line and what it asks for; every refusal, as the program says it. The first refusal met wins,
// and --help or --version met before it.
// The grid bins each sounding where a reader of --xyz's text puts it: positions between fixes of 4 decimals of
// minutes, whose product with 1e7 often rounds onto a half, read back as strtod reads what printf wrote.
TEST(ExportSounding, DegreesAsTheirTextReadsBack)
{
    for (long step = 0; step < 200000; ++step) {
        double minutes = 6.9848 + 0.0001 * static_cast<double>(step / 8), share = (step % 8) / 8.0;
        double degrees = 51.0 + (minutes + 0.0001 * share) / 60.0;
        char text[32];
        snprintf(text, sizeof text, "%.*f", EXPORT_SOUNDING_DECIMALS, degrees);
        ASSERT_EQ(strtod(text, nullptr), export_sounding_degrees(degrees)) << text;
    }
}

TEST(DumpOptions, WhatEachLineAsksForAndEveryRefusal)
{
    const std::string divisors = "1, 2, 4, 5, 8, 10, 16, 20, 25, 32, 40, 50, 64, 80, 100, 125, 160, 200, 250, 320, "
                                 "400, 500, 800, 1000, 1600, 2000, 4000 or 8000";
    const std::string FOLLOW_TAKES = "--follow goes with no other option but --depth, --draft, --blank, --nmea-out, "
                                     "--keel, --sound-speed, --sound-speed-profile, --water-level, --datum and "
                                     "--depth-gates";
    const struct {
        std::vector<const char*> arguments;
        std::string asked;  // or the message
    } cases[] = {
        {{"a.QKV", "b.qkv"}, "run a.QKV b.qkv"},
        {{"--csv", "--samples", "--depth", "--draft=0.4", "a.QKV", "--blank", "2"},
         "run a.QKV csv samples depth draft=0.4 blank=2"},
        {{"--png", "p.png", "--width", "500", "--height", "4", "--gray", "--force", "a.QKV"},
         "run a.QKV force png=p.png bins=500 groups=4 gray"},
        {{"--axes", "--png", "p.png", "--height", "8000", "--width", "2000", "a.QKV"},
         "run a.QKV png=p.png bins=8000 groups=2000 axes"},
        {{"--nav", "a.NAV", "b.log", "a.QKV", "--csv"}, "run a.QKV csv nav=2"},
        {{"--nav=a.NAV", "--xyz", "s.xyz", "--", "--csv"}, "run --csv nav=1 xyz=s.xyz depth draft=0 blank=0.5"},
        {{"--netcdf", "n.nc", "--utc-offset", "-05:30", "a.QKV"}, "run a.QKV netcdf=n.nc offset=-19800"},
        {{"--nav", "a.NAV", "--grid", "g.bag", "--cell", "0.5", "--crs", "25832", "--force", "a.QKV"},
         "run a.QKV force nav=1 grid=g.bag cell=0.5 interval=0 crs=25832 depths depth draft=0 blank=0.5"},
        {{"--nav", "a.NAV", "--contours", "c.gpkg", "--depths", "-1.5,2,10", "--cell=2", "a.QKV"},
         "run a.QKV nav=1 contours=c.gpkg cell=2 interval=0 crs=utm depths -1.5 2 10 depth draft=0 blank=0.5"},
        {{"--follow"}, "follow"},
        {{"--follow", "--depth", "--nmea-out", "127.0.0.1:10110", "a.QKV"},
         "follow a.QKV depth draft=0 blank=0.5 nmea=127.0.0.1:10110"},
        {{"--help", "--bogus"}, "help"},
        {{"-h"}, "help"},
        {{"--version", "a.QKV"}, "version"},
        {{"--bogus", "--help"}, "unknown option \"--bogus\""},
        {{"--netcdf"}, "--netcdf needs a value"},
        {{"--csv=yes", "a.QKV"}, "--csv takes no value"},
        {{}, "no data file given"},
        {{"--nmea-out", "127.0.0.1:10110", "a.QKV"}, "--nmea-out needs --follow"},
        {{"--samples", "a.QKV"}, "--samples needs --csv"},
        {{"--gray", "--axes", "--height", "4", "a.QKV"}, "--height needs --png"},
        {{"--axes", "a.QKV"}, "--axes needs --png"},
        {{"--png", "p.png", "--width", "7", "a.QKV"}, "--width must be one of " + divisors + ", not \"7\""},
        {{"--png", "p.png", "--height", "0", "a.QKV"},
         "--height must be a number of rows from 1 to 2147483647, not \"0\""},
        {{"--png", "p.png", "--axes", "--height", "300", "a.QKV"},
         "--height must be one of " + divisors + ", not \"300\""},
        {{"--png", "p.png", "--axes", "--width", "8001", "a.QKV"},
         "--width must be a number of columns from 1 to 8000, not \"8001\""},
        {{"--png", "p.png", "--axes", "--height", "8000", "--width", "2001", "a.QKV"},
         "--width must be a number of columns from 1 to 2000, not \"2001\""},
        {{"--geojson", "t.geojson", "a.QKV"}, "--geojson needs --nav"},
        {{"--xyz", "s.xyz", "a.QKV"}, "--xyz needs --nav"},
        {{"--nav", "a.QKV"}, "--nav needs a .NAV file"},
        {{"--nav", "a.NAV", "a.QKV"}, "--nav needs --csv, --geojson, --xyz, --netcdf, --grid or --contours"},
        {{"--grid", "g.tif", "--cell", "1", "a.QKV"}, "--grid needs --nav"},
        {{"--nav", "a.NAV", "--contours", "c.json", "--interval", "1", "a.QKV"}, "--contours needs --cell"},
        {{"--csv", "--crs", "32631", "a.QKV"}, "--crs needs --grid or --contours"},
        {{"--nav", "a.NAV", "--grid", "g.tif", "--cell", "1", "--interval", "1", "a.QKV"}, "--interval needs --contours"},
        {{"--nav", "a.NAV", "--contours", "c.json", "--cell", "1", "a.QKV"}, "--contours needs --interval or --depths"},
        {{"--nav", "a.NAV", "--contours", "c.json", "--cell", "1", "--interval", "1", "--depths", "2", "a.QKV"},
         "--interval goes without --depths: the one or the other"},
        {{"--cell", "0.001"}, "--cell must be metres from 0.01 to 100000, not \"0.001\""},
        {{"--depths", "2,,5"},
         "--depths must be 1 to 256 depths in metres from -100000 to 100000 apart by commas, not \"2,,5\""},
        {{"--follow", "--cell", "1"}, FOLLOW_TAKES},
        {{"--csv", "--draft", "0.5", "--blank", "1", "a.QKV"}, "--draft needs --depth"},
        {{"--csv", "--blank", "1", "a.QKV"}, "--blank needs --depth"},
        {{"--depth", "--blank", "-1", "a.QKV"}, "--blank must be metres from 0 to 1000, not \"-1\""},
        {{"--depth", "--draft", "1e3", "a.QKV"}, "--draft must be metres from 0 to 100, not \"1e3\""},
        {{"--csv", "--nav", "a.NAV", "--utc-offset", "+01:00", "a.QKV"},
         "--utc-offset goes without --nav: the .NAV lines carry the offset"},
        {{"--netcdf", "n.nc", "--utc-offset", "+1", "a.QKV"}, "--utc-offset must be +HH:MM or -HH:MM, not \"+1\""},
        {{"--csv", "--utc-offset", "+01:00", "a.QKV"}, "--utc-offset needs --netcdf"},
        {{"--force", "--csv", "a.QKV"}, "--force needs --png, --geojson, --xyz, --netcdf, --grid or --contours"},
        {{"--follow", "--csv"}, FOLLOW_TAKES},
        {{"--follow", "--png", "p.png"}, FOLLOW_TAKES},
        {{"--follow", "--depth", "--edits", "e.txt"}, FOLLOW_TAKES},
        {{"--follow", "a.QKV", "b.QKV"}, "--follow takes one file at most"},
        {{"--follow", "--nmea-out", "127.0.0.1:10110"}, "--nmea-out needs --depth"},
        {{"--follow", "--draft", "1"}, "--draft needs --depth"},
        {{"--follow", "--depth", "--nmea-out", "localhost:10110"},
         "--nmea-out must be an IPv4 address and a port (127.0.0.1:10110), not \"localhost:10110\""},
        {{"--follow", "--depth", "--nmea-out", "127.0.0.1:0"}, "--nmea-out must be a port from 1 to 65535, not \"0\""},
        // The reduction: every correction at once, the RTK level, and live.
        {{"--csv", "--nav", "a.NAV", "--depth", "--draft", "0.6", "--sound-speed", "1487.5", "--water-level", "t.csv",
          "--datum", "chart datum", "--heave", "--antenna-offset", "1.5,-0.25", "--depth-gates", "1,40", "--edits",
          "e.txt", "a.QKV"},
         "run a.QKV csv nav=1 depth draft=0.6 blank=0.5 reduced speed=1487.5 level=t.csv datum=chart datum heave "
         "offset=1.5,-0.25 gates=1,40 edits=e.txt"},
        {{"--nav", "a.NAV", "--xyz", "s.xyz", "--xyz-flagged", "--sound-speed-profile", "c.csv", "--antenna-height",
          "2.1", "--datum-height", "-45.25", "--datum", "LAT", "a.QKV"},
         "run a.QKV nav=1 xyz=s.xyz depth draft=0 blank=0.5 reduced profile=c.csv rtk=2.1,-45.25 datum=LAT flagged"},
        {{"--follow", "--depth", "--nmea-out", "127.0.0.1:10110", "--keel", "1.2", "--water-level", "t.csv", "--datum",
          "MLLW", "--depth-gates", "0.5,80"},
         "follow depth draft=0 blank=0.5 nmea=127.0.0.1:10110 keel=1.2 reduced level=t.csv datum=MLLW gates=0.5,80"},
        {{"--csv", "--sound-speed", "1480", "a.QKV"}, "--sound-speed needs --depth"},
        {{"--depth", "--sound-speed", "1200", "a.QKV"}, "--sound-speed must be m/s from 1300 to 1800, not \"1200\""},
        {{"--depth", "--sound-speed", "1480", "--sound-speed-profile", "c.csv", "a.QKV"},
         "--sound-speed goes without --sound-speed-profile"},
        {{"--depth", "--water-level", "t.csv", "a.QKV"}, "--water-level needs --datum"},
        {{"--depth", "--datum", "LAT", "a.QKV"}, "--datum needs --water-level or --antenna-height"},
        {{"--depth", "--datum", "=1+1", "a.QKV"},
         "--datum must be a name of 1 to 31 printable characters, without , \" \\ ; | nor = + - @ first, not "
         "\"=1+1\""},
        {{"--csv", "--nav", "a.NAV", "--depth", "--antenna-height", "2", "--datum", "LAT", "a.QKV"},
         "--antenna-height needs --datum-height"},
        {{"--csv", "--nav", "a.NAV", "--depth", "--datum-height", "40", "a.QKV"}, "--datum-height needs --antenna-height"},
        {{"--csv", "--depth", "--antenna-height", "2", "--datum-height", "1e9", "a.QKV"},
         "--datum-height must be metres from -10000 to 10000, not \"1e9\""},
        {{"--csv", "--depth", "--antenna-height", "2", "--datum-height", "40", "--datum", "LAT", "a.QKV"},
         "--antenna-height needs --nav"},
        {{"--csv", "--nav", "a.NAV", "--depth", "--antenna-height", "2", "--datum-height", "40", "--datum", "LAT",
          "--water-level", "t.csv", "a.QKV"},
         "--water-level goes without --antenna-height: one water level"},
        {{"--csv", "--depth", "--heave", "a.QKV"}, "--heave needs --nav"},
        {{"--csv", "--nav", "a.NAV", "--depth", "--antenna-offset", "1.5", "a.QKV"},
         "--antenna-offset must be FORWARD,STARBOARD in metres, each from -1000 to 1000, not \"1.5\""},
        {{"--depth", "--depth-gates", "40,1", "a.QKV"}, "--depth-gates must be MIN,MAX with MIN the less, not \"40,1\""},
        {{"--depth", "--depth-gates", "1,nan", "a.QKV"},
         "--depth-gates must be MIN,MAX in metres, each from 0 to 12000, not \"1,nan\""},
        {{"--csv", "--depth", "--xyz-flagged", "a.QKV"}, "--xyz-flagged needs --xyz"},
        {{"--follow", "--depth", "--keel", "1"}, "--keel needs --nmea-out"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.asked, asked(c.arguments)) << c.asked;
    std::vector<const char*> many = {"--csv", "--nav"};
    many.insert(many.end(), DUMP_NAV_FILES_MAX + 1, "day.NAV");
    EXPECT_EQ("--nav takes 4096 files at most", asked(many));
}

// A ping's time by each basis, its position from the .NAV lines and what their sensors say at its time (heave, roll
// and pitch, a heading the short way round, an RTK height: a sensor sending after the fix of each second read on
// for; none across a gap of over 1.5 s), and its bottom below the surface; none where the record's texts are no
// time, or the run asks for no time.
TEST(PingLocate, TimePositionAndDepthOfAPing)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::vector<std::string> fixes = {
        line("09:05:00.000", "GPGGA,080500.00,5100.0000,N,00100.0000,E,1,09,0.9,1,M,47,M,,"),
        line("09:05:01.000", "GPGGA,080501.00,5100.0600,N,00100.0300,E,2,09,0.9,1,M,47,M,,"),
        line("09:05:40.000", "GPGGA,080540.00,5100.0600,N,00100.0300,E,2,09,0.9,1,M,47,M,,")};
    const std::vector<std::string> sensors = {
        line("09:05:00.000", "GPGGA,080500.00,5100.0000,N,00100.0000,E,4,09,0.9,1.50,M,47.00,M,,"),
        line("09:05:00.010", "PASHR,080500.00,350.0,T,1.00,-2.00,0.10,0.02,0.02,0.10,1,1"),
        line("09:05:00.050", "HEHDT,350.0,T"),
        line("09:05:01.000", "GPGGA,080501.00,5100.0000,N,00100.0000,E,4,09,0.9,1.70,M,47.00,M,,"),
        line("09:05:01.010", "PASHR,080501.00,10.0,T,3.00,-4.00,0.30,0.02,0.02,0.10,1,1"),
        line("09:05:01.050", "HEHDT,10.0,T"),
        line("09:05:02.000", "GPGGA,080502.00,5100.0000,N,00100.0000,E,5,09,0.9,1.90,M,47.00,M,,"),
        line("09:05:04.010", "PASHR,080504.00,10.0,T,3.00,-4.00,0.30,0.02,0.02,0.10,1,1"),
        line("09:05:05.000", "GPGGA,080505.00,5100.0000,N,00100.0000,E,5,09,0.9,1.90,M,47.00,M,,")};
    const struct {
        PingTimeBasis basis;
        std::vector<std::string> lines;
        const char* time;  // "08-DEC-2026 09:05:00.50"
        bool timed;
        PingDepth depth;
        std::string want;
        const char* basis_text;  // its end
        bool none_placed;        // joined to the lines, and no ping given a position
        bool with_sensors = false;
    } cases[] = {
        {PING_BASIS_OFFSET, {}, "08-DEC-2026 23:59:59.99", true, {}, "2026-12-09T05:29:59.990Z",
         "with the UTC offset -05:30 given (--utc-offset)", false},
        {PING_BASIS_OFFSET, {}, "08-DEX-2026 09:05:00.00", true, {}, "no time", "given (--utc-offset)", false},
        {PING_BASIS_MACHINE, {}, "08-JUL-2026 09:05:00.00", true, {}, "2026-07-08T07:05:00.000Z",
         "the time zone of the computer that ran qkvdump (CET/CEST)", false},
        {PING_BASIS_NAV, fixes, "08-DEC-2026 09:05:00.50", true, {}, "2026-12-08T08:05:00.500Z 51.0005 1.00025 1",
         "with the UTC offsets of the navigation log's lines", false},
        {PING_BASIS_NAV, fixes, "08-DEC-2026 09:05:20.00", true, {}, "2026-12-08T08:05:20.000Z", "log's lines", true},
        {PING_BASIS_NAV, {"no fix"}, "08-DEC-2026 09:05:20.00", true, {}, "2026-12-08T08:05:20.000Z", "(CET/CEST)",
         true},
        {PING_BASIS_OFFSET, {}, "08-DEC-2026 09:05:00.00", true, {true, 12.3456, 80, false},
         "2026-12-08T14:35:00.000Z depth 12.946 of 12.346 quality 80", "given (--utc-offset)", false},
        {PING_BASIS_OFFSET, {}, "08-DEC-2026 09:05:00.00", false, {false, 0, 0, false}, "no time no depth",
         "given (--utc-offset)", false},
        {PING_BASIS_NAV, sensors, "08-DEC-2026 09:05:00.53", true, {}, "2026-12-08T08:05:00.530Z 51 1 4 heave 0.204 "
         "roll 2.04 pitch -3.04 heading 359.6 height 48.606", "log's lines", false, true},
        {PING_BASIS_NAV, sensors, "08-DEC-2026 09:05:03.00", true, {}, "2026-12-08T08:05:03.000Z 51 1 5", "log's lines",
         false, true},
    };
    for (const auto& c : cases) {
        Lines lines;
        lines.texts = c.lines;
        NavJoin join;
        if (!c.with_sensors) nav_join_begin(&join, Lines::read, &lines);
        PingLocator locator = {};
        locator.basis = c.basis;
        locator.offset_seconds = -19800;
        locator.join = &join;
        locator.timed = c.timed;
        locator.with_depth = c.depth.known || !c.timed;
        locator.draft_m = 0.6;
        static NavMotion motion;
        if (c.with_sensors) {
            nav_motion_begin(&motion, Lines::read, &lines, NAV_MOTION_WANT_ATTITUDE | NAV_MOTION_WANT_HEADING |
                                                                NAV_MOTION_WANT_HEIGHT);
            nav_join_begin(&join, nav_motion_next, &motion);
            locator.motion = &motion;
        }
        ping_locate_begin(&locator);
        RecordView view = {};
        snprintf(view.date_text, sizeof view.date_text, "%.11s", c.time);
        snprintf(view.time_text, sizeof view.time_text, "%.8s", c.time + 12);
        snprintf(view.hundredths_text, sizeof view.hundredths_text, "%s", c.time + 20);
        ExportPing ping = {};
        ping.view = &view;
        ping_locate(&locator, &c.depth, &ping);
        char got[256] = "no time";
        if (ping.time_known) pingtime_iso_utc(ping.utc_ms, got);
        std::string text = got;
        if (ping.position.known) {
            snprintf(got, sizeof got, " %g %g %d", ping.position.latitude, ping.position.longitude,
                     ping.position.fix_quality);
            text += got;
        }
        const PingMotion* m = &ping.motion;
        const struct {
            bool known;
            const char* format;
            double value;
        } sensed[] = {{m->has_heave, " heave %g", m->heave_m}, {m->has_roll, " roll %g", m->roll_degrees},
                      {m->has_pitch, " pitch %g", m->pitch_degrees}, {m->has_heading, " heading %.1f", m->heading_degrees},
                      {m->has_height, " height %g", m->altitude_m + m->geoid_separation_m}};
        for (const auto& value : sensed) {
            snprintf(got, sizeof got, value.format, value.value);
            if (value.known) text += got;
        }
        char depth[2][EXPORT_DEPTH_TEXT_SIZE];
        if (ping.with_depth) {
            snprintf(got, sizeof got, ping.bottom.known ? " depth %s of %s quality %d" : " no depth",
                     export_depth_text(ping.bottom.depth_m, depth[0]),
                     export_depth_text(ping.bottom.distance_m, depth[1]),
                     ping.bottom.quality);
            text += got;
        }
        EXPECT_EQ(c.want, text) << c.time;
        char basis[PING_BASIS_TEXT_SIZE];
        ping_locate_basis_text(&locator, basis);
        EXPECT_NE(std::string::npos, std::string(basis).find(c.basis_text)) << basis;
        EXPECT_EQ(c.none_placed, ping_locate_none_placed(&locator)) << c.time;
    }
    unsetenv("TZ");
    tzset();
}

}  // namespace
