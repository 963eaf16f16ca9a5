#include "tools/qkvdump/nav_motion.h"

#include <cstdio>
#include <cstring>

#include "navfile/nmea.h"
#include "reduction/reduction.h"

namespace {

// Whether a line's sentence, by its address alone, is one the tracks asked for take: the position join reads
// every line, and most are fixes, which need not be read twice.
bool wanted_sentence(const NavMotion* m, const char* line)
{
    const char* sentence = strchr(line, ' ');
    if (sentence == nullptr || sentence[1] != '$' || strnlen(sentence, 8) < 8) return false;
    const char* type = sentence + 4;  // after "$" and the talker
    bool attitude = strncmp(sentence + 2, "PASHR,", 6) == 0;
    return ((m->wanted & (NAV_MOTION_WANT_ATTITUDE | NAV_MOTION_WANT_HEADING)) != 0 && attitude) ||
           ((m->wanted & NAV_MOTION_WANT_HEADING) != 0 && strncmp(type, "HDT,", 4) == 0) ||
           ((m->wanted & NAV_MOTION_WANT_HEIGHT) != 0 && strncmp(type, "GGA,", 4) == 0);
}

// A line's sentence into the tracks asked for, and its stamp noted: every line's where every_stamp (reading on past
// a ping), else a wanted sentence's alone. True for an attitude or heading sentence taken, which the position join,
// reading fixes alone, need not see.
bool take(NavMotion* m, const char* line, bool every_stamp)
{
    NavTime stamp;
    const char* sentence = nullptr;
    if (!wanted_sentence(m, line)) {
        const char* end = nullptr;
        if (!every_stamp || !navfile_time_parse(line, &stamp, &end)) return false;
    } else if (!navfile_line_split(line, &stamp, &sentence)) {
        return false;
    }
    int64_t utc_ms = timestamp_civil_ms(&stamp) - stamp.utc_offset_seconds * 1000LL;
    m->any_stamp = true;
    m->last_utc_ms = utc_ms;
    if (sentence == nullptr) return false;
    NmeaAttitude attitude;
    double heading = 0;
    NmeaPosition fix;
    if ((m->wanted & (NAV_MOTION_WANT_ATTITUDE | NAV_MOTION_WANT_HEADING)) != 0 && nmea_read_pashr(sentence, &attitude)) {
        if (attitude.has_heave) motion_track_add(&m->track[NAV_MOTION_HEAVE], utc_ms, attitude.heave_m);
        if (attitude.has_roll) motion_track_add(&m->track[NAV_MOTION_ROLL], utc_ms, attitude.roll_degrees);
        if (attitude.has_pitch) motion_track_add(&m->track[NAV_MOTION_PITCH], utc_ms, attitude.pitch_degrees);
        if (attitude.has_heading) {
            motion_track_add(&m->track[NAV_MOTION_SENSOR_HEADING], utc_ms, attitude.heading_degrees);
        }
        return true;
    }
    if ((m->wanted & NAV_MOTION_WANT_HEADING) != 0 && nmea_read_hdt(sentence, &heading)) {
        motion_track_add(&m->track[NAV_MOTION_HEADING], utc_ms, heading);
        return true;
    }
    if ((m->wanted & NAV_MOTION_WANT_HEIGHT) != 0 && nmea_read_position(sentence, &fix) &&
               fix.kind == NMEA_FIX_GGA && fix.has_height && fix.quality == REDUCTION_RTK_QUALITY) {
        motion_track_add(&m->track[NAV_MOTION_ALTITUDE], utc_ms, fix.altitude_m);
        motion_track_add(&m->track[NAV_MOTION_SEPARATION], utc_ms, fix.geoid_separation_m);
    }
    return false;
}

// A track's latest sample lies at or after the time.
bool passed(const MotionTrack* track, int64_t utc_ms)
{
    return track->count > 0 && track->sample[(track->first + track->count - 1) % MOTION_SAMPLES_MAX].utc_ms >= utc_ms;
}

// Every track asked for has a sample at or after the time: the one after a ping is read.
bool all_passed(const NavMotion* m, int64_t utc_ms)
{
    const MotionTrack* t = m->track;
    bool attitude = (m->wanted & NAV_MOTION_WANT_ATTITUDE) == 0 || passed(&t[NAV_MOTION_HEAVE], utc_ms);
    bool heading = (m->wanted & NAV_MOTION_WANT_HEADING) == 0 || passed(&t[NAV_MOTION_HEADING], utc_ms) ||
                   passed(&t[NAV_MOTION_SENSOR_HEADING], utc_ms);
    bool height = (m->wanted & NAV_MOTION_WANT_HEIGHT) == 0 || passed(&t[NAV_MOTION_ALTITUDE], utc_ms);
    return attitude && heading && height;
}

// Reads the lines on past the ping, held for the join, while a track asked for has not passed it.
void read_on(NavMotion* m, int64_t utc_ms)
{
    while (!m->ended && !all_passed(m, utc_ms) && !(m->any_stamp && m->last_utc_ms > utc_ms + MOTION_GAP_MAX_MS)) {
        if (m->held == NAV_MOTION_HELD_MAX) {
            ++m->short_of_lines;
            return;
        }
        const char* line = nullptr;
        if (!m->read(m->source, &line)) {
            m->ended = true;
            return;
        }
        if (take(m, line, true)) continue;
        snprintf(m->lines[(m->first + m->held++) % NAV_MOTION_HELD_MAX], sizeof m->lines[0], "%s", line);
    }
}

bool value_at(const NavMotion* m, NavMotionTrack track, int64_t utc_ms, double* value)
{
    return motion_track_at(&m->track[track], utc_ms, value);
}

}  // namespace

void nav_motion_begin(NavMotion* motion, NavLineRead read, void* source, unsigned wanted)
{
    motion->read = read;
    motion->source = source;
    motion->wanted = wanted;
    for (int i = 0; i < NAV_MOTION_TRACKS; ++i) {
        motion_track_start(&motion->track[i], i == NAV_MOTION_HEADING || i == NAV_MOTION_SENSOR_HEADING);
    }
    motion->ended = false;
    motion->any_stamp = false;
    motion->last_utc_ms = 0;
    motion->first = 0;
    motion->held = 0;
    motion->short_of_lines = 0;
}

bool nav_motion_next(void* source, const char** line)
{
    NavMotion* m = static_cast<NavMotion*>(source);
    if (m->held > 0) {
        *line = m->lines[m->first];
        m->first = (m->first + 1) % NAV_MOTION_HELD_MAX;
        --m->held;
        return true;
    }
    for (;;) {
        if (m->ended || !m->read(m->source, line)) {
            m->ended = true;
            return false;
        }
        if (m->wanted == 0 || !take(m, *line, false)) return true;
    }
}

void nav_motion_at(NavMotion* motion, int64_t utc_ms, PingMotion* values)
{
    *values = PingMotion{};
    if (motion->wanted == 0) return;
    read_on(motion, utc_ms);
    if ((motion->wanted & NAV_MOTION_WANT_ATTITUDE) != 0) {
        values->has_heave = value_at(motion, NAV_MOTION_HEAVE, utc_ms, &values->heave_m);
        values->has_roll = value_at(motion, NAV_MOTION_ROLL, utc_ms, &values->roll_degrees);
        values->has_pitch = value_at(motion, NAV_MOTION_PITCH, utc_ms, &values->pitch_degrees);
    }
    if ((motion->wanted & NAV_MOTION_WANT_HEADING) != 0) {
        values->has_heading = value_at(motion, NAV_MOTION_HEADING, utc_ms, &values->heading_degrees) ||
                              value_at(motion, NAV_MOTION_SENSOR_HEADING, utc_ms, &values->heading_degrees);
    }
    if ((motion->wanted & NAV_MOTION_WANT_HEIGHT) != 0) {
        values->has_height = value_at(motion, NAV_MOTION_ALTITUDE, utc_ms, &values->altitude_m) &&
                             value_at(motion, NAV_MOTION_SEPARATION, utc_ms, &values->geoid_separation_m);
    }
}
