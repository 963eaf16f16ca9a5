#include "tools/qkvdump/netcdf_export.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <hdf5.h>
#include <libdeflate.h>
#include <netcdf.h>

#include "platform/worker.h"

namespace {

enum Variable {
    TIME, SAMPLES, GAIN, RANGE, INTERVAL, FILE_INDEX, RECORD, LATITUDE, LONGITUDE, FIX_QUALITY, DEPTH, DEPTH_QUALITY,
    DISTANCE, BELOW_TRANSDUCER, SOUND_SPEED, DRAFT, HEAVE, WATER_LEVEL, ROLL, PITCH, FLAG, VARIABLES
};
// The reduced pings' values are kept in NetcdfOut::reduction from BELOW_TRANSDUCER on, FLAG's apart.
constexpr int FIRST_REDUCED = BELOW_TRANSDUCER;
static_assert(FLAG - FIRST_REDUCED <= static_cast<int>(sizeof(NetcdfOut::reduction) / sizeof(NetcdfOut::reduction[0])),
              "a block a reduced value");
static_assert(VARIABLES <= static_cast<int>(sizeof(NetcdfOut::variables) / sizeof(int)), "a slot per variable");

// The data bytes are most of the file and of the time it takes. Deflate's
// fastest level: zlib's level 4 took twice as long on survey pings for 2%
// less. libdeflate at level 1 made chunks of survey pings 2% smaller than
// zlib's level 1 in a third of the time (ISA-L's level 1, faster still, made
// them 3% larger than zlib's): still deflate, which any netCDF reader
// decodes, and a chunk of 128 pings is compressed as one buffer, as
// libdeflate wants.
constexpr int SAMPLES_DEFLATE_LEVEL = 1;
constexpr int SCALAR_CHUNK_PINGS = 4096;
const double MISSING_DOUBLE = NAN;
const signed char MISSING_QUALITY = -1;
const float MISSING_FLOAT = NAN;
const signed char DEPTH_QUALITY_RANGE[2] = {0, 100};

bool check(NetcdfOut* out, int status, const char* what)
{
    if (status == NC_NOERR || out->failed) return status == NC_NOERR && !out->failed;
    out->failed = true;
    snprintf(out->reason, sizeof out->reason, "%s: %s", what, nc_strerror(status));
    return false;
}

void text_attribute(NetcdfOut* out, int variable, const char* name, const char* text)
{
    check(out, nc_put_att_text(out->id, variable, name, strlen(text), text), name);
}

struct Definition {
    Variable slot;
    const char* name;
    nc_type type;
    const char* long_name;
    const char* units;          // null: none
    const char* standard_name;  // null: CF has none
};

const Definition DEFINITIONS[] = {
    {TIME, "time", NC_DOUBLE, "time of the ping", "seconds since 1970-01-01 00:00:00 UTC", "time"},
    {SAMPLES, "samples", NC_UBYTE, "echo amplitude of each data byte, nearest range first", "1", nullptr},
    {GAIN, "gain_db", NC_SHORT, "receiver gain", "dB", nullptr},
    {RANGE, "range_m", NC_FLOAT, "range setting", "m", nullptr},
    {INTERVAL, "interval_ms", NC_INT, "ping interval, the mean of the last full block of ten pings", "ms", nullptr},
    {FILE_INDEX, "file_index", NC_INT, "index of the ping's data file in source_files, from 0", nullptr, nullptr},
    {RECORD, "record", NC_INT, "number of the ping's record in its data file, from 1", nullptr, nullptr},
    {LATITUDE, "lat", NC_DOUBLE, "latitude of the ping", "degrees_north", "latitude"},
    {LONGITUDE, "lon", NC_DOUBLE, "longitude of the ping", "degrees_east", "longitude"},
    {FIX_QUALITY, "fix_quality", NC_BYTE, "quality of the position fix (NMEA GGA)", nullptr, nullptr},
    {DEPTH, "depth", NC_FLOAT, "depth of the bottom below the surface", "m", "sea_floor_depth_below_sea_surface"},
    {DEPTH_QUALITY, "depth_quality", NC_BYTE, "quality of the depth, 1 to 100; 0 where the ping has no depth", nullptr,
     nullptr},
    {DISTANCE, "distance", NC_FLOAT, "distance of the sample from the transducer", "m", nullptr},
    {BELOW_TRANSDUCER, "below_transducer_m", NC_FLOAT,
     "distance of the bottom picked below the transducer, at the nominal 1500 m/s: unreduced", "m", nullptr},
    {SOUND_SPEED, "sound_speed_m", NC_FLOAT, "sound-speed correction, added to the distance", "m", nullptr},
    {DRAFT, "draft_m", NC_FLOAT, "draft of the transducer below the waterline, added", "m", nullptr},
    {HEAVE, "heave_m", NC_FLOAT, "heave of the vessel, positive up, subtracted", "m", nullptr},
    {WATER_LEVEL, "water_level_m", NC_FLOAT, "water level above the datum, positive up, subtracted", "m", nullptr},
    {ROLL, "roll_deg", NC_FLOAT, "roll of the vessel, positive with the port side up", "degree", nullptr},
    {PITCH, "pitch_deg", NC_FLOAT, "pitch of the vessel, positive with the bow up", "degree", nullptr},
    {FLAG, "flag", NC_SHORT, "why the sounding is flagged; 0 for a good sounding", nullptr, nullptr},
};

bool is_reduced(Variable slot)
{
    return slot >= BELOW_TRANSDUCER;
}

bool is_position(Variable slot)
{
    return slot == LATITUDE || slot == LONGITUDE || slot == FIX_QUALITY;
}

bool wanted(Variable slot, const NetcdfSource* source)
{
    if (is_position(slot)) return source->with_position;
    if (slot == DEPTH || slot == DEPTH_QUALITY) return source->with_depth;
    if (slot == ROLL || slot == PITCH) return source->reference != nullptr && source->attitude;
    if (is_reduced(slot)) return source->reference != nullptr;
    return slot != DISTANCE || source->single_range_m <= 0.0;
}

bool per_sample(Variable slot)
{
    return slot == SAMPLES || slot == DISTANCE;
}

// What a variable along ping lies at: its time, and its position where there is one (CF's auxiliary coordinates).
void coordinates_attribute(NetcdfOut* out, const Definition* d, const NetcdfSource* source)
{
    if (d->slot == TIME || is_position(d->slot) || d->slot == DISTANCE) return;
    char text[64];
    snprintf(text, sizeof text, "time%s%s", source->with_position ? " lat lon" : "",
             d->slot == SAMPLES && source->single_range_m <= 0.0 ? " distance" : "");
    text_attribute(out, out->variables[d->slot], "coordinates", text);
}

// CF's flags: each bit of the flag variable, its mask and its word.
void flag_attributes(NetcdfOut* out, int variable)
{
    short masks[REDUCTION_FLAG_COUNT];
    char meanings[REDUCTION_FLAG_COUNT * 24] = "";
    for (int bit = 0; bit < REDUCTION_FLAG_COUNT; ++bit) {
        masks[bit] = static_cast<short>(1 << bit);
        size_t used = strlen(meanings);
        snprintf(meanings + used, sizeof meanings - used, "%s%s", bit > 0 ? " " : "", REDUCTION_FLAG_WORDS[bit]);
    }
    check(out, nc_put_att_short(out->id, variable, "flag_masks", NC_SHORT, REDUCTION_FLAG_COUNT, masks), "flag");
    text_attribute(out, variable, "flag_meanings", meanings);
    check(out, nc_def_var_fill(out->id, variable, NC_NOFILL, nullptr), "flag");
}

// The reduced depth: below the reference named, and the corrections it took.
void reduced_depth_attributes(NetcdfOut* out, int variable, const NetcdfSource* source)
{
    char long_name[96];
    snprintf(long_name, sizeof long_name, "depth of the bottom below %s", source->reference);
    text_attribute(out, variable, "long_name", long_name);
    text_attribute(out, variable, "depth_reference", source->reference);
    text_attribute(out, variable, "comment", source->corrections);
    text_attribute(out, variable, "ancillary_variables", "flag depth_quality");
}

void depth_attributes(NetcdfOut* out, const Definition* d, const NetcdfSource* source)
{
    int variable = out->variables[d->slot];
    if (d->slot == DEPTH) {
        text_attribute(out, variable, "positive", "down");
        char comment[128];
        snprintf(comment, sizeof comment, "the bottom picked below the transducer, plus its draft of %g m",
                 source->draft_m);
        if (source->reference != nullptr) {
            reduced_depth_attributes(out, variable, source);
        } else {
            text_attribute(out, variable, "comment", comment);
        }
        check(out, nc_put_att_float(out->id, variable, "_FillValue", NC_FLOAT, 1, &MISSING_FLOAT), d->name);
    } else {
        check(out, nc_put_att_schar(out->id, variable, "valid_range", NC_BYTE, 2, DEPTH_QUALITY_RANGE), d->name);
        check(out, nc_def_var_fill(out->id, variable, NC_NOFILL, nullptr), d->name);
    }
}

void define_variable(NetcdfOut* out, const Definition* d, int sample_dimension, const NetcdfSource* source)
{
    int dimensions[2] = {out->dimension_ping, sample_dimension};
    int* variable = &out->variables[d->slot];
    bool samples = per_sample(d->slot);
    if (!check(out, nc_def_var(out->id, d->name, d->type, samples ? 2 : 1, dimensions, variable), d->name)) return;
    size_t chunk[2] = {samples ? static_cast<size_t>(NETCDF_BLOCK_PINGS) : SCALAR_CHUNK_PINGS, PING_SAMPLE_COUNT};
    check(out, nc_def_var_chunking(out->id, *variable, NC_CHUNKED, chunk), d->name);
    check(out, nc_def_var_deflate(out->id, *variable, 0, 1, samples ? SAMPLES_DEFLATE_LEVEL : 1), d->name);
    text_attribute(out, *variable, "long_name", d->long_name);
    if (d->units) text_attribute(out, *variable, "units", d->units);
    // CF names the depth below the sea surface; a datum such as chart datum has no standard name.
    bool below_datum = d->slot == DEPTH && source->reference != nullptr && strcmp(source->reference, REDUCTION_SURFACE) != 0;
    if (d->standard_name && !below_datum) text_attribute(out, *variable, "standard_name", d->standard_name);
    if (d->slot == TIME) text_attribute(out, *variable, "calendar", "standard");
    coordinates_attribute(out, d, source);
    // Missing values where they can be: no time in a record's texts, no position; every other value is there.
    if (d->slot == DEPTH || d->slot == DEPTH_QUALITY) {
        depth_attributes(out, d, source);
    } else if (d->slot == FLAG) {
        flag_attributes(out, *variable);
    } else if (is_reduced(d->slot)) {
        check(out, nc_put_att_float(out->id, *variable, "_FillValue", NC_FLOAT, 1, &MISSING_FLOAT), d->name);
    } else if (d->slot == TIME || d->slot == LATITUDE || d->slot == LONGITUDE) {
        check(out, nc_put_att_double(out->id, *variable, "_FillValue", NC_DOUBLE, 1, &MISSING_DOUBLE), d->name);
    } else if (d->slot == FIX_QUALITY) {
        check(out, nc_put_att_schar(out->id, *variable, "_FillValue", NC_BYTE, 1, &MISSING_QUALITY), d->name);
    } else {
        check(out, nc_def_var_fill(out->id, *variable, NC_NOFILL, nullptr), d->name);
    }
}

// The sample dimension's own variable: each sample's distance from the transducer where every ping has the same
// range, else its number.
void define_sample_coordinate(NetcdfOut* out, int sample_dimension, const NetcdfSource* source)
{
    bool metres = source->single_range_m > 0.0;
    int variable = -1;
    if (!check(out, nc_def_var(out->id, "sample", metres ? NC_FLOAT : NC_SHORT, 1, &sample_dimension, &variable),
               "sample")) {
        return;
    }
    out->sample_variable = variable;
    if (metres) {
        text_attribute(out, variable, "long_name", "distance of the sample from the transducer");
        text_attribute(out, variable, "units", "m");
        text_attribute(out, variable, "positive", "down");
    } else {
        text_attribute(out, variable, "long_name", "number of the sample, nearest the transducer first; its "
                                                   "distance in distance(ping, sample)");
    }
}

void write_sample_coordinate(NetcdfOut* out, double single_range_m)
{
    static float distances[PING_SAMPLE_COUNT];
    static short numbers[PING_SAMPLE_COUNT];
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        distances[k] = static_cast<float>(k * single_range_m / PING_SAMPLE_COUNT);
        numbers[k] = static_cast<short>(k);
    }
    if (single_range_m > 0.0) {
        check(out, nc_put_var_float(out->id, out->sample_variable, distances), "sample");
    } else {
        check(out, nc_put_var_short(out->id, out->sample_variable, numbers), "sample");
    }
}

void global_attributes(NetcdfOut* out, const NetcdfSource* source)
{
    text_attribute(out, NC_GLOBAL, "Conventions", "CF-1.8");
    text_attribute(out, NC_GLOBAL, "title", "sonar pings");
    text_attribute(out, NC_GLOBAL, "source", "qkvdump " HALVEX_VERSION " (Halvex_StoreData)");
    // One string a file, as given: file_index counts in it.
    check(out, nc_put_att_string(out->id, NC_GLOBAL, "source_files", static_cast<size_t>(source->file_count),
                                 const_cast<const char**>(source->files)), "source_files");
    text_attribute(out, NC_GLOBAL, "time_basis", source->time_basis);
    if (source->reference != nullptr) {
        text_attribute(out, NC_GLOBAL, "depth_reference", source->reference);
        text_attribute(out, NC_GLOBAL, "corrections", source->corrections);
    }
}

template <typename T>
void put_block(NetcdfOut* out, Variable slot, const T* values, const char* name)
{
    size_t start[2] = {static_cast<size_t>(out->pings), 0};
    size_t count[2] = {static_cast<size_t>(out->in_block), PING_SAMPLE_COUNT};
    check(out, nc_put_vara(out->id, out->variables[slot], start, count, values), name);
}

void compress_chunk(void* context)
{
    NetcdfChunk* chunk = static_cast<NetcdfChunk*>(context);
    chunk->compressed_size = libdeflate_zlib_compress(chunk->compressor, chunk->block, NETCDF_CHUNK_BYTES,
                                                      chunk->compressed, NETCDF_COMPRESSED_MAX);
}

// A compressed chunk into its place in the data bytes, as HDF5's deflate filter would have stored it.
void store_chunk(NetcdfOut* out, const NetcdfChunk* chunk)
{
    if (out->failed) return;
    if (chunk->compressed_size == 0) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "samples: cannot compress");
        return;
    }
    hsize_t offset[2] = {static_cast<hsize_t>(chunk->first_ping), 0};
    if (H5Dwrite_chunk(out->samples_dataset, H5P_DEFAULT, 0, offset, chunk->compressed_size, chunk->compressed) < 0) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "samples: cannot write (HDF5)");
    }
}

// The chunk in flight on the worker, stored once done.
void land(NetcdfOut* out)
{
    if (!out->in_flight) return;
    plat_worker_wait(out->worker);
    out->in_flight = false;
    store_chunk(out, &out->chunks[1 - out->filling]);
}

// The block gathered as a chunk: to the worker when it is free (the next block gathered in the other buffer), else
// compressed and stored here, and the worker's then stored too; so each thread compresses every other chunk.
void send_samples(NetcdfOut* out)
{
    int block = out->filling;
    NetcdfChunk* chunk = &out->chunks[block];
    chunk->first_ping = out->pings;
    if (out->in_block < NETCDF_BLOCK_PINGS) {  // the last, as a whole chunk of which the file holds the pings
        memset(out->samples[block][out->in_block], 0, (NETCDF_BLOCK_PINGS - out->in_block) * PING_SAMPLE_COUNT);
    }
    hsize_t extent[2] = {static_cast<hsize_t>(out->pings + out->in_block), PING_SAMPLE_COUNT};
    if (H5Dset_extent(out->samples_dataset, extent) < 0) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "samples: cannot extend (HDF5)");
        return;
    }
    if (out->worker != nullptr && !out->in_flight) {
        plat_worker_post(out->worker, compress_chunk, chunk);
        out->in_flight = true;
        out->filling = 1 - block;
        return;
    }
    compress_chunk(chunk);
    store_chunk(out, chunk);
    land(out);
}

void write_block(NetcdfOut* out)
{
    if (out->failed) out->in_block = 0;  // nothing more is written: the block is not gathered again either
    if (out->in_block == 0) return;
    put_block(out, TIME, out->time, "time");
    send_samples(out);
    put_block(out, GAIN, out->gain, "gain_db");
    put_block(out, RANGE, out->range, "range_m");
    put_block(out, INTERVAL, out->interval, "interval_ms");
    put_block(out, FILE_INDEX, out->file_index, "file_index");
    put_block(out, RECORD, out->record, "record");
    if (out->variables[LATITUDE] >= 0) {
        put_block(out, LATITUDE, out->latitude, "lat");
        put_block(out, LONGITUDE, out->longitude, "lon");
        put_block(out, FIX_QUALITY, out->fix_quality, "fix_quality");
    }
    if (out->variables[DEPTH] >= 0) {
        put_block(out, DEPTH, out->depth, "depth");
        put_block(out, DEPTH_QUALITY, out->depth_quality, "depth_quality");
    }
    if (out->variables[DISTANCE] >= 0) put_block(out, DISTANCE, &out->distances[0][0], "distance");
    for (const Definition& d : DEFINITIONS) {
        if (is_reduced(d.slot) && d.slot != FLAG && out->variables[d.slot] >= 0) {
            put_block(out, d.slot, out->reduction[d.slot - FIRST_REDUCED], d.name);
        }
    }
    if (out->variables[FLAG] >= 0) put_block(out, FLAG, out->flags, "flag");
    out->pings += out->in_block;
    out->in_block = 0;
}

// The file opened a second time by HDF5, in the same process, for the data bytes' chunks: HDF5 shares one open
// file between the two, the netCDF library's and this.
bool open_chunk_writer(NetcdfOut* out, const char* path)
{
    hid_t access = H5Pcreate(H5P_FILE_ACCESS);
    H5Pset_fclose_degree(access, H5F_CLOSE_WEAK);  // as the netCDF library opens it: HDF5 wants the two alike
    out->file = H5Fopen(path, H5F_ACC_RDWR, access);
    H5Pclose(access);
    out->samples_dataset = out->file >= 0 ? H5Dopen2(out->file, "samples", H5P_DEFAULT) : -1;
    for (NetcdfChunk& chunk : out->chunks) chunk.compressor = libdeflate_alloc_compressor(SAMPLES_DEFLATE_LEVEL);
    if (out->samples_dataset < 0 || out->chunks[0].compressor == nullptr || out->chunks[1].compressor == nullptr) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "samples: cannot open for writing (HDF5)");
        return false;
    }
    out->worker = plat_worker_start();
    return true;
}

void close_chunk_writer(NetcdfOut* out)
{
    land(out);
    if (out->worker != nullptr) plat_worker_stop(out->worker);
    out->worker = nullptr;
    if (out->samples_dataset >= 0 && H5Dclose(out->samples_dataset) < 0 && !out->failed) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "samples: cannot close (HDF5)");
    }
    if (out->file >= 0) H5Fclose(out->file);
    out->samples_dataset = -1;
    out->file = -1;
    for (NetcdfChunk& chunk : out->chunks) {
        if (chunk.compressor != nullptr) libdeflate_free_compressor(chunk.compressor);
        chunk.compressor = nullptr;
    }
}

// A reduced ping's values; NaN where asked for and missing.
void add_reduced(NetcdfOut* out, int at, const ExportPing* ping)
{
    const ReductionResult* r = &ping->reduction;
    const PingMotion* m = &ping->motion;
    const double values[] = {r->has_distance ? r->distance_m : NAN, r->sound_speed_m, r->draft_m, r->heave_m,
                             r->water_level_m, m->has_roll ? m->roll_degrees : NAN,
                             m->has_pitch ? m->pitch_degrees : NAN};
    static_assert(sizeof values / sizeof values[0] == FLAG - FIRST_REDUCED, "a value a variable");
    for (int i = 0; i < FLAG - FIRST_REDUCED; ++i) out->reduction[i][at] = static_cast<float>(values[i]);
    out->flags[at] = static_cast<short>(r->flags);
}

}  // namespace

bool netcdf_supported()
{
    return true;
}

bool netcdf_begin(NetcdfOut* out, const char* path, const NetcdfSource* source)
{
    out->pings = 0;
    out->in_block = 0;
    out->failed = false;
    out->reason[0] = 0;
    for (int& variable : out->variables) variable = -1;
    out->sample_variable = -1;
    out->filling = 0;
    out->in_flight = false;
    out->worker = nullptr;
    out->file = -1;
    out->samples_dataset = -1;
    for (int i = 0; i < 2; ++i) {
        out->chunks[i].compressor = nullptr;
        out->chunks[i].block = &out->samples[i][0][0];
    }
    // HDF5 1.10 frees a file whose close failed (a full disk) but keeps it in
    // its table of open files, and its clean-up at exit closes it again: a
    // crash after the failure was reported. Every file is closed here; the
    // clean-up is left out.
    H5dont_atexit();
    if (!check(out, nc_create(path, NC_NETCDF4 | NC_CLOBBER, &out->id), "cannot create")) {
        out->id = -1;
        return false;
    }
    int sample_dimension = -1;
    check(out, nc_def_dim(out->id, "ping", NC_UNLIMITED, &out->dimension_ping), "ping");
    check(out, nc_def_dim(out->id, "sample", PING_SAMPLE_COUNT, &sample_dimension), "sample");
    define_sample_coordinate(out, sample_dimension, source);
    for (const Definition& d : DEFINITIONS) {
        if (wanted(d.slot, source)) define_variable(out, &d, sample_dimension, source);
    }
    global_attributes(out, source);
    check(out, nc_enddef(out->id), "cannot define");
    out->single_range_m = source->single_range_m;
    if (!out->failed) write_sample_coordinate(out, source->single_range_m);
    if (!out->failed) open_chunk_writer(out, path);
    return !out->failed;
}

void netcdf_add_ping(NetcdfOut* out, const ExportPing* ping)
{
    if (out->failed) return;  // the file is given up: the run goes on for the other outputs and the summary
    int at = out->in_block;
    const RecordView* view = ping->view;
    out->time[at] = ping->time_known ? static_cast<double>(ping->utc_ms) / 1000.0 : MISSING_DOUBLE;
    out->gain[at] = static_cast<short>(view->gain);
    out->range[at] = static_cast<float>(range_code_metres(view->range_field));
    out->interval[at] = view->ping_interval_ms;
    out->file_index[at] = ping->file_index;
    out->record[at] = static_cast<int>(ping->record);
    out->latitude[at] = ping->position.known ? ping->position.latitude : MISSING_DOUBLE;
    out->longitude[at] = ping->position.known ? ping->position.longitude : MISSING_DOUBLE;
    out->fix_quality[at] =
        ping->position.known ? static_cast<signed char>(ping->position.fix_quality) : MISSING_QUALITY;
    out->depth[at] = ping->bottom.has_depth ? static_cast<float>(ping->bottom.depth_m) : MISSING_FLOAT;
    out->depth_quality[at] = static_cast<signed char>(ping->bottom.quality);
    if (ping->reduced) add_reduced(out, at, ping);
    memcpy(out->samples[out->filling][at], view->image + PING_IMAGE_SAMPLES, PING_SAMPLE_COUNT);
    double range_m = range_code_metres(view->range_field);
    if (out->single_range_m > 0.0 && range_m != out->single_range_m && !out->failed) {
        out->failed = true;
        snprintf(out->reason, sizeof out->reason, "a data file changed while it was read (its ranges)");
    }
    if (out->single_range_m <= 0.0) {
        for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
            out->distances[at][k] = static_cast<float>(k * range_m / PING_SAMPLE_COUNT);
        }
    }
    if (++out->in_block == NETCDF_BLOCK_PINGS) write_block(out);
}

bool netcdf_finish(NetcdfOut* out)
{
    write_block(out);
    close_chunk_writer(out);
    if (out->id >= 0) check(out, nc_close(out->id), "cannot close");
    out->id = -1;
    return !out->failed;
}
