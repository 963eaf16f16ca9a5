#include "tools/qkvdump/exports.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "tools/qkvdump/follow.h"
#include "tools/qkvdump/geojson_track.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/netcdf_export.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/ping_depth.h"
#include "tools/qkvdump/ping_time.h"

namespace {

constexpr int BASIS_SIZE = 256;
constexpr int NAV_FILES_MAX = 4096;

const char NAV_CSV_HEADER[] = ",time_utc,lat,lon,fix_quality,fix_age_ms,speed_kn,course_deg";
const char RANGE_CSV_HEADER[] = ",range_m";
const char DEPTH_CSV_HEADER[] = ",depth_m,depth_quality";
constexpr int CSV_HEADER_SIZE = 256;
// The transducer's draft and the blanking distance, in metres: a head sits at most this deep, and its range is at
// most this long.
constexpr double DRAFT_MAX_M = 100.0;
constexpr double BLANKING_MAX_M = 1000.0;
constexpr int SOUNDING_DEGREE_DECIMALS = 7;  // about 1 cm

enum TimeBasis { BASIS_MACHINE, BASIS_OFFSET, BASIS_NAV };

struct Exports {
    OutputTarget netcdf_target = {"--netcdf", "netCDF file", OUTPUT_NETCDF, nullptr, false, false, {}, false, {}};
    OutputTarget track_target = {"--geojson", "track", OUTPUT_TRACK, nullptr, false, false, {}, false, {}};
    OutputTarget xyz_target = {"--xyz", "soundings", OUTPUT_XYZ, nullptr, false, false, {}, false, {}};
    OutputTarget vrt_target = {"--xyz", "VRT of the soundings", OUTPUT_SOUNDINGS_VRT, nullptr, false, false, {}, false,
                               {}};
    bool depth;  // --depth, or --xyz
    bool draft_given;
    bool blanking_given;
    double draft_m;
    DepthSettings depth_settings;
    bool bottom_taken;  // the ping being handled has its verdict
    bool locate_all;    // every ping is given its time and position, for a picture's axes
    char nmea_address[16];  // --nmea-out's IPv4 address; empty: none
    uint16_t nmea_port;
    PingBottom bottom;
    char csv_header[CSV_HEADER_SIZE];
    FILE* xyz;
    long soundings;
    bool xyz_failed;
    int xyz_error;
    char vrt_path[OUTPUT_PATH_SIZE];
    FILE* vrt;
    bool vrt_failed;
    int vrt_error;
    const char* offset_text;
    const char* nav_files[NAV_FILES_MAX];
    int nav_count;
    bool csv_format;
    TimeBasis basis;
    int offset_seconds;
    char basis_text[BASIS_SIZE];
    int file_index;
    const char* file_name;
    // The ping being handled: located once for its CSV columns and the outputs.
    ExportPing ping;
    bool located;
    bool any_time;           // a ping before this one had a time
    int64_t previous_utc_ms;  // its UTC time
    PingTimeZoneMinute zone_minute;
    long pings;               // well-formed records exported
    long nav_pings;           // pings joined to the .NAV lines
    long placed;              // of them, those given a position
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
// The records the scanner reads ahead for the picker.
uint8_t waiting_records[PING_DEPTH_AHEAD_MAX + 1][RECORD_SIZE];

// The picker's verdict on the ping being handled, taken once.
void take_bottom()
{
    if (exports.bottom_taken || !exports.depth) return;
    PingDepth depth;
    ping_depth_next(&depth);
    exports.bottom = PingBottom{depth.known, depth.distance_m, depth.known ? depth.distance_m + exports.draft_m : 0.0,
                                depth.quality};
    exports.bottom_taken = true;
}

void depth_arrive(void*, const RecordView* view, long)
{
    ping_depth_arrive(view);
}

void depth_file_end(void*)
{
    ping_depth_file_end();
}

void locate(const RecordView* view, long record)
{
    ExportPing* ping = &exports.ping;
    *ping = ExportPing{};
    ping->view = view;
    ping->file_name = exports.file_name;
    ping->file_index = exports.file_index;
    ping->record = record;
    take_bottom();
    ping->with_depth = exports.depth;
    ping->bottom = exports.bottom;
    int64_t local_ms = 0;
    ping->time_known = pingtime_from_record(view, &local_ms);
    if (ping->time_known) {
        if (exports.basis == BASIS_OFFSET) {
            ping->utc_ms = local_ms - exports.offset_seconds * 1000LL;
        } else {
            ping->utc_ms = pingtime_machine_utc(local_ms, exports.any_time ? &exports.previous_utc_ms : nullptr,
                                                &exports.zone_minute);
        }
        // Without any line to give the offset, the computer's zone stands in.
        if (exports.basis == BASIS_NAV) {
            nav_join_locate(&exports.join, local_ms, &ping->utc_ms, &ping->position);
            ++exports.nav_pings;
            exports.placed += ping->position.known;
        }
        exports.any_time = true;
        exports.previous_utc_ms = ping->utc_ms;
    }
    exports.located = true;
}

void print_decimal(FILE* out, bool known, int decimals, double value)
{
    fputc(',', out);
    if (known) fprintf(out, "%.*f", decimals, value);
}

// The position columns of a CSV row: empty cells where there is no position.
void nav_columns(const ExportPing* ping, FILE* out)
{
    const PingPosition* p = &ping->position;
    char time[PINGTIME_ISO_SIZE] = "";
    if (ping->time_known) pingtime_iso_utc(ping->utc_ms, time);
    fprintf(out, ",%s", time);
    print_decimal(out, p->known, p->decimals, p->latitude);
    print_decimal(out, p->known, p->decimals, p->longitude);
    fputc(',', out);
    if (p->known) fprintf(out, "%d", p->fix_quality);
    fputc(',', out);
    if (p->known) fprintf(out, "%ld", p->fix_age_ms);
    print_decimal(out, p->known && p->motion_known, 1, p->speed_knots);
    print_decimal(out, p->known && p->motion_known, 1, p->course_degrees);
}

// What ends a record's line: in CSV the position columns with --nav, the range in metres and with --depth the
// depth and its quality (an empty depth where there is none); in the listing the same words as fields.
void line_end(void*, const RecordView* view, FILE* out)
{
    bool csv = exports.csv_format;
    if (csv && exports.nav_count > 0) {
        locate(view, 0);
        nav_columns(&exports.ping, out);
    } else {
        take_bottom();
    }
    fprintf(out, csv ? ",%g" : "  range_m %g", range_code_metres(view->range_field));
    if (!exports.depth) return;
    const PingBottom* b = &exports.bottom;
    if (csv) {
        fputc(',', out);
        char text[EXPORT_DEPTH_TEXT_SIZE];
        if (b->known) fputs(export_depth_text(b->depth_m, text), out);
        fprintf(out, ",%d", b->quality);
    } else if (b->known) {
        char text[EXPORT_DEPTH_TEXT_SIZE];
        fprintf(out, "  depth_m %s  depth_quality %d", export_depth_text(b->depth_m, text), b->quality);
    } else {
        fputs("  depth_m none", out);
    }
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
        plat_zone_names(zone, sizeof zone);
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

void write_sounding()
{
    const ExportPing* ping = &exports.ping;
    if (exports.xyz_failed || !ping->position.known || !ping->bottom.known) return;
    char depth[EXPORT_DEPTH_TEXT_SIZE];
    if (fprintf(exports.xyz, "%.*f %.*f %s\n", SOUNDING_DEGREE_DECIMALS, ping->position.longitude,
                SOUNDING_DEGREE_DECIMALS, ping->position.latitude, export_depth_text(ping->bottom.depth_m, depth)) < 0) {
        exports.xyz_failed = true;
        exports.xyz_error = errno;
        return;
    }
    ++exports.soundings;
}

// Where a path's last part starts: after its last directory separator.
const char* last_part(const char* path)
{
    const char* part = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == PLAT_DIR_SEPARATOR) part = c + 1;
    }
    return part;
}

// The length of a file name without its extension (from its last dot on).
size_t stem_length(const char* name)
{
    const char* dot = strrchr(name, '.');
    return dot != nullptr ? static_cast<size_t>(dot - name) : strlen(name);
}

// The VRT beside the soundings: OUT's name with its extension, or none, made .vrt. False when it would be too long.
bool vrt_name(const char* xyz, char* vrt, size_t size)
{
    const char* name = last_part(xyz);
    size_t kept = static_cast<size_t>(name - xyz) + stem_length(name);
    int length = snprintf(vrt, size, "%.*s.vrt", static_cast<int>(kept), xyz);
    return length > 0 && static_cast<size_t>(length) < size;
}

void print_xml_text(FILE* out, const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
        case '&': fputs("&amp;", out); break;
        case '<': fputs("&lt;", out); break;
        case '>': fputs("&gt;", out); break;
        case '"': fputs("&quot;", out); break;
        default: fputc(text[i], out); break;
        }
    }
}

// An OGR virtual layer of the soundings beside it: GDAL's CSV driver reads the lines (blanks between the fields, no
// header), their longitude, latitude and depth make points with a depth on WGS 84, so that gdal_grid grids them and
// ogrinfo and QGIS open them without being told the columns.
void write_vrt(FILE* out, const char* xyz)
{
    const char* name = last_part(xyz);
    fputs(OUTPUT_SOUNDINGS_VRT_OPENING, out);
    fputs("    <SrcDataSource relativeToVRT=\"1\">CSV:", out);
    print_xml_text(out, name, strlen(name));
    fputs("</SrcDataSource>\n    <OpenOptions><OOI key=\"HEADERS\">NO</OOI></OpenOptions>\n    <SrcLayer>", out);
    print_xml_text(out, name, stem_length(name));
    fputs("</SrcLayer>\n"
          "    <GeometryType>wkbPoint25D</GeometryType>\n"
          "    <LayerSRS>WGS84</LayerSRS>\n"
          "    <GeometryField encoding=\"PointFromColumns\" x=\"field_1\" y=\"field_2\" z=\"field_3\"/>\n"
          "    <Field name=\"depth\" src=\"field_3\" type=\"Real\"/>\n"
          "  </OGRVRTLayer>\n"
          "</OGRVRTDataSource>\n",
          out);
}

// Begins the VRT beside a soundings file. Where there is a file of another kind, said, and the soundings are
// written without it: the soundings are what --xyz asks for.
void begin_vrt(const OutputInputs* inputs)
{
    OutputTarget* target = &exports.vrt_target;
    if (exports.xyz_target.in_place || !vrt_name(exports.xyz_target.path, exports.vrt_path, sizeof exports.vrt_path)) {
        return;
    }
    target->path = exports.vrt_path;
    if (output_target_check(target, inputs)) exports.vrt = output_target_open(target);
    if (exports.vrt == nullptr) {
        fprintf(stderr, "qkvdump: %s: the soundings are written without it\n", target->path);
        return;
    }
    write_vrt(exports.vrt, exports.xyz_target.path);
    if (ferror(exports.vrt)) {
        exports.vrt_failed = true;
        exports.vrt_error = errno;
    }
}

// Closes a text output (the track, the soundings) and moves it over its OUT when keep; false when that failed
// (said). failed and error hold its first failed write.
bool close_text_output(FILE** file, bool* failed, int* error, OutputTarget* target, bool keep)
{
    if (fclose(*file) != 0 && !*failed) {
        *failed = true;
        *error = errno;
    }
    *file = nullptr;
    if (*failed) {
        output_target_finish(target, false);
        fprintf(stderr, "%s: cannot write: %s\n", target->path, strerror(*error));
        return false;
    }
    return output_target_finish(target, keep);
}

// Closes the soundings and moves them over OUT when keep; false when that failed (said).
bool finish_xyz(bool keep)
{
    if (exports.xyz == nullptr) return true;
    OutputTarget* target = &exports.xyz_target;
    if (!close_text_output(&exports.xyz, &exports.xyz_failed, &exports.xyz_error, target, keep)) return false;
    fprintf(exports.summary, "%s: %ld soundings (pings with a position and a depth)\n", target->path,
            exports.soundings);
    return true;
}

// Closes the VRT and moves it over its name when keep; false when that failed (said).
bool finish_vrt(bool keep)
{
    if (exports.vrt == nullptr) return true;
    OutputTarget* target = &exports.vrt_target;
    if (!close_text_output(&exports.vrt, &exports.vrt_failed, &exports.vrt_error, target, keep)) return false;
    fprintf(exports.summary, "%s: the soundings as a layer for GDAL and QGIS\n", target->path);
    return true;
}

// Closes the track and moves it over OUT when keep; false when it failed (said).
bool finish_geojson(bool keep)
{
    if (exports.geojson == nullptr) return true;
    if (!exports.geojson_failed && fputs(GEOJSON_CLOSING, exports.geojson) == EOF) {
        exports.geojson_failed = true;
        exports.geojson_error = errno;
    }
    OutputTarget* target = &exports.track_target;
    if (!close_text_output(&exports.geojson, &exports.geojson_failed, &exports.geojson_error, target, keep)) {
        return false;
    }
    fprintf(exports.summary, "%s: %ld pings with a position\n", target->path, exports.features);
    return true;
}

// Closes the netCDF file and moves it over OUT when keep; false when it failed (said).
bool finish_netcdf(bool keep)
{
    if (!exports.netcdf_open) return true;
    exports.netcdf_open = false;
    OutputTarget* target = &exports.netcdf_target;
    if (!netcdf_finish(&exports.netcdf)) {
        output_target_finish(target, false);
        fprintf(stderr, "%s: cannot write: %s\n", target->path, exports.netcdf.reason);
        return false;
    }
    if (!output_target_finish(target, keep)) return false;
    fprintf(exports.summary, "%s: %ld pings\n", target->path, exports.netcdf.pings);
    return true;
}

// Pings were joined to the .NAV lines, and not one was given a position (another day's file): no export.
bool no_position()
{
    return exports.nav_pings > 0 && exports.placed == 0;
}

void tell_not_written(const OutputTarget* target, const char* why)
{
    if (target->writing) fprintf(stderr, "%s: no %s written: %s\n", target->path, target->what, why);
}

// Why the outputs are not moved over their OUTs, when they are not: said for each.
bool outputs_complete(bool nav_whole)
{
    const char* why = !nav_whole           ? "a .NAV file could not be read whole"
                      : exports.pings == 0 ? "no well-formed record"
                      : no_position()      ? "no ping has a position"
                                           : nullptr;
    if (why == nullptr) return true;
    for (const OutputTarget* target : {&exports.track_target, &exports.netcdf_target, &exports.xyz_target}) {
        tell_not_written(target, why);
    }
    return false;
}

// The next argument when it is one more of --nav's .NAV files (no option, no data file): taken.
const char* next_nav_file(Cmdline* line)
{
    const char* next = cmdline_peek_value(line);
    return next != nullptr && !output_is_data_file_name(next) ? cmdline_next_value(line) : nullptr;
}

void tell_nav_counts()
{
    const NavJoin* join = &exports.join;
    for (int reason = 0; reason < NAV_SKIP_COUNT; ++reason) {
        long lines = join->skipped[reason];
        if (lines > 0) {
            fprintf(stderr, "qkvdump: --nav: %ld line%s skipped: %s\n", lines, lines == 1 ? "" : "s",
                    NAV_SKIP_REASONS[reason]);
        }
    }
    if (no_position()) {
        fprintf(stderr,
                "qkvdump: --nav: no ping has a position: no fix of the .NAV files lies within %lld s of one (the "
                "day's .NAV file?)\n",
                static_cast<long long>(NAV_FIX_REACH_MS / 1000));
    }
    if (join->jumps > 0) {
        // The stamp of the fix after the first jump, as its line shows it.
        const NavClockJump* jump = &join->first_jump;
        NavTime at;
        timestamp_civil_of_ms(jump->utc_ms + jump->offset_seconds * 1000LL, &at);
        at.utc_offset_seconds = jump->offset_seconds;
        char stamp[NAVFILE_TIME_TEXT_SIZE];
        navfile_time_text(&at, stamp);
        long long size = jump->size_ms < 0 ? -jump->size_ms : jump->size_ms;
        fprintf(stderr,
                "qkvdump: --nav: the receiver's time jumped %lld.%03lld s %s against the computer's stamps at the "
                "line stamped %s",
                size / 1000, size % 1000, jump->size_ms < 0 ? "back" : "ahead", stamp);
        if (join->jumps > 1) fprintf(stderr, " (and %ld times more)", join->jumps - 1);
        fputs("; positions are joined by the stamps\n", stderr);
    }
    if (join->unplaced > 0) {
        fprintf(stderr,
                "qkvdump: --nav: %ld ping%s without a position: the records' clock went back with no such step "
                "in the .NAV lines (UTC times from the offset of the lines before)\n",
                join->unplaced, join->unplaced == 1 ? "" : "s");
    }
}

// The range all the files' well-formed pings share, in metres; 0 when they differ or there is none.
struct RangeSurvey {
    int code;  // -1 before the first ping
    bool differ;
};

void note_range(void* context, const RecordView* view)
{
    RangeSurvey* survey = static_cast<RangeSurvey*>(context);
    if (survey->code >= 0 && survey->code != view->range_field) survey->differ = true;
    survey->code = view->range_field;
}

double single_range_m(const char* const* files, int count)
{
    static Scanner ranges;
    RangeSurvey survey = {-1, false};
    ranges.format = SCAN_QUIET;
    ranges.each = note_range;
    ranges.each_context = &survey;
    for (int i = 0; i < count && !survey.differ; ++i) {
        FILE* stream = fopen(files[i], "rb");
        if (stream == nullptr) continue;  // reported when read
        ScanTally tally;
        scan_file(&ranges, files[i], scan_read_stream, stream, &tally);
        fclose(stream);
    }
    return survey.code > 0 && !survey.differ ? range_code_metres(survey.code) : 0.0;
}

// HOST:PORT, the host an IPv4 address as digits and dots (checked when it is opened).
bool take_nmea_out(Cmdline* line)
{
    const char* text = line->value;
    const char* colon = strrchr(text, ':');
    size_t host = colon != nullptr ? static_cast<size_t>(colon - text) : 0;
    bool dotted = host > 0 && host < sizeof exports.nmea_address && strspn(text, "0123456789.") == host;
    long port = 0;
    if (!dotted) return cmdline_refuse(line, "an IPv4 address and a port (127.0.0.1:10110)", text);
    if (!cmdline_number(line, colon + 1, "a port", 1, 65535, &port)) return false;
    memcpy(exports.nmea_address, text, host);
    exports.nmea_address[host] = 0;
    exports.nmea_port = static_cast<uint16_t>(port);
    return true;
}

}  // namespace

bool exports_option(Cmdline* line)
{
    const char* option = line->option->name;
    if (strcmp(option, "--depth") == 0) {
        exports.depth = true;
        return true;
    }
    if (strcmp(option, "--draft") == 0) {
        exports.draft_given = true;
        return cmdline_decimal(line, line->value, "metres", 0.0, DRAFT_MAX_M, &exports.draft_m);
    }
    if (strcmp(option, "--nmea-out") == 0) return take_nmea_out(line);
    if (strcmp(option, "--blank") == 0) {
        exports.blanking_given = true;
        return cmdline_decimal(line, line->value, "metres", 0.0, BLANKING_MAX_M, &exports.depth_settings.blanking_m);
    }
    const char** value = strcmp(option, "--netcdf") == 0       ? &exports.netcdf_target.path
                         : strcmp(option, "--geojson") == 0    ? &exports.track_target.path
                         : strcmp(option, "--xyz") == 0        ? &exports.xyz_target.path
                         : strcmp(option, "--utc-offset") == 0 ? &exports.offset_text
                                                               : nullptr;
    if (value != nullptr) {
        *value = line->value;
        return true;
    }
    // --nav: the .NAV files run up to the next option or the first data file.
    const char* file = line->value != nullptr ? line->value : next_nav_file(line);
    if (file == nullptr || output_is_data_file_name(file)) return cmdline_fail(line, "--nav needs a .NAV file");
    for (; file != nullptr; file = next_nav_file(line)) {
        if (exports.nav_count == NAV_FILES_MAX) return cmdline_fail(line, "--nav takes %d files at most", NAV_FILES_MAX);
        exports.nav_files[exports.nav_count++] = file;
    }
    return true;
}

bool exports_check(Cmdline* line, bool csv)
{
    if (exports.track_target.path && exports.nav_count == 0) return cmdline_fail(line, "--geojson needs --nav");
    if (exports.xyz_target.path && exports.nav_count == 0) return cmdline_fail(line, "--xyz needs --nav");
    if (exports.xyz_target.path) exports.depth = true;
    if (exports.nmea_address[0] != 0 && !exports.depth) return cmdline_fail(line, "--nmea-out needs --depth");
    if ((exports.draft_given || exports.blanking_given) && !exports.depth) {
        return cmdline_fail(line, "%s needs --depth", exports.draft_given ? "--draft" : "--blank");
    }
    if (exports.offset_text && exports.nav_count > 0) {
        return cmdline_fail(line, "--utc-offset goes without --nav: the .NAV lines carry the offset");
    }
    if (exports.offset_text && !pingtime_parse_offset(exports.offset_text, &exports.offset_seconds)) {
        return cmdline_fail(line, "--utc-offset must be +HH:MM or -HH:MM, not \"%s\"", exports.offset_text);
    }
    if (exports.offset_text && !exports.netcdf_target.path) return cmdline_fail(line, "--utc-offset needs --netcdf");
    if (exports.nav_count > 0 && !csv && !exports_write_files()) {
        return cmdline_fail(line, "--nav needs --csv, --geojson, --xyz or --netcdf");
    }
    exports.basis = exports.nav_count > 0 ? BASIS_NAV : exports.offset_text ? BASIS_OFFSET : BASIS_MACHINE;
    exports.csv_format = csv;
    return true;
}

bool exports_write_files()
{
    return exports.track_target.path != nullptr || exports.netcdf_target.path != nullptr ||
           exports.xyz_target.path != nullptr;
}

void exports_locate_every_ping()
{
    exports.locate_all = true;
}

bool exports_depth()
{
    return exports.depth;
}

double exports_draft_m()
{
    return exports.draft_m;
}

bool exports_nmea_out()
{
    return exports.nmea_address[0] != 0;
}

bool exports_only_depth()
{
    return !exports_write_files() && exports.nav_count == 0 && exports.offset_text == nullptr;
}

void exports_follow_depth(FollowDepth* depth)
{
    *depth = FollowDepth{exports.depth, exports.depth_settings, exports.draft_m,
                         exports.nmea_address[0] != 0 ? exports.nmea_address : nullptr, exports.nmea_port};
}

void exports_depth_defaults()
{
    depth_settings_default(&exports.depth_settings);
}

void exports_inputs(OutputInputs* inputs)
{
    inputs->nav_files = exports.nav_files;
    inputs->nav_count = exports.nav_count;
}

int exports_begin(const OutputInputs* inputs, Scanner* scanner)
{
    if (exports.netcdf_target.path && !netcdf_supported()) {
        fprintf(stderr, "qkvdump: --netcdf: this build has no netCDF library (the Linux build writes netCDF files)\n");
        return 2;
    }
    for (OutputTarget* target : {&exports.track_target, &exports.netcdf_target, &exports.xyz_target}) {
        if (target->path != nullptr && !output_target_check(target, inputs)) return 2;
    }
    // A .NAV file that cannot be read fails the run before any output is made.
    for (int i = 0; i < exports.nav_count; ++i) {
        if (!output_input_is_file(exports.nav_files[i], "qkvdump: --nav ")) return 1;
    }
    if (!nav_lines_readable(exports.nav_files, exports.nav_count)) return 1;
    // An output file takes the place of the record lines, as the picture does.
    if (scanner->format == SCAN_TEXT && exports_write_files()) scanner->format = SCAN_SUMMARY;
    exports.summary = scanner->format == SCAN_CSV ? scanner->messages : scanner->out;
    if (exports.nav_count > 0) {
        nav_lines_open(&exports.lines, exports.nav_files, exports.nav_count);
        nav_join_begin(&exports.join, nav_lines_next, &exports.lines);
    }
    describe_basis();
    scanner->row_end = line_end;
    snprintf(exports.csv_header, sizeof exports.csv_header, "%s%s%s", exports.nav_count > 0 ? NAV_CSV_HEADER : "",
             RANGE_CSV_HEADER, exports.depth ? DEPTH_CSV_HEADER : "");
    scanner->extra_header = exports.csv_header;
    if (exports.depth) {
        ping_depth_begin(&exports.depth_settings);
        scanner->ahead = ping_depth_ahead();
        scanner->ring = waiting_records;
        scanner->arrive = depth_arrive;
        scanner->file_end = depth_file_end;
    }
    if (exports.track_target.path) {
        exports.geojson = output_target_open(&exports.track_target);
        if (exports.geojson == nullptr) return 1;
        if (fputs(GEOJSON_OPENING, exports.geojson) == EOF) {
            exports.geojson_failed = true;
            exports.geojson_error = errno;
        }
    }
    if (exports.xyz_target.path) {
        exports.xyz = output_target_open(&exports.xyz_target);
        if (exports.xyz == nullptr) {
            finish_geojson(false);
            return 1;
        }
        begin_vrt(inputs);
    }
    if (exports.netcdf_target.path) {
        const char* name = nullptr;
        NetcdfSource source = {inputs->files, inputs->file_count, exports.nav_count > 0, exports.depth,
                               exports.draft_m, exports.basis_text, single_range_m(inputs->files, inputs->file_count)};
        if (!output_target_name(&exports.netcdf_target, &name)) {
            finish_geojson(false);
            finish_xyz(false);
            finish_vrt(false);
            return 1;
        }
        if (!netcdf_begin(&exports.netcdf, name, &source)) {
            fprintf(stderr, "%s: %s\n", exports.netcdf_target.path, exports.netcdf.reason);
            netcdf_finish(&exports.netcdf);
            output_target_finish(&exports.netcdf_target, false);
            finish_geojson(false);
            finish_xyz(false);
            finish_vrt(false);
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

const ExportPing* exports_ping(const RecordView* view, long record)
{
    if (!exports.geojson && !exports.netcdf_open && !exports.xyz && !exports.locate_all) {
        take_bottom();
        exports.ping.view = view;
        exports.ping.with_depth = exports.depth;
        exports.ping.bottom = exports.bottom;
        exports.located = false;
        exports.bottom_taken = false;
        return &exports.ping;
    }
    if (!exports.located) locate(view, record);
    exports.ping.record = record;
    exports.located = false;
    exports.bottom_taken = false;
    ++exports.pings;
    if (exports.geojson) write_feature();
    if (exports.xyz) write_sounding();
    if (exports.netcdf_open) netcdf_add_ping(&exports.netcdf, &exports.ping);
    return &exports.ping;
}

bool exports_finish(bool keep)
{
    if (exports.depth) ping_depth_end();
    bool nav_whole = exports.nav_count == 0 || nav_lines_close(&exports.lines);
    bool complete = outputs_complete(nav_whole);
    // Soundings without a single one are no export either, though the other outputs are.
    bool any_sounding = exports.soundings > 0;
    if (complete && !any_sounding) tell_not_written(&exports.xyz_target, "no ping has both a position and a depth");
    bool whole = finish_geojson(keep && complete);
    bool soundings_kept = finish_xyz(keep && complete && any_sounding);
    whole = soundings_kept && whole;
    whole = finish_vrt(soundings_kept) && whole;
    whole = finish_netcdf(keep && complete) && whole;
    if (exports.nav_count > 0) tell_nav_counts();
    return whole && nav_whole && !no_position() && (complete || !exports_write_files());
}
