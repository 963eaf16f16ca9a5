// Following the bottom from ping to ping. A ping's pick is kept when it lies
// near where the bottom being followed is expected (its last depth, moved on
// by its recent slope), or, where it jumps, when the next pings agree with it
// (the seabed really stepped); otherwise the ping is a dropout, with no depth
// rather than a wrong one.
#include "depth/picker.h"

#include <cmath>

namespace {

// How far the bottom may move between two pings and still be the same bottom:
// this share of the range (0.9 m at 30 m), but never less than STEP_MIN_M. At
// survey speed a vessel moves about 0.2 m between pings at ten a second, so
// even a 45-degree slope moves the bottom by less; a fish school, a multiple or
// a bubble cloud lies metres away. The allowance grows with each ping between
// the two, as the bottom may have moved on meanwhile.
constexpr double STEP_SHARE = 0.03;
constexpr double STEP_MIN_M = 0.3;
// Pings without a depth after which the last depth given no longer says where
// the bottom is (two seconds at ten pings a second): past them every pick needs
// the next pings' agreement, as at the start of a file.
constexpr int TRACK_MEMORY = 20;
// The share of a pick's own quality, in percent, that its depth keeps when it is
// taken on the next pings' word alone, and when there was nothing at all to
// compare it with (the last ping of a file, no bottom being followed: a file of
// a single ping).
constexpr int CONFIRMED_PERCENT = 80;
constexpr int ALONE_PERCENT = 50;

double allowed_move(double range_m, int pings_apart)
{
    double step = STEP_SHARE * range_m;
    if (step < STEP_MIN_M) step = STEP_MIN_M;
    return step * pings_apart;
}

// Where the bottom followed is expected the given number of pings after its last depth.
double expected_bottom(const DepthTracker* tracker, int pings_after)
{
    return tracker->bottom_m + tracker->slope_m * pings_after;
}

// How many of the next pings have an echo, and how many of those lie near the oldest one's pick.
void count_agreeing(const DepthTracker* tracker, int* with_echo, int* agreeing)
{
    const DepthPending* oldest = &tracker->pending[0];
    *with_echo = 0;
    *agreeing = 0;
    for (int k = 1; k < tracker->pending_count; ++k) {
        const DepthEcho* next = &tracker->pending[k].echo;
        if (!next->found) continue;
        ++*with_echo;
        double expected = oldest->echo.distance_m + tracker->slope_m * k;
        if (std::fabs(next->distance_m - expected) <= allowed_move(oldest->range_m, k)) ++*agreeing;
    }
}

// The share of its quality the oldest pending pick keeps as a depth; 0 when it
// is a dropout. A jump from the bottom being followed counts only when every
// one of the next pings agrees with it, so a bubble cloud or a school under the
// vessel for a ping or two does not. Where no bottom is being followed (at the
// start, or after a long gap), a pick counts when the next pings with an echo
// all agree with it, and there is at least one.
int kept_percent(const DepthTracker* tracker)
{
    const DepthPending* oldest = &tracker->pending[0];
    if (!oldest->echo.found) return 0;
    int apart = tracker->pings_since_bottom + 1;
    if (tracker->bottom_known && std::fabs(oldest->echo.distance_m - expected_bottom(tracker, apart)) <=
                                     allowed_move(oldest->range_m, apart)) {
        return 100;
    }
    int next_pings = tracker->pending_count - 1, with_echo = 0, agreeing = 0;
    count_agreeing(tracker, &with_echo, &agreeing);
    bool confirmed = tracker->bottom_known ? next_pings > 0 && agreeing == next_pings
                                           : agreeing > 0 && agreeing == with_echo;
    if (confirmed) return CONFIRMED_PERCENT;
    if (!tracker->bottom_known && next_pings == 0) return ALONE_PERCENT;
    return 0;
}

// A depth given: the bottom followed from now on. Its slope is the mean of the
// last one and the move since the last depth, on the track only, and never
// beyond a ping's allowed move; after a step it starts again from level.
void follow(DepthTracker* tracker, const DepthPending* given, bool on_track)
{
    double slope = 0.0;
    if (on_track) {
        double limit = allowed_move(given->range_m, 1);
        double moved = (given->echo.distance_m - tracker->bottom_m) / (tracker->pings_since_bottom + 1);
        slope = (tracker->slope_m + (moved > limit ? limit : moved < -limit ? -limit : moved)) / 2;
    }
    tracker->bottom_known = true;
    tracker->bottom_m = given->echo.distance_m;
    tracker->slope_m = slope;
    tracker->pings_since_bottom = 0;
}

// Decides the oldest pending ping and drops it from the queue. A dropout's echo, where it had one, is kept aside.
void decide_oldest(DepthTracker* tracker, DepthResult* result)
{
    const DepthPending* oldest = &tracker->pending[0];
    *result = DepthResult{oldest->tag, false, 0.0, 0, false, 0.0, 0};
    int percent = kept_percent(tracker);
    if (percent > 0) {
        int quality = oldest->echo.quality * percent / 100;
        result->has_depth = true;
        result->depth_m = oldest->echo.distance_m;
        result->quality = quality < 1 ? 1 : quality;
        follow(tracker, oldest, percent == 100);
    } else {
        result->dropped = oldest->echo.found;
        result->dropped_m = oldest->echo.found ? oldest->echo.distance_m : 0.0;
        result->dropped_quality = oldest->echo.found ? oldest->echo.quality : 0;
        if (++tracker->pings_since_bottom > TRACK_MEMORY) {
            tracker->bottom_known = false;
            tracker->slope_m = 0.0;
        }
    }
    for (int k = 1; k < tracker->pending_count; ++k) tracker->pending[k - 1] = tracker->pending[k];
    --tracker->pending_count;
}

}  // namespace

void depth_tracker_start(DepthTracker* tracker, const DepthSettings* settings)
{
    *tracker = DepthTracker{};
    tracker->settings = *settings;
}

bool depth_tracker_offer(DepthTracker* tracker, const uint8_t samples[PING_SAMPLE_COUNT], double range_m,
                         int64_t tag, DepthResult* result)
{
    DepthPending* newest = &tracker->pending[tracker->pending_count++];
    depth_find_echo(samples, range_m, &tracker->settings, &newest->echo);
    newest->range_m = range_m;
    newest->tag = tag;
    if (tracker->pending_count <= DEPTH_LOOKAHEAD) return false;
    decide_oldest(tracker, result);
    return true;
}

bool depth_tracker_offer_record(DepthTracker* tracker, const RecordView* view, int64_t tag, DepthResult* result)
{
    return depth_tracker_offer(tracker, view->image + PING_IMAGE_SAMPLES, depth_range_of_record(view), tag, result);
}

bool depth_tracker_flush(DepthTracker* tracker, DepthResult* result)
{
    if (tracker->pending_count == 0) return false;
    decide_oldest(tracker, result);
    return true;
}
