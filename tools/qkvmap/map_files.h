// What qkvmap reads and writes, through GDAL: the grid (a raster whose bands
// GDAL describes by name, as qkvdump --grid writes them), the contour lines
// (any vector file OGR reads, with a depth field, in any coordinate system
// PROJ knows), and the picture (GDAL's PNG driver).
#pragma once

#include "tools/qkvmap/map_draw.h"
#include "tools/qkvmap/map_options.h"

constexpr int MAP_REASON_SIZE = 512;
constexpr int MAP_REFERENCE_SIZE = 128;

struct MapGrid {
    void* dataset;  // GDAL's
    void* band;
    void* crs;      // the grid's coordinate system, OGR's
    int columns, rows;
    double transform[6];  // north up: no rotation
    double metres_per_unit;
    double shoalest, deepest;
    char reference[MAP_REFERENCE_SIZE];  // what the depths are below, as the grid says; "" when it does not
};

void map_gdal_start();
// False with the reason when GRID cannot be opened, has no band of that name,
// no projected coordinate system, a rotated geotransform or no depth.
bool map_grid_open(const char* path, MapBand band, MapGrid* grid, char reason[MAP_REASON_SIZE]);
void map_grid_close(MapGrid* grid);
// The band's depths at the map's pixels (nearest cell), NaN where none.
bool map_grid_read(const MapGrid* grid, const MapLayout* layout, float* depths, char reason[MAP_REASON_SIZE]);
// The angle from the grid's north to true north at the map's centre, clockwise; NaN when unknown.
double map_grid_north(const MapGrid* grid);
// Each line of the file drawn over the map, its depth set beside it where it fits; the lines drawn in count.
bool map_contours_draw(const char* path, const MapGrid* grid, const MapLayout* layout, MapCanvas* canvas,
                       MapLabels* labels, long* count, char reason[MAP_REASON_SIZE]);
bool map_png_write(const MapCanvas* canvas, const char* path, char reason[MAP_REASON_SIZE]);
