// headsim's simulated vessel: where it is at any time of its survey. The track
// it sends and the seabed under its head both ask here, so position and depth
// agree. Plain functions: the same time always gives the same position.
#pragma once

// The survey: lines of line_length_m, the first along heading from the start,
// each next one VESSEL_LINE_SPACING_M to starboard of the last and run the
// other way, joined by half-circle turns; or one straight run.
struct VesselPlan {
    double start_latitude;   // degrees, north positive
    double start_longitude;  // degrees, east positive
    double heading;          // degrees true, of the first line
    double knots;
    double line_length_m;    // 0: one straight run along heading
};

struct VesselFix {
    double east_m;     // from the start
    double north_m;
    double latitude;   // degrees
    double longitude;
    double course;     // degrees true, 0 to 360
    double knots;
};

constexpr double VESSEL_LINE_SPACING_M = 20.0;  // a single-beam survey's usual spacing for harbour work
constexpr double VESSEL_LINE_MIN_M = 20.0;      // shorter lines would be all turn
constexpr double VESSEL_KNOTS_MAX = 30.0;

void vessel_default_plan(VesselPlan* plan);
// The vessel seconds after its start.
void vessel_at(const VesselPlan* plan, double seconds, VesselFix* fix);
