// The water level above a datum, from a tide gauge's record or a tide
// prediction: the CSV text (UTC time and level in metres, positive up), held
// as a series, and the level at a ping's time interpolated linearly between
// the points on either side, never across a gap longer than
// WATER_LEVEL_GAP_MAX_MS and never beyond the series' ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reduction/fields.h"

// The points of a series held: a year of six-minute values, or three months
// of one-minute values (16 bytes each, 2 MiB in all).
constexpr int WATER_LEVEL_POINTS_MAX = 131072;
// The longest gap interpolated across: an hour, the step of the coarsest
// predictions published (hourly). Linear interpolation over an hour of a
// semi-diurnal tide misses by at most 3.2% of its amplitude (h^2 w^2 / 8).
constexpr int64_t WATER_LEVEL_GAP_MAX_MS = 3600 * 1000LL;
// A level this far from its datum, either way, is a gauge's mark for a
// missing value (-999, 9999, -32767) or not in metres: no water surface is
// that far from a datum it was measured against.
constexpr double WATER_LEVEL_ABS_MAX_M = 999.0;

struct WaterLevelPoint {
    int64_t utc_ms;
    double level_m;  // the water surface above the datum, positive up
};

struct WaterLevelSeries {
    int count;
    WaterLevelPoint point[WATER_LEVEL_POINTS_MAX];  // strictly later one by one
    // The header, once read.
    bool header_read;
    long header_refused;  // the line of a header refused for its units (0: none): nothing after it is read
    bool header_missed;   // a line was said not to be the header: the lines after it are tried quietly
    char separator;
    int time_column;  // the date and time, or the date where the time has a column of its own
    int clock_column; // the time of day, or -1
    int level_column;
    long last_line;   // of the latest point taken
};

void water_level_start(WaterLevelSeries* series);
// One line of the CSV, numbered from 1. The first line that is neither blank
// nor a comment is the header: the first line that is not is said, and the
// lines after it tried as the header quietly; once a header is refused for its
// units, nothing after it is read.
FieldsVerdict water_level_take_line(WaterLevelSeries* series, const char* line, long number, FieldsProblem* problem);
// After the last line: false, said, when the text gave no header or no point.
bool water_level_finish(const WaterLevelSeries* series, FieldsProblem* problem);
// A whole text: each bad line said through say; false when no series can be had (said too).
bool water_level_read(WaterLevelSeries* series, const char* text, size_t size, FieldsSay say, void* context);

// The level at a time; false where no point lies on it and no two points
// around it lie within WATER_LEVEL_GAP_MAX_MS of each other.
bool water_level_at(const WaterLevelSeries* series, int64_t utc_ms, double* level_m);
