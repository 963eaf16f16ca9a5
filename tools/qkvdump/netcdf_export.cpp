#include "tools/qkvdump/netcdf_export.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <hdf5.h>
#include <netcdf.h>

namespace {

enum Variable { TIME, SAMPLES, GAIN, RANGE, INTERVAL, FILE_INDEX, RECORD, LATITUDE, LONGITUDE, FIX_QUALITY, VARIABLES };
static_assert(VARIABLES <= static_cast<int>(sizeof(NetcdfOut::variables) / sizeof(int)), "a slot per variable");

constexpr int SAMPLES_DEFLATE_LEVEL = 1;  // zlib's fastest: level 4 took twice as long on survey pings for 2% less
constexpr int SCALAR_CHUNK_PINGS = 4096;
const double MISSING_DOUBLE = NAN;
const signed char MISSING_QUALITY = -1;

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
};

void define_variable(NetcdfOut* out, const Definition* d, int sample_dimension)
{
    int dimensions[2] = {out->dimension_ping, sample_dimension};
    int* variable = &out->variables[d->slot];
    bool samples = d->slot == SAMPLES;
    if (!check(out, nc_def_var(out->id, d->name, d->type, samples ? 2 : 1, dimensions, variable), d->name)) return;
    size_t chunk[2] = {samples ? static_cast<size_t>(NETCDF_BLOCK_PINGS) : SCALAR_CHUNK_PINGS, PING_SAMPLE_COUNT};
    check(out, nc_def_var_chunking(out->id, *variable, NC_CHUNKED, chunk), d->name);
    check(out, nc_def_var_deflate(out->id, *variable, 0, 1, samples ? SAMPLES_DEFLATE_LEVEL : 1), d->name);
    text_attribute(out, *variable, "long_name", d->long_name);
    if (d->units) text_attribute(out, *variable, "units", d->units);
    if (d->standard_name) text_attribute(out, *variable, "standard_name", d->standard_name);
    if (d->slot == TIME) text_attribute(out, *variable, "calendar", "standard");
    // Missing values where they can be: no time in a record's texts, no position; every other value is there.
    if (d->slot == TIME || d->slot == LATITUDE || d->slot == LONGITUDE) {
        check(out, nc_put_att_double(out->id, *variable, "_FillValue", NC_DOUBLE, 1, &MISSING_DOUBLE), d->name);
    } else if (d->slot == FIX_QUALITY) {
        check(out, nc_put_att_schar(out->id, *variable, "_FillValue", NC_BYTE, 1, &MISSING_QUALITY), d->name);
    } else {
        check(out, nc_def_var_fill(out->id, *variable, NC_NOFILL, nullptr), d->name);
    }
}

void global_attributes(NetcdfOut* out, const NetcdfSource* source)
{
    text_attribute(out, NC_GLOBAL, "Conventions", "CF-1.8");
    text_attribute(out, NC_GLOBAL, "title", "sonar pings");
    text_attribute(out, NC_GLOBAL, "source", "qkvdump " QKVDUMP_VERSION " (Halvex_StoreData)");
    // One string a file, as given: file_index counts in it.
    check(out, nc_put_att_string(out->id, NC_GLOBAL, "source_files", static_cast<size_t>(source->file_count),
                                 const_cast<const char**>(source->files)), "source_files");
    text_attribute(out, NC_GLOBAL, "time_basis", source->time_basis);
}

template <typename T>
void put_block(NetcdfOut* out, Variable slot, const T* values, const char* name)
{
    size_t start[2] = {static_cast<size_t>(out->pings), 0};
    size_t count[2] = {static_cast<size_t>(out->in_block), PING_SAMPLE_COUNT};
    check(out, nc_put_vara(out->id, out->variables[slot], start, count, values), name);
}

void write_block(NetcdfOut* out)
{
    if (out->in_block == 0 || out->failed) return;
    put_block(out, TIME, out->time, "time");
    put_block(out, SAMPLES, &out->samples[0][0], "samples");
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
    out->pings += out->in_block;
    out->in_block = 0;
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
    for (const Definition& d : DEFINITIONS) {
        bool position = d.slot == LATITUDE || d.slot == LONGITUDE || d.slot == FIX_QUALITY;
        if (!position || source->with_position) define_variable(out, &d, sample_dimension);
    }
    global_attributes(out, source);
    check(out, nc_enddef(out->id), "cannot define");
    return !out->failed;
}

void netcdf_add_ping(NetcdfOut* out, const ExportPing* ping)
{
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
    out->fix_quality[at] = ping->position.known ? static_cast<signed char>(ping->position.fix_quality) : MISSING_QUALITY;
    memcpy(out->samples[at], view->image + PING_IMAGE_SAMPLES, PING_SAMPLE_COUNT);
    if (++out->in_block == NETCDF_BLOCK_PINGS) write_block(out);
}

bool netcdf_finish(NetcdfOut* out)
{
    write_block(out);
    if (out->id >= 0) check(out, nc_close(out->id), "cannot close");
    out->id = -1;
    return !out->failed;
}
