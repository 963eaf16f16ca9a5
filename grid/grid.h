// Soundings binned into the square cells of a projected grid: per cell the
// mean depth, the shoalest, the count and the standard deviation. Plain
// functions over small records; no operating-system call, so it builds for
// every system.
//
// The cell rule, which any reader can apply again from a grid file's
// geotransform: with a cell of M metres, a sounding at (x, y) is in column
// floor(x / M) and row floor(y / M), both worked out in IEEE double, so that
// a cell holds its lower and left edges and not its upper and right ones, and
// every grid of M metres, whatever its soundings, has its cell edges on the
// same whole multiples of M (grids of two days mosaic without resampling).
//
// Memory follows the cells visited, not the soundings nor their bounding
// box: the cells live in tiles of 16 x 16, each allocated when a sounding
// first falls in it, found through a hash of the tiles' places. Nothing is
// allocated per sounding. The tiles stop at the memory the caller allows
// (GRID_MEMORY_DEFAULT for a grid file); past it, the grid's status turns
// GRID_FULL and it takes nothing more, and the caller either refuses the
// grid, saying grid_full_text, or coarsens it (grid_coarsen) and goes on
// with the soundings grid_add did not take.
#pragma once

#include <cstddef>
#include <cstdint>

// A sounding: x and y in metres of the grid's projected coordinate system
// (longitude and latitude in degrees on their way to it), its depth in
// metres, positive down.
struct GridSounding {
    double x;
    double y;
    double depth;
};

constexpr int GRID_BATCH = 4096;                  // soundings a caller projects and bins together
constexpr double GRID_CELL_MIN_M = 0.01;          // the cell sizes a grid takes
constexpr double GRID_CELL_MAX_M = 100000;
constexpr double GRID_DEPTH_LIMIT_M = 100000;     // a depth further from the reference is no depth
constexpr int64_t GRID_INDEX_LIMIT = 1LL << 30;   // columns and rows from the origin: 10,737 km at 1 cm
constexpr int GRID_TILE_SHIFT = 4;
constexpr int GRID_TILE_SIDE = 1 << GRID_TILE_SHIFT;  // cells a tile has across and down
constexpr long GRID_MEMORY_DEFAULT = 256L << 20;  // the tiles of a grid file: over 10 million cells

// One cell's soundings, kept in Welford's running form: the mean and the sum
// of squared differences from it (m2) move with each sounding, so the
// variance stays exact where the depths are large and their spread small.
struct GridCell {
    double mean;
    double m2;
    float shoalest;
    uint32_t count;  // 0: no sounding
};

struct GridTile {
    int64_t column;  // of its first cell, a multiple of GRID_TILE_SIDE
    int64_t row;
    GridCell cells[GRID_TILE_SIDE * GRID_TILE_SIDE];  // row by row, the lowest row first
};

enum GridStatus { GRID_OK, GRID_FULL, GRID_NO_MEMORY };

struct Grid {
    double cell_m;
    long tiles_max;  // the cap: the tiles the memory allowed holds
    GridTile** tiles;
    long tile_count;
    long tile_capacity;  // of tiles
    int32_t* slots;      // the hash: tile numbers, -1 where free; twice the tiles at least
    long slot_count;     // a power of two
    GridTile* last;      // the tile the last sounding fell in
    int64_t binned;
    int64_t refused_position;  // not finite, or GRID_INDEX_LIMIT cells or more from the origin
    int64_t refused_depth;     // not finite, or beyond GRID_DEPTH_LIMIT_M
    GridStatus status;         // once not GRID_OK, nothing more is taken
};

// The cells of the grid that hold soundings lie in these columns and rows.
struct GridExtent {
    int64_t column_first;
    int64_t row_first;
    int64_t width;   // columns
    int64_t height;  // rows
    int64_t cells;   // that hold soundings
    double shoalest;
    double deepest;  // of the cells' shoalest depths
};

// The values a grid file carries, in the order of its bands.
enum GridBand { GRID_BAND_MEAN, GRID_BAND_SHOALEST, GRID_BAND_COUNT, GRID_BAND_STD, GRID_BANDS };
extern const char* const GRID_BAND_NAMES[GRID_BANDS];  // "mean", "shoalest", "count", "std"

// False, with nothing allocated, when the cell size is outside the limits above.
bool grid_init(Grid* grid, double cell_m, long memory_max);
void grid_free(Grid* grid);
// Bins the soundings; those with no place or no depth are counted and left
// out. Gives how many it took (binned or refused): all of them unless the
// grid's status turned from GRID_OK, at the sounding that found it full.
int grid_add(Grid* grid, const GridSounding* soundings, int count);
// The cell of a place: false when the place is not finite or out of reach.
bool grid_place(double cell_m, double x, double y, int64_t* column, int64_t* row);
// The cell there; null where no sounding fell.
const GridCell* grid_cell(const Grid* grid, int64_t column, int64_t row);
// The sample standard deviation (n - 1); NaN where fewer than two soundings.
double grid_std(const GridCell* cell);
// False when no cell holds a sounding.
bool grid_extent(const Grid* grid, GridExtent* extent);
// The extent's geotransform as GDAL takes it: north up, its first row the northernmost.
void grid_geotransform(const Grid* grid, const GridExtent* extent, double transform[6]);
// A band's values along one row, from column_first on; NaN where a cell has none.
void grid_row(const Grid* grid, GridBand band, int64_t row, int64_t column_first, int64_t width, float* values);
// Doubles the cell size, merging each 2 x 2 block of cells into one, and frees what that saves
// (for a moment it holds both); the status is GRID_OK again unless memory ran out. A cell that
// would pass GRID_CELL_MAX_M leaves the grid as it is, its status returned.
GridStatus grid_coarsen(Grid* grid);
// Why grid_add said GRID_FULL or GRID_NO_MEMORY, and what cell size to try.
void grid_full_text(const Grid* grid, char* text, size_t size);
