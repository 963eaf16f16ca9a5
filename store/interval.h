// The ping interval meter: the average time between completed pings over
// blocks of ten, published at the end of each block.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int INTERVAL_BLOCK_PINGS = 10;
constexpr int32_t INTERVAL_CAP_MS = 2000;     // published intervals never exceed this
constexpr int64_t INTERVAL_STALL_MS = 10000;  // an average above this publishes 0

struct IntervalMeter {
    PlatPreciseTime previous;
    PlatPreciseTime current;  // both start at 0, so the first interval spans the epoch
    int64_t block_sum;        // milliseconds; negative when the clock was set back
    int block_count;          // 0 to 9
    int32_t ping_interval;    // milliseconds, 0 to 2000: the value the records carry
};

// Takes one reading for a completed ping and, at the end of a block of ten,
// publishes the block's average.
void interval_update(IntervalMeter* meter, const PlatPreciseTime* now);
void interval_update_now(IntervalMeter* meter);
