// A sounding reduced: from the distance the picker found below the
// transducer, measured at the head's nominal speed of sound, to a depth below
// a named reference, with the value of each correction kept beside it so that
// every output can write it, and flags (never deletions) with their reasons.
// One ping at a time, in this order:
//
//   1. sound speed   d_s = the distance at the water's speed (sound_speed.h),
//                    going down from the transducer's depth, the draft
//   2. draft         below the waterline:      d_s + draft
//   3. heave         below the mean surface:   d_s + draft - heave (heave positive up)
//   4. water level   below the datum:          d_s + draft - heave - level
//                    (level: the surface above the datum, from a series or
//                    an RTK receiver's height; 0 with no level: the surface)
//
// Sound speed comes first as it alone acts on the measured distance, along
// the sound's path from the transducer, which starts at the draft; the rest
// are heights added in the order they stand, from the transducer up to the
// datum. With an RTK level the receiver's height moves with the vessel, so
// heave is within it and not applied again. The sounding's position is the
// antenna's moved by the transducer's offset along the heading.
//
// A ping lacking a correction that was asked for (no heave, no water level)
// has no depth below the reference, and is flagged; so is one lacking a
// heading to place it, which then has no position. Plain functions over
// small records: nothing allocated, no operating-system call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reduction/edits.h"
#include "reduction/sound_speed.h"
#include "reduction/water_level.h"

// A datum's name as written beside every depth: "chart datum", "LAT", ...
constexpr int REDUCTION_DATUM_SIZE = 32;
// The reference with no water level.
extern const char REDUCTION_SURFACE[];  // "water surface"
// Below this quality (1 to 100) a pick is flagged: an echo barely clear of
// the noise that no ping confirmed.
constexpr int REDUCTION_QUALITY_MIN_DEFAULT = 20;
// A course made good stands for the heading only at this speed or more: a
// drifting or stopped vessel's course is noise.
constexpr double REDUCTION_COURSE_SPEED_MIN_KN = 1.0;
// The only GGA quality whose height is a water level: RTK fixed, to the centimetre.
constexpr int REDUCTION_RTK_QUALITY = 4;
// The longest offset and draft taken, in metres.
constexpr double REDUCTION_OFFSET_MAX_M = 1000.0;

enum ReductionSpeed { REDUCTION_SPEED_NOMINAL, REDUCTION_SPEED_CONSTANT, REDUCTION_SPEED_PROFILE };
enum ReductionLevel { REDUCTION_LEVEL_NONE, REDUCTION_LEVEL_SERIES, REDUCTION_LEVEL_RTK };

struct ReductionSettings {
    ReductionSpeed speed;
    double sound_speed_m_s;              // REDUCTION_SPEED_CONSTANT: from a bar check
    const SoundSpeedProfile* profile;    // REDUCTION_SPEED_PROFILE: from a cast
    double draft_m;                      // the transducer below the waterline
    bool heave;                          // apply the motion sensor's heave
    ReductionLevel level;
    const WaterLevelSeries* series;      // REDUCTION_LEVEL_SERIES
    double antenna_above_waterline_m;    // REDUCTION_LEVEL_RTK
    double datum_above_ellipsoid_m;      // REDUCTION_LEVEL_RTK: the datum's height above the ellipsoid
    char datum[REDUCTION_DATUM_SIZE];    // the name of the datum the level is above
    double forward_m;                    // the transducer from the antenna, ahead
    double starboard_m;                  // and to starboard
    bool gates;
    double gate_min_m, gate_max_m;       // on the depth below the water surface
    int quality_min;                     // below it a pick is flagged
    EditList* edits;                     // or null
};

// What is known of one ping, from its record, the picker and the .NAV lines at its time.
struct ReductionPing {
    int64_t tag;                 // the caller's, given back with the result
    const char* file_name;       // the data file, as given, for the edit list
    long record;                 // in it, from 1
    bool time_known;
    int64_t utc_ms;
    bool has_bottom;             // the picker gave a distance
    double distance_m;           // below the transducer, at SOUND_SPEED_NOMINAL_M_S
    int quality;                 // the picker's, 1 to 100
    bool dropped;                // its tracker dropped the pick: off the bottom followed, the next pings against it
    bool has_position;           // the antenna's
    double latitude, longitude;  // decimal degrees, north and east positive
    bool has_course;             // the course made good, from an RMC
    double speed_knots, course_degrees;
    bool has_heading;            // a heading sensor's ($--HDT, $PASHR)
    double heading_degrees;
    bool has_heave;              // a motion sensor's, positive up
    double heave_m;
    bool has_height;             // GGA's, at the ping's time
    int fix_quality;
    double altitude_m;           // above the geoid
    double geoid_separation_m;   // the geoid above the ellipsoid
};

// Why a sounding is flagged: bits of ReductionResult.flags.
enum ReductionFlag : unsigned {
    REDUCTION_FLAG_NO_BOTTOM = 1u << 0,       // the picker gave no distance
    REDUCTION_FLAG_REJECTED = 1u << 1,        // by the edit list
    REDUCTION_FLAG_GATE = 1u << 2,            // outside the depth gates
    REDUCTION_FLAG_SPIKE = 1u << 3,           // against the median of its neighbours (spike.h), or dropped by the picker
    REDUCTION_FLAG_LOW_QUALITY = 1u << 4,     // the picker's quality below the least
    REDUCTION_FLAG_NO_POSITION = 1u << 5,     // no fix near its time
    REDUCTION_FLAG_NO_HEADING = 1u << 6,      // an offset to apply and neither heading nor course
    REDUCTION_FLAG_NO_HEAVE = 1u << 7,        // heave asked for, none near its time
    REDUCTION_FLAG_NO_WATER_LEVEL = 1u << 8,  // a level asked for, none at its time
};
constexpr int REDUCTION_FLAG_COUNT = 9;
// Each flag's word, by bit: "no_bottom", "rejected", "outside_gates", "spike", ...
extern const char* const REDUCTION_FLAG_WORDS[REDUCTION_FLAG_COUNT];
// The flags an edit's accept clears: judgements on a depth, not missing data.
constexpr unsigned REDUCTION_FLAGS_JUDGED = REDUCTION_FLAG_GATE | REDUCTION_FLAG_SPIKE | REDUCTION_FLAG_LOW_QUALITY;
// The words of a ping's flags, joined by '|'; empty for a good sounding.
constexpr int REDUCTION_FLAGS_TEXT_SIZE = 128;
const char* reduction_flags_text(unsigned flags, char text[REDUCTION_FLAGS_TEXT_SIZE]);

enum ReductionHeading { REDUCTION_HEADING_NONE, REDUCTION_HEADING_SENSOR, REDUCTION_HEADING_COURSE };

// A ping reduced. The corrections are in metres as applied: 0 where not
// asked for, NaN where asked for and missing (the flags say which).
struct ReductionResult {
    int64_t tag;
    bool has_distance;
    double distance_m;         // the picked distance below the transducer, unreduced
    double sound_speed_m;      // added by the water's speed of sound
    double draft_m;            // added
    double heave_m;            // subtracted (the sensor's, positive up)
    double water_level_m;      // subtracted (the surface above the datum)
    bool has_surface_depth;
    double surface_depth_m;    // below the water surface: what the gates and the spike test look at
    bool has_depth;
    double depth_m;            // below the reference
    bool has_position;
    double latitude, longitude;  // the sounding's
    ReductionHeading heading_source;
    double heading_degrees;    // that placed it, where the offset needed one
    unsigned flags;
    EditAction edit;           // the edit that decided it, if any
    long edit_line;            // its line in the edit list; 0 for none
};

// No correction, no gate, the default least quality, no edits.
void reduction_settings_default(ReductionSettings* settings);
// False, with why, for settings that do not make one reduction: a speed out
// of bounds, a profile or series missing, a datum named without a level or a
// level without a datum, gates or offsets that are not numbers in order.
bool reduction_settings_check(const ReductionSettings* settings, char* why, size_t size);
// A datum's name as every output can write it: 1 to 31 printable ASCII characters, without the characters CSV,
// JSON and attributes would quote (, " \ ; |), no blank first or last, and not first what a spreadsheet takes for
// a formula (= + - @).
bool reduction_datum_name_ok(const char* name);
// That rule as a refusal says it.
constexpr char REDUCTION_DATUM_RULE[] = "a name of 1 to 31 printable characters, without , \" \\ ; | nor = + - @ first";
// The name of the reference the depths are below: the datum's, or REDUCTION_SURFACE.
const char* reduction_reference(const ReductionSettings* settings);

// One ping through the corrections, the flags but the spike, and the edit list.
void reduction_reduce(const ReductionSettings* settings, const ReductionPing* ping, ReductionResult* result);

// The water surface above the datum from an RTK receiver: its antenna's
// height above the ellipsoid (GGA's altitude plus geoid separation), less the
// antenna's height above the waterline, less the datum's above the ellipsoid.
double reduction_rtk_level(double altitude_m, double geoid_separation_m, double antenna_above_waterline_m,
                           double datum_above_ellipsoid_m);
// A position moved forward_m ahead and starboard_m to starboard of a vessel
// heading heading_degrees (clockwise from true north), on the WGS 84
// ellipsoid; over a pole and across the date line alike. False for a position
// or heading that is not one.
bool reduction_offset_position(double latitude, double longitude, double heading_degrees, double forward_m,
                               double starboard_m, double* moved_latitude, double* moved_longitude);
