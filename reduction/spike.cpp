#include "reduction/spike.h"

#include <algorithm>
#include <cmath>

namespace {

// Pings that are no neighbours and are not tested: flagged for a reason of their own. A spike stays a
// neighbour: the median does not heed it, and leaving it out would make the windows after it one-sided.
constexpr unsigned SET_ASIDE =
    REDUCTION_FLAG_NO_BOTTOM | REDUCTION_FLAG_REJECTED | REDUCTION_FLAG_GATE | REDUCTION_FLAG_LOW_QUALITY;

ReductionResult* held_at(SpikeStream* stream, int i)
{
    return &stream->held[(stream->first + i) % (2 * SPIKE_HALF_WINDOW_MAX + 1)];
}

bool usable(const ReductionResult* r) { return r->has_surface_depth && (r->flags & SET_ASIDE) == 0; }

double median_of(double* values, int count)
{
    std::sort(values, values + count);
    return count % 2 == 1 ? values[count / 2] : 0.5 * (values[count / 2 - 1] + values[count / 2]);
}

void decide(SpikeStream* stream, int i)
{
    ReductionResult* ping = held_at(stream, i);
    if (!usable(ping) || ping->edit == EDIT_ACCEPT) return;
    double values[2 * SPIKE_HALF_WINDOW_MAX + 1];
    int count = 0;
    int half = stream->settings.half_window;
    for (int j = std::max(0, i - half); j <= std::min(stream->count - 1, i + half); ++j) {
        const ReductionResult* neighbour = held_at(stream, j);
        if (usable(neighbour)) values[count++] = neighbour->surface_depth_m;
    }
    if (count - 1 < SPIKE_NEIGHBOURS_MIN) return;
    double median = median_of(values, count);  // of the window, the ping itself in it, so a step is no spike
    double threshold = std::max(stream->settings.threshold_m, stream->settings.threshold_share * std::fabs(median));
    if (std::fabs(ping->surface_depth_m - median) > threshold) ping->flags |= REDUCTION_FLAG_SPIKE;
}

// Decides the oldest undecided ping into out, and forgets what no later ping needs as a neighbour.
void decide_next(SpikeStream* stream, ReductionResult* out)
{
    decide(stream, stream->decided);
    *out = *held_at(stream, stream->decided);
    ++stream->decided;
    if (stream->decided > stream->settings.half_window) {
        stream->first = (stream->first + 1) % (2 * SPIKE_HALF_WINDOW_MAX + 1);
        --stream->count;
        --stream->decided;
    }
}

}  // namespace

void spike_settings_default(SpikeSettings* settings)
{
    settings->half_window = SPIKE_HALF_WINDOW_DEFAULT;
    settings->threshold_m = SPIKE_THRESHOLD_M_DEFAULT;
    settings->threshold_share = SPIKE_THRESHOLD_SHARE_DEFAULT;
}

void spike_start(SpikeStream* stream, const SpikeSettings* settings)
{
    stream->settings = *settings;
    stream->settings.half_window = std::min(std::max(settings->half_window, 1), SPIKE_HALF_WINDOW_MAX);
    stream->first = 0;
    stream->count = 0;
    stream->decided = 0;
}

bool spike_offer(SpikeStream* stream, const ReductionResult* in, ReductionResult* out)
{
    *held_at(stream, stream->count) = *in;
    ++stream->count;
    if (stream->count - stream->decided <= stream->settings.half_window) return false;
    decide_next(stream, out);
    return true;
}

bool spike_flush(SpikeStream* stream, ReductionResult* out)
{
    if (stream->decided == stream->count) return false;
    decide_next(stream, out);
    return true;
}
