#include "tools/qkvdump/ping_depth.h"

namespace {

// Verdicts given and not yet taken: at most the pings waiting in the scanner's ring and the one being listed.
constexpr int VERDICTS = PING_DEPTH_AHEAD + 2;

struct Stage {
    DepthTracker tracker;
    PingDepth verdicts[VERDICTS];
    long given;  // verdicts given so far
    long taken;  // and taken
};

Stage stage;

void keep(const DepthResult* result)
{
    stage.verdicts[stage.given % VERDICTS] = PingDepth{result->has_depth, result->depth_m, result->quality};
    ++stage.given;
}

}  // namespace

void ping_depth_begin(const DepthSettings* settings)
{
    depth_tracker_start(&stage.tracker, settings);
    stage.given = 0;
    stage.taken = 0;
}

void ping_depth_arrive(const RecordView* view)
{
    DepthResult result;
    if (depth_tracker_offer_record(&stage.tracker, view, 0, &result)) keep(&result);
}

void ping_depth_file_end()
{
    DepthResult result;
    while (depth_tracker_flush(&stage.tracker, &result)) keep(&result);
}

void ping_depth_next(PingDepth* depth)
{
    *depth = stage.taken < stage.given ? stage.verdicts[stage.taken % VERDICTS] : PingDepth{false, 0.0, 0};
    if (stage.taken < stage.given) ++stage.taken;
}
