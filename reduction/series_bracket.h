// Where a time falls in a series of samples at strictly later times: the
// sample on it, or the two around it, for the linear interpolation the water
// level and the motion tracks share.
#pragma once

#include <cstdint>

// time_of(i) is sample i's time, 0 <= i < count. True with *before the
// sample at or before utc_ms and *share the way from it to the next (0 on a
// sample); false before the first, after the last, or between two further
// than gap_max_ms apart.
template <typename TimeOf>
bool series_bracket(int count, TimeOf time_of, int64_t utc_ms, int64_t gap_max_ms, int* before, double* share)
{
    int low = 0, high = count;  // the first sample after utc_ms
    while (low < high) {
        int middle = (low + high) / 2;
        if (time_of(middle) <= utc_ms) low = middle + 1;
        else high = middle;
    }
    if (low == 0) return false;
    *before = low - 1;
    *share = 0.0;
    int64_t at = time_of(low - 1);
    if (at == utc_ms) return true;
    if (low == count || time_of(low) - at > gap_max_ms) return false;
    *share = static_cast<double>(utc_ms - at) / static_cast<double>(time_of(low) - at);
    return true;
}
