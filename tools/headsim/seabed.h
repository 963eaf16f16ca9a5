// The seabed under headsim's vessel and what its head hears of it: a depth that
// varies smoothly with position (shoals and slopes), fish schools here and there
// in mid-water, bursts of aerated water that hide the bottom, and the echo of a
// ping made of them over noise, the surface's reverberation and the
// transducer's ring. Plain functions of a seed, a position and the ping's time:
// the same arguments always give the same ping.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"
#include "tools/headsim/vessel.h"

constexpr int SEABED_FISH_MAX = 16;

struct SeabedPing {
    double range_m;
    bool has_bottom;         // false in aerated water (bubbles under the hull) or without a range
    double depth_m;          // the bottom below the transducer; 0 without one
    double hardness;         // 0 (soft mud) to 1 (rock): how strongly it echoes
    double school_top_m;     // the fish school the beam passes through; both 0 when none
    double school_bottom_m;
    int fish_count;
    double fish_m[SEABED_FISH_MAX];
    double fish_strength[SEABED_FISH_MAX];
};

// The ping at a fix of the vessel. ping_ms, the ping's time on the survey's
// clock, chooses the bursts of aerated water and the fish of a school.
void seabed_ping(uint32_t seed, const VesselFix* fix, int64_t ping_ms, double range_m, SeabedPing* ping);
// Its samples as the head sends them at a gain in dB.
void seabed_samples(const SeabedPing* ping, uint32_t seed, int64_t ping_ms, int gain,
                    uint8_t samples[PING_SAMPLE_COUNT]);
