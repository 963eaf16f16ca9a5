// Spikes: a sounding that stands off the median of its neighbours, the pings
// around it. Reduced pings are offered as they come, to the live view and the
// exports alike; each is decided once the half window of pings after it has
// come, so a ping's flag comes that many pings after the ping itself, and
// spike_flush gives the last ones at the end.
//
// A ping is tested on its depth below the water surface (tide-free, heave
// removed), against the median of the window around it: itself and the pings
// within the half window on either side that have such a depth and are not
// flagged otherwise (no bottom, rejected, outside the gates, low quality).
// It is a spike when it stands off that median by more than the larger of
// threshold_m and threshold_share of the median, with at least
// SPIKE_NEIGHBOURS_MIN neighbours to go by. With the ping itself in the
// window, the first ping past a step of the seabed has the step's side as
// its median and is no spike. At a stream's start and end the window is
// one-sided: on a slope of s metres a ping its median lags by up to
// half_window * s / 2 there. A ping an edit accepted is never a spike.
#pragma once

#include "reduction/reduction.h"

constexpr int SPIKE_HALF_WINDOW_MAX = 25;
constexpr int SPIKE_HALF_WINDOW_DEFAULT = 5;           // half a second each side at ten pings a second
constexpr double SPIKE_THRESHOLD_M_DEFAULT = 0.5;
constexpr double SPIKE_THRESHOLD_SHARE_DEFAULT = 0.05;
constexpr int SPIKE_NEIGHBOURS_MIN = 4;

struct SpikeSettings {
    int half_window;         // 1 to SPIKE_HALF_WINDOW_MAX pings on either side
    double threshold_m;
    double threshold_share;  // of the neighbours' median depth
};

struct SpikeStream {
    SpikeSettings settings;
    ReductionResult held[2 * SPIKE_HALF_WINDOW_MAX + 1];  // a ring: decided pings kept as neighbours, then undecided
    int first;    // the oldest held
    int count;
    int decided;  // of those held, the first decided
};

void spike_settings_default(SpikeSettings* settings);
void spike_start(SpikeStream* stream, const SpikeSettings* settings);
// Offers the next reduced ping; true, with out filled, when this decides the
// ping offered half_window offers ago.
bool spike_offer(SpikeStream* stream, const ReductionResult* in, ReductionResult* out);
// After the last ping: true, with out filled, while pings remain undecided, in the order offered.
bool spike_flush(SpikeStream* stream, ReductionResult* out);
