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
    // The transducer below the waterline, and from the GNSS antenna, whose
    // position the track gives, ahead and to starboard.
    double draft_m;
    double forward_m;
    double starboard_m;
    // The sea's swell heaves it (0: flat water) over a period, and rolls and pitches it with it.
    double heave_m;
    double heave_period_s;
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
constexpr double VESSEL_HEAVE_PERIOD_S = 8.0;    // a short swell's
// Roll and pitch a metre of heave brings, each over its share of the heave's period.
constexpr double VESSEL_ROLL_A_METRE = 8.0;
constexpr double VESSEL_PITCH_A_METRE = 3.0;

// What the motion sensor measures: heave positive up (above the mean level),
// roll positive with the port side up, pitch with the bow up.
struct VesselMotion {
    double heave_m;
    double roll_degrees;
    double pitch_degrees;
};

void vessel_default_plan(VesselPlan* plan);
// Where a position lies east and north of the plan's start, as vessel_at puts it.
void vessel_place(const VesselPlan* plan, double latitude, double longitude, double* east_m, double* north_m);
// The vessel seconds after its start.
void vessel_at(const VesselPlan* plan, double seconds, VesselFix* fix);
// Its heave, roll and pitch seconds after its start.
void vessel_motion_at(const VesselPlan* plan, double seconds, VesselMotion* motion);
// The transducer under the vessel at a fix of its antenna: moved by the
// plan's offset along the vessel's heading, which is its course.
void vessel_transducer_at(const VesselPlan* plan, const VesselFix* antenna, VesselFix* transducer);
