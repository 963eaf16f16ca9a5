#include "tools/qkvdump/nav_join.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "navfile/nmea.h"
#include "platform/platform.h"
#include "navfile/ping_time.h"

const char* const NAV_SKIP_REASONS[NAV_SKIP_COUNT] = {
    "no stamped NMEA sentence with a right checksum",
    "an impossible position (a latitude over 90 degrees, a longitude over 180, minutes of 60 or more)",
    "a position entered by hand or simulated (GGA quality 7 or 8)",
    "no fix",
};

namespace {

constexpr int64_t DAY_MS = 86400000;
constexpr int FIRST_STAMP_LINES = 64;  // a file's lines looked through for its first stamp
// Decimals of degrees for minutes with n decimals: n + 2 keeps every digit the receiver gave (a degree is 60
// minutes); never fewer than 7, about 1 cm, nor more than a double holds of a longitude.
constexpr int DEGREE_DECIMALS_MIN = 7;
constexpr int DEGREE_DECIMALS_MAX = 12;

int degree_decimals(int minute_decimals)
{
    int decimals = minute_decimals + 2;
    return decimals < DEGREE_DECIMALS_MIN ? DEGREE_DECIMALS_MIN
           : decimals > DEGREE_DECIMALS_MAX ? DEGREE_DECIMALS_MAX
                                            : decimals;
}

// A line's fix sentence merged into the fix of its time of day.
void merge(NavFix* fix, int64_t utc_ms, int offset_seconds, const NmeaPosition* sentence)
{
    if (!fix->present) {
        *fix = NavFix{};
        fix->present = true;
        fix->utc_ms = utc_ms;
        fix->offset_seconds = offset_seconds;
        fix->time_of_day_ms = sentence->utc_ms_of_day;
        fix->date_ms = -1;
    }
    if (sentence->year > 0) {
        NavTime midnight = {sentence->year, sentence->month, sentence->day, 0, 0, 0, 0, 0};
        fix->date_ms = timestamp_civil_ms(&midnight);
    }
    bool gga = sentence->kind == NMEA_FIX_GGA;
    if (gga || !fix->from_gga) {
        fix->from_gga = gga;
        fix->has_position = sentence->has_position;
        fix->latitude = sentence->latitude;
        fix->longitude = sentence->longitude;
        fix->decimals = degree_decimals(sentence->minute_decimals);
        fix->quality = sentence->quality;
    }
    if (sentence->has_motion) {
        fix->has_motion = true;
        fix->speed_knots = sentence->speed_knots;
        fix->course_degrees = sentence->course_degrees;
    }
}

// A fix sentence's position taken, or the reason the line gives none; NAV_SKIP_COUNT when taken.
NavSkip judge(NmeaPosition* sentence)
{
    if (sentence->impossible) return NAV_SKIP_IMPOSSIBLE;
    if (sentence->quality > NMEA_GGA_MEASURED_MAX) {
        // No measurement: as a fix of quality 0.
        sentence->quality = 0;
        sentence->has_position = false;
        return NAV_SKIP_NOT_MEASURED;
    }
    return sentence->has_position && sentence->quality > 0 ? NAV_SKIP_COUNT : NAV_SKIP_NO_FIX;
}

// The next whole fix in *out; false at the end of the lines.
bool next_fix(NavJoin* join, NavFix* out)
{
    const char* line = nullptr;
    while (join->read(join->source, &line)) {
        NavTime stamp;
        const char* text = nullptr;
        NmeaPosition sentence;
        if (!navfile_line_split(line, &stamp, &text)) {
            ++join->skipped[NAV_SKIP_UNREADABLE];
            continue;
        }
        if (!nmea_read_position(text, &sentence)) continue;  // another kind of sentence
        int offset = stamp.utc_offset_seconds;
        int64_t utc_ms = timestamp_civil_ms(&stamp) - offset * 1000LL;
        NavSkip skip = judge(&sentence);
        if (skip != NAV_SKIP_COUNT) ++join->skipped[skip];
        if (skip == NAV_SKIP_IMPOSSIBLE) continue;
        NavFix* building = &join->building;
        int64_t spread = utc_ms - building->utc_ms;
        bool same_time = sentence.utc_ms_of_day >= 0 && sentence.utc_ms_of_day == building->time_of_day_ms &&
                         spread <= NAV_FIX_SPREAD_MS && spread >= -NAV_FIX_SPREAD_MS;
        if (building->present && !same_time) {
            *out = *building;
            building->present = false;
            merge(building, utc_ms, offset, &sentence);
            return true;
        }
        merge(building, utc_ms, offset, &sentence);
    }
    if (!join->building.present) return false;
    *out = join->building;
    join->building.present = false;
    return true;
}

bool usable(const NavFix* fix)
{
    return fix->present && fix->has_position && fix->quality > 0;
}

// The line's own clock reading, read as UTC: comparable with the pings' local times.
int64_t local_ms(const NavFix* fix)
{
    return fix->utc_ms + fix->offset_seconds * 1000LL;
}

// The real time from one fix to the next by their sentences' UTC times of day; -1 when either has none.
int64_t time_of_day_gap_ms(const NavFix* before, const NavFix* after)
{
    if (before->time_of_day_ms < 0 || after->time_of_day_ms < 0) return -1;
    return (after->time_of_day_ms - before->time_of_day_ms + DAY_MS) % DAY_MS;
}

// How much further the sentences' times went than the stamps from one fix to the next, the day's wrap taken the
// way nearer the stamps; 0 where either has no time of day.
int64_t receiver_lead_ms(const NavFix* before, const NavFix* after)
{
    if (before->time_of_day_ms < 0 || after->time_of_day_ms < 0) return 0;
    int64_t lead = (after->time_of_day_ms - before->time_of_day_ms - (after->utc_ms - before->utc_ms)) % DAY_MS;
    if (lead > DAY_MS / 2) lead -= DAY_MS;
    if (lead <= -DAY_MS / 2) lead += DAY_MS;
    return lead;
}

// How far the receiver's UTC time is ahead of a fix's stamp: by the RMC's date where there is one, else by the time
// of day the way nearer the stamp; 0 where the fix has no time of day.
int64_t receiver_offset_ms(const NavFix* fix)
{
    if (fix->time_of_day_ms < 0) return 0;
    if (fix->date_ms >= 0) return fix->date_ms + fix->time_of_day_ms - fix->utc_ms;
    int64_t offset = (fix->time_of_day_ms - fix->utc_ms) % DAY_MS;
    if (offset > DAY_MS / 2) offset -= DAY_MS;
    if (offset <= -DAY_MS / 2) offset += DAY_MS;
    return offset;
}

bool parted(int64_t lead_ms)
{
    return lead_ms > NAV_CLOCK_STEP_MIN_MS || lead_ms < -NAV_CLOCK_STEP_MIN_MS;
}

// The next whole fix in *out, noting where the receiver's time and the stamps part: off from the first fix with a
// time of day, or jumping between two fixes; false at the end of the lines.
bool read_fix(NavJoin* join, NavFix* out)
{
    if (!next_fix(join, out)) return false;
    int64_t lead = join->last_read.present ? receiver_lead_ms(&join->last_read, out) : 0;
    bool first = !join->timed_fix_read && out->time_of_day_ms >= 0;
    if (first) {
        join->timed_fix_read = true;
        lead = receiver_offset_ms(out);
    }
    if (parted(lead) && join->jumps++ == 0) {
        join->first_jump = NavClockJump{lead, out->utc_ms, out->offset_seconds, first};
    }
    join->last_read = *out;
    return true;
}

void advance(NavJoin* join)
{
    join->before = join->after;
    join->hidden_step = false;
    if (!read_fix(join, &join->after)) join->after.present = false;
}

// The stamps' own clock went back between two fixes: the zone left summer time, or the clock was set back.
bool stamps_step_back(const NavFix* before, const NavFix* after)
{
    return before->present && after->present &&
           (local_ms(after) < local_ms(before) || after->offset_seconds < before->offset_seconds);
}

// Once the pings' clock went back: the lines' clock stepped back between two fixes, by their stamps, or where the
// lines stopped over it, by their sentences' times going on further than their stamps. Without the pings' step
// the same sign is the receiver's time jumping, which the join leaves alone.
bool steps_back(const NavFix* before, const NavFix* after)
{
    if (stamps_step_back(before, after)) return true;
    if (!before->present || !after->present) return false;
    int64_t real_gap = time_of_day_gap_ms(before, after);
    return real_gap >= 0 && local_ms(after) - local_ms(before) < real_gap - NAV_CLOCK_STEP_MIN_MS;
}

// The real time from before to after: their stamps' difference, or where the clock was set back between them,
// their sentences' times of day'; -1 when it cannot be told.
int64_t real_gap_ms(const NavJoin* join)
{
    const NavFix* before = &join->before;
    const NavFix* after = &join->after;
    if (!join->hidden_step && after->utc_ms > before->utc_ms) return after->utc_ms - before->utc_ms;
    int64_t by_day = time_of_day_gap_ms(before, after);
    return by_day > 0 ? by_day : -1;
}

enum Placing { PLACED, PLACED_BEFORE_AFTER, UNPLACED };

// Moves the fixes on to the ping at local time local: before the last fix of
// its clock's run at or before it, after the next. PLACED_BEFORE_AFTER: the
// ping lies between a step back of the clock and after, in after's run.
Placing place(NavJoin* join, int64_t local)
{
    NavFix* before = &join->before;
    NavFix* after = &join->after;
    bool behind = before->present && local < local_ms(before);
    bool went_back = join->any_ping && local < join->last_local_ms;
    if (join->in_after_run || behind || (went_back && steps_back(before, after))) {
        // The ping's clock went back behind the fixes read: so did the lines', further on.
        while (behind && !join->in_after_run && after->present && !steps_back(before, after) &&
               local_ms(after) <= local + NAV_STEP_BACK_MAX_MS) {
            advance(join);
        }
        if (!steps_back(before, after)) return UNPLACED;
        join->hidden_step = !stamps_step_back(before, after);
        // Until the ping reaches the first fix after the step, the pings go on in its run.
        join->in_after_run = local < local_ms(after);
        if (join->in_after_run) return PLACED_BEFORE_AFTER;
        advance(join);
    }
    while (after->present && local_ms(after) <= local) {
        if (stamps_step_back(before, after)) {
            // The ping is still in the run that ends at before while within the real time to the next fix.
            int64_t gap = real_gap_ms(join);
            if (local - local_ms(before) < (gap < 0 ? NAV_FIX_REACH_MS : gap)) break;
        }
        advance(join);
    }
    return PLACED;
}

// Position between two fixes, fraction of the way from the first; the
// longitude the short way round across the antimeridian.
void interpolate(const NavFix* from, const NavFix* to, double fraction, PingPosition* position)
{
    double east = to->longitude - from->longitude;
    if (east > 180.0) east -= 360.0;
    if (east < -180.0) east += 360.0;
    position->latitude = from->latitude + fraction * (to->latitude - from->latitude);
    position->longitude = from->longitude + fraction * east;
    if (position->longitude > 180.0) position->longitude -= 360.0;
    if (position->longitude < -180.0) position->longitude += 360.0;
    position->decimals = from->decimals > to->decimals ? from->decimals : to->decimals;
}

void take_nearer(const NavFix* nearer, int64_t age_ms, PingPosition* position)
{
    position->known = true;
    position->fix_quality = nearer->quality;
    position->fix_age_ms = static_cast<long>(age_ms);
    position->motion_known = nearer->has_motion;
    position->speed_knots = nearer->speed_knots;
    position->course_degrees = nearer->course_degrees;
}

// The position elapsed_ms of real time after before, gap_ms before after.
void position_between(const NavFix* before, const NavFix* after, int64_t elapsed_ms, int64_t gap_ms,
                      PingPosition* position)
{
    if (usable(before) && elapsed_ms == 0) {
        interpolate(before, before, 0.0, position);
        take_nearer(before, 0, position);
        return;
    }
    if (!usable(before) || !usable(after) || gap_ms <= 0 || elapsed_ms < 0 || elapsed_ms > gap_ms ||
        elapsed_ms > NAV_FIX_REACH_MS || gap_ms - elapsed_ms > NAV_FIX_REACH_MS) {
        return;
    }
    interpolate(before, after, static_cast<double>(elapsed_ms) / static_cast<double>(gap_ms), position);
    bool after_nearer = gap_ms - elapsed_ms < elapsed_ms;
    take_nearer(after_nearer ? after : before, after_nearer ? gap_ms - elapsed_ms : elapsed_ms, position);
}

}  // namespace

void nav_join_begin(NavJoin* join, NavLineRead read, void* source)
{
    *join = NavJoin{};
    join->read = read;
    join->source = source;
    join->building.time_of_day_ms = -1;
    read_fix(join, &join->after);
}

bool nav_join_locate(NavJoin* join, int64_t local, int64_t* utc_ms, PingPosition* position)
{
    *position = PingPosition{};
    if (!join->before.present && !join->after.present) return false;
    Placing placing = place(join, local);
    join->any_ping = true;
    join->last_local_ms = local;
    const NavFix* before = &join->before;
    const NavFix* after = &join->after;
    // The offset in force: that of the fix whose clock run the ping is in.
    const NavFix* stamped = before->present && placing != PLACED_BEFORE_AFTER ? before : after;
    *utc_ms = local - stamped->offset_seconds * 1000LL;
    if (placing == UNPLACED) {
        ++join->unplaced;
        return true;
    }
    if (!before->present || !after->present) {
        if (before->present && local == local_ms(before)) position_between(before, before, 0, 0, position);
        return true;
    }
    int64_t gap = real_gap_ms(join);
    int64_t elapsed = placing == PLACED ? local - local_ms(before) : gap - (local_ms(after) - local);
    position_between(before, after, elapsed, gap, position);
    return true;
}

bool nav_lines_readable(const char* const* files, int count)
{
    for (int i = 0; i < count; ++i) {
        // A pipe is read once, as the lines come: only a file is tried beforehand.
        PlatFileLook look;
        if (plat_file_look(files[i], &look) && !look.regular) continue;
        FILE* stream = fopen(files[i], "rb");
        if (stream != nullptr) {
            fgetc(stream);
            bool failed = ferror(stream) != 0;
            int error = errno;
            fclose(stream);
            if (!failed) continue;
            errno = error;
        }
        fprintf(stderr, "qkvdump: --nav %s: cannot %s: %s\n", files[i], stream == nullptr ? "open" : "read",
                strerror(errno));
        return false;
    }
    return true;
}

namespace {

// The UTC time of a file's first stamped line among its first lines; false for a pipe (read once, as its lines
// come) and a file without one there.
bool first_stamp_ms(NavLines* lines, const char* name, int64_t* utc_ms)
{
    PlatFileLook look;
    FILE* stream = plat_file_look(name, &look) && look.regular ? fopen(name, "rb") : nullptr;
    if (stream == nullptr) return false;
    bool found = false;
    for (int read = 0; !found && read < FIRST_STAMP_LINES && fgets(lines->line, sizeof lines->line, stream); ++read) {
        lines->line[strcspn(lines->line, "\r\n")] = 0;
        NavTime stamp;
        const char* sentence = nullptr;
        found = navfile_line_split(lines->line, &stamp, &sentence);
        if (found) *utc_ms = timestamp_civil_ms(&stamp) - stamp.utc_offset_seconds * 1000LL;
    }
    fclose(stream);
    return found;
}

}  // namespace

void nav_lines_open(NavLines* lines, const char* const* files, int count)
{
    lines->files = files;
    lines->count = count < NAV_LINES_FILES_MAX ? count : NAV_LINES_FILES_MAX;
    lines->next = 0;
    lines->stream = nullptr;
    lines->failed = false;
    // A file whose first stamp is not known stays right after the one given before it.
    int64_t before = INT64_MIN;
    for (int i = 0; i < lines->count; ++i) {
        lines->order[i] = i;
        if (!first_stamp_ms(lines, files[i], &lines->first_ms[i])) lines->first_ms[i] = before;
        before = lines->first_ms[i];
    }
    const int64_t* first = lines->first_ms;
    std::stable_sort(lines->order, lines->order + lines->count, [first](int a, int b) { return first[a] < first[b]; });
}

bool nav_lines_next(void* source, const char** line)
{
    NavLines* lines = static_cast<NavLines*>(source);
    for (;;) {
        if (lines->stream == nullptr) {
            if (lines->next >= lines->count) return false;
            const char* name = lines->files[lines->order[lines->next++]];
            lines->stream = fopen(name, "rb");
            if (lines->stream == nullptr) {
                fprintf(stderr, "qkvdump: --nav %s: cannot open: %s\n", name, strerror(errno));
                lines->failed = true;
            }
            continue;
        }
        // The buffer filled with non-zero bytes first: fgets' terminating NUL is then the last NUL in it, and a
        // NUL before it is one of the line's own, which spoils that line only.
        memset(lines->line, 0xFF, sizeof lines->line);
        if (fgets(lines->line, sizeof lines->line, lines->stream) == nullptr) {
            if (ferror(lines->stream)) {
                fprintf(stderr, "qkvdump: --nav %s: read error\n", lines->files[lines->order[lines->next - 1]]);
                lines->failed = true;
            }
            fclose(lines->stream);
            lines->stream = nullptr;
            continue;
        }
        size_t length = sizeof lines->line - 1;
        while (length > 0 && lines->line[length] != 0) --length;
        bool spoilt = memchr(lines->line, 0, length) != nullptr;
        if ((length == 0 || lines->line[length - 1] != '\n') && !feof(lines->stream)) {
            // Longer than any line navlog writes: skipped to its end.
            int c;
            while ((c = getc(lines->stream)) != EOF && c != '\n') {
            }
            spoilt = true;
        }
        while (length > 0 && (lines->line[length - 1] == '\n' || lines->line[length - 1] == '\r')) --length;
        lines->line[spoilt ? 0 : length] = 0;
        *line = lines->line;
        return true;
    }
}

bool nav_lines_close(NavLines* lines)
{
    if (lines->stream != nullptr) fclose(lines->stream);
    lines->stream = nullptr;
    return !lines->failed;
}
