// The pings of the files given as one netCDF-4 file with CF-1.8 attributes:
// dimensions ping (unlimited) and sample, a variable per record field, the
// data bytes chunked by ping and compressed. Written a block of pings at a
// time from fixed buffers, so memory stays the same however many pings.
// Built with the netCDF C library where there is one (Linux); elsewhere
// netcdf_supported says no and nothing is written.
#pragma once

#include "tools/qkvdump/ping_export.h"

constexpr int NETCDF_BLOCK_PINGS = 128;  // pings a chunk of the data bytes holds, written together
constexpr int NETCDF_REASON_SIZE = 256;

struct NetcdfSource {
    const char* const* files;
    int file_count;
    bool with_position;      // lat, lon and fix_quality too
    const char* time_basis;  // how the local record times were made absolute, for the global attributes
};

struct NetcdfOut {
    int id;  // the open file, or -1
    int dimension_ping;
    int variables[10];
    long pings;     // written so far
    int in_block;   // pings gathered in the buffers below
    bool failed;
    char reason[NETCDF_REASON_SIZE];
    double time[NETCDF_BLOCK_PINGS];
    short gain[NETCDF_BLOCK_PINGS];
    float range[NETCDF_BLOCK_PINGS];
    int interval[NETCDF_BLOCK_PINGS];
    int file_index[NETCDF_BLOCK_PINGS];
    int record[NETCDF_BLOCK_PINGS];
    double latitude[NETCDF_BLOCK_PINGS];
    double longitude[NETCDF_BLOCK_PINGS];
    signed char fix_quality[NETCDF_BLOCK_PINGS];
    unsigned char samples[NETCDF_BLOCK_PINGS][PING_SAMPLE_COUNT];
};

bool netcdf_supported();
// Creates path (replacing a file there); false with out->reason set when it cannot.
// netcdf_finish closes it, also after a failure here.
bool netcdf_begin(NetcdfOut* out, const char* path, const NetcdfSource* source);
void netcdf_add_ping(NetcdfOut* out, const ExportPing* ping);
// Writes what is gathered and closes the file; false with out->reason when any write failed.
bool netcdf_finish(NetcdfOut* out);
