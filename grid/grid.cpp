#include "grid/grid.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const GRID_BAND_NAMES[GRID_BANDS] = {"mean", "shoalest", "count", "std"};

namespace {

constexpr int TILE_CELLS = GRID_TILE_SIDE * GRID_TILE_SIDE;
constexpr int64_t TILE_MASK = ~int64_t(GRID_TILE_SIDE - 1);
constexpr long FIRST_SLOTS = 64;
constexpr long FIRST_TILES = 32;
constexpr long TILES_LIMIT = 1L << 28;  // tile numbers stay far inside the hash's 32 bits

// Where a tile's number is looked for first: its place, well mixed.
size_t slot_of(int64_t column, int64_t row, long slot_count)
{
    uint64_t key = (static_cast<uint64_t>(column) << 32) ^ static_cast<uint64_t>(row);
    key *= 0x9E3779B97F4A7C15ULL;
    return static_cast<size_t>(key >> 32) & static_cast<size_t>(slot_count - 1);
}

void slot_insert(int32_t* slots, long slot_count, const GridTile* tile, int32_t number)
{
    size_t mask = static_cast<size_t>(slot_count - 1);
    size_t at = slot_of(tile->column, tile->row, slot_count);
    while (slots[at] >= 0) at = (at + 1) & mask;
    slots[at] = number;
}

GridTile* tile_find(const Grid* grid, int64_t column, int64_t row)
{
    size_t mask = static_cast<size_t>(grid->slot_count - 1);
    for (size_t at = slot_of(column, row, grid->slot_count);; at = (at + 1) & mask) {
        int32_t number = grid->slots[at];
        if (number < 0) return nullptr;
        GridTile* tile = grid->tiles[number];
        if (tile->column == column && tile->row == row) return tile;
    }
}

// Room for one tile more: the list of tiles, and a hash kept at most half full.
bool room_for_tile(Grid* grid)
{
    if (grid->tile_count == grid->tile_capacity) {
        long capacity = grid->tile_capacity * 2;
        void* grown = realloc(grid->tiles, static_cast<size_t>(capacity) * sizeof(GridTile*));
        if (grown == nullptr) return false;
        grid->tiles = static_cast<GridTile**>(grown);
        grid->tile_capacity = capacity;
    }
    if ((grid->tile_count + 1) * 2 <= grid->slot_count) return true;
    long slot_count = grid->slot_count * 2;
    int32_t* slots = static_cast<int32_t*>(malloc(static_cast<size_t>(slot_count) * sizeof(int32_t)));
    if (slots == nullptr) return false;
    memset(slots, 0xFF, static_cast<size_t>(slot_count) * sizeof(int32_t));
    for (long number = 0; number < grid->tile_count; ++number) {
        slot_insert(slots, slot_count, grid->tiles[number], static_cast<int32_t>(number));
    }
    free(grid->slots);
    grid->slots = slots;
    grid->slot_count = slot_count;
    return true;
}

// The tile whose first cell is there, made when first asked for; null when the grid is full.
GridTile* tile_take(Grid* grid, int64_t column, int64_t row)
{
    if (grid->last != nullptr && grid->last->column == column && grid->last->row == row) return grid->last;
    GridTile* tile = tile_find(grid, column, row);
    if (tile == nullptr) {
        if (grid->tile_count == grid->tiles_max) {
            grid->status = GRID_FULL;
            return nullptr;
        }
        if (!room_for_tile(grid) || (tile = static_cast<GridTile*>(calloc(1, sizeof(GridTile)))) == nullptr) {
            grid->status = GRID_NO_MEMORY;
            return nullptr;
        }
        tile->column = column;
        tile->row = row;
        grid->tiles[grid->tile_count] = tile;
        slot_insert(grid->slots, grid->slot_count, tile, static_cast<int32_t>(grid->tile_count));
        ++grid->tile_count;
    }
    grid->last = tile;
    return tile;
}

GridCell* cell_take(Grid* grid, int64_t column, int64_t row)
{
    GridTile* tile = tile_take(grid, column & TILE_MASK, row & TILE_MASK);
    if (tile == nullptr) return nullptr;
    return &tile->cells[((row - tile->row) << GRID_TILE_SHIFT) + (column - tile->column)];
}

// Two cells' soundings as one (Chan, Golub and LeVeque's pairwise update).
void cell_merge(GridCell* into, const GridCell* from)
{
    if (into->count == 0) {
        *into = *from;
        return;
    }
    double count = static_cast<double>(into->count) + from->count;
    double delta = from->mean - into->mean;
    into->mean += delta * from->count / count;
    into->m2 += from->m2 + delta * delta * (static_cast<double>(into->count) * from->count / count);
    if (from->shoalest < into->shoalest) into->shoalest = from->shoalest;
    into->count += from->count;
}

int64_t half_down(int64_t index)
{
    return index >= 0 ? index / 2 : -((1 - index) / 2);
}

// One band's values of a span of cells in a row; NaN where a cell has none (in std, fewer than two).
void band_values(const GridCell* cells, int count, GridBand band, float* values)
{
    for (int i = 0; i < count; ++i) values[i] = NAN;
    switch (band) {
    case GRID_BAND_MEAN:
        for (int i = 0; i < count; ++i) {
            if (cells[i].count > 0) values[i] = static_cast<float>(cells[i].mean);
        }
        return;
    case GRID_BAND_SHOALEST:
        for (int i = 0; i < count; ++i) {
            if (cells[i].count > 0) values[i] = cells[i].shoalest;
        }
        return;
    case GRID_BAND_COUNT:
        for (int i = 0; i < count; ++i) {
            if (cells[i].count > 0) values[i] = static_cast<float>(cells[i].count);
        }
        return;
    default:
        for (int i = 0; i < count; ++i) {
            if (cells[i].count > 1) values[i] = static_cast<float>(grid_std(&cells[i]));
        }
    }
}

}  // namespace

bool grid_init(Grid* grid, double cell_m, long memory_max)
{
    memset(grid, 0, sizeof *grid);
    if (!(cell_m >= GRID_CELL_MIN_M && cell_m <= GRID_CELL_MAX_M)) return false;
    grid->cell_m = cell_m;
    // A tile costs its cells, its place in the list, and at worst four slots of the hash.
    long tile_cost = static_cast<long>(sizeof(GridTile) + sizeof(GridTile*) + 4 * sizeof(int32_t));
    grid->tiles_max = memory_max / tile_cost > 1 ? memory_max / tile_cost : 1;
    if (grid->tiles_max > TILES_LIMIT) grid->tiles_max = TILES_LIMIT;
    grid->tiles = static_cast<GridTile**>(malloc(FIRST_TILES * sizeof(GridTile*)));
    grid->slots = static_cast<int32_t*>(malloc(FIRST_SLOTS * sizeof(int32_t)));
    grid->tile_capacity = FIRST_TILES;
    grid->slot_count = FIRST_SLOTS;
    if (grid->tiles == nullptr || grid->slots == nullptr) {
        grid->status = GRID_NO_MEMORY;
        return true;
    }
    memset(grid->slots, 0xFF, FIRST_SLOTS * sizeof(int32_t));
    return true;
}

void grid_free(Grid* grid)
{
    for (long number = 0; number < grid->tile_count; ++number) free(grid->tiles[number]);
    free(grid->tiles);
    free(grid->slots);
    grid->tiles = nullptr;
    grid->slots = nullptr;
    grid->tile_count = 0;
    grid->last = nullptr;
}

bool grid_place(double cell_m, double x, double y, int64_t* column, int64_t* row)
{
    double across = x / cell_m;
    double up = y / cell_m;
    const double limit = static_cast<double>(GRID_INDEX_LIMIT);
    // Written so that NaN fails too.
    if (!(across > -limit && across < limit && up > -limit && up < limit)) return false;
    *column = static_cast<int64_t>(floor(across));
    *row = static_cast<int64_t>(floor(up));
    return true;
}

int grid_add(Grid* grid, const GridSounding* soundings, int count)
{
    int i = 0;
    for (; i < count && grid->status == GRID_OK; ++i) {
        const GridSounding* sounding = &soundings[i];
        int64_t column = 0, row = 0;
        if (!grid_place(grid->cell_m, sounding->x, sounding->y, &column, &row)) {
            ++grid->refused_position;
            continue;
        }
        double depth = sounding->depth;
        if (!(fabs(depth) <= GRID_DEPTH_LIMIT_M)) {
            ++grid->refused_depth;
            continue;
        }
        GridCell* cell = cell_take(grid, column, row);
        if (cell == nullptr) break;
        uint32_t n = ++cell->count;
        double delta = depth - cell->mean;
        cell->mean += delta / n;
        cell->m2 += delta * (depth - cell->mean);
        float shoal = static_cast<float>(depth);
        if (n == 1 || shoal < cell->shoalest) cell->shoalest = shoal;
        ++grid->binned;
    }
    return i;
}

const GridCell* grid_cell(const Grid* grid, int64_t column, int64_t row)
{
    const GridTile* tile = tile_find(grid, column & TILE_MASK, row & TILE_MASK);
    if (tile == nullptr) return nullptr;
    const GridCell* cell = &tile->cells[((row - tile->row) << GRID_TILE_SHIFT) + (column - tile->column)];
    return cell->count > 0 ? cell : nullptr;
}

double grid_std(const GridCell* cell)
{
    if (cell->count < 2) return NAN;
    return sqrt(cell->m2 / (cell->count - 1));
}

bool grid_extent(const Grid* grid, GridExtent* extent)
{
    memset(extent, 0, sizeof *extent);
    int64_t column_last = 0, row_last = 0;
    for (long number = 0; number < grid->tile_count; ++number) {
        const GridTile* tile = grid->tiles[number];
        for (int i = 0; i < TILE_CELLS; ++i) {
            const GridCell* cell = &tile->cells[i];
            if (cell->count == 0) continue;
            int64_t column = tile->column + (i & (GRID_TILE_SIDE - 1));
            int64_t row = tile->row + (i >> GRID_TILE_SHIFT);
            if (extent->cells++ == 0) {
                extent->column_first = column_last = column;
                extent->row_first = row_last = row;
                extent->shoalest = extent->deepest = cell->shoalest;
                continue;
            }
            if (column < extent->column_first) extent->column_first = column;
            if (column > column_last) column_last = column;
            if (row < extent->row_first) extent->row_first = row;
            if (row > row_last) row_last = row;
            if (cell->shoalest < extent->shoalest) extent->shoalest = cell->shoalest;
            if (cell->shoalest > extent->deepest) extent->deepest = cell->shoalest;
        }
    }
    if (extent->cells == 0) return false;
    extent->width = column_last - extent->column_first + 1;
    extent->height = row_last - extent->row_first + 1;
    return true;
}

void grid_geotransform(const Grid* grid, const GridExtent* extent, double transform[6])
{
    transform[0] = static_cast<double>(extent->column_first) * grid->cell_m;
    transform[1] = grid->cell_m;
    transform[2] = 0;
    transform[3] = static_cast<double>(extent->row_first + extent->height) * grid->cell_m;
    transform[4] = 0;
    transform[5] = -grid->cell_m;
}

void grid_row(const Grid* grid, GridBand band, int64_t row, int64_t column_first, int64_t width, float* values)
{
    int64_t column = column_first;
    int64_t end = column_first + width;
    while (column < end) {
        int64_t tile_column = column & TILE_MASK;
        int64_t span_end = tile_column + GRID_TILE_SIDE < end ? tile_column + GRID_TILE_SIDE : end;
        const GridTile* tile = tile_find(grid, tile_column, row & TILE_MASK);
        int count = static_cast<int>(span_end - column);
        if (tile == nullptr) {
            for (int i = 0; i < count; ++i) values[i] = NAN;
        } else {
            band_values(&tile->cells[((row - tile->row) << GRID_TILE_SHIFT) + (column - tile_column)], count, band,
                        values);
        }
        values += count;
        column = span_end;
    }
}

GridStatus grid_coarsen(Grid* grid)
{
    Grid coarse;
    if (!grid_init(&coarse, grid->cell_m * 2, 0)) return grid->status;  // past the largest cell: left as it is
    coarse.tiles_max = grid->tiles_max;
    for (long number = 0; number < grid->tile_count && coarse.status == GRID_OK; ++number) {
        const GridTile* tile = grid->tiles[number];
        for (int i = 0; i < TILE_CELLS; ++i) {
            if (tile->cells[i].count == 0) continue;
            int64_t column = half_down(tile->column + (i & (GRID_TILE_SIDE - 1)));
            int64_t row = half_down(tile->row + (i >> GRID_TILE_SHIFT));
            GridCell* into = cell_take(&coarse, column, row);
            if (into == nullptr) break;
            cell_merge(into, &tile->cells[i]);
        }
    }
    if (coarse.status != GRID_OK) {
        grid_free(&coarse);
        grid->status = GRID_NO_MEMORY;
        return grid->status;
    }
    coarse.binned = grid->binned;
    coarse.refused_position = grid->refused_position;
    coarse.refused_depth = grid->refused_depth;
    grid_free(grid);
    *grid = coarse;
    return GRID_OK;
}

void grid_full_text(const Grid* grid, char* text, size_t size)
{
    long mib = static_cast<long>(grid->tiles_max * static_cast<long>(sizeof(GridTile)) >> 20);
    if (grid->status == GRID_NO_MEMORY) {
        snprintf(text, size, "out of memory after %ld tiles of %d x %d cells of %g m; cells of %g m need fewer",
                 grid->tile_count, GRID_TILE_SIDE, GRID_TILE_SIDE, grid->cell_m, grid->cell_m * 2);
        return;
    }
    int told = snprintf(text, size,
                        "the soundings cover more than %ld tiles of %d x %d cells of %g m, the %ld MiB a grid may "
                        "take; ",
                        grid->tiles_max, GRID_TILE_SIDE, GRID_TILE_SIDE, grid->cell_m, mib);
    if (told < 0 || static_cast<size_t>(told) >= size) return;
    if (grid->cell_m * 2 > GRID_CELL_MAX_M) {
        snprintf(text + told, size - told, "no cell is larger than %g m", GRID_CELL_MAX_M);
    } else {
        snprintf(text + told, size - told, "cells of %g m need a half to a quarter of that", grid->cell_m * 2);
    }
}
