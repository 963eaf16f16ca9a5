// A grid seen as a GDAL raster, for GDAL's drivers and contour generator to
// read as they read any dataset: no copy of the bands is made, each window
// GDAL reads is filled from the grid's tiles when it asks for it. Memory
// stays that of the grid's tiles and GDAL's block cache, whatever the
// extent (GDAL still reads the empty windows, to leave their tiles out of a
// GeoTIFF: the time follows the extent). Inside grid/ only: the files are
// written through grid_file.h.
#pragma once

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "grid/grid_file.h"

enum GridViewKind {
    GRID_VIEW_BANDS,     // mean, shoalest, count, std; NaN where none
    GRID_VIEW_BAG,       // elevation (the mean negated) and uncertainty (std); BAG_NO_DATA where none
    GRID_VIEW_CORNERS,   // the shoalest depth of the cells at each cell corner (see contour.cpp)
};

constexpr double BAG_NO_DATA = 1000000;
constexpr int GRID_VIEW_BLOCK = 256;

class GridView : public GDALDataset {
public:
    GridView(const Grid* grid, const GridExtent* extent, GridViewKind kind);
    // False with the reason when the system is unknown to GDAL.
    bool set_crs(const char* wkt, char* reason);
    CPLErr GetGeoTransform(double* transform) override;
    const OGRSpatialReference* GetSpatialRef() const override;

    const Grid* grid;
    GridExtent extent;
    GridViewKind kind;
    double transform[6];
    OGRSpatialReference crs;
};

// The grid's extent, false with the reason where it has no cell or is too large for a file.
bool grid_view_extent(const Grid* grid, GridExtent* extent, char* reason);
// GDAL's drivers registered once, its block cache bounded, PROJ's network off.
void grid_gdal_start();
// One call into GDAL: its errors caught into reason (the first one) while it
// lives, and its progress function (grid_gdal_progress, with this as the
// context) asking the description's carry_on.
class GridGdalCall {
public:
    GridGdalCall(char* reason, const GridDescription* description);
    ~GridGdalCall();
    // Whether the call did what, its reason said where not.
    bool succeeded(bool done, const char* what);
    char* reason;
    const GridDescription* description;
    bool stopped;  // carry_on said no
};
int grid_gdal_progress(double done, const char* message, void* call);
