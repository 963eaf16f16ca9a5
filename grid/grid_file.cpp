#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>

#include <H5Epublic.h>

#include "grid/grid_view.h"

namespace {

// The GeoTIFF's layout: see grid_file.h for why each.
const char* const COG_OPTIONS[] = {"COMPRESS=DEFLATE", "LEVEL=1",       "BLOCKSIZE=256",
                                   "SPARSE_OK=TRUE",   "BIGTIFF=IF_SAFER", "OVERVIEW_RESAMPLING=NEAREST",
                                   nullptr};
constexpr int TEXT_SIZE = 1024;

// A name inside a WKT string, which has no way to hold a double quote: each becomes a single one.
void wkt_quoted(const char* name, char* text, size_t size)
{
    snprintf(text, size, "%s", name);
    for (char* at = text; *at != 0; ++at) {
        if (*at == '"') *at = '\'';
    }
}

void describe_cog(GridView* view, const GridDescription* description)
{
    char text[TEXT_SIZE];
    view->SetMetadataItem("DEPTH_REFERENCE", description->depth_reference);
    view->SetMetadataItem("DEPTH_POSITIVE", "down");
    snprintf(text, sizeof text, "%.17g", view->grid->cell_m);
    view->SetMetadataItem("CELL_SIZE_M", text);
    view->SetMetadataItem("CELL_RULE", "column floor(x / CELL_SIZE_M), row floor(y / CELL_SIZE_M): "
                                       "a cell holds its lower and left edges");
    snprintf(text, sizeof text, "%" PRId64, view->grid->binned);
    view->SetMetadataItem("SOUNDINGS", text);
    view->SetMetadataItem("SOURCE", description->source);
}

// BAG's metadata comes from GDAL's template, its blanks filled by these.
void describe_bag(const GridView* view, const GridDescription* description, CPLStringList* options)
{
    char name[TEXT_SIZE / 2];
    char text[TEXT_SIZE * 2];
    wkt_quoted(description->depth_reference, name, sizeof name);
    snprintf(text, sizeof text, "VERT_CS[\"%s\",VERT_DATUM[\"%s\",2000],UNIT[\"metre\",1],AXIS[\"Up\",UP]]", name,
             name);
    options->SetNameValue("VAR_VERT_WKT", text);
    options->SetNameValue("VAR_VERTICAL_UNCERT_CODE", "rawStdDev");
    snprintf(text, sizeof text,
             "Elevation: the mean depth of the soundings in each cell of %g m, negated (positive up), above %s. "
             "Uncertainty: the sample standard deviation of the soundings in the cell; no data where fewer than two.",
             view->grid->cell_m, description->depth_reference);
    options->SetNameValue("VAR_ABSTRACT", text);
    snprintf(text, sizeof text,
             "%s binned %" PRId64 " soundings into %" PRId64 " cells of %g m: a cell holds its lower and left edges, "
             "its column floor(x / %g), its row floor(y / %g)",
             description->source, view->grid->binned, view->extent.cells, view->grid->cell_m, view->grid->cell_m,
             view->grid->cell_m);
    options->SetNameValue("VAR_PROCESS_STEP_DESCRIPTION", text);
}

// HDF5 says a write that failed as the BAG is closed (a full disk) only on its error stack, which GDAL does not read
// there: while the BAG is written, HDF5's reports of its failures come here instead of its standard error, and fail
// the writing with the first one's words.
struct Hdf5Watch {
    char* reason;
    H5E_auto2_t before;
    void* before_data;
};

herr_t hdf5_said(unsigned, const H5E_error2_t* error, void* watch)
{
    char* reason = static_cast<Hdf5Watch*>(watch)->reason;
    if (reason[0] == 0) snprintf(reason, GRIDFILE_REASON_SIZE, "HDF5: %s", error->desc);
    return 0;
}

herr_t hdf5_failed(hid_t stack, void* watch)
{
    char* reason = static_cast<Hdf5Watch*>(watch)->reason;
    H5Ewalk2(stack, H5E_WALK_UPWARD, hdf5_said, watch);
    if (reason[0] == 0) snprintf(reason, GRIDFILE_REASON_SIZE, "HDF5 could not write the BAG");
    return 0;
}

void hdf5_watch(Hdf5Watch* watch, char* reason)
{
    watch->reason = reason;
    H5Eget_auto2(H5E_DEFAULT, &watch->before, &watch->before_data);
    H5Eset_auto2(H5E_DEFAULT, hdf5_failed, watch);
}

void hdf5_unwatch(const Hdf5Watch* watch)
{
    H5Eset_auto2(H5E_DEFAULT, watch->before, watch->before_data);
}

// BAG's driver opens the file again at the end of a copy, which it does only under a name ending in .bag, and the
// name written beside OUT does not end so: the BAG is made, and the bands copied into it.
bool write_bag(GDALDriverH driver, GridView* view, const char* path, CSLConstList options, GridGdalCall* call)
{
    Hdf5Watch watch;
    hdf5_watch(&watch, call->reason);
    GDALDatasetH bag = GDALCreate(driver, path, view->GetRasterXSize(), view->GetRasterYSize(), view->GetRasterCount(),
                                  GDT_Float32, options);
    bool copied = bag != nullptr && GDALSetGeoTransform(bag, view->transform) == CE_None &&
                  GDALSetSpatialRef(bag, OGRSpatialReference::ToHandle(&view->crs)) == CE_None &&
                  GDALDatasetCopyWholeRaster(GDALDataset::ToHandle(view), bag, nullptr, grid_gdal_progress, call) ==
                      CE_None;
    if (bag != nullptr) GDALClose(bag);
    hdf5_unwatch(&watch);
    return copied && call->reason[0] == 0;
}

}  // namespace

bool grid_view_extent(const Grid* grid, GridExtent* extent, char* reason)
{
    if (!grid_extent(grid, extent)) {
        snprintf(reason, GRIDFILE_REASON_SIZE, "no sounding to grid");
        return false;
    }
    if (extent->width >= INT_MAX || extent->height >= INT_MAX ||
        extent->width * extent->height > GRIDFILE_RASTER_MAX) {
        // The cell that fits, with room for the cells a coarser grid's edges may add.
        double fits = grid->cell_m * std::sqrt(static_cast<double>(extent->width) *
                                               static_cast<double>(extent->height) / GRIDFILE_RASTER_MAX) * 1.01;
        snprintf(reason, GRIDFILE_REASON_SIZE,
                 "the soundings span %" PRId64 " x %" PRId64 " cells of %g m, more than the %" PRId64
                 " cells a grid file may have; cells of %.3g m or more fit",
                 extent->width, extent->height, grid->cell_m, GRIDFILE_RASTER_MAX, fits);
        return false;
    }
    return true;
}

bool gridfile_supported()
{
    return true;
}

bool gridfile_write(const Grid* grid, const GridDescription* description, GridFileFormat format, const char* path,
                    char reason[GRIDFILE_REASON_SIZE])
{
    GridExtent extent;
    if (!grid_view_extent(grid, &extent, reason)) return false;
    grid_gdal_start();
    GridGdalCall call(reason, description);
    GridView view(grid, &extent, format == GRIDFILE_BAG ? GRID_VIEW_BAG : GRID_VIEW_BANDS);
    if (!view.set_crs(description->crs_wkt, reason)) return false;
    CPLStringList options;
    if (format == GRIDFILE_BAG) {
        describe_bag(&view, description, &options);
    } else {
        describe_cog(&view, description);
        for (const char* const* option = COG_OPTIONS; *option != nullptr; ++option) options.AddString(*option);
        if (extent.width <= OVERVIEWS_FROM && extent.height <= OVERVIEWS_FROM) options.AddString("OVERVIEWS=NONE");
    }
    GDALDriverH driver = GDALGetDriverByName(format == GRIDFILE_BAG ? "BAG" : "COG");
    if (format == GRIDFILE_BAG) {
        return call.succeeded(driver != nullptr && write_bag(driver, &view, path, options.List(), &call), "the BAG");
    }
    GDALDatasetH written = driver == nullptr ? nullptr
                                             : GDALCreateCopy(driver, path, GDALDataset::ToHandle(&view), FALSE,
                                                              options.List(), grid_gdal_progress, &call);
    if (written != nullptr) GDALClose(written);
    return call.succeeded(written != nullptr, "the GeoTIFF");
}
