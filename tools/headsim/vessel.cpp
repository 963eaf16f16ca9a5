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

}  // namespace

void vessel_default_plan(VesselPlan* plan)
{
    *plan = VesselPlan{START_LATITUDE, START_LONGITUDE, HEADING, KNOTS, LINE_LENGTH_M};
}

void vessel_at(const VesselPlan* plan, double seconds, VesselFix* fix)
{
    double travelled = plan->knots * METRES_PER_KNOT_SECOND * (seconds > 0 ? seconds : 0);
    Leg leg = plan->line_length_m > 0 ? on_lines(plan->line_length_m, travelled) : Leg{travelled, 0.0, 0.0};
    double heading = plan->heading * PI / 180;
    fix->east_m = leg.along * std::sin(heading) + leg.across * std::cos(heading);
    fix->north_m = leg.along * std::cos(heading) - leg.across * std::sin(heading);
    fix->latitude = plan->start_latitude + fix->north_m / METRES_PER_DEGREE;
    double longitude = plan->start_longitude + fix->east_m / (METRES_PER_DEGREE * std::cos(fix->latitude * PI / 180));
    fix->longitude = std::fmod(longitude + 540.0, 360.0) - 180.0;  // across the date line, still -180 to 180
    fix->course = std::fmod(plan->heading + leg.turned + 360.0, 360.0);
    fix->knots = plan->knots;
}
