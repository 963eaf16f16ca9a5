// Position for every ping from navlog's .NAV lines: each line is the
// computer's local time with its UTC offset and an NMEA sentence. A fix is
// the GGA and RMC of one time of day (the GGA's position, or the RMC's
// where there is no GGA; speed and course from the RMC). A ping's position
// is interpolated linearly in time between the last fix at or before it and
// the first after it; none when either is more than NAV_FIX_REACH_MS away
// or has no measured position (quality 0, or 7 and 8: entered by hand,
// simulated). Pings and lines are taken in time order, as streams.
//
// Pings and lines carry the same computer's local clock, and are joined by
// it alone: the time a receiver writes in its sentences may jump (from GPS
// time to UTC once it learns the leap seconds, after an outage), or be off
// the stamps from the first fix on (a replayed log, a simulator left running,
// a clock set wrong), while the stamps go on evenly. Where the computer's clock steps back (the zone
// leaving summer time, or the clock set back), the records step back too: a
// ping whose time goes back behind the fixes read is joined to the fixes
// after the lines' own step back, and its UTC time comes from the offset its
// line carries, so the hour that comes twice is told apart. Only then, with
// the pings' clock seen going back, are the sentences' times asked where in
// the lines it stepped, when the lines stopped over the step.
#pragma once

#include <cstdint>
#include <cstdio>

#include "navfile/nav_line.h"
#include "tools/qkvdump/ping_export.h"

constexpr int64_t NAV_FIX_REACH_MS = 10000;
// The furthest the lines are read ahead for their step back after the pings'
// (the pings' clock set back): two hours, over any change of a zone's clocks.
constexpr int64_t NAV_STEP_BACK_MAX_MS = 2 * 3600 * 1000LL;
// Stamps and sentences' times that part by more than this: the receiver's
// time jumped, or the computer's clock was set (when the pings' clock went back
// too, lines stopped over its step back); less could be a logger that stalled
// and caught up. A smaller step hidden in a gap of the lines needs no telling:
// the fixes after it carry the pings' clock again.
constexpr int64_t NAV_CLOCK_STEP_MIN_MS = NAV_FIX_REACH_MS;
// Sentences of one time of day make one fix only when stamped within this of
// its first: a receiver whose time stands still gives a fix a sentence.
constexpr int64_t NAV_FIX_SPREAD_MS = 500;

// The next line without its line end in *line; false at the end of the lines.
typedef bool (*NavLineRead)(void* source, const char** line);

struct NavFix {
    bool present;
    int64_t utc_ms;         // the line's stamp: the computer's clock, as the pings'
    int offset_seconds;     // the UTC offset the line was stamped with
    long time_of_day_ms;    // the sentences' own UTC time of day, which groups them into one fix
    int64_t date_ms;        // the UTC midnight of the RMC's date, from 1970; -1 where no RMC gave one
    bool from_gga;
    bool has_position;
    double latitude;
    double longitude;
    int decimals;           // of degrees, for the precision the receiver gave
    int quality;
    bool has_motion;
    double speed_knots;
    double course_degrees;
};

// Why a line gives no position.
enum NavSkip { NAV_SKIP_UNREADABLE, NAV_SKIP_IMPOSSIBLE, NAV_SKIP_NOT_MEASURED, NAV_SKIP_NO_FIX, NAV_SKIP_COUNT };
extern const char* const NAV_SKIP_REASONS[NAV_SKIP_COUNT];

// Where the receiver's time and the stamps parted between two fixes read one after the other, or at the first fix.
struct NavClockJump {
    int64_t size_ms;  // how much further the receiver's time went than the stamps (negative: less far)
    int64_t utc_ms;   // the stamp of the fix after it, as NavFix's
    int offset_seconds;
    bool at_first_fix;  // the receiver's time was off the stamps from the first fix on, by size_ms
};

struct NavJoin {
    NavLineRead read;
    void* source;
    NavFix before;    // the last fix at or before the latest ping
    NavFix after;     // the first fix after it
    NavFix building;  // the sentences of the time of day being read
    NavFix last_read; // the fix read before after
    bool in_after_run;  // the pings' clock stepped back: they are in after's run, before after
    bool hidden_step;   // and the lines' step back between before and after was told by the sentences' times
    bool any_ping;
    int64_t last_local_ms;  // the ping before's local time
    long skipped[NAV_SKIP_COUNT];  // lines, by reason
    long unplaced;    // pings whose time went back with no step back in the lines to match
    long jumps;       // times the receiver's time and the stamps parted
    NavClockJump first_jump;
    bool timed_fix_read;  // a fix with a time of day was read: the receiver's time was compared with its stamp
};

void nav_join_begin(NavJoin* join, NavLineRead read, void* source);
// The ping's UTC time from its local time (read as UTC) and the lines'
// offset, and its position. False when no line gave an offset.
bool nav_join_locate(NavJoin* join, int64_t local_ms, int64_t* utc_ms, PingPosition* position);

// The files a run reads the lines of, at most.
constexpr int NAV_LINES_FILES_MAX = 4096;
// The lines of .NAV files in the time order of their first stamped lines
// (a shell gives 01DEC2026.NAV before 30NOV2026.NAV), read one at a time.
struct NavLines {
    const char* const* files;
    int count;
    int order[NAV_LINES_FILES_MAX];  // the files' indices, in the order read
    int64_t first_ms[NAV_LINES_FILES_MAX];  // UTC of each file's first stamped line
    int next;         // the file to open after this one
    FILE* stream;
    bool failed;      // a file could not be opened or read (said)
    char line[NAVFILE_LINE_SIZE + 2];
};

// Opens each file and reads its first byte: false, saying why, for the first that cannot be read.
bool nav_lines_readable(const char* const* files, int count);
// Orders the files by the first stamped line each holds; one without (a pipe, read once as its lines come)
// right after the file given before it.
void nav_lines_open(NavLines* lines, const char* const* files, int count);
// A line holding a NUL byte, or longer than navlog writes, comes as an empty line.
bool nav_lines_next(void* lines, const char** line);
// Closes the last file; false when any could not be read.
bool nav_lines_close(NavLines* lines);
