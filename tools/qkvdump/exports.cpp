#include "tools/qkvdump/exports.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "tools/qkvdump/geojson_track.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/netcdf_export.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/ping_time.h"

namespace {

constexpr int BASIS_SIZE = 256;
constexpr int NAV_FILES_MAX = 4096;

const char NAV_CSV_HEADER[] = ",time_utc,lat,lon,fix_quality,fix_age_ms,speed_kn,course_deg";

enum TimeBasis { BASIS_MACHINE, BASIS_OFFSET, BASIS_NAV };

struct Exports {
    const char* netcdf_path;
    const char* geojson_path;
    const char* offset_text;
    const char* nav_files[NAV_FILES_MAX];
    int nav_count;
    bool csv_columns;
    TimeBasis basis;
    int offset_seconds;
    char basis_text[BASIS_SIZE];
    int file_index;
    const char* file_name;
    // The ping being handled: located once for its CSV columns and the outputs.
    ExportPing ping;
    bool located;
    NavLines lines;
    NavJoin join;
    FILE* geojson;
    long features;
    bool geojson_failed;
    int geojson_error;
    char feature[GEOJSON_FEATURE_SIZE];
    bool netcdf_open;
    NetcdfOut netcdf;
    FILE* summary;  // where the outputs' summary lines go, as the picture's
};

Exports exports;

int refuse(const char* first, const char* second)
{
    fprintf(stderr, "qkvdump: %s%s\n", first, second);
    return 2;
}

void locate(const RecordView* view, long record)
{
    ExportPing* ping = &exports.ping;
    *ping = ExportPing{};
    ping->view = view;
    ping->file_name = exports.file_name;
    ping->file_index = exports.file_index;
    ping->record = record;
    int64_t local_ms = 0;
    ping->time_known = pingtime_from_record(view, &local_ms);
    if (ping->time_known) {
        int offset = exports.basis == BASIS_OFFSET ? exports.offset_seconds : pingtime_machine_offset(local_ms);
        ping->utc_ms = local_ms - offset * 1000LL;
        // Without any line to give the offset, the computer's zone stands in.
        if (exports.basis == BASIS_NAV) nav_join_locate(&exports.join, local_ms, &ping->utc_ms, &ping->position);
    }
    exports.located = true;
}

void print_decimal(FILE* out, bool known, double value, const char* format)
{
    fputc(',', out);
    if (known) fprintf(out, format, value);
}

// The position columns of a CSV row: empty cells where there is no position.
void csv_columns(void*, const RecordView* view, FILE* out)
{
    locate(view, 0);
    const ExportPing* ping = &exports.ping;
    const PingPosition* p = &ping->position;
    char time[PINGTIME_ISO_SIZE] = "";
    if (ping->time_known) pingtime_iso_utc(ping->utc_ms, time);
    fprintf(out, ",%s", time);
    print_decimal(out, p->known, p->latitude, "%.7f");
    print_decimal(out, p->known, p->longitude, "%.7f");
    fputc(',', out);
    if (p->known) fprintf(out, "%d", p->fix_quality);
    fputc(',', out);
    if (p->known) fprintf(out, "%ld", p->fix_age_ms);
    print_decimal(out, p->known && p->motion_known, p->speed_knots, "%.1f");
    print_decimal(out, p->known && p->motion_known, p->course_degrees, "%.1f");
}

void describe_basis()
{
    char offset[PINGTIME_OFFSET_SIZE];
    char zone[64];
    const char* local = "record times are the acquisition computer's local time, made UTC";
    // Navigation files without a single fix give no offset: the computer's zone stands in, and is named.
    bool nav_offset = exports.basis == BASIS_NAV && exports.join.after.present;
    switch (nav_offset || exports.basis != BASIS_NAV ? exports.basis : BASIS_MACHINE) {
    case BASIS_NAV:
        snprintf(exports.basis_text, BASIS_SIZE, "%s with the UTC offsets of the navigation log's lines", local);
        break;
    case BASIS_OFFSET:
        pingtime_offset_text(exports.offset_seconds, offset);
        snprintf(exports.basis_text, BASIS_SIZE, "%s with the UTC offset %s given (--utc-offset)", local, offset);
        break;
    default:
        pingtime_machine_zone(zone, sizeof zone);
        snprintf(exports.basis_text, BASIS_SIZE, "%s with the time zone of the computer that ran qkvdump (%s)",
                 local, zone);
        break;
    }
}

void write_feature()
{
    if (exports.geojson_failed || !exports.ping.position.known) return;
    size_t length = geojson_feature(&exports.ping, exports.features == 0, exports.feature, sizeof exports.feature);
    if (length == 0 || fwrite(exports.feature, 1, length, exports.geojson) != length) {
        exports.geojson_failed = true;
        exports.geojson_error = length == 0 ? ENAMETOOLONG : errno;
        return;
    }
    ++exports.features;
}

bool finish_geojson()
{
    if (exports.geojson == nullptr) return true;
    if (!exports.geojson_failed && fputs(GEOJSON_CLOSING, exports.geojson) == EOF) {
        exports.geojson_failed = true;
        exports.geojson_error = errno;
    }
    if (fclose(exports.geojson) != 0 && !exports.geojson_failed) {
        exports.geojson_failed = true;
        exports.geojson_error = errno;
    }
    if (exports.geojson_failed) {
        fprintf(stderr, "%s: cannot write: %s\n", exports.geojson_path, strerror(exports.geojson_error));
        return false;
    }
    fprintf(exports.summary, "%s: %ld pings with a position\n", exports.geojson_path, exports.features);
    return true;
}

}  // namespace

int exports_option(int argc, char** argv, int* i)
{
    const char* option = argv[*i];
    const char** value = strcmp(option, "--netcdf") == 0       ? &exports.netcdf_path
                         : strcmp(option, "--geojson") == 0    ? &exports.geojson_path
                         : strcmp(option, "--utc-offset") == 0 ? &exports.offset_text
                                                               : nullptr;
    if (value != nullptr) {
        if (*i + 1 >= argc) return refuse(option, " needs a value");
        *value = argv[++*i];
        return 1;
    }
    if (strcmp(option, "--nav") != 0) return 0;
    // The .NAV files run up to the next option or the first data file.
    int first = *i + 1;
    while (*i + 1 < argc && argv[*i + 1][0] != '-' && !output_is_data_file_name(argv[*i + 1])) {
        if (exports.nav_count == NAV_FILES_MAX) return refuse("--nav", " takes 4096 files at most");
        exports.nav_files[exports.nav_count++] = argv[++*i];
    }
    if (*i < first) return refuse("--nav", " needs a .NAV file");
    return 1;
}

int exports_check(bool csv)
{
    if (exports.geojson_path && exports.nav_count == 0) return refuse("--geojson", " needs --nav");
    if (exports.offset_text && exports.nav_count > 0) {
        return refuse("--utc-offset", " goes without --nav: the .NAV lines carry the offset");
    }
    if (exports.offset_text && !pingtime_parse_offset(exports.offset_text, &exports.offset_seconds)) {
        return refuse("--utc-offset must be +HH:MM or -HH:MM, not ", exports.offset_text);
    }
    if (exports.offset_text && !exports.netcdf_path) return refuse("--utc-offset", " needs --netcdf");
    if (exports.nav_count > 0 && !csv && !exports.netcdf_path && !exports.geojson_path) {
        return refuse("--nav", " needs --csv, --geojson or --netcdf");
    }
    if (exports.netcdf_path && !netcdf_supported()) {
        return refuse("--netcdf", ": this build has no netCDF library (the Linux build writes netCDF files)");
    }
    exports.basis = exports.nav_count > 0 ? BASIS_NAV : exports.offset_text ? BASIS_OFFSET : BASIS_MACHINE;
    exports.csv_columns = csv && exports.nav_count > 0;
    return 0;
}

int exports_begin(char** files, int count, Scanner* scanner)
{
    bool in_place = false;  // a device as OUT is written as it is either way
    for (const char* const* out : {&exports.geojson_path, &exports.netcdf_path}) {
        if (*out == nullptr) continue;
        const char* option = out == &exports.netcdf_path ? "--netcdf" : "--geojson";
        const char* what = out == &exports.netcdf_path ? "netCDF file" : "track";
        if (!output_target_allowed(option, what, *out, files, count, &in_place) ||
            !output_target_allowed(option, what, *out, exports.nav_files, exports.nav_count, &in_place)) {
            return 2;
        }
    }
    // An output file takes the place of the record lines, as the picture does.
    if (scanner->format == SCAN_TEXT && (exports.geojson_path || exports.netcdf_path)) scanner->format = SCAN_SUMMARY;
    exports.summary = scanner->format == SCAN_CSV ? scanner->messages : scanner->out;
    if (exports.nav_count > 0) {
        nav_lines_open(&exports.lines, exports.nav_files, exports.nav_count);
        nav_join_begin(&exports.join, nav_lines_next, &exports.lines);
    }
    describe_basis();
    if (exports.csv_columns) {
        scanner->row_end = csv_columns;
        scanner->extra_header = NAV_CSV_HEADER;
    }
    if (exports.geojson_path) {
        exports.geojson = fopen(exports.geojson_path, "wb");
        if (exports.geojson == nullptr || fputs(GEOJSON_OPENING, exports.geojson) == EOF) {
            fprintf(stderr, "%s: cannot write: %s\n", exports.geojson_path, strerror(errno));
            if (exports.geojson) fclose(exports.geojson);
            exports.geojson = nullptr;
            return 1;
        }
    }
    if (exports.netcdf_path) {
        NetcdfSource source = {files, count, exports.nav_count > 0, exports.basis_text};
        if (!netcdf_begin(&exports.netcdf, exports.netcdf_path, &source)) {
            fprintf(stderr, "%s: %s\n", exports.netcdf_path, exports.netcdf.reason);
            netcdf_finish(&exports.netcdf);
            return 1;
        }
        exports.netcdf_open = true;
    }
    return 0;
}

void exports_file(int index, const char* name)
{
    exports.file_index = index;
    exports.file_name = name;
}

void exports_ping(const RecordView* view, long record)
{
    if (!exports.geojson && !exports.netcdf_open) {
        exports.located = false;
        return;
    }
    if (!exports.located) locate(view, record);
    exports.ping.record = record;
    exports.located = false;
    if (exports.geojson) write_feature();
    if (exports.netcdf_open) netcdf_add_ping(&exports.netcdf, &exports.ping);
}

bool exports_finish()
{
    bool whole = finish_geojson();
    if (exports.netcdf_open) {
        exports.netcdf_open = false;
        if (netcdf_finish(&exports.netcdf)) {
            fprintf(exports.summary, "%s: %ld pings\n", exports.netcdf_path, exports.netcdf.pings);
        } else {
            fprintf(stderr, "%s: cannot write: %s\n", exports.netcdf_path, exports.netcdf.reason);
            whole = false;
        }
    }
    if (exports.nav_count > 0) {
        whole = nav_lines_close(&exports.lines) && whole;
        if (exports.join.unreadable > 0) {
            fprintf(stderr, "qkvdump: --nav: %ld line%s skipped: no stamped NMEA sentence with a right checksum\n",
                    exports.join.unreadable, exports.join.unreadable == 1 ? "" : "s");
        }
    }
    return whole;
}
