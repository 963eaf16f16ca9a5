#include "tools/headsim/vessel.h"

#include <cmath>

namespace {

// Off the coast, steaming north-east at 4 knots along lines of 500 m.
const double START_LATITUDE = 51 + 6.9848 / 60;
const double START_LONGITUDE = 1 + 23.4567 / 60;
const double HEADING = 45.0;
const double KNOTS = 4.0;
const double LINE_LENGTH_M = 500.0;
const double METRES_PER_KNOT_SECOND = 1852.0 / 3600.0;
const double METRES_PER_DEGREE = 1852.0 * 60;  // a minute of latitude is a nautical mile
const double PI = 3.14159265358979323846;
// Roll's and pitch's periods as shares of the heave's.
const double ROLL_SHARE = 0.8;
const double PITCH_SHARE = 0.6;

// A point of the pattern in the survey's own frame: along the first line and to starboard of it.
struct Leg {
    double along;
    double across;
    double turned;  // degrees turned from the heading
};

// Where the lines and turns put the vessel after `travelled` metres.
Leg on_lines(double line, double travelled)
{
    double radius = VESSEL_LINE_SPACING_M / 2;
    double turn = PI * radius;
    double cycle = 2 * line + 2 * turn;
    double laps = std::floor(travelled / cycle);
    double q = travelled - laps * cycle;
    double base = laps * 2 * VESSEL_LINE_SPACING_M;
    if (q < line) return Leg{q, base, 0.0};
    q -= line;
    if (q < turn) {
        double angle = q / radius;  // a turn to starboard
        return Leg{line + radius * std::sin(angle), base + radius - radius * std::cos(angle), angle * 180 / PI};
    }
    q -= turn;
    if (q < line) return Leg{line - q, base + VESSEL_LINE_SPACING_M, 180.0};
    double angle = (q - line) / radius;  // and back to port
    return Leg{-radius * std::sin(angle), base + VESSEL_LINE_SPACING_M + radius - radius * std::cos(angle),
               180.0 - angle * 180 / PI};
}

// A point of the survey's flat chart, metres east and north of the start, and its latitude and longitude.
void place(const VesselPlan* plan, double east_m, double north_m, VesselFix* fix)
{
    fix->east_m = east_m;
    fix->north_m = north_m;
    fix->latitude = plan->start_latitude + north_m / METRES_PER_DEGREE;
    double longitude = plan->start_longitude + east_m / (METRES_PER_DEGREE * std::cos(fix->latitude * PI / 180));
    fix->longitude = std::fmod(longitude + 540.0, 360.0) - 180.0;  // across the date line, still -180 to 180
}

}  // namespace

void vessel_default_plan(VesselPlan* plan)
{
    *plan = VesselPlan{START_LATITUDE, START_LONGITUDE, HEADING, KNOTS, LINE_LENGTH_M, 0, 0, 0, 0,
                       VESSEL_HEAVE_PERIOD_S};
}

void vessel_place(const VesselPlan* plan, double latitude, double longitude, double* east_m, double* north_m)
{
    double east = std::fmod(longitude - plan->start_longitude + 540.0, 360.0) - 180.0;
    *north_m = (latitude - plan->start_latitude) * METRES_PER_DEGREE;
    *east_m = east * METRES_PER_DEGREE * std::cos(latitude * PI / 180);
}

void vessel_at(const VesselPlan* plan, double seconds, VesselFix* fix)
{
    double travelled = plan->knots * METRES_PER_KNOT_SECOND * (seconds > 0 ? seconds : 0);
    Leg leg = plan->line_length_m > 0 ? on_lines(plan->line_length_m, travelled) : Leg{travelled, 0.0, 0.0};
    double heading = plan->heading * PI / 180;
    place(plan, leg.along * std::sin(heading) + leg.across * std::cos(heading),
          leg.along * std::cos(heading) - leg.across * std::sin(heading), fix);
    fix->course = std::fmod(plan->heading + leg.turned + 360.0, 360.0);
    fix->knots = plan->knots;
}

void vessel_motion_at(const VesselPlan* plan, double seconds, VesselMotion* motion)
{
    double swell = 2 * PI * seconds / plan->heave_period_s;
    motion->heave_m = plan->heave_m * std::sin(swell);
    motion->roll_degrees = VESSEL_ROLL_A_METRE * plan->heave_m * std::sin(swell / ROLL_SHARE + 1.0);
    motion->pitch_degrees = VESSEL_PITCH_A_METRE * plan->heave_m * std::sin(swell / PITCH_SHARE + 2.0);
}

void vessel_transducer_at(const VesselPlan* plan, const VesselFix* antenna, VesselFix* transducer)
{
    double heading = antenna->course * PI / 180;
    double east = plan->forward_m * std::sin(heading) + plan->starboard_m * std::cos(heading);
    double north = plan->forward_m * std::cos(heading) - plan->starboard_m * std::sin(heading);
    *transducer = *antenna;
    place(plan, antenna->east_m + east, antenna->north_m + north, transducer);
}
