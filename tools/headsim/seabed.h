// The seabed under headsim's vessel and what its head hears of it: a depth that
// varies smoothly with position (shoals and slopes), fish schools here and there
// in mid-water, bursts of aerated water that hide the bottom, and the echo of a
// ping made of them over noise, the surface's reverberation and the
// transducer's ring. Plain functions of a seed, a position and the ping's time:
// the same arguments always give the same ping.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"
#include "tools/headsim/sea.h"
#include "tools/headsim/vessel.h"

constexpr int SEABED_FISH_MAX = 16;

// Where the transducer hears the seabed from: what turns the seabed's depth
// below the reference (the datum, or the surface) into the echo's distance.
struct SeabedWater {
    const SeaPlan* sea;       // its speed of sound
    double level_m;           // the surface above the reference at the ping
    double transducer_m;      // the transducer below the surface: the draft less the heave
    uint32_t spike_one_in;    // about one ping in this many with a bottom echoes at a false distance; 0: none
};

struct SeabedPing {
    double range_m;
    // false in aerated water (bubbles under the hull), without a range, or
    // where the bottom's echo lies outside the ping (above the transducer, past the range)
    bool has_bottom;
    double reduced_m;        // the bottom below the reference; 0 without one
    double depth_m;          // the bottom below the transducer; 0 without one
    double echo_m;           // where the echo puts it: its time at the head's nominal speed of sound
    bool spike;              // the echo comes from a false distance
    double hardness;         // 0 (soft mud) to 1 (rock): how strongly it echoes
    double school_top_m;     // the fish school the beam passes through; both 0 when none
    double school_bottom_m;
    int fish_count;
    double fish_m[SEABED_FISH_MAX];
    double fish_strength[SEABED_FISH_MAX];
};

// The seabed below the datum at a place east and north of the survey's start, for a ping of that range.
double seabed_depth(uint32_t seed, double east_m, double north_m, double range_m);
// The ping at the transducer's fix. ping_ms, the ping's time on the survey's
// clock, chooses the bursts of aerated water, the spikes and the fish of a school.
void seabed_ping(uint32_t seed, const VesselFix* fix, int64_t ping_ms, double range_m, const SeabedWater* water,
                 SeabedPing* ping);
// Its samples as the head sends them at a gain in dB.
void seabed_samples(const SeabedPing* ping, uint32_t seed, int64_t ping_ms, int gain,
                    uint8_t samples[PING_SAMPLE_COUNT]);
