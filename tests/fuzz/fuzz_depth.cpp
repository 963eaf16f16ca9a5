// Picks the bottom of any pings: the input's first two bytes give the range
// code and the blanking in tenths of a metre, the rest are pings of 8000
// samples (the last padded with zeros). Every ping gets one verdict, in order,
// and a depth only within the range, past the blanking, with a quality.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "depth/picker.h"

namespace {

uint8_t ping[PING_SAMPLE_COUNT];
int64_t next_verdict;

void check(const DepthResult* result, double range_m, double blanking_m)
{
    if (result->tag != next_verdict++) abort();
    if (!result->has_depth) {
        if (result->quality != 0 || result->depth_m != 0.0) abort();
        return;
    }
    if (result->quality < 1 || result->quality > 100) abort();
    if (!(result->depth_m >= blanking_m && result->depth_m <= range_m)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    double range_m = range_code_metres(input.ConsumeIntegral<uint8_t>());
    DepthSettings settings = {input.ConsumeIntegral<uint8_t>() / 10.0};
    DepthTracker tracker;
    depth_tracker_start(&tracker, &settings);
    next_verdict = 0;
    DepthResult result;
    for (int64_t tag = 0; input.remaining_bytes() > 0; ++tag) {
        memset(ping, 0, sizeof ping);
        input.ConsumeData(ping, sizeof ping);
        if (depth_tracker_offer(&tracker, ping, range_m, tag, &result)) check(&result, range_m, settings.blanking_m);
    }
    while (depth_tracker_flush(&tracker, &result)) check(&result, range_m, settings.blanking_m);
    return 0;
}
