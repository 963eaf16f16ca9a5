// What qkvweb follows and keeps: the day's .NAV file taken a whole line at a
// time through everything that happens to it, and a survey whose rows and
// track stay bounded however long it runs, a page that falls behind skipping
// to the rows still kept.
#include <gtest/gtest.h>

#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "navfile/nav_follower.h"
#include "store/naming.h"
#include "store/record.h"
#include "store/timestamp.h"
#include "tests/unit/store_scratch_dir.h"
#include "tools/qkvweb/web_options.h"
#include "tools/qkvweb/web_texts.h"

namespace {

class QkvwebFiles : public StoreScratchDir {};

struct Seen {
    int starts = 0;
    std::string name;
    std::string lines;
};

void seen_start(void* context, const char* name)
{
    Seen* seen = static_cast<Seen*>(context);
    ++seen->starts;
    seen->name = name;
}

void seen_line(void* context, const char* line)
{
    static_cast<Seen*>(context)->lines += std::string(line) + "|";
}

std::string name_of_today()
{
    PlatLocalTime local;
    plat_local_time(&local);
    NavTime day = {{local.year_since_1900 + 1900, local.month + 1, local.day, 0, 0, 0, 0}, 0};
    char name[NAVFILE_NAME_SIZE];
    navfile_file_name(&day, name);
    return name;
}

void append(const std::string& name, const std::string& bytes)
{
    FILE* file = fopen(name.c_str(), "ab");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// Every look there is to take, the clock moved on past the follower's checks.
void look_all(NavFollower* follower, int64_t* now_ms)
{
    *now_ms += NAV_FOLLOWER_CHECK_EVERY_MS;
    for (int look = 0; look < 1000 && nav_follower_look(follower, *now_ms); ++look) {
    }
}

// A GGA line of the day with the latitude's minutes given.
std::string fix_line(int second, double minutes, int quality = 1)
{
    char sentence[NMEA_TEXT_MAX + 1];
    int length = snprintf(sentence, sizeof sentence, "$GPGGA,1200%02d.00,51%07.4f,N,00123.4567,E,%d,09,0.9,1.0,M,47.0,M,,",
                          second % 60, minutes, quality);
    nmea_append_checksum(sentence, static_cast<size_t>(length));
    NavTime time = {{2026, 12, 8, 12, 0, second % 60, 0}, 0};
    char line[NAVFILE_LINE_SIZE];
    return std::string(line, navfile_line(&time, sentence, line));
}

// Ping n's record, at 10:00 on 8 December 2026 or now; with a bottom, its echo from that sample on over a faint
// noise, at 30 m.
std::string record_of_ping(int ping, int bottom_sample = -1, bool now = false)
{
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    image[PING_IMAGE_SAMPLES] = static_cast<uint8_t>(ping);
    for (int i = 0; bottom_sample >= 0 && i < PING_SAMPLE_COUNT; ++i) {
        bool echo = i >= bottom_sample && i < bottom_sample + 400;
        image[PING_IMAGE_SAMPLES + i] = static_cast<uint8_t>(10 + (i + ping) % 3 + (echo ? 160 : 0));
    }
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    RecordFields fields = {now ? clock.date_text : "08-DEC-2026", now ? clock.time_text : "10:00:00",
                           now ? clock.hundredths_text : ".00", 3, 180, 100, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<const char*>(record), RECORD_SIZE);
}

// The pings of the page's stream, as "first-last count".
std::string pings_streamed(const WebSurvey* survey, WebCursor* cursor)
{
    static char events[64 * 1024];
    long first = -1, last = -1, count = 0;
    for (size_t size; (size = web_stream_next(survey, "{}", 1, cursor, events, sizeof events)) > 0;) {
        std::string text(events, size);
        for (size_t at = text.find("event: ping\ndata: {\"n\":"); at != std::string::npos;
             at = text.find("event: ping\ndata: {\"n\":", at + 1)) {
            last = atol(text.c_str() + at + 23);
            if (first < 0) first = last;
            ++count;
        }
    }
    return std::to_string(first) + "-" + std::to_string(last) + " " + std::to_string(count);
}

}  // namespace

// Whole lines only, as they come; a line longer than navlog writes or holding a NUL is one unreadable (empty)
// line; a file cut back, another moved over the name, and the next day's file are each taken from their start.
TEST_F(QkvwebFiles, NavFollowerTakesTheDaysLinesThroughWhatHappensToTheFile)
{
    // Local midnight about three seconds away, so the day changes within the test.
    const char* zone_before = getenv("TZ");
    std::string kept_zone = zone_before ? zone_before : "";
    time_t now = time(nullptr);
    long long west = now % 86400 + 3 - 86400;  // seconds west of Greenwich that make it 23:59:57
    if (west < -12 * 3600) west += 86400;
    long long away = llabs(west);
    char zone[64];
    snprintf(zone, sizeof zone, "QKV%c%02lld:%02lld:%02lld", west < 0 ? '-' : '+', away / 3600, away / 60 % 60,
             away % 60);
    setenv("TZ", zone, 1);
    tzset();
    const std::string today = name_of_today();

    Seen seen;
    NavFollowerEvents events = {seen_start, seen_line, &seen};
    NavFollower follower;
    nav_follower_start(&follower, &events);
    int64_t clock_ms = 0;
    look_all(&follower, &clock_ms);
    EXPECT_EQ("waiting for today's navigation log, " + today, std::string(follower.note));

    struct Step {
        const char* what;
        std::string bytes;
        std::string lines;  // seen after it
        int starts;
        long unreadable;    // lines of the file followed
    };
    const Step steps[] = {
        {"append", "a\nb", "a|", 1, 0},
        {"append", "c\r\n", "a|bc|", 1, 0},
        {"append", std::string(100000, 'x') + "\nd\n", "a|bc||d|", 1, 1},
        {"append", std::string("e\0f\n", 4), "a|bc||d||", 1, 2},
        {"cut back", "g\n", "a|bc||d||g|", 2, 0},
        {"deleted", "", "a|bc||d||g|", 2, 0},
        {"moved over", "h\n", "a|bc||d||g|h|", 3, 0},
    };
    for (const Step& step : steps) {
        if (std::string(step.what) == "cut back") truncate(today.c_str(), 0);
        if (std::string(step.what) == "deleted") {
            unlink(today.c_str());
        } else if (std::string(step.what) == "moved over") {
            append("other.NAV", step.bytes);
            rename("other.NAV", today.c_str());
        } else {
            append(today, step.bytes);
        }
        look_all(&follower, &clock_ms);
        EXPECT_EQ(step.lines, seen.lines) << step.what;
        EXPECT_EQ(step.starts, seen.starts) << step.what;
        EXPECT_EQ(step.unreadable, follower.unreadable) << step.what;
        EXPECT_EQ(std::string(step.what) == "deleted", follower.gone) << step.what;
    }
    EXPECT_EQ(today, seen.name);

    // Past midnight the old day's file is followed on until the new day's appears.
    for (int wait = 0; wait < 60 && name_of_today() == today; ++wait) usleep(100000);
    const std::string next_day = name_of_today();
    ASSERT_NE(today, next_day);
    append(today, "late\n");
    look_all(&follower, &clock_ms);
    append(next_day, "i\n");
    look_all(&follower, &clock_ms);
    EXPECT_EQ("a|bc||d||g|h|late|i|", seen.lines);
    EXPECT_EQ(4, seen.starts);
    EXPECT_EQ(next_day, seen.name);
    nav_follower_stop(&follower);
    if (zone_before) {
        setenv("TZ", kept_zone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

// A day of fixes keeps at most WEB_TRACK_POINTS of them, from the first, and the latest position; a recording
// of more pings than a page shows keeps the last WEB_ROWS, which a page that fell behind skips to.
TEST_F(QkvwebFiles, SurveyStaysBoundedAndASlowPageSkipsAhead)
{
    std::string lines;
    const int fixes = 5000;
    for (int i = 0; i < fixes; ++i) lines += fix_line(i, 6.0 + i * 0.0001);
    append(name_of_today(), lines);
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char data_name[DATA_NAME_SIZE];
    naming_build_from(data_name, clock.date_time_text);
    std::string records;
    for (int ping = 0; ping < 1000; ++ping) records += record_of_ping(ping);
    append(data_name, records);

    WebSurvey* survey = new WebSurvey;
    survey_start(survey, 0);
    int64_t clock_ms = 0;
    for (int look = 0; look < 1000 && survey_look(survey, clock_ms); ++look) clock_ms += 10;
    EXPECT_EQ(1000, survey->pings);
    EXPECT_LE(survey->track_count, WEB_TRACK_POINTS);
    EXPECT_GE(survey->track_count, WEB_TRACK_POINTS / 2);
    EXPECT_NEAR(51 + 6.0 / 60, survey->track[0].latitude, 1e-9);
    EXPECT_NEAR(51 + (6.0 + (fixes - 1) * 0.0001) / 60, survey->position.latitude, 1e-9);
    EXPECT_STREQ("GPS", survey->fix.quality);
    // A fix with minutes of 75 (impossible), one entered by hand, one simulated: none is where the vessel is.
    const std::string latitude_shown = survey->fix.latitude;
    append(name_of_today(), fix_line(0, 75.0));
    for (int look = 0; look < 100 && survey_look(survey, clock_ms += 1000); ++look) {
    }
    EXPECT_EQ(latitude_shown, survey->fix.latitude) << "an impossible position is shown";
    append(name_of_today(), fix_line(0, 1.0, 7) + fix_line(1, 2.0, 8));
    for (int look = 0; look < 100 && survey_look(survey, clock_ms += 1000); ++look) {
    }
    EXPECT_NEAR(51 + (6.0 + (fixes - 1) * 0.0001) / 60, survey->position.latitude, 1e-9) << "taken as a position";

    WebCursor page;
    web_cursor_start(&page);
    EXPECT_EQ("600-999 400", pings_streamed(survey, &page));
    const WebRow* oldest = survey_row(survey, 600);
    ASSERT_NE(nullptr, oldest);
    EXPECT_EQ(nullptr, survey_row(survey, 599));
    std::string more;
    for (int ping = 1000; ping < 1500; ++ping) more += record_of_ping(ping);
    append(data_name, more);
    for (int look = 0; look < 1000 && survey_look(survey, clock_ms += 60); ++look) {
    }
    EXPECT_EQ("1100-1499 400", pings_streamed(survey, &page)) << "a page 500 pings behind skips to those kept";
    survey_stop(survey);
    delete survey;
}

namespace {

// A data file's name of the day so many days ago.
std::string data_name_of(int days_ago, uint32_t number)
{
    time_t then = time(nullptr) - days_ago * 86400L;
    char day[32], name[DATA_NAME_SIZE];
    strftime(day, sizeof day, "%d-%b-%Y", localtime(&then));
    naming_pattern(name, day);
    naming_set_number(name, number);
    return name;
}

}  // namespace

// The recording followed is the newest data file, of whatever day, being written (grown since the look before,
// its last record well-formed and of now), or at the start the newest written today: not the next run's file while
// it is empty (nor, when that is removed again, the last recording read anew), not a file of malformed records
// however large, not a copy of a recording made now, nor an old day's file (written then or copied in now). A data
// file or .NAV file deleted under its writer turns the health to 503.
TEST_F(QkvwebFiles, SurveyFollowsTheRecordingAndSaysWhenItsFileIsDeleted)
{
    const std::string a = data_name_of(0, 1), b = data_name_of(0, 2), c = data_name_of(0, 3),
                      copy = data_name_of(0, 99), yesterday = data_name_of(1, 7), older = data_name_of(2, 1), copied_in = data_name_of(3, 5),
                      nav = name_of_today();
    const std::string deleted = " was deleted while followed: what is written to it now is lost";
    FILE* navlog = nullptr;
    const utimbuf then = {time(nullptr) - 2 * 86400L, time(nullptr) - 2 * 86400L};
    const int64_t ALL_DAYS = FOLLOWER_SEARCH_ALL_DAYS_EVERY_MS;  // another day's files are looked for less often
    struct Step {
        const char* what;
        std::function<void()> act;
        std::string health;  // how it starts
        long generation;     // files taken up so far
        int64_t wait_ms = FOLLOWER_SEARCH_EVERY_MS;
    };
    const Step steps[] = {
        {"a run's file", [&] { append(a, record_of_ping(0) + record_of_ping(1)); }, "recording: " + a + ", 2 ", 1},
        {"the next run's, empty", [&] { append(b, ""); }, "recording: " + a + ", 2 ", 1},
        {"removed again", [&] { unlink(b.c_str()); }, "recording: " + a + ", 2 ", 1},
        {"4 GiB, sparse", [&] { append(c, ""), truncate(c.c_str(), 4LL << 30); }, "recording: " + a + ", 2 ", 1},
        {"a copy of a recording, made now", [&] { append(copy, record_of_ping(0, -1, true)); }, "recording: " + a, 1},
        {"an older day's, written then", [&] { append(older, record_of_ping(5)), utime(older.c_str(), &then); },
         "stale: the last record of " + a, 1, ALL_DAYS},
        {"an older day's, copied in now", [&] { append(copied_in, record_of_ping(5)); },
         "stale: the last record of " + a, 1, ALL_DAYS},
        {"yesterday's, of now", [&] { append(yesterday, record_of_ping(3, -1, true)); },
         "stale: the last record of " + a, 1, ALL_DAYS},
        {"yesterday's, written", [&] { append(yesterday, record_of_ping(4, -1, true)); }, "recording: " + yesterday, 2},
        {"the .NAV written", [&] { fputs(fix_line(1, 6.0).c_str(), navlog = fopen(nav.c_str(), "a")), fflush(navlog); },
         "recording: " + yesterday, 2},
        {"the .NAV deleted under its writer", [&] { unlink(nav.c_str()), fputs(fix_line(2, 6.1).c_str(), navlog); },
         "file deleted: " + nav + deleted, 2},
        {"the data file deleted", [&] { unlink(yesterday.c_str()); }, "file deleted: " + yesterday + deleted, 2},
    };
    WebSurvey* survey = new WebSurvey;
    int64_t clock_ms = 0;
    survey_start(survey, clock_ms);
    for (const Step& step : steps) {
        step.act();
        clock_ms += step.wait_ms + 100;
        for (int look = 0; look < 1000 && survey_look(survey, clock_ms); ++look) {
        }
        WebStatus status;
        web_status_take(survey, WEB_STALE_AFTER_DEFAULT_S, clock_ms, 0, &status);
        char health[WEB_REASON_SIZE + 64];
        web_health_text(survey, &status, health, sizeof health);
        EXPECT_EQ(0u, std::string(health).find(step.health)) << step.what << ": " << health;
        EXPECT_EQ(step.generation, survey->generation) << step.what;
    }
    if (navlog != nullptr) fclose(navlog);
    survey_stop(survey);
    delete survey;
}

// One picker, one verdict: the page's depths of pings two seconds apart over a step of the seabed (the format
// allows two seconds) are those of pings a tenth of a second apart, the picker's over the whole file. The pings
// waiting for the next ones get its verdict on the file as it stands while the recording pauses, and the next
// pings' verdict once they come.
TEST_F(QkvwebFiles, PageDepthsAreThePickersHoweverFarApartThePingsCome)
{
    std::map<long, std::string> shown[2];  // the last verdict sent on each ping
    for (int64_t interval_ms : {100, 2000}) {
        WebSurvey* survey = new WebSurvey;
        int64_t clock_ms = 0;
        survey_start(survey, clock_ms);
        WebCursor page;
        web_cursor_start(&page);
        for (int ping = 0; ping <= 16; ++ping) {
            if (ping < 16) append(data_name_of(0, static_cast<uint32_t>(interval_ms)), record_of_ping(ping, ping < 8 ? 2000 : 2480));
            // Looked at every 50 ms, as qkvweb looks, until the next ping; after the last, for a while.
            for (int64_t t = 0; t < (ping < 16 ? interval_ms : 3000); t += 50) survey_look(survey, clock_ms += 50);
            static char events[64 * 1024];
            for (size_t size; (size = web_stream_next(survey, "{}", 1, &page, events, sizeof events)) > 0;) {
                long n = 0;
                char depth[16];
                for (char* at = events; (at = strstr(at, "event: depth\n")) != nullptr && at < events + size; ++at) {
                    if (sscanf(at, "event: depth\ndata: {\"n\":%ld,\"depth_m\":%15[^}]", &n, depth) == 2) {
                        shown[interval_ms > 100][n] = depth;
                    }
                }
            }
        }
        EXPECT_EQ(16u, shown[interval_ms > 100].size()) << interval_ms << " ms apart";
        survey_stop(survey);
        delete survey;
    }
    EXPECT_EQ(shown[0], shown[1]);
}

// The command line: loopback by default, and each value refused naming what is allowed.
TEST(QkvwebOptions, ListenAddressAndLimits)
{
    struct Case {
        std::vector<const char*> arguments;
        const char* listening;  // or the message
    };
    const Case cases[] = {
        {{}, "127.0.0.1:8080 10 64"},
        {{"--listen", "0.0.0.0:80", "--stale-after=300", "--max-clients", "1"}, "0.0.0.0:80 300 1"},
        {{"--listen", "127.000.005.010:8080"}, "127.0.5.10:8080 10 64"},
        {{"--listen", "localhost:8080"},
         "--listen must be an IPv4 address and a port from 1 to 65535, as 127.0.0.1:8080, not \"localhost:8080\""},
        {{"--listen", "127.0.0.1:0"},
         "--listen must be an IPv4 address and a port from 1 to 65535, as 127.0.0.1:8080, not \"127.0.0.1:0\""},
        {{"--listen", "127.0.0.1"}, "--listen must be ADDRESS:PORT, not \"127.0.0.1\""},
        {{"--stale-after", "0"}, "--stale-after must be a number of seconds from 1 to 86400, not \"0\""},
        {{"--max-clients", "201"}, "--max-clients must be a number from 1 to 200, not \"201\""},
        {{"08DEC2026-0001.QKV"}, "unexpected argument \"08DEC2026-0001.QKV\""},
        {{"--draft", "0.6"}, "127.0.0.1:8080 10 64 draft 0.6"},
        {{"--draft", "0.6", "--water-level", "t.csv", "--datum", "LAT", "--depth-gates", "2,40.5"},
         "127.0.0.1:8080 10 64 draft 0.6 reduced t.csv LAT 2-40.5"},
        {{"--draft", "-1"}, "--draft must be metres from 0 to 100, not \"-1\""},
        {{"--depth-gates", "40,2"}, "--depth-gates must be MIN,MAX with MIN the less, not \"40,2\""},
        {{"--depth-gates", "2"}, "--depth-gates must be MIN,MAX in metres, not \"2\""},
        {{"--datum", "=LAT"},
         "--datum must be a name of 1 to 31 printable characters, without , \" \\ ; | nor = + - @ first, not \"=LAT\""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"qkvweb"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        WebOptions options;
        char message[CMDLINE_MESSAGE_SIZE] = "";
        WebParse parsed = web_parse(static_cast<int>(argv.size()), argv.data(), &options, message);
        const ReductionSettings* r = &options.reduction.settings;
        char depth[128] = "";
        if (options.draft_given) snprintf(depth, sizeof depth, " draft %g", r->draft_m);
        if (options.reducing) {
            snprintf(depth + strlen(depth), sizeof depth - strlen(depth), " reduced %s %s %g-%g",
                     options.reduction.water_level, r->datum, r->gate_min_m, r->gate_max_m);
        }
        std::string got = parsed == WEB_PARSE_RUN ? std::string(options.listen_text) + " " +
                                                        std::to_string(options.stale_after_s) + " " +
                                                        std::to_string(options.max_clients) + depth
                                                  : message;
        EXPECT_EQ(c.listening, got);
    }
}

// The coverage: each depth placed between the fixes around its time and binned, one with no fix near left out;
// a page that has a copy whole is sent only the cells changed since; as the area grows past the cells' budget
// they double, and the next copy goes whole.
TEST(QkvwebCoverage, PlacedBinnedBoundedAndSentAsChanges)
{
    static WebSurvey survey;
    WebCoverage* c = &survey.coverage;
    coverage_start(c);
    const int64_t t0 = 1796720400000LL;
    const double north_m = 1 / 111320.0;
    for (int s = 0; s <= 60; ++s) coverage_fix(c, t0 + 1000 * s, 51.0 + 100 * s * north_m, 1.0);  // 100 m/s north
    coverage_sounding(c, t0 + 50, 12.0);     // 5 m north
    coverage_sounding(c, t0 - 5000, 30.0);   // before the fixes
    coverage_sounding(c, t0 + 2000, 14.0);   // 200 m north
    ASSERT_TRUE(coverage_update(c, 10000));
    EXPECT_EQ(2, c->binned);
    EXPECT_EQ(1, c->unplaced);
    ASSERT_EQ(2, c->cell_count);
    EXPECT_EQ(1.0, c->cell_m);
    EXPECT_EQ(12.0f, c->depth_min_m);
    EXPECT_EQ(14.0f, c->depth_max_m);
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(c->cells[i].depth_m == 12.0f ? 51.0 + 5 * north_m : 51.0 + 200 * north_m,
                                            c->cells[i].latitude, north_m);
    WebCursor cursor;
    web_cursor_start(&cursor);
    auto coverage_sent = [&]() {
        std::string sent;
        char events[WEB_STREAM_ROOM * 4];
        for (size_t size; (size = web_stream_next(&survey, "{}", 1, &cursor, events, sizeof events)) > 0;) {
            for (const char* at = events; (at = strstr(at, "event: coverage\n")) != nullptr; ++at) {
                long version = 0;
                char whole[8] = "";
                int count = -1;
                int from = -1;
                sscanf(at, "event: coverage\ndata: {\"version\":%ld,\"whole\":%7[a-z],\"from\":%d,\"count\":%d",
                       &version, whole, &from, &count);
                if (from == 0) sent += std::to_string(version) + " " + whole + " " + std::to_string(count) + "; ";
            }
        }
        return sent;
    };
    EXPECT_EQ("2 true 2; ", coverage_sent());
    coverage_sounding(c, t0 + 60, 13.0);  // the cell of the first: its mean moves
    EXPECT_FALSE(coverage_update(c, 11000)) << "at most a copy every 2 s";
    ASSERT_TRUE(coverage_update(c, 12000));
    EXPECT_EQ("3 false 1; ", coverage_sent());
    for (int k = 0; k < 5000; ++k) {  // 5 km of cells of 1 m, binned as they come
        coverage_sounding(c, t0 + 3000 + 10 * k, 15.0);
        coverage_update(c, 12500);
    }
    ASSERT_TRUE(coverage_update(c, 14000));
    EXPECT_EQ(2.0, c->cell_m);
    EXPECT_LE(c->cell_count, COVERAGE_CELLS_MAX);
    EXPECT_GT(c->cell_count, 2000);
    EXPECT_EQ("4 true " + std::to_string(c->cell_count) + "; ", coverage_sent());
    coverage_stop(c);
}
