// The survey's coverage, live: the reduced, unflagged soundings placed at the
// antenna's position at their time (the fixes interpolated, as qkvdump joins
// them) and binned by grid/ into the square cells of the UTM zone of the
// first one, each cell coloured on the page by its mean depth. Bounded
// however long the day: the grid's tiles stop at COVERAGE_MEMORY and the
// cells at COVERAGE_CELLS_MAX, and past either the cells double in size
// (grid_coarsen), so a day of pings is a few thousand cells, their size
// growing with the area. The pages are sent a copy of the cells, made again
// at most every COVERAGE_COPY_EVERY_MS while soundings come, and with it the
// cells that changed since the copy before: a page that has that one whole
// is sent those alone, a few a copy, where the whole copy would be tens of
// kilobytes every two seconds.
#pragma once

#include <cstdint>

#include "grid/grid.h"
#include "grid/projection.h"
#include "reduction/motion.h"

constexpr int COVERAGE_CELLS_MAX = 4096;
constexpr long COVERAGE_MEMORY = 2L << 20;   // the grid's tiles: about 340 of 16 x 16 cells
constexpr double COVERAGE_CELL_FIRST_M = 1.0;
constexpr int COVERAGE_WAITING_MAX = 1024;   // soundings waiting for the fix after them: 100 s at 10 pings a second
constexpr int COVERAGE_BATCH = 256;
constexpr int64_t COVERAGE_COPY_EVERY_MS = 2000;

struct CoverageSounding {
    int64_t utc_ms;
    double depth_m;
};

struct CoverageCell {
    double latitude;  // of its centre
    double longitude;
    float depth_m;    // the mean of its soundings
    int32_t tile;     // its place in the grid, in the order the copy is made: tiles, then cells in each
    int32_t index;
};

struct WebCoverage {
    MotionTrack latitude;  // the measured fixes, by their UTC time
    MotionTrack longitude;
    CoverageSounding waiting[COVERAGE_WAITING_MAX];  // a ring
    int waiting_first;
    int waiting_count;
    bool projected;   // the projection is open
    bool refused;     // it could not be: no coverage (why in reason)
    Projection projection;
    Grid grid;
    bool grid_open;
    int64_t binned;    // soundings in the cells
    int64_t unplaced;  // soundings with no fix close enough around their time
    bool fresh;        // soundings binned since the copy
    int64_t copied_ms;
    long coarsened;     // times the cells doubled
    long coarsened_copied;
    // The copy the pages are sent, and the one before it.
    long version;
    int cell_count;
    double cell_m;
    float depth_min_m;
    float depth_max_m;
    const CoverageCell* cells;  // copies[current]
    bool whole;                 // to be sent whole: its cells doubled since the one before, or there was none
    int changed_count;          // else the cells new or changed since it
    int changed[COVERAGE_CELLS_MAX];  // in cells
    int current;
    int counts[2];
    CoverageCell copies[2][COVERAGE_CELLS_MAX];
};

void coverage_start(WebCoverage* coverage);
void coverage_stop(WebCoverage* coverage);
// A measured fix of the antenna, at its line's UTC time.
void coverage_fix(WebCoverage* coverage, int64_t utc_ms, double latitude, double longitude);
// A sounding to bin once the fixes reach its time.
void coverage_sounding(WebCoverage* coverage, int64_t utc_ms, double depth_m);
// Bins the soundings the fixes have passed, and at most every COVERAGE_COPY_EVERY_MS (now_ms, monotonic) copies the
// cells for the page; true when the copy changed.
bool coverage_update(WebCoverage* coverage, int64_t now_ms);
