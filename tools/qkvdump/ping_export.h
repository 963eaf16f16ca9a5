// One ping as the listing and every output see it, decided in the run's
// queue (run.h, ping_locate.h): its record, where it came from, its absolute
// time, with navigation its position and what the sensors said at its time,
// and with the picker its bottom. Where the depths are reduced (ping_reduce.h)
// its depth is below the reference named, with the corrections and flags
// beside it, filled in the queue before the ping is handed on.
#pragma once

#include <cmath>
#include <cstdint>

#include "reduction/reduction.h"
#include "store/record.h"

struct PingPosition {
    bool known;          // a fix on either side, close enough and with a fix
    double latitude;     // decimal degrees, north positive
    double longitude;    // decimal degrees, east positive
    int decimals;        // of degrees to write: as precise as the receiver's minutes, 7 at least (about 1 cm)
    int fix_quality;     // GGA's quality (1 GPS, 2 DGPS, 4 RTK, ...); 1 for an RMC fix
    long fix_age_ms;     // from the nearer of the two fixes
    bool motion_known;   // speed and course from an RMC
    double speed_knots;
    double course_degrees;
};

// The picker's verdict on a ping.
struct PingDepth {
    bool known;
    double distance_m;  // the picked bottom below the transducer; where dropped, the dropout's pick
    int quality;        // 1 to 100 with a depth, 0 without; where dropped, the dropout's pick's
    bool dropped;       // no bottom, though an echo was picked (DepthResult)
};

// What the .NAV lines' sensors said at the ping's time (nav_motion.h); each where known.
struct PingMotion {
    bool has_heave;
    double heave_m;  // positive up
    bool has_roll;
    double roll_degrees;  // positive with the port side up
    bool has_pitch;
    double pitch_degrees;  // positive with the bow up
    bool has_heading;
    double heading_degrees;  // true
    bool has_height;         // an RTK fixed solution's
    double altitude_m;       // the antenna above the geoid
    double geoid_separation_m;
};

struct PingBottom {
    bool known;         // the picker gave the ping a bottom
    double distance_m;  // the bottom below the transducer
    bool has_depth;     // the depth shown wherever a depth is: the surface's without a reduction, else the reduction's
    double depth_m;     // below the surface (the distance and the transducer's draft), or below the reference
    int quality;        // the picker's: 1 to 100 with a bottom, 0 without
    bool dropped;       // no bottom, though the picker found an echo: it is in distance_m, its quality here
    int dropped_quality;
};

constexpr int EXPORT_DEPTH_TEXT_SIZE = 32;

// A depth as every export writes it: metres with 3 decimals (to the millimetre, finer than a sample at the
// shortest range), rounded half away from zero; the same text in the CSV, the track and the soundings, and quick
// to make, as a long recording has a depth a ping.
inline long long export_millimetres(double metres)
{
    return static_cast<long long>(metres * 1000.0 + (metres < 0 ? -0.5 : 0.5));
}

inline const char* export_depth_text(double metres, char text[EXPORT_DEPTH_TEXT_SIZE])
{
    long long millimetres = export_millimetres(metres);
    bool negative = millimetres < 0;
    unsigned long long whole = static_cast<unsigned long long>(negative ? -millimetres : millimetres);
    char* at = text + EXPORT_DEPTH_TEXT_SIZE - 1;
    *at = 0;
    for (int digit = 0; digit < 3 || whole > 0 || digit == 3; ++digit) {
        if (digit == 3) *--at = '.';
        *--at = static_cast<char>('0' + whole % 10);
        whole /= 10;
    }
    if (negative) *--at = '-';
    return at;
}

// A sounding's longitude and latitude as the soundings (--xyz) write them: 7 decimals of degrees, about 1 cm.
constexpr int EXPORT_SOUNDING_DECIMALS = 7;
constexpr double EXPORT_SOUNDING_SCALE = 1e7;
// Such a value as read back from its text: the double nearest the decimal printf writes, which rounds the value
// itself. Its product with the scale may have rounded to a half (positions between fixes of 4 decimals of
// minutes often do): the part rounded off then says which way the value lies.
inline double export_sounding_degrees(double degrees)
{
    double scaled = degrees * EXPORT_SOUNDING_SCALE;
    double whole = std::nearbyint(scaled);
    if (std::fabs(scaled - std::trunc(scaled)) == 0.5) {
        double lost = std::fma(degrees, EXPORT_SOUNDING_SCALE, -scaled);
        if (lost != 0) whole = lost > 0 ? std::ceil(scaled) : std::floor(scaled);
    }
    return whole / EXPORT_SOUNDING_SCALE;
}

struct ExportPing {
    const RecordView* view;
    const char* file_name;
    int file_index;      // from 0, in the order the files were given
    long record;         // in its file, from 1
    bool time_known;     // false when the record's texts are no date and time
    int64_t utc_ms;      // since 1970-01-01 00:00 UTC
    PingPosition position;  // the antenna's; with a reduction, the sounding's (moved by the transducer's offset)
    PingMotion motion;
    bool with_depth;     // --depth: the bottom below is the picker's
    PingBottom bottom;
    bool reduced;        // reduction has the corrections and flags of the depth, the spike test's too
    ReductionResult reduction;
};
