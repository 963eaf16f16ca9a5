#include "tools/qkvweb/coverage.h"

#include <cmath>

namespace {

void open_projection(WebCoverage* c, double latitude, double longitude)
{
    UtmZone zone;
    c->refused = !utm_zone_of(longitude, latitude, &zone) || !projection_open_utm(&c->projection, &zone) ||
                 !grid_init(&c->grid, COVERAGE_CELL_FIRST_M, COVERAGE_MEMORY);
    c->projected = !c->refused;
    c->grid_open = c->projected;
}

// The cells in the grid, past the page's budget, coarsened until they are within it.
void keep_within_budget(WebCoverage* c)
{
    GridExtent extent;
    while (grid_extent(&c->grid, &extent) && extent.cells > COVERAGE_CELLS_MAX) {
        if (grid_coarsen(&c->grid) != GRID_OK) return;
        ++c->coarsened;
    }
}

// A batch of placed soundings into the cells; where the tiles are full, the cells are doubled and the rest taken.
void bin(WebCoverage* c, GridSounding* batch, int count)
{
    if (count == 0) return;
    if (!c->projected && !c->refused) open_projection(c, batch[0].y, batch[0].x);
    if (!c->projected) return;
    projection_forward(&c->projection, batch, count);
    for (int taken = 0; taken < count;) {
        taken += grid_add(&c->grid, batch + taken, count - taken);
        if (c->grid.status == GRID_OK) continue;
        if (grid_coarsen(&c->grid) != GRID_OK) break;
        ++c->coarsened;
    }
    keep_within_budget(c);
    c->binned += count;
    c->fresh = true;
}

// The cells of the copy new or changed since the one before; whole where that one is of other cells. Both
// copies are in the grid's order.
void find_changes(WebCoverage* c)
{
    const CoverageCell* before = c->copies[1 - c->current];
    int before_count = c->counts[1 - c->current];
    c->whole = c->whole || c->coarsened != c->coarsened_copied;
    c->coarsened_copied = c->coarsened;
    c->changed_count = 0;
    for (int i = 0, b = 0; i < c->cell_count && !c->whole; ++i) {
        const CoverageCell* cell = &c->cells[i];
        while (b < before_count && (before[b].tile < cell->tile ||
                                    (before[b].tile == cell->tile && before[b].index < cell->index))) {
            ++b;
        }
        bool same = b < before_count && before[b].tile == cell->tile && before[b].index == cell->index &&
                    before[b].depth_m == cell->depth_m;
        if (!same) c->changed[c->changed_count++] = i;
    }
}

// The cells holding soundings, their centres back in degrees.
void copy_cells(WebCoverage* c)
{
    static GridSounding places[COVERAGE_CELLS_MAX];
    static int32_t tiles[COVERAGE_CELLS_MAX], indexes[COVERAGE_CELLS_MAX];
    int count = 0;
    const Grid* g = &c->grid;
    for (long t = 0; t < g->tile_count && count < COVERAGE_CELLS_MAX; ++t) {
        const GridTile* tile = g->tiles[t];
        for (int k = 0; k < GRID_TILE_SIDE * GRID_TILE_SIDE && count < COVERAGE_CELLS_MAX; ++k) {
            const GridCell* cell = &tile->cells[k];
            if (cell->count == 0) continue;
            places[count].x = (static_cast<double>(tile->column + k % GRID_TILE_SIDE) + 0.5) * g->cell_m;
            places[count].y = (static_cast<double>(tile->row + k / GRID_TILE_SIDE) + 0.5) * g->cell_m;
            places[count].depth = cell->mean;
            tiles[count] = static_cast<int32_t>(t);
            indexes[count] = k;
            ++count;
        }
    }
    if (count > 0) projection_inverse(&c->projection, places, count);
    c->current = 1 - c->current;
    CoverageCell* cells = c->copies[c->current];
    c->cells = cells;
    c->cell_count = 0;
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(places[i].x) || !std::isfinite(places[i].y)) continue;
        float depth = static_cast<float>(places[i].depth);
        bool first = c->cell_count == 0;
        c->depth_min_m = first || depth < c->depth_min_m ? depth : c->depth_min_m;
        c->depth_max_m = first || depth > c->depth_max_m ? depth : c->depth_max_m;
        cells[c->cell_count++] = CoverageCell{places[i].y, places[i].x, depth, tiles[i], indexes[i]};
    }
    c->counts[c->current] = c->cell_count;
    c->cell_m = g->cell_m;
    find_changes(c);
    ++c->version;
}

}  // namespace

void coverage_start(WebCoverage* c)
{
    coverage_stop(c);
    motion_track_start(&c->latitude, false);
    motion_track_start(&c->longitude, false);
    c->waiting_first = c->waiting_count = 0;
    c->refused = false;
    c->binned = c->unplaced = 0;
    c->fresh = false;
    c->copied_ms = 0;
    c->cell_count = 0;
    c->cell_m = 0;
    c->coarsened = c->coarsened_copied = 0;
    c->current = 0;
    c->counts[0] = c->counts[1] = 0;
    c->cells = c->copies[0];
    c->whole = true;
    c->changed_count = 0;
    ++c->version;
}

void coverage_stop(WebCoverage* c)
{
    if (c->grid_open) grid_free(&c->grid);
    if (c->projected) projection_close(&c->projection);
    c->grid_open = c->projected = false;
}

void coverage_fix(WebCoverage* c, int64_t utc_ms, double latitude, double longitude)
{
    motion_track_add(&c->latitude, utc_ms, latitude);
    motion_track_add(&c->longitude, utc_ms, longitude);
}

void coverage_sounding(WebCoverage* c, int64_t utc_ms, double depth_m)
{
    if (c->waiting_count == COVERAGE_WAITING_MAX) {  // no fix for long: the oldest goes unplaced
        c->waiting_first = (c->waiting_first + 1) % COVERAGE_WAITING_MAX;
        --c->waiting_count;
        ++c->unplaced;
    }
    c->waiting[(c->waiting_first + c->waiting_count++) % COVERAGE_WAITING_MAX] = CoverageSounding{utc_ms, depth_m};
}

bool coverage_update(WebCoverage* c, int64_t now_ms)
{
    const MotionTrack* fixes = &c->latitude;
    int64_t latest = fixes->count > 0 ? fixes->sample[(fixes->first + fixes->count - 1) % MOTION_SAMPLES_MAX].utc_ms
                                      : INT64_MIN;
    GridSounding batch[COVERAGE_BATCH];
    int count = 0;
    while (c->waiting_count > 0 && c->waiting[c->waiting_first].utc_ms <= latest) {
        const CoverageSounding* s = &c->waiting[c->waiting_first];
        double latitude = 0, longitude = 0;
        if (motion_track_at(&c->latitude, s->utc_ms, &latitude) && motion_track_at(&c->longitude, s->utc_ms, &longitude)) {
            batch[count++] = GridSounding{longitude, latitude, s->depth_m};
        } else {
            ++c->unplaced;
        }
        c->waiting_first = (c->waiting_first + 1) % COVERAGE_WAITING_MAX;
        --c->waiting_count;
        if (count == COVERAGE_BATCH) {
            bin(c, batch, count);
            count = 0;
        }
    }
    bin(c, batch, count);
    if (!c->fresh || now_ms - c->copied_ms < COVERAGE_COPY_EVERY_MS) return false;
    c->whole = false;
    copy_cells(c);
    c->fresh = false;
    c->copied_ms = now_ms;
    return true;
}
