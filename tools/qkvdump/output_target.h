// Where qkvdump writes its outputs (the picture, the track, the netCDF file,
// the soundings, the grid and its contours).
// An OUT is never one of the files it reads (the data files, the .NAV files,
// the reduction's profile, water level and edits; however named: the same
// file by another path or link is still that file; even with --force), never a data file or a
// navigation log (raw survey data nobody can make again; even with --force),
// never another output's OUT, and an existing file only when it is of the
// kind being written (told by its first bytes) or empty, unless --force. So
// an OUT forgotten on the command line (--png *.QKV) cannot turn a recording
// into a picture. Each output is written beside OUT and moved over it only
// when whole: a failed or interrupted run leaves OUT as it was.
#pragma once

#include <cstdio>

#include "platform/platform.h"

constexpr int OUTPUT_PATH_SIZE = 4096;

// The grid is a GeoTIFF or a BAG, the contours GeoJSON or a GeoPackage, as OUT's name says (grid_file.h).
enum OutputKind {
    OUTPUT_PICTURE, OUTPUT_TRACK, OUTPUT_NETCDF, OUTPUT_XYZ, OUTPUT_SOUNDINGS_VRT, OUTPUT_GRID, OUTPUT_CONTOURS,
    OUTPUT_KINDS
};
static_assert(OUTPUT_KINDS <= PLAT_BESIDE_MAX, "every output of a run is made beside its OUT at once");
// How the VRT that opens the soundings in GDAL starts, which tells it from any other file.
extern const char OUTPUT_SOUNDINGS_VRT_OPENING[];

struct OutputTarget {
    const char* option;  // "--png"
    const char* what;    // "picture"
    OutputKind kind;
    const char* path;    // OUT; null: not asked for
    bool in_place;       // OUT is there and a pipe or character device (/dev/null, a terminal): written as it is
    bool existed;        // OUT was a file when checked
    PlatFileLook look;   // the file it was
    bool writing;        // the new file has been made
    char temp[OUTPUT_PATH_SIZE];  // the new file beside OUT
};

constexpr int OUTPUT_TARGETS_MAX = 16;

constexpr int OUTPUT_SETTINGS_FILES_MAX = 3;  // the reduction's: its sound-speed profile, water level and edits

// The files a run reads, whether --force was given, and the OUTs checked so far, of which no two are one.
struct OutputInputs {
    const char* const* files;
    int file_count;
    const char* const* nav_files;
    int nav_count;
    const char* settings_files[OUTPUT_SETTINGS_FILES_MAX];
    int settings_count;
    bool force;
    const OutputTarget* checked[OUTPUT_TARGETS_MAX];
    int checked_count;
};

// True when the target's OUT may be written, and it is then one of the inputs' checked; else says why (a command
// line refused: status 2).
bool output_target_check(OutputTarget* target, OutputInputs* inputs);
// Makes the new file to write: beside OUT, or OUT itself in place. Null when it cannot (said).
FILE* output_target_open(OutputTarget* target);
// The same for a library that opens the file by name: the name in *name, the file made and closed.
bool output_target_name(OutputTarget* target, const char** name);
// After the new file is closed: when keep, moves it over OUT, provided OUT is
// still the file it was when checked (false when it cannot, said); else removes it.
bool output_target_finish(OutputTarget* target, bool keep);
// A path given to be read (a data file, a .NAV file) that names no file: a
// directory or a disk, or a name the system takes for a device (nul.NAV on
// Windows). Said, after before ("" or "qkvdump: --nav "), in the same words on
// every system; false then.
bool output_input_is_file(const char* path, const char* before);
