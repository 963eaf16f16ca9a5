// The build without PROJ and GDAL (Windows): the soundings are binned as
// anywhere, but no projection opens and no grid file or contour is written.
#include <cstdio>

#include "grid/grid_file.h"
#include "grid/projection.h"

namespace {

const char NOT_HERE[] = "not available in this build (it has no GDAL or PROJ)";

}  // namespace

bool projection_supported()
{
    return false;
}

bool projection_open_crs(Projection* projection, const char*)
{
    snprintf(projection->reason, sizeof projection->reason, "a projection is %s", NOT_HERE);
    return false;
}

bool projection_open_utm(Projection* projection, const UtmZone*)
{
    return projection_open_crs(projection, nullptr);
}

void projection_forward(Projection*, GridSounding*, int) {}

void projection_inverse(Projection*, GridSounding*, int) {}

void projection_close(Projection*) {}

bool gridfile_supported()
{
    return false;
}

bool gridfile_write(const Grid*, const GridDescription*, GridFileFormat, const char*, char reason[GRIDFILE_REASON_SIZE])
{
    snprintf(reason, GRIDFILE_REASON_SIZE, "a grid file is %s", NOT_HERE);
    return false;
}

bool contour_write(const Grid*, const GridDescription*, const ContourLevels*, ContourFormat, const char*,
                   char reason[GRIDFILE_REASON_SIZE])
{
    snprintf(reason, GRIDFILE_REASON_SIZE, "contours are %s", NOT_HERE);
    return false;
}
