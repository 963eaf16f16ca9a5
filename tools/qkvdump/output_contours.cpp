// --contours: the lines of the soundings' cells' shoalest depths (ping_grid.h),
// GeoJSON in WGS 84 or a GeoPackage where OUT ends in .gpkg (grid_file.h),
// made by GDAL once every ping has been binned.
#include "tools/qkvdump/ping_grid.h"

namespace {

const char* out(const DumpOptions* options)
{
    return options->contours;
}

bool write(const PingGrid* cells, const DumpOptions* options, const GridDescription* description, const char* path,
           char reason[GRIDFILE_REASON_SIZE])
{
    ContourLevels levels = {options->contour_interval_m, options->contour_depths, options->contour_depth_count};
    return contour_write(&cells->grid, description, &levels, contour_format_of(options->contours), path, reason);
}

bool finish(DumpOutput* output, const DumpEnd* end)
{
    if (!ping_grid_output_finish(output, end, write)) return false;
    const PingGridOutput* g = static_cast<PingGridOutput*>(output->state);
    fprintf(g->summary, "%s: the contour lines of the shoalest depths of cells of %g m, %s\n", output->target.path,
            g->cells->grid.cell_m,
            contour_format_of(g->options->contours) == CONTOUR_GPKG ? "a GeoPackage" : "GeoJSON in WGS 84");
    return true;
}

}  // namespace

const DumpOutputKind CONTOURS_OUTPUT = {
    {"--contours", "contours", OUTPUT_CONTOURS}, sizeof(PingGridOutput),
    {out, ping_grid_output_begin, ping_grid_output_ping, finish}, nullptr,
    {gridfile_supported, "qkvdump: --contours: this build has no GDAL or PROJ (the Linux build writes contours)"}};
