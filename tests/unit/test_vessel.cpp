// headsim's survey vessel: out along its heading, a half turn to starboard,
// back one line spacing over, and round again; or one straight run. Its
// transducer off the antenna, its heave, and the sea's tide and speed of
// sound, each against a figure worked out by hand.
#include <gtest/gtest.h>

#include "tools/headsim/sea.h"
#include "tools/headsim/vessel.h"

namespace {

struct Place {
    double seconds;
    double line_length_m;
    double east_m, north_m, course;
};

// Heading east at a metre a second on lines of 100 m: the turns are half circles of 10 m radius, 31.4 m long.
const Place PLACES[] = {
    {0, 100, 0, 0, 90},
    {50, 100, 50, 0, 90},
    {100 + 15.708, 100, 110, -10, 180},            // half-way round the first turn, heading south
    {100 + 31.416 + 50, 100, 50, -20, 270},        // half-way back along the second line
    {200 + 31.416 + 15.708, 100, -10, -30, 180},   // half-way round the second turn, to port
    {200 + 2 * 31.416, 100, 0, -40, 90},           // out again, two spacings over
    {500, 0, 500, 0, 90},                          // one straight run
};

}  // namespace

TEST(Vessel, RunsBackAndForthAlongLines)
{
    VesselPlan plan = {50.0, 1.0, 90.0, 3600.0 / 1852.0, 0, 0, 0, 0, 0, 8.0};
    for (const Place& place : PLACES) {
        plan.line_length_m = place.line_length_m;
        VesselFix fix;
        vessel_at(&plan, place.seconds, &fix);
        EXPECT_NEAR(place.east_m, fix.east_m, 0.01) << place.seconds;
        EXPECT_NEAR(place.north_m, fix.north_m, 0.01) << place.seconds;
        EXPECT_NEAR(place.course, fix.course, 0.1) << place.seconds;
        EXPECT_NEAR(50.0 + place.north_m / 111120.0, fix.latitude, 1e-7) << place.seconds;
    }
}

// The figures: the transducer 3 m ahead and 1 m to starboard of the antenna, heading east and then south half-way
// round the first turn; a swell of 0.4 m over 8 s; a tide of mean 1.8 m, 1.2 m at 40 degrees and 0.4 m at 100
// degrees (at 1970's start cos(-40) and cos(-100)); sound through 1500 m/s at the surface slowing to 1450 at 10 m
// (ln(1450 / 1500) / -5 + 10 / 1450 seconds to 20 m), and through uniform water of 1450 m/s.
TEST(Vessel, TransducerSwellTideAndSound)
{
    VesselPlan plan = {50.0, 1.0, 90.0, 3600.0 / 1852.0, 100, 0.5, 3.0, 1.0, 0.4, 8.0};
    VesselFix east, south, east_transducer, south_transducer;
    vessel_at(&plan, 0, &east);
    vessel_at(&plan, 100 + 5 * 3.14159265358979, &south);  // a quarter of the way round
    vessel_transducer_at(&plan, &east, &east_transducer);
    vessel_transducer_at(&plan, &south, &south_transducer);
    VesselMotion motion[3];
    for (int i = 0; i < 3; ++i) vessel_motion_at(&plan, 2.0 + 4 * i, &motion[i]);
    SeaPlan tide = {true, 1.8, {1.2, 0.4}, {40, 100}, "chart datum", 0, {}, {}};
    SeaPlan layered = {false, 0, {}, {}, "", 2, {0, 10}, {1500, 1450}};
    SeaPlan uniform = {false, 0, {}, {}, "", 1, {0}, {1450}};
    const struct { const char* what; double got, expected; } figures[] = {
        {"east of the antenna", east_transducer.east_m, 3.0},
        {"north of it", east_transducer.north_m, -1.0},
        {"its latitude", east_transducer.latitude, 49.9999910007},
        {"east in the turn", south_transducer.east_m, 109.0},
        {"north in the turn", south_transducer.north_m, -13.0},
        {"heave up", motion[0].heave_m, 0.4},
        {"heave down", motion[1].heave_m, -0.4},
        {"heave up again", motion[2].heave_m, 0.4},
        {"level in 1970", sea_level_at(&tide, 0), 2.6497941},
        {"level 2026-12-08T09:00Z", sea_level_at(&tide, 1796720400000LL), 1.4567237},
        {"no tide", sea_level_at(&layered, 1796720400000LL), 0.0},
        {"echo to 20 m", sea_echo_m(&layered, 0, 20), 20.5152931},
        {"echo from 5 m", sea_echo_m(&layered, 5, 20), 15.4731576},
        {"uniform water", sea_echo_m(&uniform, 0.5, 20.5), 20.6896552},
        {"nominal water", sea_echo_m(&tide, 0.5, 20.5), 20.0},
        {"above the transducer", sea_echo_m(&layered, 5, 4), -1.0},
    };
    for (const auto& figure : figures) EXPECT_NEAR(figure.expected, figure.got, 5e-7) << figure.what;
}
