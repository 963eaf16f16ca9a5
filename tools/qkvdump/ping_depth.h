// The depth of every ping qkvdump exports: the bottom picker run over the
// pings as the scanner reads them ahead (store/scan.h), its verdicts kept
// until the pings are listed, in the order read. The picker decides a ping
// only DEPTH_LOOKAHEAD pings later; with a worker thread it picks batches of
// pings beside the main thread's listing, so the scanner reads two batches
// further ahead. The tracker is flushed at the end of each file.
#pragma once

#include <cstdint>

#include "depth/picker.h"
#include "store/record.h"

constexpr int PING_DEPTH_BATCH = 64;  // pings picked together on the worker: few waits, little memory
constexpr int PING_DEPTH_AHEAD_MAX = 2 * PING_DEPTH_BATCH + DEPTH_LOOKAHEAD;

// What the exports give of a ping's depth.
struct PingDepth {
    bool known;
    double distance_m;  // the picked bottom below the transducer
    int quality;        // 1 to 100 with a depth, 0 without
};

// Starts the picker, on a worker thread when one can be had.
void ping_depth_begin(const DepthSettings* settings);
// The records the scanner must read ahead of the one it lists.
int ping_depth_ahead();
// The next ping read: its samples stay where they are until it is listed.
void ping_depth_arrive(const RecordView* view);
// After a file's last ping: the pings still undecided get their verdicts.
void ping_depth_file_end();
// The verdict on the next ping listed, in the order they arrived.
void ping_depth_next(PingDepth* depth);
// Ends the worker.
void ping_depth_end();
