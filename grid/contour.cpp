// Contour lines of the shoalest depths, made by GDAL's contour generator and
// written in WGS 84 by GDAL's vector translation.
//
// A contour is never drawn deeper than the soundings allow: every sounding
// shoaler than a contour's depth lies on its shoal side. The generator
// interpolates linearly between the values it is given, so it is not given
// the cells' values at their centres (a line between a shoal cell's centre
// and a deep neighbour's could pass between the shoal sounding and its
// cell's centre) but, at each corner of every cell, the shoalest of the
// cells meeting there (grid_view.cpp). Each corner of a cell is then no
// deeper than the cell's shoalest sounding, and so is every point the
// generator interpolates within the cell: a cell holding a sounding shoaler
// than D is wholly on the shoal side of the line of D. Where the depths
// fall, the lines move by up to a cell towards the deep water, never towards
// the shoal. Nothing is smoothed: a smoother would round a line's corner
// across a shoal.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include "grid/grid_view.h"

namespace {

constexpr int LEVELS_TEXT_SIZE = CONTOUR_LEVELS_MAX * 26 + 16;

// The depths to draw, ascending; -1 with the reason when there are none to ask for or too many.
int levels_of(const ContourLevels* levels, const GridExtent* extent, double* depths, char* reason)
{
    if (levels->interval != 0) {
        double interval = levels->interval;
        if (!(interval > 0 && std::isfinite(interval))) {
            snprintf(reason, GRIDFILE_REASON_SIZE, "a contour interval must be a positive number of metres");
            return -1;
        }
        double first = ceil(extent->shoalest / interval);
        double last = floor(extent->deepest / interval);
        // Past 2^53 a double no longer holds every whole number: the levels could not be counted one by one.
        const double countable = 9007199254740992.0;
        if (!(fabs(first) < countable && fabs(last) < countable)) {
            snprintf(reason, GRIDFILE_REASON_SIZE,
                     "an interval of %g m is too fine to count the contours over the depths %g to %g m", interval,
                     extent->shoalest, extent->deepest);
            return -1;
        }
        if (last - first + 1 > CONTOUR_LEVELS_MAX) {
            snprintf(reason, GRIDFILE_REASON_SIZE,
                     "an interval of %g m gives %.0f contours over the depths %g to %g m, more than %d", interval,
                     last - first + 1, extent->shoalest, extent->deepest, CONTOUR_LEVELS_MAX);
            return -1;
        }
        int count = 0;
        for (double level = first; level <= last && count < CONTOUR_LEVELS_MAX; ++level) {
            depths[count++] = level * interval;
        }
        return count;
    }
    bool finite = true;
    for (int i = 0; i < levels->depth_count && i < CONTOUR_LEVELS_MAX; ++i) finite = finite && std::isfinite(levels->depths[i]);
    if (levels->depth_count < 1 || levels->depth_count > CONTOUR_LEVELS_MAX || !finite) {
        snprintf(reason, GRIDFILE_REASON_SIZE, "contour depths must be 1 to %d numbers of metres", CONTOUR_LEVELS_MAX);
        return -1;
    }
    std::copy(levels->depths, levels->depths + levels->depth_count, depths);
    std::sort(depths, depths + levels->depth_count);
    return static_cast<int>(std::unique(depths, depths + levels->depth_count) - depths);
}

bool generate(GridView* view, OGRLayerH layer, const double* depths, int count, GridGdalCall* call)
{
    if (count == 0) return true;
    char fixed[LEVELS_TEXT_SIZE] = "FIXED_LEVELS=";
    for (int i = 0; i < count; ++i) {
        size_t used = strlen(fixed);
        snprintf(fixed + used, sizeof fixed - used, "%s%.17g", i > 0 ? "," : "", depths[i]);
    }
    const char* const options[] = {"ELEV_FIELD=0", "NODATA=nan", fixed, nullptr};
    return GDALContourGenerateEx(view->GetRasterBand(1), layer, const_cast<char**>(options), grid_gdal_progress,
                                 call) == CE_None;
}

bool label(OGRLayerH layer, const char* depth_reference)
{
    bool labelled = true;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGR_F_SetFieldString(feature, 1, depth_reference);
        labelled = labelled && OGR_L_SetFeature(layer, feature) == OGRERR_NONE;
        OGR_F_Destroy(feature);
    }
    return labelled;
}

// GDAL's GeoJSON writer leaves its writes unchecked, so that a full disk would give a cut file said to be whole: the
// text is made in memory, then copied into the file, every write and the closing checked.
bool copy_checked(const char* from, const char* to, char* reason)
{
    vsi_l_offset size = 0;
    GByte* text = VSIGetMemFileBuffer(from, &size, FALSE);
    VSILFILE* file = text == nullptr ? nullptr : VSIFOpenL(to, "wb");
    bool copied = file != nullptr && VSIFWriteL(text, 1, size, file) == size;
    if (file != nullptr) copied = VSIFCloseL(file) == 0 && copied;
    if (!copied) snprintf(reason, GRIDFILE_REASON_SIZE, "the contour lines could not be written whole: %s", strerror(errno));
    return copied;
}

// The lines, from the grid's coordinates to WGS 84, into the file.
bool translate(GDALDatasetH lines, ContourFormat format, const char* path, char* reason)
{
    const char* const geojson[] = {"-f", "GeoJSON", "-t_srs", "EPSG:4326", "-nln", "contours", "-lco", "RFC7946=YES",
                                   nullptr};
    const char* const gpkg[] = {"-f", "GPKG", "-t_srs", "EPSG:4326", "-nln", "contours", nullptr};
    const char in_memory[] = "/vsimem/contours.geojson";
    GDALVectorTranslateOptions* options =
        GDALVectorTranslateOptionsNew(const_cast<char**>(format == CONTOUR_GPKG ? gpkg : geojson), nullptr);
    const char* made = format == CONTOUR_GPKG ? path : in_memory;
    VSIUnlink(made);  // the drivers make a file anew, and refuse one there
    GDALDatasetH written = GDALVectorTranslate(made, nullptr, 1, &lines, options, nullptr);
    GDALVectorTranslateOptionsFree(options);
    if (written != nullptr) GDALClose(written);
    bool whole = written != nullptr && (made == path || copy_checked(in_memory, path, reason));
    if (made != path) VSIUnlink(in_memory);
    return whole;
}

}  // namespace

bool contour_write(const Grid* grid, const GridDescription* description, const ContourLevels* levels,
                   ContourFormat format, const char* path, char reason[GRIDFILE_REASON_SIZE])
{
    GridExtent extent;
    double depths[CONTOUR_LEVELS_MAX];
    if (!grid_view_extent(grid, &extent, reason)) return false;
    int count = levels_of(levels, &extent, depths, reason);
    if (count < 0) return false;
    grid_gdal_start();
    GridGdalCall call(reason, description);
    GridView view(grid, &extent, GRID_VIEW_CORNERS);
    if (!view.set_crs(description->crs_wkt, reason)) return false;
    GDALDatasetH lines = GDALCreate(GDALGetDriverByName("Memory"), "", 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayerH layer = lines == nullptr ? nullptr
                                       : GDALDatasetCreateLayer(lines, "contours", OGRSpatialReference::ToHandle(&view.crs),
                                                                wkbLineString, nullptr);
    bool made = layer != nullptr;
    for (const char* name : {"depth", "depth_reference"}) {
        OGRFieldDefnH field = OGR_Fld_Create(name, name[5] == 0 ? OFTReal : OFTString);
        made = made && OGR_L_CreateField(layer, field, TRUE) == OGRERR_NONE;
        OGR_Fld_Destroy(field);
    }
    made = made && generate(&view, layer, depths, count, &call);
    made = made && label(layer, description->depth_reference);
    made = made && translate(lines, format, path, reason);
    if (lines != nullptr) GDALClose(lines);
    return call.succeeded(made, "the contours");
}
