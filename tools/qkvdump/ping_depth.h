// The depth of every ping qkvdump exports: the bottom picker run over the
// pings as the run reads them, its verdicts kept until the run hands the
// pings on, in the order read. The picker decides a ping only
// DEPTH_LOOKAHEAD pings later; with a worker thread it picks batches of pings
// beside the main thread's reading and listing, so the run holds two batches
// more back (ping_depth_ahead). The tracker is flushed at the end of each
// file.
#pragma once

#include <cstdint>

#include "depth/picker.h"
#include "store/record.h"
#include "tools/qkvdump/ping_export.h"

struct PlatWorker;

constexpr int PING_DEPTH_BATCH = 64;  // pings picked together on the worker: few waits, little memory
constexpr int PING_DEPTH_AHEAD_MAX = 2 * PING_DEPTH_BATCH + DEPTH_LOOKAHEAD;
// Verdicts given and not yet taken: at most the pings held back and the one being handed on.
constexpr int PING_DEPTH_VERDICTS = PING_DEPTH_AHEAD_MAX + 2;

// Pings handed to the picker together, and the verdicts it gave on them.
struct PingDepthBatch {
    int count;
    const uint8_t* samples[PING_DEPTH_BATCH];
    double range_m[PING_DEPTH_BATCH];
    int verdicts;
    DepthResult results[PING_DEPTH_BATCH];
};

struct PingDepthStage {
    DepthTracker tracker;  // the worker's while a batch is in flight, else the main thread's
    PlatWorker* worker;    // null: the picker runs on the main thread, ping by ping
    PingDepthBatch batches[2];
    int filling;           // the batch gathering pings; the other may be in flight
    bool in_flight;
    int flying;            // the batch in flight
    PingDepth verdicts[PING_DEPTH_VERDICTS];
    long given;  // verdicts given so far
    long taken;  // and taken
};

// Starts the picker, on a worker thread when one can be had.
void ping_depth_begin(PingDepthStage* stage, const DepthSettings* settings);
// The pings the run must hold back behind the one it hands on.
int ping_depth_ahead(const PingDepthStage* stage);
// The next ping read: its samples stay where they are until it is handed on.
void ping_depth_arrive(PingDepthStage* stage, const RecordView* view);
// After a file's last ping: the pings still undecided get their verdicts.
void ping_depth_file_end(PingDepthStage* stage);
// The verdict on the next ping handed on, in the order they arrived.
void ping_depth_next(PingDepthStage* stage, PingDepth* depth);
// Ends the worker.
void ping_depth_end(PingDepthStage* stage);
