// The run's soundings binned for its grid and its contours (--grid,
// --contours), once for both: each ping with a position and a depth that is
// not flagged, taken as the soundings (--xyz) write it, is projected and binned in batches as
// the pings are handed on.
//
// The projection must be known before the first sounding is binned. With
// --crs it is from the start; otherwise the soundings wait in the batch's
// fixed buffer until the first UTM_SAMPLE_MAX with a position have come (or
// the files have ended), the UTM zone of their median position is chosen and
// said, and they and every sounding after them are binned in it. Memory is
// the buffer and the grid's tiles, whatever the number of soundings; a grid
// that reaches its cap takes nothing more and is not written (said, with the
// cell size to try).
#pragma once

#include "grid/grid.h"
#include "grid/grid_file.h"
#include "grid/projection.h"
#include "tools/qkvdump/dump_output.h"

struct PingGrid {
    Grid grid;
    Projection projection;
    bool projected;                 // the projection is open
    GridSounding held[GRID_BATCH];  // waiting to be projected (longitude, latitude) and binned
    int held_count;
    const char* depth_reference;    // what the depths are below
    char why[GRIDFILE_REASON_SIZE];  // why no file of the grid can be written; empty: none
};

// False, said, when --crs names no system a grid can be made in (a command line refused) or there is no memory.
// The depths are below depth_reference (the reduction's, or the water surface), which outlives the cells.
bool ping_grid_begin(PingGrid* cells, const DumpOptions* options, const char* depth_reference);
void ping_grid_add(PingGrid* cells, const ExportPing* ping);
// After the last ping: what is held, binned.
void ping_grid_end(PingGrid* cells);
void ping_grid_free(PingGrid* cells);

// What an output of the grid (--grid, --contours) keeps: its state.
struct PingGridOutput {
    const PingGrid* cells;
    const DumpOptions* options;
    FILE* summary;
    const char* written;  // the new file beside OUT, made as it begins
};
// How a file of the grid is written by GDAL into path: false with the reason.
using PingGridWrite = bool (*)(const PingGrid* cells, const DumpOptions* options, const GridDescription* description,
                               const char* path, char reason[GRIDFILE_REASON_SIZE]);

// The steps of an output of the grid. It begins by making its new file beside OUT, takes nothing of the pings
// (the run bins them) and ends, where the run keeps its outputs, by writing its file (Ctrl+C and a request to
// terminate wait meanwhile, and stop the writing: the library's own files beside it are removed by the library
// alone) and moving it over OUT; false when it is not written (said).
int ping_grid_output_begin(DumpOutput* output, const DumpSetup* setup);
void ping_grid_output_ping(DumpOutput* output, const ExportPing* ping);
bool ping_grid_output_finish(DumpOutput* output, const DumpEnd* end, PingGridWrite write);
