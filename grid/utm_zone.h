// The UTM zone a survey is gridded in, chosen from its soundings' positions.
// One zone for the whole grid, however far the survey runs into the next:
// the zone of the soundings' median longitude and latitude (each the middle
// sounding's own value, never an average, so a survey across the
// antimeridian takes one of its two zones and not a zone half a world away),
// with the hemisphere of that latitude. Zone 32 is widened over south-western
// Norway (56 to 64 N, 3 to 12 E) and the zones 31 to 37 are redrawn over
// Svalbard (72 to 84 N), as the UTM grid defines them; beyond 84 N and 80 S,
// where UTM ends, the universal polar stereographic grid of that pole.
// Plain functions; WGS 84's zones (EPSG 326NN north, 327NN south).
#pragma once

#include "grid/grid.h"

constexpr int UTM_SAMPLE_MAX = 1024;  // the first soundings with a position that choose the zone
constexpr int UTM_EPSG_NORTH = 32600;  // + zone
constexpr int UTM_EPSG_SOUTH = 32700;
constexpr int UPS_EPSG_NORTH = 32661;
constexpr int UPS_EPSG_SOUTH = 32761;

struct UtmZone {
    int zone;    // 1 to 60; 0: polar stereographic
    bool north;  // the hemisphere
    int epsg;
};

// The zone of one position in degrees; false when it is no position.
bool utm_zone_of(double longitude, double latitude, UtmZone* zone);
// The zone of the median of the soundings' positions (x longitude, y latitude); false when none has one.
bool utm_zone_of_soundings(const GridSounding* soundings, int count, UtmZone* zone);
