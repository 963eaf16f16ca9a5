// The ping interval meter, driven by injected clock readings.
#include <gtest/gtest.h>

#include "store/interval.h"

namespace {

// A meter fed one reading per ping, starting at a realistic wall-clock time.
struct MeterRun {
    IntervalMeter meter = {};
    int64_t now_ms = 1796634300000;  // 7 Dec 2026

    void ping_after(int64_t milliseconds)
    {
        now_ms += milliseconds;
        PlatPreciseTime reading{now_ms / 1000, static_cast<int>(now_ms % 1000)};
        interval_update(&meter, &reading);
    }
    void pings(int count, int64_t every_ms)
    {
        for (int i = 0; i < count; ++i) ping_after(every_ms);
    }
};

}  // namespace

// The first block spans the time since the epoch and publishes 0; the second the real average.
TEST(IntervalMeter, FirstBlockPublishesZero)
{
    MeterRun run;
    run.pings(9, 150);
    EXPECT_EQ(0, run.meter.ping_interval);
    run.ping_after(150);
    EXPECT_EQ(0, run.meter.ping_interval);
    run.pings(9, 150);
    EXPECT_EQ(0, run.meter.ping_interval);  // unchanged inside a block
    run.ping_after(150);
    EXPECT_EQ(150, run.meter.ping_interval);
}

// Slow pings are capped at 2000 ms.
TEST(IntervalMeter, CapsAt2000)
{
    MeterRun run;
    run.pings(10, 2500);
    run.pings(10, 2500);
    EXPECT_EQ(2000, run.meter.ping_interval);
}

// A 101 s stall makes the average 10190, published as 0; a 95 s stall averages 9590, published as 2000.
TEST(IntervalMeter, StallsAboveTenSecondsPublishZero)
{
    MeterRun run;
    run.pings(10, 100);
    run.pings(9, 100);
    run.ping_after(101000);
    EXPECT_EQ(0, run.meter.ping_interval);

    MeterRun other;
    other.pings(10, 100);
    other.pings(4, 100);
    other.ping_after(95000);
    other.pings(5, 100);
    EXPECT_EQ(2000, other.meter.ping_interval);
}

// An average of exactly 10000 is still capped to 2000; 10001 publishes 0.
TEST(IntervalMeter, StallBoundary)
{
    MeterRun run;
    run.pings(10, 100);
    run.pings(10, 10000);
    EXPECT_EQ(2000, run.meter.ping_interval);
    run.pings(10, 10001);
    EXPECT_EQ(0, run.meter.ping_interval);
    run.pings(10, 320);
    EXPECT_EQ(320, run.meter.ping_interval);
}

// The clock set back an hour makes the block's sum negative, which publishes 0.
TEST(IntervalMeter, ClockSetBackPublishesZero)
{
    MeterRun run;
    run.pings(20, 200);
    EXPECT_EQ(200, run.meter.ping_interval);
    run.pings(5, 200);
    run.ping_after(-3600 * 1000);
    run.pings(4, 200);
    EXPECT_EQ(0, run.meter.ping_interval);
}

// Millisecond borrows across whole seconds are counted exactly.
TEST(IntervalMeter, MillisecondsBorrowAcrossSeconds)
{
    MeterRun run;
    run.now_ms = 1796634300990;
    run.pings(10, 15);
    run.pings(10, 15);
    EXPECT_EQ(15, run.meter.ping_interval);
}
