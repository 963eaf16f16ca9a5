// headsim's survey vessel: out along its heading, a half turn to starboard,
// back one line spacing over, and round again; or one straight run.
#include <gtest/gtest.h>

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
    VesselPlan plan = {50.0, 1.0, 90.0, 3600.0 / 1852.0, 0};
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
