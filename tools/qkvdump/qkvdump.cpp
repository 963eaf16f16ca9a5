// qkvdump: checks data files, lists their ping records, and draws their pings,
// also live in the terminal while the program records.
//   qkvdump [--csv [--samples]] [--png OUT [--width N] [--height N] [--gray]] FILE...
//   qkvdump [--csv] [--nav NAVFILE... [--geojson OUT]] [--netcdf OUT [--utc-offset +HH:MM]] FILE...
//   qkvdump --follow [FILE]
// Exit status 0 when every file is a whole number of well-formed records,
// 1 when any is malformed, torn or unreadable, a .NAV file cannot be read or
// an output could not be written, 2 for a bad command line or an OUT that
// may not be written (output_target.h). --follow: see tools/follow.h.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmdline/cmdline.h"
#include "platform/platform.h"
#include "store/scan.h"
#include "tools/qkvdump/echogram.h"
#include "tools/qkvdump/follow.h"
#include "tools/qkvdump/exports.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/picture.h"
#include "waterfall/waterfall_rows.h"
#include "waterfall/waterfall.h"

namespace {

const char USAGE[] =
    "usage: qkvdump [--csv [--samples]] [--png OUT [--width N] [--height N] [--gray] [--axes]]\n"
    "               [--depth [--draft M] [--blank M]] [--force] FILE...\n"
    "       qkvdump [--csv] [--nav NAVFILE... [--geojson OUT] [--xyz OUT]] [--netcdf OUT [--utc-offset +HH:MM]]\n"
    "               [--depth [--draft M] [--blank M]] [--force] FILE...\n"
    "       qkvdump --follow [--depth [--draft M] [--blank M] [--nmea-out HOST:PORT]] [FILE]\n"
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
    "             NMEA DPT and DBT by UDP, also without a terminal (as a service)\n"
    "  --help     print this text\n"
    "  --version  print the name and version\n";

constexpr int DEFAULT_BINS = 1000;
constexpr size_t REASON_SIZE = 256;

struct Drawing {
    OutputTarget target;  // path null: no picture asked for
    int bins;    // columns of data bytes across the range: --width, or with --axes --height
    bool gray;
    bool axes;
    FILE* file;  // opened for the first well-formed ping, so that without one nothing is touched
    bool cannot_open;
    int groups;  // of pings: the waterfall's rows (--height) or the echogram's columns (--width); 0: a ping each
    long pings;  // counted beforehand for the groups or the echogram
    const char* first_file;
    char title_name[OUTPUT_PATH_SIZE];  // its name in the echogram's title, in UTF-8
    Picture picture;
    Echogram echogram;
};

Scanner scanner;
Drawing drawing = {{"--png", "picture", OUTPUT_PICTURE, nullptr, false, false, {}, false, {}},
                   DEFAULT_BINS, false, false, nullptr, false, 0, 0, nullptr, {}, {}, {}};
int output_error;  // errno of the first write to standard output that failed

// A failed write to standard output stops the run: what it was to hold is not whole.
bool output_failed()
{
    if (output_error == 0 && ferror(stdout)) output_error = errno != 0 ? errno : EIO;
    return output_error != 0;
}

bool scan_path(const char* path)
{
    if (!output_input_is_file(path, "")) return false;
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) {
        fprintf(stderr, "%s: cannot open: %s\n", path, strerror(errno));
        return false;
    }
    ScanTally tally;
    bool whole = scan_file(&scanner, path, scan_read_stream, stream, &tally);
    output_failed();
    fclose(stream);
    return whole;
}

bool open_picture(Drawing* d)
{
    if (d->cannot_open) return false;
    d->file = output_target_open(&d->target);
    if (d->file == nullptr) {
        d->cannot_open = true;
        return false;
    }
    plat_name_utf8(d->first_file, d->title_name, sizeof d->title_name);
    int columns = d->axes ? echogram_columns(d->bins, d->pings, d->groups) : 0;
    EchogramStyle style = {d->bins, d->gray, exports_depth(), d->axes, columns, exports_draft_m(), d->title_name};
    PictureKind kind = echogram_kind(&style);
    // The colour picture's pixels index the colour map by the column means.
    picture_begin(&d->picture, d->file, echogram_picture_width(&style), kind,
                  kind == PICTURE_INDEXED ? WATERFALL_COLOURS : nullptr);
    echogram_begin(&d->echogram, &style, &d->picture, d->pings, d->axes ? 0 : d->groups);
    return true;
}

void draw_ping(Drawing* d, const ExportPing* ping)
{
    if (d->file == nullptr && !open_picture(d)) return;
    echogram_add(&d->echogram, ping);
}

void take_ping(void*, const RecordView* view)
{
    const ExportPing* ping = exports_ping(view, scanner.record_number);
    if (drawing.target.path) draw_ping(&drawing, ping);
}

// The well-formed pings of the files, for sharing them out over the rows of a picture of a given height.
long count_pings(char** files, int count)
{
    static Scanner counter;
    counter.format = SCAN_QUIET;
    long pings = 0;
    for (int i = 0; i < count; ++i) {
        FILE* stream = fopen(files[i], "rb");
        if (stream == nullptr) continue;  // reported when drawn
        ScanTally tally;
        scan_file(&counter, files[i], scan_read_stream, stream, &tally);
        pings += tally.records - tally.malformed;
        fclose(stream);
    }
    return pings;
}

// Finishes the picture and moves it over OUT; one that could not be written whole is removed, and OUT keeps
// what it held. keep false: the run failed on its output, and the picture is dropped.
bool finish_picture(bool keep)
{
    const char* path = drawing.target.path;
    if (drawing.cannot_open) return false;
    if (drawing.file == nullptr) {
        if (keep) fprintf(stderr, "%s: no picture written: no well-formed record\n", path);
        return false;
    }
    Picture* picture = &drawing.picture;
    echogram_finish(&drawing.echogram);
    bool written = picture_finish(picture);
    char reason[REASON_SIZE];
    snprintf(reason, sizeof reason, "%s", strerror(picture->error));
    if (fclose(drawing.file) != 0 && written) {
        written = false;
        snprintf(reason, sizeof reason, "%s", strerror(errno));
    }
    if (!written) {
        output_target_finish(&drawing.target, false);
        if (keep) fprintf(stderr, "%s: cannot write: %s\n", path, reason);
        return false;
    }
    if (!output_target_finish(&drawing.target, keep)) return false;
    fprintf(scanner.format == SCAN_CSV ? scanner.messages : scanner.out, "%s: %lu x %lu pixels, %s%s%s\n", path,
            static_cast<unsigned long>(picture->width), static_cast<unsigned long>(picture->rows),
            drawing.gray ? "grey levels" : WATERFALL_COLOURS_NAME, drawing.axes ? ", with axes" : "",
            exports_depth() ? ", the depth in red" : "");
    return true;
}

// What the command line asks for; the options themselves land in the scanner, the drawing and the exports.
struct CommandLine {
    bool csv;
    bool follow;
    bool force;
    const char* width_text;   // read once --axes is known
    const char* height_text;
    char** files;
    int file_count;
};

enum OptionId {
    OPT_HELP, OPT_VERSION, OPT_CSV, OPT_SAMPLES, OPT_FOLLOW, OPT_FORCE, OPT_GRAY, OPT_PNG, OPT_WIDTH, OPT_HEIGHT, OPT_AXES,
    OPT_EXPORTS,  // exports_option takes them
};
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},        {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},  {OPT_CSV, "--csv", CMDLINE_FLAG},
    {OPT_SAMPLES, "--samples", CMDLINE_FLAG},  {OPT_FOLLOW, "--follow", CMDLINE_FLAG},
    {OPT_FORCE, "--force", CMDLINE_FLAG},      {OPT_GRAY, "--gray", CMDLINE_FLAG},
    {OPT_PNG, "--png", CMDLINE_VALUE},         {OPT_WIDTH, "--width", CMDLINE_VALUE},
    {OPT_HEIGHT, "--height", CMDLINE_VALUE},   {OPT_AXES, "--axes", CMDLINE_FLAG},
    {OPT_EXPORTS, "--nav", CMDLINE_VALUES},
    {OPT_EXPORTS, "--geojson", CMDLINE_VALUE}, {OPT_EXPORTS, "--netcdf", CMDLINE_VALUE},
    {OPT_EXPORTS, "--utc-offset", CMDLINE_VALUE}, {OPT_EXPORTS, "--xyz", CMDLINE_VALUE},
    {OPT_EXPORTS, "--depth", CMDLINE_FLAG},    {OPT_EXPORTS, "--draft", CMDLINE_VALUE},
    {OPT_EXPORTS, "--blank", CMDLINE_VALUE},   {OPT_EXPORTS, "--nmea-out", CMDLINE_VALUE},
};

const int GO_ON = -1;  // the command line is good: run

// The columns of data bytes across the range, option's value: a divisor of the sample count.
bool take_bins(Cmdline* cl, const char* option, const char* text)
{
    constexpr int BINS_MAX = 64;  // 8000 has 28 divisors
    long divisors[BINS_MAX];
    int count = 0;
    for (long divisor = 1; divisor <= PING_SAMPLE_COUNT && count < BINS_MAX; ++divisor) {
        if (PING_SAMPLE_COUNT % divisor == 0) divisors[count++] = divisor;
    }
    long bins = 0;
    snprintf(cl->name, sizeof cl->name, "%s", option);
    if (!cmdline_one_of(cl, text, divisors, count, &bins)) return false;
    drawing.bins = static_cast<int>(bins);
    return true;
}

// The picture's size, read once --axes is known. Without it --width is the columns of data bytes across the range
// and --height the rows of pings; with it, the echogram as a sounder shows it, --height the rows down the range and
// --width the columns across the pings, as many as its kept means allow for its rows.
bool take_sizes(Cmdline* cl, const CommandLine* line)
{
    const char* bins = drawing.axes ? line->height_text : line->width_text;
    const char* groups = drawing.axes ? line->width_text : line->height_text;
    if (bins != nullptr && !take_bins(cl, drawing.axes ? "--height" : "--width", bins)) return false;
    if (groups == nullptr) return true;
    snprintf(cl->name, sizeof cl->name, "%s", drawing.axes ? "--width" : "--height");
    long most = drawing.axes ? echogram_columns_max(drawing.bins) : PICTURE_HEIGHT_MAX;
    long number = 0;
    if (!cmdline_number(cl, groups, drawing.axes ? "a number of columns" : "a number of rows", 1, most, &number)) {
        return false;
    }
    drawing.groups = static_cast<int>(number);
    return true;
}

// Takes the option read into the command line, the scanner, the drawing or
// the exports; false when refused (said in cl's message).
bool take_option(Cmdline* cl, CommandLine* line)
{
    switch (cl->option->id) {
    case OPT_CSV: line->csv = true; break;
    case OPT_SAMPLES: scanner.samples = true; break;
    case OPT_FOLLOW: line->follow = true; break;
    case OPT_FORCE: line->force = true; break;
    case OPT_GRAY: drawing.gray = true; break;
    case OPT_AXES: drawing.axes = true; break;
    case OPT_PNG: drawing.target.path = cl->value; break;
    case OPT_WIDTH: line->width_text = cl->value; break;
    case OPT_HEIGHT: line->height_text = cl->value; break;
    case OPT_EXPORTS: return exports_option(cl);
    }
    return true;
}

// Reads the options wherever they stand among the files. The files are
// gathered in argv's own slots from argv[1] on, in their order: a slot is
// written only once read. GO_ON, 0 when help or version was shown, or
// CMDLINE_BAD_STATUS with the reason in cl's message.
int read_options(Cmdline* cl, char** argv, CommandLine* line)
{
    *line = CommandLine{false, false, false, nullptr, nullptr, argv + 1, 0};
    for (;;) {
        CmdlineRead read = cmdline_next(cl);
        if (read == CMDLINE_END) return GO_ON;
        if (read == CMDLINE_BAD) return CMDLINE_BAD_STATUS;
        if (read == CMDLINE_OPERAND) {
            line->files[line->file_count++] = argv[cl->at];
            continue;
        }
        if (cl->option->id == OPT_HELP) {
            fputs(USAGE, stdout);
            return 0;
        }
        if (cl->option->id == OPT_VERSION) {
            printf("qkvdump %s\n", HALVEX_VERSION);
            return 0;
        }
        if (!take_option(cl, line)) return CMDLINE_BAD_STATUS;
    }
}

// The options that go together; false with the reason in cl's message.
bool go_together(Cmdline* cl, const CommandLine* line)
{
    if (line->follow) {
        if (line->csv || scanner.samples || drawing.target.path || drawing.gray || line->width_text || drawing.axes ||
            line->height_text || line->force || !exports_only_depth()) {
            return cmdline_fail(cl, "--follow goes with no other option but --depth, --draft, --blank and --nmea-out");
        }
        if (!exports_check(cl, false)) return false;
        return line->file_count <= 1 || cmdline_fail(cl, "--follow takes one file at most");
    }
    if (exports_nmea_out()) return cmdline_fail(cl, "--nmea-out needs --follow");
    if (scanner.samples && !line->csv) return cmdline_fail(cl, "--samples needs --csv");
    if ((drawing.gray || line->width_text || line->height_text || drawing.axes) && !drawing.target.path) {
        return cmdline_fail(cl, "%s needs --png", line->width_text    ? "--width"
                                                  : line->height_text ? "--height"
                                                  : drawing.axes      ? "--axes"
                                                                      : "--gray");
    }
    if (!take_sizes(cl, line)) return false;
    if (!exports_check(cl, line->csv)) return false;
    if (line->force && !drawing.target.path && !exports_write_files()) {
        return cmdline_fail(cl, "--force needs --png, --geojson, --xyz or --netcdf");
    }
    return line->file_count > 0 || cmdline_fail(cl, "no data file given");
}

int read_command_line(int argc, char** argv, CommandLine* line)
{
    Cmdline cl;
    cmdline_begin(&cl, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    int status = read_options(&cl, argv, line);
    if (status == GO_ON && !go_together(&cl, line)) status = CMDLINE_BAD_STATUS;
    return status == CMDLINE_BAD_STATUS ? cmdline_complain(stderr, "qkvdump", cl.message, USAGE) : status;
}

// Checks, lists, exports and draws the files given.
int run(const CommandLine* line)
{
    char** files = line->files;
    int count = line->file_count;
    OutputInputs inputs = {files, count, nullptr, 0, line->force};
    exports_inputs(&inputs);
    if (drawing.target.path && !output_target_check(&drawing.target, &inputs)) return 2;
    scanner.format = line->csv ? SCAN_CSV : drawing.target.path ? SCAN_SUMMARY : SCAN_TEXT;
    scanner.each = take_ping;
    if (int refused = exports_begin(&inputs, &scanner)) return refused;
    if (drawing.target.path) {
        drawing.pings = drawing.groups > 0 || drawing.axes ? count_pings(files, count) : 0;
        drawing.first_file = files[0];
        if (drawing.axes) exports_locate_every_ping();
    }
    if (line->csv) scan_csv_header(&scanner);
    bool all_whole = true;
    for (int i = 0; i < count && !output_failed(); ++i) {
        exports_file(i, files[i]);
        all_whole = scan_path(files[i]) && all_whole;
    }
    if (drawing.target.path) all_whole = finish_picture(!output_failed()) && all_whole;
    all_whole = exports_finish(!output_failed()) && all_whole;
    if (fflush(stdout) != 0 && output_error == 0) output_error = errno;
    if (output_failed()) {
        fprintf(stderr, "qkvdump: cannot write to standard output: %s\n", strerror(output_error));
        return 1;
    }
    return all_whole ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    plat_closed_pipe_fails();  // a listing cut short by its reader is a failure to say, status 1
    scanner.format = SCAN_TEXT;
    scanner.out = stdout;
    scanner.messages = stderr;
    exports_depth_defaults();
    CommandLine line;
    int status = read_command_line(argc, argv, &line);
    if (status != GO_ON) return status;
    if (line.follow) {
        FollowDepth depth;
        exports_follow_depth(&depth);
        return follow_run(line.file_count > 0 ? line.files[0] : nullptr, &depth);
    }
    return run(&line);
}
