// A grid's files, written with GDAL: the grid itself (a Cloud-Optimized
// GeoTIFF, or a BAG) and the contour lines of its shoalest depths (GeoJSON
// or GeoPackage). Each is written to the path it is given, replacing a file
// there (such as the empty one a caller makes to hold the name), whole or not
// at all: the caller makes that path beside its OUT and moves it into place
// when the call succeeds, and removes it when it fails. While it writes, GDAL
// may make files named after that path plus a suffix (the GeoTIFF's
// overviews in PATH.ovr.tmp, the GeoPackage's journal in PATH-journal); it
// removes them before it returns, so the directory must take them.
//
// The GeoTIFF: four Float32 bands, each named by its GDAL description, in
// the order of GridBand: mean, shoalest, count, std; NaN, its no-data value,
// where a cell has no sounding (and in std where it has one); the
// coordinate system; depths in metres, positive down, below the reference
// the metadata names (DEPTH_REFERENCE, DEPTH_POSITIVE=down, CELL_SIZE_M,
// CELL_RULE, SOUNDINGS, SOURCE). Tiles of 256 x 256 (less padding round a
// survey's extent than 512, so less to compress), DEFLATE at level 1 (within
// 3% of level 6's size at half its time; the floating-point predictor made
// these grids larger), tiles holding no sounding left out; overviews, by
// nearest neighbour so that each holds only values some cell holds, where
// the grid is more than OVERVIEWS_FROM cells across or down.
// The BAG: its elevation, positive up as BAG defines it, is the mean depth
// negated; its uncertainty the standard deviation, no-data (1,000,000) where
// a cell has fewer than two soundings; its metadata names the vertical
// reference (a double quote in its name becomes a single one: WKT cannot
// hold it), the uncertainty as the soundings' raw standard deviation, and
// how the grid was made.
//
// Where there is no GDAL (the Windows build), gridfile_supported says so and
// nothing is written.
#pragma once

#include "grid/grid.h"

constexpr int GRIDFILE_REASON_SIZE = 512;
constexpr int64_t GRIDFILE_RASTER_MAX = 1LL << 28;  // cells of a grid file's extent: 16,384 x 16,384
constexpr int64_t OVERVIEWS_FROM = 2048;  // cells across or down: a smaller grid is read whole about as fast
constexpr int CONTOUR_LEVELS_MAX = 256;

enum GridFileFormat { GRIDFILE_COG, GRIDFILE_BAG };
enum ContourFormat { CONTOUR_GEOJSON, CONTOUR_GPKG };

// What a grid file says besides its cells.
struct GridDescription {
    const char* crs_wkt;          // the grid's coordinate system (Projection's wkt)
    const char* depth_reference;  // what the depths are below: "water surface", "chart datum", ... (never null)
    const char* source;           // the program and its version, "qkvdump 1.0.0" (never null)
    bool (*carry_on)(void* context);  // may be null; false (a quit key, a signal) stops the writing, which fails
    void* carry_on_context;
};

// The contour lines' depths: every multiple of interval within the grid's
// depths, or those given (in any order).
struct ContourLevels {
    double interval;  // 0: the depths below
    const double* depths;
    int depth_count;
};

// Told by OUT's name, not by the temporary path written: .bag (any case) a BAG, else a GeoTIFF.
GridFileFormat gridfile_format_of(const char* out);
// .gpkg a GeoPackage, else GeoJSON.
ContourFormat contour_format_of(const char* out);

bool gridfile_supported();
// False with the reason when the grid has no cell, spans more than GRIDFILE_RASTER_MAX cells, or cannot be written.
bool gridfile_write(const Grid* grid, const GridDescription* description, GridFileFormat format, const char* path,
                    char reason[GRIDFILE_REASON_SIZE]);
// The lines of the shoalest band, in WGS 84, each with its depth (and the depth_reference) as properties.
bool contour_write(const Grid* grid, const GridDescription* description, const ContourLevels* levels,
                   ContourFormat format, const char* path, char reason[GRIDFILE_REASON_SIZE]);
