// qkvmap's run: the OUT checked, the grid read, the map drawn and written
// beside OUT, then moved over it. Exit status 0 when drawn, 1 when the grid,
// the contours or the picture fail, 2 when OUT may not be written.
#pragma once

#include "tools/qkvmap/map_options.h"

int map_run(const MapOptions* options);
