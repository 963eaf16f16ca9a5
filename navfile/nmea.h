// NMEA 0183 sentences, as a .NAV line holds them: framing them out of a byte
// stream that comes in pieces, their checksum, and the fields of the two fix
// sentences (GGA and RMC, of any talker).
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/timestamp.h"

// The longest sentence NMEA 0183 allows: 82 characters with its CR LF, so at
// most 80 from the start character to the checksum's second digit.
constexpr int NMEA_SENTENCE_MAX = 82;
constexpr int NMEA_TEXT_MAX = NMEA_SENTENCE_MAX - 2;
constexpr int NMEA_CHECKSUM_LENGTH = 3;  // '*' and two hexadecimal digits

enum NmeaVerdict {
    NMEA_PENDING,        // the byte did not end a sentence
    NMEA_GOOD,           // a whole sentence with the right checksum
    NMEA_BAD_CHECKSUM,   // its checksum is not that of its characters
    NMEA_NO_CHECKSUM,    // it has no '*hh' at its end
    NMEA_TOO_LONG,       // over 82 characters
    NMEA_BROKEN,         // a new start, or a character no sentence holds, before its line end
};

struct NmeaFramer {
    char text[NMEA_TEXT_MAX + 1];  // the sentence so far; after NMEA_GOOD the sentence, ended by a NUL
    int length;
    bool collecting;  // a start character has come
    bool too_long;    // more came than a sentence holds: skipped to its line end
    bool broken;      // a control or non-ASCII character came
    bool after_cr;    // the last byte was a CR, which must be followed by LF
};

void nmea_framer_reset(NmeaFramer* framer);
// Takes the next byte of the stream. Bytes outside a sentence are skipped. A
// '$' or '!' starts a sentence, also inside one (which then is NMEA_BROKEN);
// LF, or CR LF, ends it with its verdict.
NmeaVerdict nmea_framer_take(NmeaFramer* framer, uint8_t byte);

// The checksum of the characters between the start character and '*'.
uint8_t nmea_checksum(const char* text, size_t count);
// The verdict of a whole sentence text without its line end.
NmeaVerdict nmea_check(const char* text, size_t length);
// Appends "*hh" to a sentence text of length characters; the new length.
size_t nmea_append_checksum(char* text, size_t length);

// The depth sentences an echo sounder sends, each with its checksum and CR LF:
// DPT, the depth below the transducer in metres, the transducer's offset and
// the range in use; DBT, the depth below the transducer, and DBS, below the
// surface, each in feet, metres and fathoms. DPT's offset is, as the sentence
// defines it, the distance from the transducer to the waterline when
// positive (the draft; the depth below the surface is the sum), to the keel
// when negative (the depth under the keel is the sum). A depth that is not a
// number at or above 0 (NAN for a ping with no bottom) leaves the depth fields
// empty, which a chart plotter shows as no bottom rather than the last depth.
// Their length, 0 when size is too small or the sentence longer than NMEA allows.
constexpr size_t NMEA_DEPTH_SENTENCE_SIZE = 96;
size_t nmea_dpt(double below_transducer_m, double offset_m, double range_m, char* text, size_t size);
size_t nmea_dbt(double below_transducer_m, char* text, size_t size);
size_t nmea_dbs(double below_surface_m, char* text, size_t size);

// A motion sensor's attitude sentence, $PASHR: UTC time, true heading, 'T',
// roll, pitch, heave, the accuracies of roll, pitch and heading, and the
// aiding and inertial flags. Its makers' convention: roll positive with the
// port side up, pitch positive with the bow up, heave in metres positive up
// (the sensor above its mean level). The receivers' other $PASHR sentences,
// whose first field is a word ("$PASHR,POS,..."), are not this one. Values
// out of the sentence's bounds (heading 0 to 360, roll and pitch -90 to 90,
// heave -99 to 99) count as not given.
struct NmeaAttitude {
    long utc_ms_of_day;  // -1 when not given
    bool has_heading;
    double heading_degrees;  // true
    bool has_roll;
    double roll_degrees;
    bool has_pitch;
    double pitch_degrees;
    bool has_heave;
    double heave_m;
};
// Reads a good sentence when it is a $PASHR attitude; false for any other.
bool nmea_read_pashr(const char* sentence, NmeaAttitude* attitude);
// Reads a good sentence when it is an HDT of any talker with a true heading; false for any other.
bool nmea_read_hdt(const char* sentence, double* heading_degrees);
// The two built as a motion sensor and a gyro send them, each with its
// checksum and CR LF: $PASHR with the time to the millisecond, the heading
// with 2 decimals, roll, pitch and heave with 2 and their signs, then the
// accuracies of roll, pitch and heading (0.050, 0.050 and 0.100 degrees) and
// the aiding and inertial flags (1, 1), a value not given an empty field;
// $HEHDT with the heading's 2 decimals. Their length, 0 when size is too
// small, the time is not given or a value given lies outside the bounds the
// readers take.
size_t nmea_pashr(const NmeaAttitude* attitude, char* text, size_t size);
size_t nmea_hdt(double heading_degrees, char* text, size_t size);

// A latitude (2 degree digits, "NS") or a longitude (3, "EW") in decimal
// degrees as a fix sentence's two fields, "5106.9848,N": rounded to the
// fourth decimal of minutes as a whole, so that 51.99999999 is 5200.0000,N,
// never 60 minutes. Its length, 0 when size is too small.
constexpr size_t NMEA_ANGLE_FIELDS_SIZE = 16;
size_t nmea_angle_fields(double degrees, int degree_digits, const char* hemispheres, char* text, size_t size);

// The two fix sentences a GPS receiver sends, each with its checksum and CR
// LF, the time to the hundredth of a second and the angles as
// nmea_angle_fields writes them: GGA with the quality, the satellites in use,
// the horizontal dilution and the two heights in metres; RMC with the speed,
// the course and the date, its status and mode those of the quality (status
// V for quality 0). Their length, 0 when size is too small, a value is not
// finite or the sentence is longer than NMEA allows.
struct NmeaFixOut {
    CivilTime utc;
    double latitude;   // decimal degrees, north positive
    double longitude;  // decimal degrees, east positive
    int quality;       // GGA's 0 to 8
    int satellites;
    double dilution;
    double altitude_m;          // the antenna above the geoid
    double geoid_separation_m;  // the geoid above the ellipsoid
    double speed_knots;
    double course_degrees;
};
size_t nmea_gga(const NmeaFixOut* fix, char* text, size_t size);
size_t nmea_rmc(const NmeaFixOut* fix, char* text, size_t size);

// What the latest fix sentence said. Position texts are in degrees and
// decimal minutes as received, e.g. "51 06.9848 N"; empty when not given.
// They hold 14 decimals of minutes (a few micrometres); more are left off.
constexpr int NMEA_ANGLE_TEXT_SIZE = 24;
struct NmeaFix {
    bool present;      // a GGA or RMC has come
    bool valid;        // and it says there is a fix
    char quality[16];  // "GPS", "DGPS", "RTK", ...; "no fix" when not valid
    int satellites;    // from the latest GGA; -1 before one
    char latitude[NMEA_ANGLE_TEXT_SIZE];
    char longitude[NMEA_ANGLE_TEXT_SIZE];
};

void nmea_fix_clear(NmeaFix* fix);
// Updates the fix from a good sentence when it is a GGA or an RMC; false for any other.
bool nmea_take_fix(const char* sentence, NmeaFix* fix);

// A fix sentence's values as numbers, for joining positions to other data.
constexpr int NMEA_GGA_MEASURED_MAX = 6;  // GGA qualities above it give no measured position: 7 entered by hand,
                                          // 8 simulated
enum NmeaFixKind { NMEA_FIX_NONE, NMEA_FIX_GGA, NMEA_FIX_RMC };
struct NmeaPosition {
    NmeaFixKind kind;
    long utc_ms_of_day;    // the sentence's UTC time of day in milliseconds; -1 when not given
    int year, month, day;  // RMC's UTC date (month 1 to 12); 0 when not given, and for a GGA
    bool has_position;     // latitude and longitude given and well-formed
    bool impossible;       // given, but malformed or out of range: latitude over 90, longitude over 180, minutes of 60
    double latitude;       // decimal degrees, north positive
    double longitude;      // decimal degrees, east positive
    int minute_decimals;   // the most decimals of minutes the two fields gave, however many
    int quality;           // GGA's 0 to 8; for an RMC the GGA number of its mode (1 without one), 0 for status V
    bool has_motion;       // RMC's speed and course, where given
    double speed_knots;
    double course_degrees;
    bool has_height;       // GGA's altitude and geoid separation, both given in metres
    double altitude_m;     // the antenna above the geoid (mean sea level)
    double geoid_separation_m;  // the geoid above the ellipsoid: their sum is the ellipsoidal height
};

// Reads a good sentence when it is a GGA or an RMC; false for any other.
bool nmea_read_position(const char* sentence, NmeaPosition* position);
