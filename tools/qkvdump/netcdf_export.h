// The pings of the files given as one netCDF-4 file with CF-1.8 attributes:
// dimensions ping (unlimited) and sample, a variable per record field, the
// data bytes chunked by ping and compressed. time (and lat and lon with a
// position) are the auxiliary coordinates of every variable along ping;
// sample is the samples' distance from the transducer in metres where all
// pings share one range, else their number, with each ping's distances in
// distance(ping, sample). The data bytes are compressed a chunk at a time,
// every other chunk on a worker thread, and each chunk goes to the file as
// it is (HDF5's direct chunk write), in the deflate format every netCDF
// reader decodes. Written a block of pings at a
// time from fixed buffers, so memory stays the same however many pings.
// Built with the netCDF C library where there is one (Linux); elsewhere
// netcdf_supported says no and nothing is written.
#pragma once

#include <cstddef>

#include "tools/qkvdump/ping_export.h"

struct PlatWorker;
struct libdeflate_compressor;

constexpr int NETCDF_BLOCK_PINGS = 128;  // pings a chunk of the data bytes holds, written together
constexpr int NETCDF_CHUNK_BYTES = NETCDF_BLOCK_PINGS * PING_SAMPLE_COUNT;
constexpr int NETCDF_COMPRESSED_MAX = NETCDF_CHUNK_BYTES + NETCDF_CHUNK_BYTES / 8 + 4096;  // incompressible, and framing

// A chunk of data bytes on its way to the file: compressed by one thread, written by the main one.
struct NetcdfChunk {
    libdeflate_compressor* compressor;  // one a thread
    const unsigned char* block;         // the pings' data bytes, NETCDF_CHUNK_BYTES
    long first_ping;
    size_t compressed_size;  // 0: failed
    unsigned char compressed[NETCDF_COMPRESSED_MAX];
};
constexpr int NETCDF_REASON_SIZE = 256;

struct NetcdfSource {
    const char* const* files;
    int file_count;
    bool with_position;      // lat, lon and fix_quality too
    bool with_depth;         // depth and depth_quality too
    double draft_m;          // added to the picked distance to give the depth
    const char* reference;   // where the depths are reduced, the name of the reference they are below; else null
    const char* corrections; // and the corrections applied, in words
    bool attitude;           // and roll and pitch too
    const char* time_basis;  // how the local record times were made absolute, for the global attributes
    double single_range_m;   // the range of every ping, for the samples' distances; 0 where they differ
};

struct NetcdfOut {
    int id;  // the open file, or -1
    int dimension_ping;
    int sample_variable;
    int variables[21];
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
    float depth[NETCDF_BLOCK_PINGS];
    signed char depth_quality[NETCDF_BLOCK_PINGS];
    float reduction[8][NETCDF_BLOCK_PINGS];  // the reduced pings' values, by variable from the distance on
    short flags[NETCDF_BLOCK_PINGS];
    double single_range_m;  // as the source said; 0: each ping's distances in distance(ping, sample)
    unsigned char samples[2][NETCDF_BLOCK_PINGS][PING_SAMPLE_COUNT];  // the block being gathered, and the one before
    int filling;                  // samples[filling] is gathered
    bool in_flight;               // the other is being compressed on the worker
    PlatWorker* worker;           // null: every chunk compressed here
    int64_t file;                 // the same file opened by HDF5 for the chunks written whole; -1: none
    int64_t samples_dataset;
    NetcdfChunk chunks[2];
    float distances[NETCDF_BLOCK_PINGS][PING_SAMPLE_COUNT];  // where the ranges differ
};

bool netcdf_supported();
// Creates path (replacing a file there); false with out->reason set when it cannot.
// netcdf_finish closes it, also after a failure here.
bool netcdf_begin(NetcdfOut* out, const char* path, const NetcdfSource* source);
void netcdf_add_ping(NetcdfOut* out, const ExportPing* ping);
// Writes what is gathered and closes the file; false with out->reason when any write failed.
bool netcdf_finish(NetcdfOut* out);
