#include "tools/qkvdump/picture_filter.h"

#include <cstdlib>

namespace {

// The predictor of the Paeth filter: whichever of left, above and upper left
// is nearest to left + above - upper left, in that order on a tie.
inline int paeth(int left, int above, int upper_left)
{
    int estimate = left + above - upper_left;
    int to_left = abs(estimate - left);
    int to_above = abs(estimate - above);
    int to_upper_left = abs(estimate - upper_left);
    if (to_left <= to_above && to_left <= to_upper_left) return left;
    return to_above <= to_upper_left ? above : upper_left;
}

inline int prediction(PictureFilter filter, int left, int above, int upper_left)
{
    switch (filter) {
    case FILTER_SUB: return left;
    case FILTER_UP: return above;
    case FILTER_AVERAGE: return (left + above) / 2;
    case FILTER_PAETH: return paeth(left, above, upper_left);
    default: return 0;
    }
}

// The magnitude of a filtered byte read as a signed number.
inline unsigned magnitude(int difference)
{
    int value = static_cast<int8_t>(static_cast<uint8_t>(difference));
    return static_cast<unsigned>(value < 0 ? -value : value);
}

}  // namespace

void picture_filter_apply(PictureFilter filter, const uint8_t* row, const uint8_t* previous, size_t size,
                          uint8_t* out, size_t pixel_bytes)
{
    for (size_t i = 0; i < size; ++i) {
        int left = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
        int upper_left = i >= pixel_bytes ? previous[i - pixel_bytes] : 0;
        out[i] = static_cast<uint8_t>(row[i] - prediction(filter, left, previous[i], upper_left));
    }
}

PictureFilter picture_filter_choose(const uint8_t* row, const uint8_t* previous, size_t size, size_t pixel_bytes)
{
    unsigned long sums[FILTER_COUNT] = {};
    for (size_t i = 0; i < size; ++i) {
        int value = row[i];
        int left = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
        int above = previous[i];
        int upper_left = i >= pixel_bytes ? previous[i - pixel_bytes] : 0;
        sums[FILTER_NONE] += magnitude(value);
        sums[FILTER_SUB] += magnitude(value - left);
        sums[FILTER_UP] += magnitude(value - above);
        sums[FILTER_AVERAGE] += magnitude(value - (left + above) / 2);
        sums[FILTER_PAETH] += magnitude(value - paeth(left, above, upper_left));
    }
    int best = FILTER_NONE;
    for (int filter = FILTER_SUB; filter < FILTER_COUNT; ++filter) {
        if (sums[filter] < sums[best]) best = filter;
    }
    return static_cast<PictureFilter>(best);
}
