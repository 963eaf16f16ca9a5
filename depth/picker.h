// The bottom picker: the depth below the transducer of each ping, as an echo
// sounder finds it, for every tool that reads pings (the exports, the live
// views). Plain functions over small records and fixed buffers: nothing is
// allocated, nothing calls the operating system, and a ping is worked on
// where it lies.
//
// A ping is picked in two stages. depth_find_echo looks at one ping alone:
// past the blanking distance it finds the strongest echo that stays clear of
// the ping's noise for longer than a fish echoes and fades as the bottom does
// (a dense school ends sharply), and gives its leading edge.
// The tracker then follows the bottom from ping to ping: a pick far from the
// recent bottom counts only when the next pings agree with it (a real step of
// the seabed); otherwise the ping is a dropout and has no depth. So a ping's
// result comes DEPTH_LOOKAHEAD offers after the ping itself, and
// depth_tracker_flush gives the last ones at the end of a file.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"
#include "store/record.h"

// The near field skipped by default: the transducer rings after it sends and
// the water next to it echoes strongly, so nothing there is the bottom.
constexpr double DEPTH_BLANKING_DEFAULT_M = 0.5;
// Pings the tracker waits for before it decides a ping: a pick that jumps is
// kept only if these next pings agree with it.
constexpr int DEPTH_LOOKAHEAD = 2;

struct DepthSettings {
    double blanking_m;  // the near field skipped, in metres from the transducer
    double draft_m;     // the transducer's depth where known, 0 where not: a bottom's multiple lies that much further
};

// One ping's bottom-like echo, before tracking.
struct DepthEcho {
    bool found;
    double distance_m;  // its leading edge, in metres below the transducer
    int level;          // the level it sustains above the ping's noise, in sample counts
    int quality;        // 20 to 100 from its contrast with the noise; 0 when none was found
};

// The tracker's verdict on one ping.
struct DepthResult {
    int64_t tag;     // what the caller offered with the ping (a record number, a file offset)
    bool has_depth;  // false: no bottom, or a dropout
    double depth_m;  // below the transducer; 0 without a depth
    int quality;     // 1 to 100 with a depth; 0 without
    // A dropout's own pick, for those that flag a sounding rather than drop it (the reduction): an echo was found
    // but is not the bottom followed, and the next pings did not confirm it. 0 otherwise.
    bool dropped;
    double dropped_m;
    int dropped_quality;
};

struct DepthPending {
    DepthEcho echo;
    double range_m;
    int64_t tag;
};

// Everything the tracker keeps between pings: a few pings waiting for their
// look-ahead, and the bottom being followed.
struct DepthTracker {
    DepthSettings settings;
    DepthPending pending[DEPTH_LOOKAHEAD + 1];  // oldest first
    int pending_count;
    bool bottom_known;
    double bottom_m;         // the last depth given
    double slope_m;          // how far the bottom followed moves per ping, deeper positive
    int pings_since_bottom;  // pings decided since then
};

void depth_settings_default(DepthSettings* settings);

// The metres a ping's samples cover, from its record's range code (record byte 44):
// sample k lies at k * range / PING_SAMPLE_COUNT metres from the transducer.
inline double depth_range_of_record(const RecordView* view) { return range_code_metres(view->range_field); }

// One ping alone: its strongest bottom-like echo past the blanking distance.
void depth_find_echo(const uint8_t samples[PING_SAMPLE_COUNT], double range_m, const DepthSettings* settings,
                     DepthEcho* echo);

void depth_tracker_start(DepthTracker* tracker, const DepthSettings* settings);
// Offers the next ping (its PING_SAMPLE_COUNT samples and range); true, with
// result filled, when this decides the ping offered DEPTH_LOOKAHEAD offers ago.
bool depth_tracker_offer(DepthTracker* tracker, const uint8_t samples[PING_SAMPLE_COUNT], double range_m,
                         int64_t tag, DepthResult* result);
// The same for a parsed record.
bool depth_tracker_offer_record(DepthTracker* tracker, const RecordView* view, int64_t tag, DepthResult* result);
// After the last ping: true, with result filled, while pings remain undecided;
// one result per call, in the order offered. Pings offered afterwards go on
// following the same bottom (the next file of a survey); depth_tracker_start
// forgets it.
bool depth_tracker_flush(DepthTracker* tracker, DepthResult* result);
