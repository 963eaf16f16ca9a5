#include "tools/qkvdump/dump_options.h"

#include <cstdio>
#include <cstring>

#include "reduction/fields.h"
#include "store/naming.h"
#include "tools/qkvdump/echogram.h"
#include "navfile/ping_time.h"

const char QKVDUMP_USAGE[] =
    "usage: qkvdump [--csv [--samples]] [--png OUT [--width N] [--height N] [--gray] [--axes]]\n"
    "               [--depth [--draft M] [--blank M]] [--force] FILE...\n"
    "       qkvdump [--csv] [--nav NAVFILE... [--geojson OUT] [--xyz OUT]] [--netcdf OUT [--utc-offset +HH:MM]]\n"
    "               [--depth [--draft M] [--blank M] [REDUCTION...]] [--force] FILE...\n"
    "       qkvdump --nav NAVFILE... [--grid OUT] [--contours OUT (--interval M | --depths D,...)] --cell M\n"
    "               [--crs CRS] [--depth [--draft M] [--blank M] [REDUCTION...]] [--force] FILE...\n"
    "       qkvdump --follow [--depth [--draft M] [--blank M] [--nmea-out HOST:PORT [--keel M]]\n"
    "               [REDUCTION...]] [FILE]\n"
    "Checks that each data file is a whole number of well-formed 8192-byte ping\n"
    "records and prints one line per record (number, date and time, gain, range\n"
    "field, ping interval, end byte, range in metres) and a summary per file.\n"
    "Options may come before or after the files; -- ends them.\n"
    "  --csv      print a CSV header and one row per record; summaries go to stderr;\n"
    "             its last columns range_m, and depth_m and depth_quality with --depth\n"
    "  --samples  with --csv: each row ends in the ping's 8000 data bytes, s0 to s7999\n"
    "  --png OUT  draw the well-formed pings of all the files, in the order given, as\n"
    "             a PNG waterfall: one row per ping, oldest at the top, the data bytes\n"
    "             from left to right; no record lines, only faults and summaries\n"
    "  --width N  columns of the picture, each the mean of 8000/N data bytes; N must\n"
    "             divide 8000 (default 1000)\n"
    "  --height N rows of the picture, each the mean of consecutive pings (the last\n"
    "             rows one ping fewer where they do not share out evenly); default\n"
    "             one row per ping\n"
    "             With --axes, as the echogram is seen: --height the rows down the\n"
    "             range (dividing 8000, default 1000), --width the columns across\n"
    "             the pings (default a column a ping, at least 640, at most 8000)\n"
    "  --gray     grey levels equal to the column means; without it the means are\n"
    "             coloured with viridis, a perceptually uniform map from dark violet\n"
    "             (0) through blue and green to yellow (255)\n"
    "  --axes     the echogram as a sounder shows it: time across, depth down, a\n"
    "             depth scale at 1-2-5 steps with light grid lines, UTC times,\n"
    "             the file's name\n"
    "  --depth    the bottom picked in every ping: its depth below the surface and\n"
    "             quality (1-100) in the listing, the CSV and the outputs, a red\n"
    "             line in the picture; none where the ping has no sure bottom\n"
    "  --draft M  with --depth: the transducer's depth in metres, added (default 0)\n"
    "  --blank M  with --depth: metres from the transducer not searched (default 0.5)\n"
    "  --nav NAVFILE...  navlog's .NAV files (up to the next option or .QKV file):\n"
    "             each ping's UTC time and position, interpolated between the fixes\n"
    "             either side within 10 s; with --csv the columns time_utc, lat, lon,\n"
    "             fix_quality, fix_age_ms, speed_kn and course_deg end each row\n"
    "  --geojson OUT  with --nav: the pings with a position as a GeoJSON track\n"
    "  --xyz OUT  with --nav: \"lon lat depth\" of each ping with a position and a\n"
    "             depth (picked as with --depth), for QGIS and gdal_grid\n"
    "  --netcdf OUT   all the pings as one netCDF-4 file (CF-1.8)\n"
    "  --grid OUT with --nav: the soundings of --xyz binned into square cells of\n"
    "             --cell M metres, in the UTM zone of their median position or in\n"
    "             --crs CRS (an EPSG code, or any projected system PROJ takes):\n"
    "             the bands mean, shoalest, count and std, depths positive down;\n"
    "             a Cloud-Optimized GeoTIFF, or a BAG where OUT ends in .bag\n"
    "  --contours OUT  with --nav: the lines of those cells' shoalest depths, at\n"
    "             every --interval M metres or at the --depths D,D,... given;\n"
    "             GeoJSON in WGS 84, or a GeoPackage where OUT ends in .gpkg\n"
    "  --utc-offset +HH:MM  without --nav: the UTC offset of the record times; by\n"
    "             default this computer's time zone\n"
    "  Each OUT is written beside it and takes its place only when whole. It may\n"
    "  not be a file read, a data file or a .NAV file; a file already there is\n"
    "  replaced only when it is of the kind written (or empty)\n"
    "  --force    replace any other file there\n"
    "  --follow   draw the pings live in this terminal as FILE grows: a waterfall\n"
    "             filling it, the newest ping at the bottom, two pings a text cell,\n"
    "             columns the means of the data bytes, the same colours; a status\n"
    "             line under it. Without FILE, today's most recently created data\n"
    "             file here, and the next one when the next run starts. q, Esc or\n"
    "             Ctrl+C ends it. With --depth the bottom in red and the latest depth\n"
    "             in the status line; --nmea-out HOST:PORT sends each depth there as\n"
    "             NMEA DPT and DBT (and DBS with --draft) by UDP, empty for no\n"
    "             bottom, also without a terminal (as a service)\n"
    "  --keel M   with --nmea-out: DPT's offset -M, the transducer M above the keel\n"
    "  REDUCTION, with --depth: the depths below a named reference, each\n"
    "  correction's value and each sounding's flags in the outputs (--follow\n"
    "  takes those without --nav and --edits):\n"
    "  --sound-speed M/S  the water's speed of sound, from a bar check (1300-1800)\n"
    "  --sound-speed-profile FILE  a cast's CSV: depth_m,sound_speed_m_s\n"
    "  --water-level FILE  a gauge's or a prediction's CSV: time,level_m (UTC)\n"
    "  --antenna-height M  with --nav: the water level from an RTK receiver's GGA\n"
    "             heights, its antenna M metres above the waterline\n"
    "  --datum-height M  with --antenna-height: the datum's height above the\n"
    "             WGS 84 ellipsoid in metres\n"
    "  --datum NAME  the datum the water level is above, named in the outputs\n"
    "  --heave    with --nav: the motion sensor's heave ($PASHR) applied, its roll\n"
    "             and pitch in the outputs\n"
    "  --antenna-offset F,S  with --nav: the transducer F metres forward of the\n"
    "             GNSS antenna and S to starboard, placed along the heading\n"
    "  --depth-gates MIN,MAX  flag depths below the surface outside MIN to MAX m\n"
    "  --edits FILE  the surveyor's edit list: pings rejected or accepted\n"
    "  --xyz-flagged  with --xyz: the flagged soundings too (left out otherwise)\n"
    "  --help     print this text\n"
    "  --version  print the name and version\n";

namespace {

enum OptionId {
    OPT_HELP, OPT_VERSION, OPT_CSV, OPT_SAMPLES, OPT_FOLLOW, OPT_FORCE, OPT_PNG, OPT_WIDTH, OPT_HEIGHT, OPT_GRAY,
    OPT_AXES, OPT_NAV, OPT_GEOJSON, OPT_XYZ, OPT_NETCDF, OPT_UTC_OFFSET, OPT_DEPTH, OPT_DRAFT, OPT_BLANK, OPT_NMEA_OUT,
    OPT_KEEL, OPT_SOUND_SPEED, OPT_SOUND_SPEED_PROFILE, OPT_WATER_LEVEL, OPT_ANTENNA_HEIGHT, OPT_DATUM_HEIGHT, OPT_DATUM,
    OPT_HEAVE, OPT_ANTENNA_OFFSET, OPT_DEPTH_GATES, OPT_EDITS, OPT_XYZ_FLAGGED,
    OPT_GRID, OPT_CONTOURS, OPT_CELL, OPT_CRS, OPT_INTERVAL, OPT_DEPTHS,
};
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},        {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},  {OPT_CSV, "--csv", CMDLINE_FLAG},
    {OPT_SAMPLES, "--samples", CMDLINE_FLAG},  {OPT_FOLLOW, "--follow", CMDLINE_FLAG},
    {OPT_FORCE, "--force", CMDLINE_FLAG},      {OPT_GRAY, "--gray", CMDLINE_FLAG},
    {OPT_PNG, "--png", CMDLINE_VALUE},         {OPT_WIDTH, "--width", CMDLINE_VALUE},
    {OPT_HEIGHT, "--height", CMDLINE_VALUE},   {OPT_AXES, "--axes", CMDLINE_FLAG},
    {OPT_NAV, "--nav", CMDLINE_VALUES},        {OPT_GEOJSON, "--geojson", CMDLINE_VALUE},
    {OPT_NETCDF, "--netcdf", CMDLINE_VALUE},   {OPT_UTC_OFFSET, "--utc-offset", CMDLINE_VALUE},
    {OPT_XYZ, "--xyz", CMDLINE_VALUE},         {OPT_DEPTH, "--depth", CMDLINE_FLAG},
    {OPT_DRAFT, "--draft", CMDLINE_VALUE},     {OPT_BLANK, "--blank", CMDLINE_VALUE},
    {OPT_NMEA_OUT, "--nmea-out", CMDLINE_VALUE},  {OPT_KEEL, "--keel", CMDLINE_VALUE},
    {OPT_SOUND_SPEED, "--sound-speed", CMDLINE_VALUE},
    {OPT_SOUND_SPEED_PROFILE, "--sound-speed-profile", CMDLINE_VALUE},
    {OPT_WATER_LEVEL, "--water-level", CMDLINE_VALUE},
    {OPT_ANTENNA_HEIGHT, "--antenna-height", CMDLINE_VALUE},
    {OPT_DATUM_HEIGHT, "--datum-height", CMDLINE_VALUE},
    {OPT_DATUM, "--datum", CMDLINE_VALUE},     {OPT_HEAVE, "--heave", CMDLINE_FLAG},
    {OPT_ANTENNA_OFFSET, "--antenna-offset", CMDLINE_VALUE},
    {OPT_DEPTH_GATES, "--depth-gates", CMDLINE_VALUE},
    {OPT_EDITS, "--edits", CMDLINE_VALUE},     {OPT_XYZ_FLAGGED, "--xyz-flagged", CMDLINE_FLAG},
    {OPT_GRID, "--grid", CMDLINE_VALUE},
    {OPT_CONTOURS, "--contours", CMDLINE_VALUE},  {OPT_CELL, "--cell", CMDLINE_VALUE},
    {OPT_CRS, "--crs", CMDLINE_VALUE},            {OPT_INTERVAL, "--interval", CMDLINE_VALUE},
    {OPT_DEPTHS, "--depths", CMDLINE_VALUE},
};

// The reduction's options --follow takes: those that need no .NAV lines, and no edit list (edits are made afterwards).
const int FOLLOW_REDUCTION[] = {OPT_SOUND_SPEED, OPT_SOUND_SPEED_PROFILE, OPT_WATER_LEVEL, OPT_DATUM, OPT_DEPTH_GATES};

// What was given as it was given, read once all the options are known.
struct Given {
    const char* width;  // --width and --height: their meaning turns with --axes
    const char* height;
    bool draft;
    bool blank;
    const char* reduction;  // the first of the reduction's options given, or --datum; null: none
    bool follow_refused;    // one of them --follow does not take
    bool sound_speed;
    bool datum_height;
    bool rtk;  // --antenna-height
    bool offset;
};

// The next argument when it is one more of --nav's .NAV files (no option, no data file): taken.
const char* next_nav_file(Cmdline* line)
{
    const char* next = cmdline_peek_value(line);
    return next != nullptr && !naming_ends_in(next, DATA_FILE_SUFFIX) ? cmdline_next_value(line) : nullptr;
}

// --nav: the .NAV files run up to the next option or the first data file.
bool take_nav(Cmdline* line, DumpOptions* o)
{
    const char* file = line->value != nullptr ? line->value : next_nav_file(line);
    if (file == nullptr || naming_ends_in(file, DATA_FILE_SUFFIX)) return cmdline_fail(line, "--nav needs a .NAV file");
    for (; file != nullptr; file = next_nav_file(line)) {
        if (o->nav_count == DUMP_NAV_FILES_MAX) {
            return cmdline_fail(line, "--nav takes %d files at most", DUMP_NAV_FILES_MAX);
        }
        o->nav_files[o->nav_count++] = file;
    }
    return true;
}

// HOST:PORT, the host an IPv4 address as digits and dots (checked when it is opened).
bool take_nmea_out(Cmdline* line, DumpOptions* o)
{
    const char* text = line->value;
    const char* colon = strrchr(text, ':');
    size_t host = colon != nullptr ? static_cast<size_t>(colon - text) : 0;
    bool dotted = host > 0 && host < sizeof o->nmea_address && strspn(text, "0123456789.") == host;
    long port = 0;
    if (!dotted) return cmdline_refuse(line, "an IPv4 address and a port (127.0.0.1:10110)", text);
    if (!cmdline_number(line, colon + 1, "a port", 1, 65535, &port)) return false;
    memcpy(o->nmea_address, text, host);
    o->nmea_address[host] = 0;
    o->nmea_port = static_cast<uint16_t>(port);
    return true;
}

// A signed number in metres within limit either way.
bool take_metres(Cmdline* line, const char* text, double limit, double* value)
{
    if (fields_number(text, false, value) && *value >= -limit && *value <= limit) return true;
    char allowed[64];
    snprintf(allowed, sizeof allowed, "metres from %g to %g", -limit, limit);
    return cmdline_refuse(line, allowed, text);
}

// Two numbers separated by a comma ("1.2,-0.4"), each from low to high; what says what they are.
bool take_pair(Cmdline* line, const char* text, const char* what, double low, double high, double* first,
               double* second)
{
    char copy[64];
    const char* comma = strchr(text, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - text) : 0;
    bool taken = comma != nullptr && length < sizeof copy && strchr(comma + 1, ',') == nullptr;
    if (taken) {
        memcpy(copy, text, length);
        copy[length] = 0;
        taken = fields_number(copy, false, first) && fields_number(comma + 1, false, second) && *first >= low &&
                *first <= high && *second >= low && *second <= high;
    }
    if (taken) return true;
    char allowed[96];
    snprintf(allowed, sizeof allowed, "%s in metres, each from %g to %g", what, low, high);
    return cmdline_refuse(line, allowed, text);
}

// The options of the reduction; false when refused (said in line's message).
bool take_reduction(Cmdline* line, DumpOptions* o, Given* given)
{
    const char* value = line->value;
    DumpReduction* r = &o->reduction;
    ReductionSettings* s = &r->settings;
    int id = line->option->id;
    if (given->reduction == nullptr && id != OPT_XYZ_FLAGGED && id != OPT_DATUM_HEIGHT) {
        given->reduction = line->option->name;
    }
    bool followed = false;
    for (int option : FOLLOW_REDUCTION) followed = followed || option == id;
    given->follow_refused = given->follow_refused || !followed;
    switch (id) {
    case OPT_SOUND_SPEED:
        given->sound_speed = true;
        s->speed = REDUCTION_SPEED_CONSTANT;
        return cmdline_decimal(line, value, "m/s", SOUND_SPEED_MIN_M_S, SOUND_SPEED_MAX_M_S, &s->sound_speed_m_s);
    case OPT_SOUND_SPEED_PROFILE:
        r->profile = value;
        s->speed = REDUCTION_SPEED_PROFILE;
        break;
    case OPT_WATER_LEVEL:
        r->water_level = value;
        s->level = REDUCTION_LEVEL_SERIES;
        break;
    case OPT_ANTENNA_HEIGHT:
        given->rtk = true;
        s->level = REDUCTION_LEVEL_RTK;
        return cmdline_decimal(line, value, "metres", 0.0, REDUCTION_OFFSET_MAX_M, &s->antenna_above_waterline_m);
    case OPT_DATUM_HEIGHT:
        given->datum_height = true;
        return take_metres(line, value, DUMP_DATUM_HEIGHT_MAX_M, &s->datum_above_ellipsoid_m);
    case OPT_DATUM:
        if (!reduction_datum_name_ok(value)) {
            return cmdline_refuse(line, REDUCTION_DATUM_RULE, value);
        }
        snprintf(s->datum, sizeof s->datum, "%s", value);
        break;
    case OPT_HEAVE: s->heave = true; break;
    case OPT_ANTENNA_OFFSET:
        given->offset = true;
        return take_pair(line, value, "FORWARD,STARBOARD", -REDUCTION_OFFSET_MAX_M, REDUCTION_OFFSET_MAX_M,
                         &s->forward_m, &s->starboard_m);
    case OPT_DEPTH_GATES:
        s->gates = true;
        if (!take_pair(line, value, "MIN,MAX", 0.0, DUMP_GATE_MAX_M, &s->gate_min_m, &s->gate_max_m)) return false;
        return s->gate_min_m < s->gate_max_m || cmdline_refuse(line, "MIN,MAX with MIN the less", value);
    case OPT_EDITS: r->edits = value; break;
    case OPT_XYZ_FLAGGED: r->xyz_flagged = true; break;
    }
    return true;
}

// Takes the option read; false when refused (said in line's message).
bool take_option(Cmdline* line, DumpOptions* o, Given* given)
{
    const char* value = line->value;
    switch (line->option->id) {
    case OPT_CSV: o->csv = true; break;
    case OPT_SAMPLES: o->samples = true; break;
    case OPT_FOLLOW: o->follow = true; break;
    case OPT_FORCE: o->force = true; break;
    case OPT_PNG: o->png = value; break;
    case OPT_WIDTH: given->width = value; break;
    case OPT_HEIGHT: given->height = value; break;
    case OPT_GRAY: o->gray = true; break;
    case OPT_AXES: o->axes = true; break;
    case OPT_NAV: return take_nav(line, o);
    case OPT_GEOJSON: o->geojson = value; break;
    case OPT_XYZ: o->xyz = value; break;
    case OPT_NETCDF: o->netcdf = value; break;
    case OPT_UTC_OFFSET: o->utc_offset = value; break;
    case OPT_DEPTH: o->depth = true; break;
    case OPT_DRAFT:
        given->draft = true;
        return cmdline_decimal(line, value, "metres", 0.0, DUMP_DRAFT_MAX_M, &o->draft_m);
    case OPT_BLANK:
        given->blank = true;
        return cmdline_decimal(line, value, "metres", 0.0, DUMP_BLANKING_MAX_M, &o->depth_settings.blanking_m);
    case OPT_NMEA_OUT: return take_nmea_out(line, o);
    case OPT_GRID: o->grid = value; break;
    case OPT_CONTOURS: o->contours = value; break;
    case OPT_CELL: return cmdline_decimal(line, value, "metres", GRID_CELL_MIN_M, GRID_CELL_MAX_M, &o->cell_m);
    case OPT_CRS: o->crs = value; break;
    case OPT_INTERVAL:
        return cmdline_decimal(line, value, "metres", DUMP_CONTOUR_INTERVAL_MIN_M, GRID_DEPTH_LIMIT_M,
                               &o->contour_interval_m);
    case OPT_DEPTHS:
        return cmdline_decimals(line, value, "depths in metres", -GRID_DEPTH_LIMIT_M, GRID_DEPTH_LIMIT_M,
                                o->contour_depths, CONTOUR_LEVELS_MAX, &o->contour_depth_count);
    case OPT_KEEL:
        o->keel = true;
        return cmdline_decimal(line, value, "metres", 0.0, DUMP_DRAFT_MAX_M, &o->keel_m);
    default: return take_reduction(line, o, given);
    }
    return true;
}

// Reads the options wherever they stand among the files, gathered in argv's slots.
DumpParse read_options(Cmdline* line, char** argv, DumpOptions* o, Given* given)
{
    for (;;) {
        CmdlineRead read = cmdline_next(line);
        if (read == CMDLINE_END) return DUMP_PARSE_RUN;
        if (read == CMDLINE_BAD) return DUMP_PARSE_BAD;
        if (read == CMDLINE_OPERAND) {
            o->files[o->file_count++] = argv[line->at];
        } else if (line->option->id == OPT_HELP) {
            return DUMP_PARSE_HELP;
        } else if (line->option->id == OPT_VERSION) {
            return DUMP_PARSE_VERSION;
        } else if (!take_option(line, o, given)) {
            return DUMP_PARSE_BAD;
        }
    }
}

// The columns of data bytes across the range: a divisor of the sample count.
bool take_bins(Cmdline* line, const char* option, const char* text, DumpOptions* o)
{
    constexpr int BINS_MAX = 64;  // 8000 has 28 divisors
    long divisors[BINS_MAX];
    int count = 0;
    for (long divisor = 1; divisor <= PING_SAMPLE_COUNT && count < BINS_MAX; ++divisor) {
        if (PING_SAMPLE_COUNT % divisor == 0) divisors[count++] = divisor;
    }
    long bins = 0;
    snprintf(line->name, sizeof line->name, "%s", option);
    if (!cmdline_one_of(line, text, divisors, count, &bins)) return false;
    o->bins = static_cast<int>(bins);
    return true;
}

// The picture's size, read once --axes is known. Without it --width is the columns of data bytes across the range
// and --height the rows of pings; with it, the echogram as a sounder shows it, --height the rows down the range and
// --width the columns across the pings, as many as its kept means allow for its rows.
bool take_sizes(Cmdline* line, const Given* given, DumpOptions* o)
{
    const char* bins = o->axes ? given->height : given->width;
    const char* groups = o->axes ? given->width : given->height;
    if (bins != nullptr && !take_bins(line, o->axes ? "--height" : "--width", bins, o)) return false;
    if (groups == nullptr) return true;
    snprintf(line->name, sizeof line->name, "%s", o->axes ? "--width" : "--height");
    long most = o->axes ? echogram_columns_max(o->bins) : PICTURE_HEIGHT_MAX;
    long number = 0;
    if (!cmdline_number(line, groups, o->axes ? "a number of columns" : "a number of rows", 1, most, &number)) {
        return false;
    }
    o->groups = static_cast<int>(number);
    return true;
}

// What the reduction's options ask of the others and of each other, for the follow and the run alike.
bool reduction_together(Cmdline* line, const Given* given, DumpOptions* o)
{
    DumpReduction* r = &o->reduction;
    ReductionSettings* s = &r->settings;
    s->draft_m = o->draft_m;
    r->asked = given->reduction != nullptr;
    if (r->xyz_flagged && !o->xyz) return cmdline_fail(line, "--xyz-flagged needs --xyz");
    if (o->keel && o->nmea_address[0] == 0) return cmdline_fail(line, "--keel needs --nmea-out");
    if (!r->asked) return !given->datum_height || cmdline_fail(line, "--datum-height needs --antenna-height");
    if (!o->depth) return cmdline_fail(line, "%s needs --depth", given->reduction);
    if (given->sound_speed && r->profile) return cmdline_fail(line, "--sound-speed goes without --sound-speed-profile");
    bool rtk = given->rtk;
    if (rtk && r->water_level) return cmdline_fail(line, "--water-level goes without --antenna-height: one water level");
    if (rtk != given->datum_height) {
        return cmdline_fail(line, rtk ? "--antenna-height needs --datum-height" : "--datum-height needs --antenna-height");
    }
    if (s->level == REDUCTION_LEVEL_NONE && s->datum[0] != 0) {
        return cmdline_fail(line, "--datum needs --water-level or --antenna-height");
    }
    if (s->level != REDUCTION_LEVEL_NONE && s->datum[0] == 0) {
        return cmdline_fail(line, "%s needs --datum", rtk ? "--antenna-height" : "--water-level");
    }
    const char* wants_nav = rtk ? "--antenna-height" : s->heave ? "--heave" : given->offset ? "--antenna-offset" : nullptr;
    if (wants_nav != nullptr && o->nav_count == 0) return cmdline_fail(line, "%s needs --nav", wants_nav);
    return true;
}

// What the depth and the times ask of the others, for the follow and the run alike.
bool depth_and_times_together(Cmdline* line, const Given* given, DumpOptions* o)
{
    if (o->geojson && o->nav_count == 0) return cmdline_fail(line, "--geojson needs --nav");
    if (o->xyz && o->nav_count == 0) return cmdline_fail(line, "--xyz needs --nav");
    if (o->grid && o->nav_count == 0) return cmdline_fail(line, "--grid needs --nav");
    if (o->contours && o->nav_count == 0) return cmdline_fail(line, "--contours needs --nav");
    if (o->xyz || o->grid || o->contours) o->depth = true;
    if (o->nmea_address[0] != 0 && !o->depth) return cmdline_fail(line, "--nmea-out needs --depth");
    if ((given->draft || given->blank) && !o->depth) {
        return cmdline_fail(line, "%s needs --depth", given->draft ? "--draft" : "--blank");
    }
    if (o->utc_offset && o->nav_count > 0) {
        return cmdline_fail(line, "--utc-offset goes without --nav: the .NAV lines carry the offset");
    }
    if (o->utc_offset && !pingtime_parse_offset(o->utc_offset, &o->offset_seconds)) {
        return cmdline_fail(line, "--utc-offset must be +HH:MM or -HH:MM, not \"%s\"", o->utc_offset);
    }
    if (o->utc_offset && !o->netcdf) return cmdline_fail(line, "--utc-offset needs --netcdf");
    if (o->nav_count > 0 && !o->csv && !dump_exports_asked(o)) {
        return cmdline_fail(line, "--nav needs --csv, --geojson, --xyz, --netcdf, --grid or --contours");
    }
    o->draft_known = given->draft;
    o->depth_settings.draft_m = o->draft_m;
    return reduction_together(line, given, o);
}

// The first option of the grid's and the contours' given, as named in messages; null: none.
const char* grid_option(const DumpOptions* o)
{
    return o->cell_m != 0                 ? "--cell"
           : o->crs != nullptr            ? "--crs"
           : o->contour_interval_m != 0   ? "--interval"
           : o->contour_depth_count != 0  ? "--depths"
                                          : nullptr;
}

// The grid's cells and the contours' depths: each option with what it is for.
bool grid_together(Cmdline* line, const DumpOptions* o)
{
    const char* gridded = o->grid ? "--grid" : o->contours ? "--contours" : nullptr;
    if (gridded == nullptr && grid_option(o) != nullptr) {
        return cmdline_fail(line, "%s needs %s", grid_option(o),
                            o->cell_m != 0 || o->crs != nullptr ? "--grid or --contours" : "--contours");
    }
    if (gridded != nullptr && o->cell_m == 0) return cmdline_fail(line, "%s needs --cell", gridded);
    if (o->contour_interval_m != 0 && o->contour_depth_count != 0) {
        return cmdline_fail(line, "--interval goes without --depths: the one or the other");
    }
    if (o->contours && o->contour_interval_m == 0 && o->contour_depth_count == 0) {
        return cmdline_fail(line, "--contours needs --interval or --depths");
    }
    if (!o->contours && (o->contour_interval_m != 0 || o->contour_depth_count != 0)) {
        return cmdline_fail(line, "%s needs --contours", o->contour_interval_m != 0 ? "--interval" : "--depths");
    }
    return true;
}

// --follow takes the depth's options alone, those of the reduction it can apply, and one file at most.
bool follow_together(Cmdline* line, const Given* given, DumpOptions* o)
{
    if (o->csv || o->samples || o->png || o->gray || given->width || o->axes || given->height || o->force ||
        dump_exports_asked(o) || o->nav_count > 0 || o->utc_offset || given->follow_refused ||
        grid_option(o) != nullptr) {
        return cmdline_fail(line, "--follow goes with no other option but --depth, --draft, --blank, --nmea-out, "
                                  "--keel, --sound-speed, --sound-speed-profile, --water-level, --datum and "
                                  "--depth-gates");
    }
    if (!depth_and_times_together(line, given, o)) return false;
    return o->file_count <= 1 || cmdline_fail(line, "--follow takes one file at most");
}

// The options that go together; false with the reason in line's message.
bool together(Cmdline* line, const Given* given, DumpOptions* o)
{
    if (o->follow) return follow_together(line, given, o);
    if (o->nmea_address[0] != 0) return cmdline_fail(line, "--nmea-out needs --follow");
    if (o->samples && !o->csv) return cmdline_fail(line, "--samples needs --csv");
    if ((o->gray || given->width || given->height || o->axes) && !o->png) {
        return cmdline_fail(line, "%s needs --png", given->width    ? "--width"
                                                    : given->height ? "--height"
                                                    : o->axes       ? "--axes"
                                                                    : "--gray");
    }
    if (!take_sizes(line, given, o)) return false;
    if (!grid_together(line, o) || !depth_and_times_together(line, given, o)) return false;
    if (o->force && !o->png && !dump_exports_asked(o)) {
        return cmdline_fail(line, "--force needs --png, --geojson, --xyz, --netcdf, --grid or --contours");
    }
    return o->file_count > 0 || cmdline_fail(line, "no data file given");
}

}  // namespace

bool dump_exports_asked(const DumpOptions* options)
{
    return options->geojson != nullptr || options->xyz != nullptr || options->netcdf != nullptr ||
           options->grid != nullptr || options->contours != nullptr;
}

DumpParse dump_parse(int argc, char** argv, DumpOptions* options, char message[CMDLINE_MESSAGE_SIZE])
{
    *options = DumpOptions{};
    options->files = argv + 1;
    options->bins = DUMP_BINS_DEFAULT;
    depth_settings_default(&options->depth_settings);
    reduction_settings_default(&options->reduction.settings);
    Given given = {};
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    DumpParse parsed = read_options(&line, argv, options, &given);
    if (parsed == DUMP_PARSE_RUN && !together(&line, &given, options)) parsed = DUMP_PARSE_BAD;
    if (parsed == DUMP_PARSE_RUN && options->follow) parsed = DUMP_PARSE_FOLLOW;
    if (parsed == DUMP_PARSE_BAD) snprintf(message, CMDLINE_MESSAGE_SIZE, "%s", line.message);
    return parsed;
}
