#include "tools/qkvdump/ping_depth.h"

#include "platform/worker.h"

namespace {

void keep(PingDepthStage* stage, const DepthResult* result)
{
    stage->verdicts[stage->given % PING_DEPTH_VERDICTS] =
        result->dropped ? PingDepth{false, result->dropped_m, result->dropped_quality, true}
                        : PingDepth{result->has_depth, result->depth_m, result->quality, false};
    ++stage->given;
}

void pick_batch(PingDepthStage* stage, PingDepthBatch* batch)
{
    batch->verdicts = 0;
    for (int i = 0; i < batch->count; ++i) {
        DepthResult* result = &batch->results[batch->verdicts];
        if (depth_tracker_offer(&stage->tracker, batch->samples[i], batch->range_m[i], 0, result)) ++batch->verdicts;
    }
}

void keep_batch(PingDepthStage* stage, PingDepthBatch* batch)
{
    for (int i = 0; i < batch->verdicts; ++i) keep(stage, &batch->results[i]);
    batch->count = 0;
    batch->verdicts = 0;
}

// Waits for the batch in flight and keeps its verdicts.
void land(PingDepthStage* stage)
{
    if (!stage->in_flight) return;
    plat_worker_wait(stage->worker);
    stage->in_flight = false;
    keep_batch(stage, &stage->batches[stage->flying]);
}

// On the worker: the batch in flight through the tracker, which the main thread leaves alone meanwhile.
void pick_in_flight(void* context)
{
    PingDepthStage* stage = static_cast<PingDepthStage*>(context);
    pick_batch(stage, &stage->batches[stage->flying]);
}

// The batch gathered goes to the worker; the one before it lands first, as the tracker takes pings in order.
void launch(PingDepthStage* stage)
{
    land(stage);
    stage->flying = stage->filling;
    plat_worker_post(stage->worker, pick_in_flight, stage);
    stage->in_flight = true;
    stage->filling = 1 - stage->filling;
}

// The pings gathered, picked here: at a file's end, or where the verdict is wanted before its batch went.
void pick_gathered(PingDepthStage* stage)
{
    land(stage);
    PingDepthBatch* batch = &stage->batches[stage->filling];
    pick_batch(stage, batch);
    keep_batch(stage, batch);
}

}  // namespace

void ping_depth_begin(PingDepthStage* stage, const DepthSettings* settings)
{
    depth_tracker_start(&stage->tracker, settings);
    stage->worker = plat_worker_start();
    stage->filling = 0;
    stage->in_flight = false;
    stage->batches[0].count = stage->batches[1].count = 0;
    stage->given = 0;
    stage->taken = 0;
}

int ping_depth_ahead(const PingDepthStage* stage)
{
    return stage->worker != nullptr ? PING_DEPTH_AHEAD_MAX : DEPTH_LOOKAHEAD;
}

void ping_depth_arrive(PingDepthStage* stage, const RecordView* view)
{
    if (stage->worker == nullptr) {
        DepthResult result;
        if (depth_tracker_offer_record(&stage->tracker, view, 0, &result)) keep(stage, &result);
        return;
    }
    PingDepthBatch* batch = &stage->batches[stage->filling];
    batch->samples[batch->count] = view->image + PING_IMAGE_SAMPLES;
    batch->range_m[batch->count] = depth_range_of_record(view);
    if (++batch->count == PING_DEPTH_BATCH) launch(stage);
}

void ping_depth_file_end(PingDepthStage* stage)
{
    if (stage->worker != nullptr) pick_gathered(stage);
    DepthResult result;
    while (depth_tracker_flush(&stage->tracker, &result)) keep(stage, &result);
}

void ping_depth_next(PingDepthStage* stage, PingDepth* depth)
{
    if (stage->taken >= stage->given && stage->worker != nullptr) land(stage);
    if (stage->taken >= stage->given && stage->worker != nullptr) pick_gathered(stage);
    bool known = stage->taken < stage->given;
    *depth = known ? stage->verdicts[stage->taken % PING_DEPTH_VERDICTS] : PingDepth{false, 0.0, 0, false};
    if (known) ++stage->taken;
}

void ping_depth_end(PingDepthStage* stage)
{
    if (stage->worker == nullptr) return;
    land(stage);
    plat_worker_stop(stage->worker);
    stage->worker = nullptr;
}
