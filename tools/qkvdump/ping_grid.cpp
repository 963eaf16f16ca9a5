#include "tools/qkvdump/ping_grid.h"

#include <cstring>

namespace {

const char SOURCE[] = "qkvdump " HALVEX_VERSION " (Halvex_StoreData)";

// The sounding a ping gives the grid, exactly as the soundings file writes it, so that a grid binned again from
// that file has the same cells: false where the ping has no position or no depth, or its depth is flagged.
bool sounding_of(const ExportPing* ping, GridSounding* sounding)
{
    if (!ping->position.known || !ping->bottom.has_depth) return false;
    if (ping->reduced && ping->reduction.flags != 0) return false;
    sounding->x = export_sounding_degrees(ping->position.longitude);
    sounding->y = export_sounding_degrees(ping->position.latitude);
    sounding->depth = static_cast<double>(export_millimetres(ping->bottom.depth_m)) / 1000.0;
    return true;
}

void fail(PingGrid* cells, const char* why)
{
    if (cells->why[0] == 0) snprintf(cells->why, sizeof cells->why, "%s", why);
}

void say_system(const PingGrid* cells)
{
    fprintf(stderr, "qkvdump: cells of %g m in %s\n", cells->grid.cell_m, cells->projection.name);
}

// The zone of the soundings held, said.
void choose_zone(PingGrid* cells)
{
    UtmZone zone;
    if (!utm_zone_of_soundings(cells->held, cells->held_count, &zone)) {
        fail(cells, "no sounding's position lies in a UTM zone");
        return;
    }
    cells->projected = projection_open_utm(&cells->projection, &zone);
    if (!cells->projected) fail(cells, cells->projection.reason);
    if (cells->projected) say_system(cells);
}

// The soundings held, projected and binned.
void bin_held(PingGrid* cells)
{
    int count = cells->held_count;
    cells->held_count = 0;
    if (!cells->projected || cells->why[0] != 0) return;
    projection_forward(&cells->projection, cells->held, count);
    if (grid_add(&cells->grid, cells->held, count) == count && cells->grid.status == GRID_OK) return;
    grid_full_text(&cells->grid, cells->why, sizeof cells->why);
}

// What the cells hold may be written.
const char* why_not(const PingGrid* cells)
{
    if (cells->why[0] != 0) return cells->why;
    if (cells->grid.binned == 0) return "no ping has both a position and a depth that is not flagged";
    return nullptr;
}

bool carry_on(void*)
{
    return !plat_end_asked();
}

}  // namespace

bool ping_grid_begin(PingGrid* cells, const DumpOptions* options, const char* depth_reference)
{
    cells->projected = false;
    cells->held_count = 0;
    cells->depth_reference = depth_reference;
    cells->why[0] = 0;
    cells->projection = Projection{};
    if (!grid_init(&cells->grid, options->cell_m, GRID_MEMORY_DEFAULT)) return false;  // the cell was checked
    if (options->crs == nullptr) return true;
    cells->projected = projection_open_crs(&cells->projection, options->crs);
    if (cells->projected) {
        say_system(cells);
        return true;
    }
    fprintf(stderr, "qkvdump: --crs: %s\n", cells->projection.reason);
    grid_free(&cells->grid);
    return false;
}

void ping_grid_add(PingGrid* cells, const ExportPing* ping)
{
    if (cells->why[0] != 0 || !sounding_of(ping, &cells->held[cells->held_count])) return;
    ++cells->held_count;
    if (cells->projected ? cells->held_count < GRID_BATCH : cells->held_count < UTM_SAMPLE_MAX) return;
    if (!cells->projected) choose_zone(cells);
    bin_held(cells);
}

void ping_grid_end(PingGrid* cells)
{
    if (!cells->projected && cells->held_count > 0 && cells->why[0] == 0) choose_zone(cells);
    bin_held(cells);
}

void ping_grid_free(PingGrid* cells)
{
    projection_close(&cells->projection);
    grid_free(&cells->grid);
}

int ping_grid_output_begin(DumpOutput* output, const DumpSetup* setup)
{
    PingGridOutput* g = static_cast<PingGridOutput*>(output->state);
    g->cells = setup->cells;
    g->options = setup->options;
    g->summary = setup->summary;
    return output_target_name(&output->target, &g->written) ? 0 : 1;
}

void ping_grid_output_ping(DumpOutput*, const ExportPing*) {}

bool ping_grid_output_finish(DumpOutput* output, const DumpEnd* end, PingGridWrite write)
{
    const PingGridOutput* g = static_cast<PingGridOutput*>(output->state);
    OutputTarget* target = &output->target;
    const char* why = end->why != nullptr ? end->why : why_not(g->cells);
    if (end->abandoned || !end->keep || why != nullptr) {
        if (!end->abandoned && why != nullptr) dump_output_not_written(target, why);
        output_target_finish(target, false);
        return false;
    }
    char reason[GRIDFILE_REASON_SIZE] = "";
    GridDescription description = {g->cells->projection.wkt, g->cells->depth_reference, SOURCE, carry_on, nullptr};
    plat_ends_hold(true);
    bool whole = write(g->cells, g->options, &description, g->written, reason);
    bool stopped = plat_end_asked();
    bool kept = output_target_finish(target, whole && !stopped);
    if (!whole && !stopped) fprintf(stderr, "%s: cannot write: %s\n", target->path, reason);
    plat_ends_hold(false);
    return kept;
}
