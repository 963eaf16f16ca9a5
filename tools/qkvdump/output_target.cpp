#include "tools/qkvdump/output_target.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "grid/grid_file.h"
#include "navfile/nav_line.h"
#include "store/naming.h"
#include "store/record.h"
#include "tools/qkvdump/picture.h"

const char OUTPUT_SOUNDINGS_VRT_OPENING[] = "<OGRVRTDataSource>\n  <OGRVRTLayer name=\"soundings\">\n";

namespace {

constexpr size_t HEAD_SIZE = 65536;  // the first bytes read to tell what a file holds
const uint8_t HDF5_SIGNATURE[] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};  // netCDF-4's container
// An HDF5 file is netCDF-4 when its root group says so near its start (other HDF5 files, such as
// bathymetric grids, are no output of ours).
const char* const NETCDF4_MARKS[] = {"_NCProperties", "_Netcdf4Dimid"};
const char CLASSIC_NETCDF[] = "CDF";  // then its version: 1, 2 or 5
const char BAG_MARK[] = "BAG_root";   // the group of a bathymetric grid's HDF5 file, near its start
// A TIFF's byte order and version (42), or BigTIFF's (43).
const char* const TIFF_SIGNATURES[] = {"II*\0", "MM\0*", "II+\0", "MM\0+"};
constexpr size_t TIFF_SIGNATURE_SIZE = 4;
const char SQLITE_SIGNATURE[] = "SQLite format 3";  // and its NUL
constexpr size_t SQLITE_APPLICATION_ID_AT = 68;
const char GEOPACKAGE_ID[] = "GPKG";  // a GeoPackage's application id, in its bytes
// GDAL's GeoJSON names its collection after its layer: the contours' is "contours".
const char CONTOURS_NAME[] = "\"name\": \"contours\"";
const char GEOJSON_TYPE[] = "\"type\"";
const char GEOJSON_FEATURE[] = "\"Feature";  // "Feature" or "FeatureCollection"
constexpr int NMEA_ADDRESS_MAX = 6;          // "GPGGA", "PUBX": the capitals before the first comma

enum Content {
    CONTENT_EMPTY,
    CONTENT_DATA,
    CONTENT_NAVIGATION,
    CONTENT_PICTURE,
    CONTENT_TRACK,
    CONTENT_NETCDF,
    CONTENT_SOUNDINGS,
    CONTENT_SOUNDINGS_VRT,
    CONTENT_TIFF,
    CONTENT_BAG,
    CONTENT_CONTOURS,
    CONTENT_GEOPACKAGE,
    CONTENT_OTHER,
    CONTENT_UNREAD,
};

// A line of navlog's (a stamp, a blank) or a raw NMEA sentence ("$GPGGA,").
bool starts_as_navigation(const char* head)
{
    NavTime stamp;
    const char* end = nullptr;
    if (navfile_time_parse(head, &stamp, &end) && *end == ' ') return true;
    if (head[0] != '$' && head[0] != '!') return false;
    int length = 1;
    while (length <= NMEA_ADDRESS_MAX && isupper(static_cast<unsigned char>(head[length])) != 0) ++length;
    return length > 2 && head[length] == ',';
}

// A JSON object whose type is a GeoJSON feature or collection of them.
bool starts_as_track(const char* head)
{
    const char* at = head;
    if (memcmp(at, "\xEF\xBB\xBF", 3) == 0) at += 3;
    while (isspace(static_cast<unsigned char>(*at))) ++at;
    if (*at != '{') return false;
    for (const char* type = strstr(at, GEOJSON_TYPE); type != nullptr; type = strstr(type + 1, GEOJSON_TYPE)) {
        const char* value = type + sizeof GEOJSON_TYPE - 1;
        while (isspace(static_cast<unsigned char>(*value))) ++value;
        if (*value++ != ':') continue;
        while (isspace(static_cast<unsigned char>(*value))) ++value;
        if (strncmp(value, GEOJSON_FEATURE, sizeof GEOJSON_FEATURE - 1) == 0) return true;
    }
    return false;
}

// A number as soundings are written: an optional sign, digits, a decimal point and digits or none; past it.
const char* past_number(const char* at)
{
    if (*at == '-' || *at == '+') ++at;
    const char* digits = at;
    while (isdigit(static_cast<unsigned char>(*at)) != 0) ++at;
    if (at == digits) return nullptr;
    if (*at != '.') return at;
    digits = ++at;
    while (isdigit(static_cast<unsigned char>(*at)) != 0) ++at;
    return at == digits ? nullptr : at;
}

// Soundings: a first line of three numbers, longitude, latitude and depth, apart by blanks.
bool starts_as_soundings(const char* head)
{
    const char* at = head;
    for (int field = 0; field < 3; ++field) {
        while (field > 0 && (*at == ' ' || *at == '\t')) ++at;
        at = past_number(at);
        if (at == nullptr || (field < 2 && *at != ' ' && *at != '\t')) return false;
    }
    return *at == '\n' || (at[0] == '\r' && at[1] == '\n');
}

bool holds(const char* bytes, size_t count, const char* text)
{
    size_t length = strlen(text);
    for (size_t at = 0; at + length <= count; ++at) {
        if (bytes[at] == text[0] && memcmp(bytes + at, text, length) == 0) return true;
    }
    return false;
}

// What an existing regular file holds, told by its first bytes.
Content content_of(const char* path)
{
    static char head[HEAD_SIZE + 1];
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) return CONTENT_UNREAD;
    size_t got = fread(head, 1, HEAD_SIZE, stream);
    bool failed = ferror(stream) != 0;
    fclose(stream);
    if (failed) return CONTENT_UNREAD;
    if (got == 0) return CONTENT_EMPTY;
    head[got] = 0;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(head);
    if (record_starts_file(bytes, got)) return CONTENT_DATA;
    if (starts_as_navigation(head)) return CONTENT_NAVIGATION;
    if (got >= PICTURE_SIGNATURE_SIZE && memcmp(bytes, PICTURE_SIGNATURE, PICTURE_SIGNATURE_SIZE) == 0) {
        return CONTENT_PICTURE;
    }
    bool classic = got >= 4 && memcmp(head, CLASSIC_NETCDF, 3) == 0 && (head[3] == 1 || head[3] == 2 || head[3] == 5);
    bool hdf5 = got >= sizeof HDF5_SIGNATURE && memcmp(bytes, HDF5_SIGNATURE, sizeof HDF5_SIGNATURE) == 0;
    if (classic || (hdf5 && (holds(head, got, NETCDF4_MARKS[0]) || holds(head, got, NETCDF4_MARKS[1])))) {
        return CONTENT_NETCDF;
    }
    if (hdf5 && holds(head, got, BAG_MARK)) return CONTENT_BAG;
    for (const char* tiff : TIFF_SIGNATURES) {
        if (got >= TIFF_SIGNATURE_SIZE && memcmp(head, tiff, TIFF_SIGNATURE_SIZE) == 0) return CONTENT_TIFF;
    }
    if (got >= SQLITE_APPLICATION_ID_AT + 4 && memcmp(head, SQLITE_SIGNATURE, sizeof SQLITE_SIGNATURE) == 0 &&
        memcmp(head + SQLITE_APPLICATION_ID_AT, GEOPACKAGE_ID, 4) == 0) {
        return CONTENT_GEOPACKAGE;
    }
    if (starts_as_soundings(head)) return CONTENT_SOUNDINGS;
    if (strncmp(head, OUTPUT_SOUNDINGS_VRT_OPENING, sizeof OUTPUT_SOUNDINGS_VRT_OPENING - 1) == 0) {
        return CONTENT_SOUNDINGS_VRT;
    }
    if (!starts_as_track(head)) return CONTENT_OTHER;
    return holds(head, got, CONTOURS_NAME) ? CONTENT_CONTOURS : CONTENT_TRACK;
}

// What an output writes at out.
Content content_written(OutputKind kind, const char* out)
{
    switch (kind) {
    case OUTPUT_PICTURE: return CONTENT_PICTURE;
    case OUTPUT_TRACK: return CONTENT_TRACK;
    case OUTPUT_XYZ: return CONTENT_SOUNDINGS;
    case OUTPUT_SOUNDINGS_VRT: return CONTENT_SOUNDINGS_VRT;
    case OUTPUT_GRID: return gridfile_format_of(out) == GRIDFILE_BAG ? CONTENT_BAG : CONTENT_TIFF;
    case OUTPUT_CONTOURS: return contour_format_of(out) == CONTOUR_GPKG ? CONTENT_GEOPACKAGE : CONTENT_CONTOURS;
    default: return CONTENT_NETCDF;
    }
}

bool refuse(const OutputTarget* target, const char* is, const char* detail)
{
    fprintf(stderr, "qkvdump: %s %s is %s: not writing the %s over it%s\n", target->option, target->path, is,
            target->what, detail);
    return false;
}

bool shares_out(const OutputTarget* target, const OutputInputs* inputs)
{
    for (int i = 0; i < inputs->checked_count; ++i) {
        const OutputTarget* other = inputs->checked[i];
        if (strcmp(other->path, target->path) == 0 || (target->existed && other->existed &&
                                                       plat_same_file(other->look, target->look))) {
            fprintf(stderr, "qkvdump: %s %s is also the OUT of %s\n", target->option, target->path, other->option);
            return true;
        }
    }
    return false;
}

bool is_input(const OutputTarget* target, const char* const* files, int count)
{
    for (int i = 0; i < count; ++i) {
        PlatFileLook input;
        if (plat_file_look(files[i], &input) && plat_same_file(input, target->look)) {
            fprintf(stderr, "qkvdump: %s %s is %s, a file to read: not writing the %s over it\n", target->option,
                    target->path, files[i], target->what);
            return true;
        }
    }
    return false;
}

// An existing regular OUT: never raw data; else of the kind written, empty, or --force.
bool replaceable(const OutputTarget* target, bool force)
{
    char usage[64];
    snprintf(usage, sizeof usage, " (%s OUT FILE...)", target->option);
    Content content = content_of(target->path);
    if (naming_ends_in(target->path, DATA_FILE_SUFFIX) || content == CONTENT_DATA) {
        return refuse(target, "a data file", usage);
    }
    if (naming_ends_in(target->path, NAVFILE_FILE_SUFFIX) || content == CONTENT_NAVIGATION) {
        return refuse(target, "a navigation log", "");
    }
    if (content == CONTENT_EMPTY || content == content_written(target->kind, target->path) || force) return true;
    char is[64];
    snprintf(is, sizeof is, content == CONTENT_UNREAD ? "a file that cannot be read" : "no %s", target->what);
    return refuse(target, is, " (--force replaces it)");
}

// A new OUT named as raw data is refused too: the program or navlog would take the picture or track for one of theirs
// (the next run's data file, the day's log), and a later run of ours would refuse to replace it.
bool named_as_raw_data(const OutputTarget* target)
{
    const char* is = naming_ends_in(target->path, DATA_FILE_SUFFIX)      ? "a data file"
                     : naming_ends_in(target->path, NAVFILE_FILE_SUFFIX) ? "a navigation log"
                                                                      : nullptr;
    if (is == nullptr) return false;
    fprintf(stderr, "qkvdump: %s %s is named as %s: not writing the %s there\n", target->option, target->path, is,
            target->what);
    return true;
}

}  // namespace

bool output_target_check(OutputTarget* target, OutputInputs* inputs)
{
    char device[16];
    if (plat_names_device(target->path, device, sizeof device)) {
        fprintf(stderr, "qkvdump: %s %s is taken by the system for its device %s: not writing the %s there\n",
                target->option, target->path, device, target->what);
        return false;
    }
    target->existed = plat_file_look(target->path, &target->look);
    target->in_place = target->existed && target->look.stream;
    target->writing = false;
    if (shares_out(target, inputs)) return false;
    if (target->existed) {
        if (is_input(target, inputs->files, inputs->file_count) ||
            is_input(target, inputs->nav_files, inputs->nav_count) ||
            is_input(target, inputs->settings_files, inputs->settings_count)) {
            return false;
        }
        // GDAL makes these files anew by name, seeking and reading back: a pipe would hang the run, and a device
        // (/dev/null) be removed and replaced by a file.
        if (target->in_place && (target->kind == OUTPUT_GRID || target->kind == OUTPUT_CONTOURS)) {
            fprintf(stderr, "qkvdump: %s %s is a pipe or a device: GDAL writes the %s only into a file\n",
                    target->option, target->path, target->what);
            return false;
        }
        if (!target->look.regular && !target->in_place) {
            fprintf(stderr, "qkvdump: %s %s is a directory or a disk: not writing the %s over it\n", target->option,
                    target->path, target->what);
            return false;
        }
        if (!target->in_place && !replaceable(target, inputs->force)) return false;
    } else if (named_as_raw_data(target)) {
        return false;
    }
    if (inputs->checked_count < OUTPUT_TARGETS_MAX) inputs->checked[inputs->checked_count++] = target;
    return true;
}

FILE* output_target_open(OutputTarget* target)
{
    char reason[256] = {};
    FILE* file = nullptr;
    if (target->in_place) {
        file = fopen(target->path, "wb");
        if (file == nullptr) plat_error_words(errno, reason, sizeof reason);
    } else {
        file = plat_file_create_beside(target->path, target->temp, sizeof target->temp, reason, sizeof reason);
    }
    if (file == nullptr) {
        fprintf(stderr, "%s: cannot write: %s\n", target->path, reason);
        return nullptr;
    }
    target->writing = true;
    return file;
}

bool output_target_name(OutputTarget* target, const char** name)
{
    if (target->in_place) {
        *name = target->path;
        target->writing = true;
        return true;
    }
    FILE* file = output_target_open(target);
    if (file == nullptr) return false;
    fclose(file);
    *name = target->temp;
    return true;
}

bool output_target_finish(OutputTarget* target, bool keep)
{
    if (!target->writing) return false;
    target->writing = false;
    if (target->in_place) return keep;
    if (!keep) {
        plat_file_discard(target->temp);
        return false;
    }
    char reason[256] = {};
    PlatFileLook now;
    bool there = plat_file_look(target->path, &now);
    // OUT is still the file checked, or still none: never another file that came meanwhile.
    PlatResult moved = PLAT_ERR_EXISTS;
    if (!there) {
        moved = plat_file_move_new(target->temp, target->path, reason, sizeof reason);
    } else if (target->existed && plat_same_file_since(target->look, now)) {
        moved = plat_file_replace(target->temp, target->path, reason, sizeof reason);
    }
    if (moved == PLAT_OK) return true;
    plat_file_discard(target->temp);
    if (moved == PLAT_ERR_EXISTS) {
        fprintf(stderr, "%s: not replaced: another file took its place while qkvdump wrote the %s\n", target->path,
                target->what);
    } else {
        fprintf(stderr, "%s: cannot write: %s\n", target->path, reason);
    }
    return false;
}

bool output_input_is_file(const char* path, const char* before)
{
    char device[16];
    PlatFileLook look;
    if (plat_names_device(path, device, sizeof device)) {
        fprintf(stderr, "%s%s: cannot open: the system takes the name for its device %s, not for a file\n", before,
                path, device);
        return false;
    }
    if (plat_file_look(path, &look) && !look.regular && !look.stream) {
        fprintf(stderr, "%s%s: cannot open: a directory or a disk, not a file\n", before, path);
        return false;
    }
    return true;
}
