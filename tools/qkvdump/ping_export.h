// One ping as qkvdump's exports see it: its record, where it came from, its
// absolute time and, with navigation, its position.
#pragma once

#include <cstdint>

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

struct ExportPing {
    const RecordView* view;
    const char* file_name;
    int file_index;      // from 0, in the order the files were given
    long record;         // in its file, from 1
    bool time_known;     // false when the record's texts are no date and time
    int64_t utc_ms;      // since 1970-01-01 00:00 UTC
    PingPosition position;
};
