#include "store/interval.h"

namespace {

int32_t published_average(int64_t block_sum)
{
    if (block_sum < 0) return 0;
    int64_t average = block_sum / INTERVAL_BLOCK_PINGS;
    if (average > INTERVAL_STALL_MS) return 0;
    return average > INTERVAL_CAP_MS ? INTERVAL_CAP_MS : static_cast<int32_t>(average);
}

}  // namespace

void interval_update(IntervalMeter* meter, const PlatPreciseTime* now)
{
    meter->previous = meter->current;
    meter->current = *now;
    int64_t interval = (meter->current.seconds - meter->previous.seconds) * 1000 +
                       (meter->current.milliseconds - meter->previous.milliseconds);
    meter->block_sum += interval;
    if (++meter->block_count < INTERVAL_BLOCK_PINGS) return;
    meter->block_count = 0;
    meter->ping_interval = published_average(meter->block_sum);
    meter->block_sum = 0;
}

void interval_update_now(IntervalMeter* meter)
{
    PlatPreciseTime now;
    plat_precise_time(&now);
    interval_update(meter, &now);
}
