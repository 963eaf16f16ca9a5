// The speed of sound in the water: what it makes of a distance the head
// measured at its nominal speed, as a constant speed (from a bar check) or
// through the layers of a cast's profile, and the profile's CSV text as
// sound-velocity probes export it.
//
// The head gives each sample at its time after the ping times half the
// nominal speed. A constant speed c scales a distance: d = d_nominal * c /
// SOUND_SPEED_NOMINAL_M_S. A profile is worked through by travel time: the
// one-way time t = d_nominal / SOUND_SPEED_NOMINAL_M_S is spent going down
// from the transducer's depth through the profile's layers, in each of which
// the speed changes linearly with depth; above the cast's first point its
// speed holds, below its last point the last speed does.
#pragma once

#include <cstddef>

#include "reduction/fields.h"

// The speed of sound the head's ranges assume, the field's convention.
constexpr double SOUND_SPEED_NOMINAL_M_S = 1500.0;
// The speeds taken, from a file or a bar check: water lies between about 1400
// (fresh, near freezing) and 1560 m/s (the warmest, saltiest, deepest sea);
// a speed outside these bounds is in other units (ft/s, km/h) or is no speed.
constexpr double SOUND_SPEED_MIN_M_S = 1300.0;
constexpr double SOUND_SPEED_MAX_M_S = 1800.0;
// The deepest point taken: deeper than any sea.
constexpr double SOUND_SPEED_DEPTH_MAX_M = 12000.0;
// The points of a profile held: a 100 m cast sampled every 5 cm, down and up.
constexpr int SOUND_SPEED_POINTS_MAX = 4096;

struct SoundSpeedPoint {
    double depth_m;    // below the water surface
    double speed_m_s;
    double time_s;     // one-way travel time from the surface down to this point
};

struct SoundSpeedProfile {
    int count;
    SoundSpeedPoint point[SOUND_SPEED_POINTS_MAX];  // by depth, strictly deeper one by one
    // The header, once read.
    bool header_read;
    bool header_missed;   // a line was said not to be the header: the lines after it are tried quietly
    char separator;
    int depth_column;
    int speed_column;
    long last_line;  // of the latest point taken
};

void sound_speed_profile_start(SoundSpeedProfile* profile);
// One line of the CSV (without or with its line end), numbered from 1. The
// first line that is neither blank nor a comment is the header; the first line
// that is not is said, and the lines after it tried as the header quietly.
FieldsVerdict sound_speed_take_line(SoundSpeedProfile* profile, const char* line, long number,
                                    FieldsProblem* problem);
// After the last line: false, said, when the text gave no header or no point.
bool sound_speed_finish(SoundSpeedProfile* profile, FieldsProblem* problem);
// A whole text: each bad line said through say; false when no profile can be had (said too).
bool sound_speed_read(SoundSpeedProfile* profile, const char* text, size_t size, FieldsSay say, void* context);

// A profile of the points given, as a file of them would make it; false when
// they are not one (fewer than one point, shallower one by one, out of bounds).
bool sound_speed_profile_of(SoundSpeedProfile* profile, const double* depths_m, const double* speeds_m_s, int count);

// A distance measured at the nominal speed, at speed_m_s.
double sound_speed_scaled(double distance_m, double speed_m_s);
// The same distance through the profile's layers, going down from start_depth_m
// (the transducer's depth below the surface): the distance below that depth.
double sound_speed_through(const SoundSpeedProfile* profile, double start_depth_m, double distance_m);
