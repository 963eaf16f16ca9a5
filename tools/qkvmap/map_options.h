// qkvmap's command line.
#pragma once

#include "cmdline/cmdline.h"

constexpr long MAP_SIZE_DEFAULT = 1000;  // pixels of the map's longer side
constexpr long MAP_SIZE_MIN = 100;
constexpr long MAP_SIZE_MAX = 8000;

// The grid's band drawn: its name in the grid file, as GDAL describes the band.
enum MapBand { MAP_BAND_SHOALEST, MAP_BAND_MEAN };
extern const char* const MAP_BAND_NAMES[];  // "shoalest", "mean"

struct MapOptions {
    const char* grid;
    const char* contours;  // null: none drawn
    const char* out;
    MapBand band;
    long size;
};

enum MapParse { MAP_PARSE_RUN, MAP_PARSE_HELP, MAP_PARSE_VERSION, MAP_PARSE_BAD };

extern const char QKVMAP_USAGE[];
// Reads the arguments; for MAP_PARSE_BAD, message says why.
MapParse map_parse(int argc, const char* const* argv, MapOptions* options, char message[CMDLINE_MESSAGE_SIZE]);
