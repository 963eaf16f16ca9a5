// The sea over headsim's seabed: its surface, which a tide moves up and down
// over the hours above a named datum, and its speed of sound, uniform or in
// layers, which sets when the bottom's echo comes back. Plain functions of
// the plan and a time or a depth. They are worked out here from the physics
// alone, apart from the reduction that the tools apply, so that the truth
// headsim writes checks that reduction rather than repeating it.
#pragma once

#include <cstddef>
#include <cstdint>

// The speed of sound the simulated head's ranges assume: it is sent no speed,
// and gives its samples at equal steps of time, each step range / 8000 metres
// at this speed (the field's convention for echo sounders).
constexpr double SEA_HEAD_SPEED_M_S = 1500.0;
constexpr int SEA_HARMONICS = 2;       // the principal lunar and solar semi-diurnal tides
constexpr int SEA_PROFILE_POINTS_MAX = 16;
constexpr int SEA_DATUM_SIZE = 32;
// A tide gauge's interval: the levels written every six minutes.
constexpr int64_t SEA_GAUGE_INTERVAL_MS = 6 * 60 * 1000;

struct SeaPlan {
    bool tide;                          // false: the surface is the reference, level 0
    double mean_level_m;                // the mean surface above the datum
    double amplitude_m[SEA_HARMONICS];  // of the 12.42 h and the 12 h tide
    double phase_degrees[SEA_HARMONICS];
    char datum[SEA_DATUM_SIZE];         // the datum's name
    int speed_points;                   // 0: the water is at SEA_HEAD_SPEED_M_S
    double speed_depth_m[SEA_PROFILE_POINTS_MAX];  // below the surface, deeper one by one
    double speed_m_s[SEA_PROFILE_POINTS_MAX];
};

// The surface above the datum at a UTC time (ms since 1970): the mean plus
// each harmonic, amplitude x cos(speed x hours since 1970 - phase); 0 without a tide.
double sea_level_at(const SeaPlan* plan, int64_t utc_ms);
// The speed of sound at a depth below the surface: linear between the
// profile's points, the first point's above it, the last point's below.
double sea_speed_at(const SeaPlan* plan, double depth_m);
// The distance the head gives for an echo from to_m heard at from_m (depths
// below the surface): the sound's one-way time between them at the sea's
// speeds, times SEA_HEAD_SPEED_M_S.
double sea_echo_m(const SeaPlan* plan, double from_m, double to_m);
