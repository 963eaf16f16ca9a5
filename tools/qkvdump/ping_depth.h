// The depth of every ping qkvdump exports: the bottom picker run over the
// pings as the scanner reads them ahead (store/scan.h), its verdicts kept
// until the pings are listed, in the order read. The picker decides a ping
// only DEPTH_LOOKAHEAD pings later, so the scanner reads that far ahead; the
// tracker is flushed at the end of each file.
#pragma once

#include "depth/picker.h"
#include "store/record.h"

constexpr int PING_DEPTH_AHEAD = DEPTH_LOOKAHEAD;

// What the exports give of a ping's depth.
struct PingDepth {
    bool known;
    double distance_m;  // the picked bottom below the transducer
    int quality;        // 1 to 100 with a depth, 0 without
};

void ping_depth_begin(const DepthSettings* settings);
// The next ping read.
void ping_depth_arrive(const RecordView* view);
// After a file's last ping: the pings still undecided get their verdicts.
void ping_depth_file_end();
// The verdict on the next ping listed, in the order they arrived.
void ping_depth_next(PingDepth* depth);
