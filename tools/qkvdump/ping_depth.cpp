#include "tools/qkvdump/ping_depth.h"

#include "platform/worker.h"

namespace {

// Pings handed to the picker together, and the verdicts it gave on them.
struct Batch {
    int count;
    const uint8_t* samples[PING_DEPTH_BATCH];
    double range_m[PING_DEPTH_BATCH];
    int verdicts;
    DepthResult results[PING_DEPTH_BATCH];
};

// Verdicts given and not yet taken: at most the pings waiting in the scanner's ring and the one being listed.
constexpr int VERDICTS = PING_DEPTH_AHEAD_MAX + 2;

struct Stage {
    DepthTracker tracker;  // the worker's while a batch is in flight, else the main thread's
    PlatWorker* worker;    // null: the picker runs on the main thread, ping by ping
    Batch batches[2];
    int filling;           // the batch gathering pings; the other may be in flight
    bool in_flight;
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

void pick_batch(void* context)
{
    Batch* batch = static_cast<Batch*>(context);
    batch->verdicts = 0;
    for (int i = 0; i < batch->count; ++i) {
        DepthResult* result = &batch->results[batch->verdicts];
        if (depth_tracker_offer(&stage.tracker, batch->samples[i], batch->range_m[i], 0, result)) ++batch->verdicts;
    }
}

void keep_batch(Batch* batch)
{
    for (int i = 0; i < batch->verdicts; ++i) keep(&batch->results[i]);
    batch->count = 0;
    batch->verdicts = 0;
}

// Waits for the batch in flight and keeps its verdicts.
void land()
{
    if (!stage.in_flight) return;
    plat_worker_wait(stage.worker);
    stage.in_flight = false;
    keep_batch(&stage.batches[1 - stage.filling]);
}

// The batch gathered goes to the worker; the one before it lands first, as the tracker takes pings in order.
void launch()
{
    land();
    Batch* batch = &stage.batches[stage.filling];
    plat_worker_post(stage.worker, pick_batch, batch);
    stage.in_flight = true;
    stage.filling = 1 - stage.filling;
}

// The pings gathered, picked here: at a file's end, or where the verdict is wanted before its batch went.
void pick_gathered()
{
    land();
    Batch* batch = &stage.batches[stage.filling];
    pick_batch(batch);
    keep_batch(batch);
}

}  // namespace

void ping_depth_begin(const DepthSettings* settings)
{
    depth_tracker_start(&stage.tracker, settings);
    stage.worker = plat_worker_start();
    stage.filling = 0;
    stage.in_flight = false;
    stage.batches[0].count = stage.batches[1].count = 0;
    stage.given = 0;
    stage.taken = 0;
}

int ping_depth_ahead()
{
    return stage.worker != nullptr ? PING_DEPTH_AHEAD_MAX : DEPTH_LOOKAHEAD;
}

void ping_depth_arrive(const RecordView* view)
{
    if (stage.worker == nullptr) {
        DepthResult result;
        if (depth_tracker_offer_record(&stage.tracker, view, 0, &result)) keep(&result);
        return;
    }
    Batch* batch = &stage.batches[stage.filling];
    batch->samples[batch->count] = view->image + PING_IMAGE_SAMPLES;
    batch->range_m[batch->count] = depth_range_of_record(view);
    if (++batch->count == PING_DEPTH_BATCH) launch();
}

void ping_depth_file_end()
{
    if (stage.worker != nullptr) pick_gathered();
    DepthResult result;
    while (depth_tracker_flush(&stage.tracker, &result)) keep(&result);
}

void ping_depth_next(PingDepth* depth)
{
    if (stage.taken >= stage.given && stage.worker != nullptr) land();
    if (stage.taken >= stage.given && stage.worker != nullptr) pick_gathered();
    *depth = stage.taken < stage.given ? stage.verdicts[stage.taken % VERDICTS] : PingDepth{false, 0.0, 0};
    if (stage.taken < stage.given) ++stage.taken;
}

void ping_depth_end()
{
    if (stage.worker == nullptr) return;
    land();
    plat_worker_stop(stage.worker);
    stage.worker = nullptr;
}
