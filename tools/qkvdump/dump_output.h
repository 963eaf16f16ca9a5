// One of qkvdump's outputs (the picture, the track, the soundings, the netCDF
// file, the grid, its contours), as the run sees them all: a kind, a row of the run's table, with its
// option and OUT, and three steps. The run checks each OUT asked for
// (output_target.h), begins each output, hands it every ping in the order
// read, located (ping_locate.h), and finishes it. An output keeps what it
// needs in a state of its own, of the size its kind says, which the run
// makes once when it begins and passes to each step.
#pragma once

#include <cstddef>
#include <cstdio>

#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/ping_export.h"
#include "reduction/ping_reduce.h"

// What the run surveys before it begins, reading the files once more, for the outputs that need it: bits.
constexpr unsigned SURVEY_PINGS = 1u << 0;  // the well-formed pings of all the files, counted
constexpr unsigned SURVEY_RANGE = 1u << 1;  // the range they all share, if they do

struct PingGrid;

struct DumpSurvey {
    long pings;
    double single_range_m;  // 0 where the ranges differ, a file could not be read ahead, or there is no ping
};

// What an output is told as the run begins.
struct DumpSetup {
    const DumpOptions* options;
    OutputInputs* inputs;     // the files read and the OUTs checked, for a file it makes beside its OUT
    const DumpSurvey* survey;  // what it asked for
    const PingGrid* cells;    // the soundings binned by the run (ping_grid.h), for the grid and its contours
    const char* time_basis;   // how the record times were made UTC, in words
    FILE* summary;            // where it says what it wrote, as the listing's summaries
    const PingReduce* reduce; // where the depths are reduced: the reference and the corrections; else null
};

// How the run ends for an output.
struct DumpEnd {
    bool keep;         // false: the run failed on its listing, or stopped before reading: nothing is kept
    bool abandoned;    // it stopped before reading, as an output could not begin: the others go without a word
    const char* why;   // null; or why the exports of positions and times are not written (said by each)
};

struct DumpOutput;

// How an output is named: its option, its name in the messages ("picture"), and what its OUT holds (for
// output_target's checks).
struct DumpOutputName {
    const char* option;
    const char* what;
    OutputKind content;
};

struct DumpOutputSteps {
    const char* (*out)(const DumpOptions* options);  // its OUT; null: not asked for
    // 0 when begun; 1 when it cannot be made (said).
    int (*begin)(DumpOutput* output, const DumpSetup* setup);
    void (*ping)(DumpOutput* output, const ExportPing* ping);
    // Ends it and moves it over its OUT when whole and kept; false when it failed or is not written (said).
    bool (*finish)(DumpOutput* output, const DumpEnd* end);
};

// Where this build cannot make an output: said, with status 2, before any OUT is looked at.
struct DumpOutputSupport {
    bool (*supported)();
    const char* unsupported;  // why not
};

struct DumpOutputKind {
    DumpOutputName name;
    size_t state_size;
    DumpOutputSteps steps;
    unsigned (*survey)(const DumpOptions* options) = nullptr;  // SURVEY_ bits; null: none
    DumpOutputSupport support = {nullptr, nullptr};           // supported null: every build makes it
};

// An output asked for in a run.
struct DumpOutput {
    const DumpOutputKind* kind;
    OutputTarget target;
    void* state;  // state_size bytes, zeroed when the run begins
};

// The kinds, each in its own file.
extern const DumpOutputKind PICTURE_OUTPUT;    // output_picture.cpp: the waterfall or the echogram
extern const DumpOutputKind TRACK_OUTPUT;      // output_track.cpp: the GeoJSON track
extern const DumpOutputKind SOUNDINGS_OUTPUT;  // output_soundings.cpp: the soundings and their VRT
extern const DumpOutputKind NETCDF_OUTPUT;     // output_netcdf.cpp
extern const DumpOutputKind GRID_OUTPUT;       // output_grid.cpp: the GeoTIFF or the BAG
extern const DumpOutputKind CONTOURS_OUTPUT;   // output_contours.cpp: GeoJSON or a GeoPackage

// Said when an export is not written: "OUT: no netCDF file written: why".
void dump_output_not_written(const OutputTarget* target, const char* why);

// A text output's file (the track, the soundings, the VRT): its first failed write is kept, to be said at its end.
struct TextOutput {
    FILE* file;  // null: not made
    bool failed;
    int error;   // errno of that write
};

// Makes the new file to write for the target (null when it cannot, said).
bool text_output_open(TextOutput* text, OutputTarget* target);
void text_output_fail(TextOutput* text, int error);
// Closes it and moves it over its OUT when keep; false when that failed (said) or it is not kept.
bool text_output_close(TextOutput* text, OutputTarget* target, bool keep);
