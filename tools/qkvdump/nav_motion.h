// What the .NAV lines say besides the fixes, joined to each ping by the
// lines' stamps as its position is (nav_join.h): a motion sensor's heave,
// roll, pitch and heading ($PASHR), a heading sensor's ($--HDT), and an RTK
// receiver's heights (GGA's altitude and geoid separation, of RTK fixed
// solutions alone: a float or a DGPS height is no water level). The lines
// reach the position join through here, each read once; the values of each
// sentence go into their tracks (reduction/motion.h) as it passes, stamped
// in UTC by its line's offset, and a ping's UTC time picks them out. An
// attitude or heading sentence taken goes no further: the join reads fixes.
//
// The join reads the lines only as far as the fix after a ping, and a sensor
// may send less often than the receiver, or after it in each second: where a
// track asked for has no sample at or after the ping yet, the lines are read
// on and held here for the join, until each has one or the lines have gone
// MOTION_GAP_MAX_MS past the ping.
#pragma once

#include <cstdint>

#include "navfile/nav_line.h"
#include "reduction/motion.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/ping_export.h"

// Lines held for the join: 1.5 s of a 100 Hz sensor and a 10 Hz receiver, and room to spare.
constexpr int NAV_MOTION_HELD_MAX = 1024;

enum NavMotionTrack {
    NAV_MOTION_HEAVE, NAV_MOTION_ROLL, NAV_MOTION_PITCH, NAV_MOTION_HEADING, NAV_MOTION_SENSOR_HEADING,
    NAV_MOTION_ALTITUDE, NAV_MOTION_SEPARATION, NAV_MOTION_TRACKS
};

// What is asked of the lines: bits.
constexpr unsigned NAV_MOTION_WANT_ATTITUDE = 1u << 0;  // heave, roll and pitch
constexpr unsigned NAV_MOTION_WANT_HEADING = 1u << 1;   // $--HDT, else $PASHR's
constexpr unsigned NAV_MOTION_WANT_HEIGHT = 1u << 2;    // RTK heights

struct NavMotion {
    NavLineRead read;  // the lines, as the join would read them
    void* source;
    unsigned wanted;
    MotionTrack track[NAV_MOTION_TRACKS];  // NAV_MOTION_HEADING is $--HDT's
    bool ended;        // the lines are all read
    bool any_stamp;
    int64_t last_utc_ms;  // the stamp of the line read last
    int first;            // held lines, a ring
    int held;
    char lines[NAV_MOTION_HELD_MAX][NAVFILE_LINE_SIZE + 2];
    long short_of_lines;  // pings for which the lines held filled before every track passed them
};

// The join reads through motion: nav_join_begin(join, nav_motion_next, motion).
void nav_motion_begin(NavMotion* motion, NavLineRead read, void* source, unsigned wanted);
bool nav_motion_next(void* motion, const char** line);
// The values at a ping's UTC time; each track not asked for, or with no sample close enough either side, is none.
void nav_motion_at(NavMotion* motion, int64_t utc_ms, PingMotion* values);
