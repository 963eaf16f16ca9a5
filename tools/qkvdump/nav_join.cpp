#include "tools/qkvdump/nav_join.h"

#include <cerrno>
#include <cstring>

#include "tools/navlog/nmea.h"
#include "tools/qkvdump/ping_time.h"

namespace {

// A line's fix sentence merged into the fix of its time of day.
void merge(NavFix* fix, int64_t utc_ms, int offset_seconds, const NmeaPosition* sentence)
{
    if (!fix->present) {
        *fix = NavFix{};
        fix->present = true;
        fix->utc_ms = utc_ms;
        fix->offset_seconds = offset_seconds;
        fix->time_of_day_ms = sentence->utc_ms_of_day;
    }
    bool gga = sentence->kind == NMEA_FIX_GGA;
    if (gga || !fix->from_gga) {
        fix->from_gga = gga;
        fix->has_position = sentence->has_position;
        fix->latitude = sentence->latitude;
        fix->longitude = sentence->longitude;
        fix->quality = sentence->quality;
    }
    if (sentence->has_motion) {
        fix->has_motion = true;
        fix->speed_knots = sentence->speed_knots;
        fix->course_degrees = sentence->course_degrees;
    }
}

// The next whole fix in *out; false at the end of the lines.
bool next_fix(NavJoin* join, NavFix* out)
{
    const char* line = nullptr;
    while (join->read(join->source, &line)) {
        int64_t utc_ms = 0;
        int offset = 0;
        const char* end = nullptr;
        NmeaPosition sentence;
        if (!pingtime_parse_stamp(line, &utc_ms, &offset, &end) || *end != ' ' ||
            nmea_check(end + 1, strlen(end + 1)) != NMEA_GOOD) {
            ++join->unreadable;
            continue;
        }
        if (!nmea_read_position(end + 1, &sentence)) continue;  // another kind of sentence
        NavFix* building = &join->building;
        bool same_time = sentence.utc_ms_of_day >= 0 && sentence.utc_ms_of_day == building->time_of_day_ms;
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

int64_t distance_ms(int64_t a, int64_t b)
{
    return a > b ? a - b : b - a;
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

}  // namespace

void nav_join_begin(NavJoin* join, NavLineRead read, void* source)
{
    *join = NavJoin{};
    join->read = read;
    join->source = source;
    join->building.time_of_day_ms = -1;
    next_fix(join, &join->after);
}

bool nav_join_locate(NavJoin* join, int64_t local_ms, int64_t* utc_ms, PingPosition* position)
{
    *position = PingPosition{};
    const NavFix* stamped = join->before.present ? &join->before : &join->after;
    if (!stamped->present) return false;
    int64_t ping = local_ms - stamped->offset_seconds * 1000LL;
    while (join->after.present && join->after.utc_ms <= ping) {
        join->before = join->after;
        if (!next_fix(join, &join->after)) join->after.present = false;
    }
    // The offset in force: the latest fix's at or before the ping, as a clock change happens between fixes.
    if (join->before.present) ping = local_ms - join->before.offset_seconds * 1000LL;
    *utc_ms = ping;
    const NavFix* before = &join->before;
    const NavFix* after = &join->after;
    if (usable(before) && before->utc_ms == ping) {
        interpolate(before, before, 0.0, position);
        take_nearer(before, 0, position);
        return true;
    }
    if (!usable(before) || !usable(after) || before->utc_ms > ping || ping - before->utc_ms > NAV_FIX_REACH_MS ||
        after->utc_ms - ping > NAV_FIX_REACH_MS) {
        return true;
    }
    double fraction = static_cast<double>(ping - before->utc_ms) / static_cast<double>(after->utc_ms - before->utc_ms);
    interpolate(before, after, fraction, position);
    bool after_nearer = distance_ms(after->utc_ms, ping) < distance_ms(ping, before->utc_ms);
    take_nearer(after_nearer ? after : before,
                after_nearer ? after->utc_ms - ping : ping - before->utc_ms, position);
    return true;
}

void nav_lines_open(NavLines* lines, const char* const* files, int count)
{
    lines->files = files;
    lines->count = count;
    lines->next = 0;
    lines->stream = nullptr;
    lines->failed = false;
}

bool nav_lines_next(void* source, const char** line)
{
    NavLines* lines = static_cast<NavLines*>(source);
    for (;;) {
        if (lines->stream == nullptr) {
            if (lines->next >= lines->count) return false;
            const char* name = lines->files[lines->next++];
            lines->stream = fopen(name, "rb");
            if (lines->stream == nullptr) {
                fprintf(stderr, "%s: cannot open: %s\n", name, strerror(errno));
                lines->failed = true;
            }
            continue;
        }
        if (fgets(lines->line, sizeof lines->line, lines->stream) != nullptr) {
            size_t length = strlen(lines->line);
            bool whole = length > 0 && lines->line[length - 1] == '\n';
            if (!whole && !feof(lines->stream)) {
                // Longer than any line navlog writes: skipped to its end, and taken as unreadable.
                int c;
                while ((c = fgetc(lines->stream)) != EOF && c != '\n') {
                }
                lines->line[0] = 0;
                *line = lines->line;
                return true;
            }
            while (length > 0 && (lines->line[length - 1] == '\n' || lines->line[length - 1] == '\r')) {
                lines->line[--length] = 0;
            }
            *line = lines->line;
            return true;
        }
        if (ferror(lines->stream)) {
            fprintf(stderr, "%s: read error\n", lines->files[lines->next - 1]);
            lines->failed = true;
        }
        fclose(lines->stream);
        lines->stream = nullptr;
    }
}

bool nav_lines_close(NavLines* lines)
{
    if (lines->stream != nullptr) fclose(lines->stream);
    lines->stream = nullptr;
    return !lines->failed;
}
