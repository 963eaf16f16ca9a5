// What qkvweb shows of the survey in its directory: the data file followed
// as qkvdump --follow follows it (store/follower.h), each ping kept as a row
// of the page's waterfall with the depth the bottom picker gives it (the
// verdict qkvdump --depth gives on the file: while the recording pauses, its
// last pings get the verdict on the file as it stands, taken back if more
// pings come and change it), the
// day's .NAV file followed (navfile/nav_follower.h) for the track and the
// last fix, and the figures of the status. One record of fixed size: nothing
// grows with the recording. The rows kept are the last WEB_ROWS pings; the
// track keeps every fix until WEB_TRACK_POINTS, then every other one of
// those, and so on, so a day at 10 fixes a second is still one track.
// The depth shown is qkvdump --follow --depth's: below the transducer, the
// surface with a draft, or, with a reduction (reduction/ping_reduce.h), its
// reference once the spike test has judged the ping; the waterfall's bottom
// line stays the picker's distance below the transducer, where the echo is.
// The unflagged depths make the coverage (coverage.h).
#pragma once

#include <cstdint>

#include "depth/picker.h"
#include "navfile/nav_follower.h"
#include "navfile/nmea.h"
#include "navfile/ping_time.h"
#include "reduction/ping_reduce.h"
#include "store/follower.h"
#include "tools/qkvweb/coverage.h"

constexpr int WEB_COLUMNS = 400;  // the page's waterfall: each column the mean of 20 data bytes
constexpr int WEB_ROWS = 400;     // the pings a page shows, newest on top
constexpr int WEB_TRACK_POINTS = 2048;
constexpr int WEB_RATE_SECONDS = 10;  // pings a second: over the last ten
constexpr int WEB_REFERENCE_SIZE = REDUCTION_DATUM_SIZE + 16;
constexpr char WEB_TRANSDUCER[] = "transducer";  // the reference of a depth with neither draft nor reduction
static_assert(PING_SAMPLE_COUNT % WEB_COLUMNS == 0, "the waterfall's columns share the data bytes evenly");

struct WebRow {
    int64_t ping;  // its number in the file, from 0; -1 for none
    float range_m;
    char time[RECORD_TIME_SIZE + RECORD_HUNDREDTHS_SIZE + 1];  // the record's local time, "09:05:00.37"
    bool decided;   // the picker has given its verdict
    bool has_depth;
    float depth_m;  // the picker's: below the transducer
    bool time_known;
    int64_t utc_ms;  // the record's time, in the machine's zone
    uint8_t means[WEB_COLUMNS];
};

struct WebPoint {
    double latitude;
    double longitude;
};

struct WebSurvey {
    Follower follower;
    NavFollower nav;
    int64_t now_ms;  // of the look under way

    // The data file: a new one (generation) is a new picture.
    long generation;
    char file[DATA_NAME_SIZE];  // printable
    int64_t pings;              // well-formed records so far; the next ping's number
    bool catching_up;           // the file's records from before it was taken up are being read
    int64_t last_record_ms;     // monotonic; from the file's age where the records came before it was taken up
    WebRow rows[WEB_ROWS];      // ping n in rows[n % WEB_ROWS]
    DepthTracker tracker;
    int64_t decided;            // the pings with the picker's final verdict
    int64_t verdicts;           // the pings with a verdict shown: past decided, the picker's on the file as it stands
    long previews_withdrawn;    // verdicts past decided that a ping since made provisional: pages take them again
    bool has_depth;             // the latest verdict's, as the depth is shown
    float depth_m;
    char depth_flags[REDUCTION_FLAGS_TEXT_SIZE];  // the reduction's on it: "spike"; empty for none
    // The depth shown: what it is below and what made it.
    PingReduce* reduce;         // null: no reduction
    double draft_m;
    char reference[WEB_REFERENCE_SIZE];  // "the transducer", "the water surface", "LAT"
    PingTimeZoneMinute zone_minute;
    int64_t previous_utc_ms;
    bool any_time;
    WebCoverage coverage;
    int64_t rate_since_ms;      // monotonic: when records were first counted as they came
    int64_t rate_second;        // the monotonic second counted last
    int rate_counts[WEB_RATE_SECONDS];

    // The day's .NAV file.
    char nav_file[NAVFILE_NAME_SIZE];  // printable; empty before there is one
    int64_t nav_line_ms;              // monotonic: when its last line was taken
    NmeaFix fix;                      // the last GGA or RMC
    int fix_quality;                  // GGA's number of it, 0 to 8
    int64_t fix_utc_ms;               // its line's stamp
    bool has_position;
    WebPoint position;                // the latest position
    long track_generation;            // the track was thinned or started again: a page draws it anew
    int track_count;
    long track_stride;                // one fix kept in so many
    long track_skipped;
    WebPoint track[WEB_TRACK_POINTS];

    long changes;  // anything a page shows changed
};

// Starts following today's newest data file and today's .NAV file.
void survey_start(WebSurvey* survey, int64_t now_ms);
// The depth shown: reduced through reduce where given (its files read), else the picker's plus the draft, below the
// surface where draft_given.
void survey_set_depth(WebSurvey* survey, PingReduce* reduce, double draft_m, bool draft_given);
// One look at both files; true when more is waiting: look again at once.
bool survey_look(WebSurvey* survey, int64_t now_ms);
void survey_stop(WebSurvey* survey);
// The row of a ping, if it is still kept; null otherwise.
const WebRow* survey_row(const WebSurvey* survey, int64_t ping);
// The first ping still kept.
int64_t survey_first_kept(const WebSurvey* survey);
// Pings a second over the last nine whole seconds (fewer just after the start), records read as
// history left out.
double survey_ping_rate(const WebSurvey* survey, int64_t now_ms);
