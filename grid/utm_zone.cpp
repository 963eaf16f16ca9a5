#include "grid/utm_zone.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double UTM_NORTH_END = 84;
constexpr double UTM_SOUTH_END = -80;

// Svalbard's four zones, each from its first longitude east, between 72 and 84 N.
struct SvalbardZone {
    double east_from;
    int zone;
};
const SvalbardZone SVALBARD[] = {{0, 31}, {9, 33}, {21, 35}, {33, 37}};
constexpr double SVALBARD_SOUTH = 72;
constexpr double SVALBARD_EAST_END = 42;

int lower_median(double* values, int count)
{
    int middle = (count - 1) / 2;
    std::nth_element(values, values + middle, values + count);
    return middle;
}

}  // namespace

bool utm_zone_of(double longitude, double latitude, UtmZone* zone)
{
    if (!std::isfinite(longitude) || !(fabs(latitude) <= 90)) return false;
    zone->north = latitude >= 0;
    if (latitude > UTM_NORTH_END || latitude < UTM_SOUTH_END) {
        zone->zone = 0;
        zone->epsg = zone->north ? UPS_EPSG_NORTH : UPS_EPSG_SOUTH;
        return true;
    }
    double east = fmod(longitude + 180, 360);  // 0 at 180 W
    if (east < 0) east += 360;
    longitude = east - 180;
    zone->zone = std::min(60, static_cast<int>(east / 6) + 1);
    if (latitude >= 56 && latitude < 64 && longitude >= 3 && longitude < 12) zone->zone = 32;
    if (latitude >= SVALBARD_SOUTH && longitude >= 0 && longitude < SVALBARD_EAST_END) {
        for (const SvalbardZone& band : SVALBARD) {
            if (longitude >= band.east_from) zone->zone = band.zone;
        }
    }
    zone->epsg = (zone->north ? UTM_EPSG_NORTH : UTM_EPSG_SOUTH) + zone->zone;
    return true;
}

bool utm_zone_of_soundings(const GridSounding* soundings, int count, UtmZone* zone)
{
    double longitudes[UTM_SAMPLE_MAX];
    double latitudes[UTM_SAMPLE_MAX];
    int taken = 0;
    for (int i = 0; i < count && taken < UTM_SAMPLE_MAX; ++i) {
        UtmZone any;
        if (!utm_zone_of(soundings[i].x, soundings[i].y, &any)) continue;
        longitudes[taken] = soundings[i].x;
        latitudes[taken++] = soundings[i].y;
    }
    if (taken == 0) return false;
    double longitude = longitudes[lower_median(longitudes, taken)];
    return utm_zone_of(longitude, latitudes[lower_median(latitudes, taken)], zone);
}
