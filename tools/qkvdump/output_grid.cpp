// --grid: the soundings' cells (ping_grid.h) as a Cloud-Optimized GeoTIFF, or
// a BAG where OUT ends in .bag (grid_file.h), written by GDAL once every ping
// has been binned.
#include "tools/qkvdump/ping_grid.h"

namespace {

const char* out(const DumpOptions* options)
{
    return options->grid;
}

bool write(const PingGrid* cells, const DumpOptions* options, const GridDescription* description, const char* path,
           char reason[GRIDFILE_REASON_SIZE])
{
    return gridfile_write(&cells->grid, description, gridfile_format_of(options->grid), path, reason);
}

bool finish(DumpOutput* output, const DumpEnd* end)
{
    if (!ping_grid_output_finish(output, end, write)) return false;
    const PingGridOutput* g = static_cast<PingGridOutput*>(output->state);
    GridExtent extent;
    grid_extent(&g->cells->grid, &extent);
    fprintf(g->summary, "%s: %lld cells of %g m holding %lld soundings, %lld x %lld, %s\n", output->target.path,
            static_cast<long long>(extent.cells), g->cells->grid.cell_m,
            static_cast<long long>(g->cells->grid.binned), static_cast<long long>(extent.width),
            static_cast<long long>(extent.height),
            gridfile_format_of(g->options->grid) == GRIDFILE_BAG ? "a BAG" : "a Cloud-Optimized GeoTIFF");
    return true;
}

}  // namespace

const DumpOutputKind GRID_OUTPUT = {
    {"--grid", "grid", OUTPUT_GRID}, sizeof(PingGridOutput),
    {out, ping_grid_output_begin, ping_grid_output_ping, finish}, nullptr,
    {gridfile_supported, "qkvdump: --grid: this build has no GDAL or PROJ (the Linux build writes grids)"}};
