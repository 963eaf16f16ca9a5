// qkvdump's command line: every option in one record, read by one function,
// and what goes together checked in one place.
#pragma once

#include <cstdint>

#include "cmdline/cmdline.h"
#include "depth/picker.h"
#include "grid/grid_file.h"
#include "reduction/reduction.h"
#include "tools/qkvdump/nav_join.h"

constexpr int DUMP_NAV_FILES_MAX = NAV_LINES_FILES_MAX;
constexpr int DUMP_BINS_DEFAULT = 1000;
constexpr int DUMP_NMEA_ADDRESS_SIZE = 16;  // "255.255.255.255"
// The transducer's draft and the blanking distance, in metres: a head sits at most this deep, and its range is at
// most this long.
constexpr double DUMP_DRAFT_MAX_M = 100.0;
constexpr double DUMP_BLANKING_MAX_M = 1000.0;
constexpr double DUMP_CONTOUR_INTERVAL_MIN_M = 0.001;
// The depth gates' bounds, and the datum's height above the ellipsoid: metres either way.
constexpr double DUMP_GATE_MAX_M = SOUND_SPEED_DEPTH_MAX_M;
constexpr double DUMP_DATUM_HEIGHT_MAX_M = 10000.0;

// With --depth: what the depths are reduced to, and by what (reduction/reduction.h). The files are read by the run.
struct DumpReduction {
    bool asked;                   // an option of the reduction given: the outputs name the reference, give each
                                  // correction and flag the soundings
    ReductionSettings settings;   // its profile, series and edits set once their files are read
    const char* profile;          // --sound-speed-profile FILE; null: none
    const char* water_level;      // --water-level FILE
    const char* edits;            // --edits FILE
    bool xyz_flagged;             // --xyz-flagged: the flagged soundings in --xyz too
};

struct DumpOptions {
    char** files;  // the data files, in the order given, gathered in argv's own slots
    int file_count;
    bool csv;
    bool samples;  // with --csv
    bool force;
    bool follow;
    // The picture (--png).
    const char* png;  // its OUT; null: none asked for
    int bins;         // columns of data bytes across the range: --width, or with --axes --height
    int groups;       // of pings: the waterfall's rows (--height) or the echogram's columns (--width); 0: a ping each
    bool gray;
    bool axes;
    // Positions and times.
    const char* nav_files[DUMP_NAV_FILES_MAX];
    int nav_count;
    const char* geojson;     // OUTs; null: none asked for
    const char* xyz;
    const char* netcdf;
    const char* utc_offset;  // --utc-offset as given; null: none
    int offset_seconds;      // what it says
    // The grid of the soundings and its contour lines.
    const char* grid;      // OUTs; null: none asked for
    const char* contours;
    double cell_m;         // --cell; 0: none given
    const char* crs;       // --crs as given; null: the UTM zone of the soundings
    double contour_interval_m;  // --interval; 0: the depths below
    double contour_depths[CONTOUR_LEVELS_MAX];  // --depths
    int contour_depth_count;
    // The depth.
    bool depth;  // --depth, or what --xyz, --grid and --contours ask for
    double draft_m;
    bool draft_known;  // --draft given: --nmea-out sends the depth below the surface too
    bool keel;         // --keel given: --nmea-out's DPT offset is the keel's, negative
    double keel_m;
    DumpReduction reduction;
    DepthSettings depth_settings;                 // --blank, else the picker's own
    char nmea_address[DUMP_NMEA_ADDRESS_SIZE];    // --nmea-out's IPv4 address; empty: none
    uint16_t nmea_port;
};

enum DumpParse { DUMP_PARSE_RUN, DUMP_PARSE_FOLLOW, DUMP_PARSE_HELP, DUMP_PARSE_VERSION, DUMP_PARSE_BAD };

extern const char QKVDUMP_USAGE[];
// Reads the arguments (the files gathered in argv's slots from argv[1] on, a slot written only once read); for
// DUMP_PARSE_BAD, message says why.
DumpParse dump_parse(int argc, char** argv, DumpOptions* options, char message[CMDLINE_MESSAGE_SIZE]);
// Whether an output of the exports (the track, the soundings, the netCDF file, the grid, the contours) was asked for.
bool dump_exports_asked(const DumpOptions* options);
