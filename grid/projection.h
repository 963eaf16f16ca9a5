// Soundings' positions from WGS 84 longitude and latitude to the grid's
// projected coordinate system, with PROJ (proj.h). PROJ rather than GDAL's
// spatial references: the live coverage needs the projection without a
// raster library, and proj_trans_generic transforms a batch where it lies,
// stepping over the soundings' records, with no copy. The soundings' own
// datum is taken as WGS 84, which is what GNSS receivers give.
//
// The grid's coordinate system is the UTM zone chosen from the soundings
// (utm_zone.h) or any one PROJ takes (an EPSG code, "EPSG:25832", a WKT, a
// PROJ string with +type=crs); it must be projected, with axes in metres: a
// geographic one is refused, as cells of M metres have no meaning in
// degrees. Of a compound system the horizontal part is taken (the depths'
// reference is the soundings' own). PROJ's network access is off: grids of
// datum shifts come from the machine or not at all.
// Where there is no PROJ (the Windows build), projection_supported says so
// and nothing opens.
#pragma once

#include "grid/grid.h"
#include "grid/utm_zone.h"

struct pj_ctx;
struct PJconsts;

constexpr int PROJECTION_NAME_SIZE = 512;
constexpr int PROJECTION_WKT_SIZE = 16384;
constexpr int PROJECTION_REASON_SIZE = 512;

struct Projection {
    pj_ctx* context;
    PJconsts* forward;                  // longitude, latitude in degrees to the grid's x, y
    char name[PROJECTION_NAME_SIZE];    // as said to the user: "WGS 84 / UTM zone 31N (EPSG:32631)"
    char wkt[PROJECTION_WKT_SIZE];      // the grid's coordinate system, WKT2, for the files written
    char reason[PROJECTION_REASON_SIZE];  // why it did not open
};

bool projection_supported();
// The coordinate system the user named; false with the reason when it is unknown or unfit for a grid.
bool projection_open_crs(Projection* projection, const char* crs);
// The UTM (or polar) zone chosen from the soundings.
bool projection_open_utm(Projection* projection, const UtmZone* zone);
// Each sounding's x (longitude) and y (latitude) to the grid's, in place; a
// position that cannot be projected becomes not finite, which grid_add refuses.
void projection_forward(Projection* projection, GridSounding* soundings, int count);
// The grid's x and y back to longitude (x) and latitude (y) in degrees, in place: a cell's centre to draw it on a
// chart of the track.
void projection_inverse(Projection* projection, GridSounding* places, int count);
void projection_close(Projection* projection);
