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

#include "platform/platform.h"
#include "store/scan.h"
#include "tools/qkvdump/follow.h"
#include "tools/qkvdump/exports.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/picture.h"
#include "tools/qkvdump/waterfall_rows.h"
#include "tools/qkvdump/waterfall.h"

namespace {

const char USAGE[] =
    "usage: qkvdump [--csv [--samples]] [--png OUT [--width N] [--height N] [--gray]] [--force] FILE...\n"
    "       qkvdump [--csv] [--nav NAVFILE... [--geojson OUT]] [--netcdf OUT [--utc-offset +HH:MM]] [--force]\n"
    "               FILE...\n"
    "       qkvdump --follow [FILE]\n"
    "Checks that each data file is a whole number of well-formed 8192-byte ping\n"
    "records and prints one line per record (number, date and time, gain, range\n"
    "field, ping interval, end byte) and a summary per file.\n"
    "  --csv      print a CSV header and one row per record; summaries go to stderr\n"
    "  --samples  with --csv: each row ends in the ping's 8000 data bytes, s0 to s7999\n"
    "  --png OUT  draw the well-formed pings of all the files, in the order given, as\n"
    "             a PNG waterfall: one row per ping, oldest at the top, the data bytes\n"
    "             from left to right; no record lines, only faults and summaries\n"
    "  --width N  columns of the picture, each the mean of 8000/N data bytes; N must\n"
    "             divide 8000 (default 1000)\n"
    "  --height N rows of the picture, each the mean of consecutive pings (the last\n"
    "             rows one ping fewer where they do not share out evenly); default\n"
    "             one row per ping\n"
    "  --gray     grey levels equal to the column means; without it the means are\n"
    "             coloured with viridis, a perceptually uniform map from dark violet\n"
    "             (0) through blue and green to yellow (255)\n"
    "  --nav NAVFILE...  navlog's .NAV files (up to the next option or .QKV file):\n"
    "             each ping's UTC time and position, interpolated between the fixes\n"
    "             either side within 10 s; with --csv the columns time_utc, lat, lon,\n"
    "             fix_quality, fix_age_ms, speed_kn and course_deg end each row\n"
    "  --geojson OUT  with --nav: the pings with a position as a GeoJSON track\n"
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
    "             Ctrl+C ends it\n"
    "  --help     print this text\n"
    "  --version  print the name and version\n";

constexpr int DEFAULT_WIDTH = 1000;
constexpr size_t REASON_SIZE = 256;

struct Drawing {
    OutputTarget target;  // path null: no picture asked for
    int width;
    bool gray;
    FILE* file;  // opened for the first well-formed ping, so that without one nothing is touched
    bool cannot_open;
    int height;  // 0: one row per ping
    WaterfallRows rows;
    Picture picture;
    uint8_t means[PING_SAMPLE_COUNT];
};

Scanner scanner;
Drawing drawing = {
    {"--png", "picture", OUTPUT_PICTURE, nullptr, false, false, {}, false, {}}, DEFAULT_WIDTH, false, nullptr, false,
    0, {}, {}, {}};
int output_error;  // errno of the first write to standard output that failed

// A failed write to standard output stops the run: what it was to hold is not whole.
bool output_failed()
{
    if (output_error == 0 && ferror(stdout)) output_error = errno != 0 ? errno : EIO;
    return output_error != 0;
}

bool scan_path(const char* path)
{
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
    picture_begin(&d->picture, d->file, d->width, d->gray ? PICTURE_GREY : PICTURE_INDEXED,
                  d->gray ? nullptr : WATERFALL_COLOURS);
    return true;
}

void draw_ping(Drawing* d, const RecordView* view)
{
    if (d->file == nullptr && !open_picture(d)) return;
    // The colour picture's pixels index the colour map by the column means.
    if (waterfall_rows_add(&d->rows, view->image + PING_IMAGE_SAMPLES, d->width, d->means)) {
        picture_add_row(&d->picture, d->means);
    }
}

void take_ping(void*, const RecordView* view)
{
    if (drawing.target.path) draw_ping(&drawing, view);
    exports_ping(view, scanner.record_number);
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
    if (waterfall_rows_finish(&drawing.rows, drawing.width, drawing.means)) picture_add_row(picture, drawing.means);
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
    fprintf(scanner.format == SCAN_CSV ? scanner.messages : scanner.out, "%s: %lu x %lu pixels, %s\n", path,
            static_cast<unsigned long>(picture->width), static_cast<unsigned long>(picture->rows),
            drawing.gray ? "grey levels" : WATERFALL_COLOURS_NAME);
    return true;
}

// A height of the picture: a whole number of rows from 1, in plain digits.
bool parse_height(const char* text)
{
    char* end = nullptr;
    long height = text[0] >= '0' && text[0] <= '9' ? strtol(text, &end, 10) : 0;
    if (end != nullptr && *end == 0 && height >= 1 && height <= PICTURE_HEIGHT_MAX) {
        drawing.height = static_cast<int>(height);
        return true;
    }
    fprintf(stderr, "qkvdump: --height must be a number of rows from 1 to %d, not \"%s\"\n", PICTURE_HEIGHT_MAX,
            text);
    return false;
}

// A width of the picture: a divisor of the sample count, in plain digits.
bool parse_width(const char* text)
{
    char* end = nullptr;
    long width = text[0] >= '0' && text[0] <= '9' ? strtol(text, &end, 10) : 0;
    if (end != nullptr && *end == 0 && width >= 1 && width <= PING_SAMPLE_COUNT && PING_SAMPLE_COUNT % width == 0) {
        drawing.width = static_cast<int>(width);
        return true;
    }
    fprintf(stderr, "qkvdump: --width must be a divisor of %d (", PING_SAMPLE_COUNT);
    for (int divisor = 1; divisor <= PING_SAMPLE_COUNT; ++divisor) {
        if (PING_SAMPLE_COUNT % divisor == 0) fprintf(stderr, divisor == 1 ? "%d" : " %d", divisor);
    }
    fprintf(stderr, "), not \"%s\"\n", text);
    return false;
}

int usage_error(const char* first, const char* second)
{
    fprintf(stderr, "qkvdump: %s%s\n%s", first, second, USAGE);
    return 2;
}

// What the command line asks for; the options themselves land in the scanner, the drawing and the exports.
struct CommandLine {
    bool csv;
    bool follow;
    bool force;
    const char* width_text;
    const char* height_text;
    char** files;
    int file_count;
};

const int GO_ON = -1;  // the command line is good: run

// Takes the options up to the first file; GO_ON, or the exit status (help and version shown, or a bad option).
int read_options(int argc, char** argv, CommandLine* line)
{
    *line = CommandLine{false, false, false, nullptr, nullptr, argv + argc, 0};
    int first_file = argc;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            fputs(USAGE, stdout);
            return 0;
        }
        if (strcmp(argument, "--version") == 0) {
            printf("qkvdump %s\n", HALVEX_VERSION);
            return 0;
        }
        if (strcmp(argument, "--csv") == 0) {
            line->csv = true;
        } else if (strcmp(argument, "--samples") == 0) {
            scanner.samples = true;
        } else if (strcmp(argument, "--follow") == 0) {
            line->follow = true;
        } else if (strcmp(argument, "--force") == 0) {
            line->force = true;
        } else if (strcmp(argument, "--gray") == 0) {
            drawing.gray = true;
        } else if (strcmp(argument, "--png") == 0 && i + 1 < argc) {
            drawing.target.path = argv[++i];
        } else if (strcmp(argument, "--width") == 0 && i + 1 < argc) {
            line->width_text = argv[++i];
        } else if (strcmp(argument, "--height") == 0 && i + 1 < argc) {
            line->height_text = argv[++i];
        } else if (int taken = exports_option(argc, argv, &i)) {
            if (taken == 2) return usage_error("see --help", "");
        } else if (strcmp(argument, "--") == 0) {
            first_file = i + 1;
            break;
        } else if (strcmp(argument, "--png") == 0 || strcmp(argument, "--width") == 0 ||
                   strcmp(argument, "--height") == 0) {
            return usage_error(argument, " needs a value");
        } else if (argument[0] == '-' && argument[1] != 0) {
            return usage_error("unknown option ", argument);
        } else {
            first_file = i;
            break;
        }
    }
    line->files = argv + first_file;
    line->file_count = argc - first_file;
    return GO_ON;
}

// The options that go together, and their values; GO_ON or status 2.
int check_options(const CommandLine* line)
{
    if (line->follow) {
        if (line->csv || scanner.samples || drawing.target.path || drawing.gray || line->width_text ||
            line->height_text || line->force) {
            return usage_error("--follow", " goes with no other option");
        }
        return line->file_count > 1 ? usage_error("--follow", " takes one file at most") : GO_ON;
    }
    if (scanner.samples && !line->csv) return usage_error("--samples", " needs --csv");
    if ((drawing.gray || line->width_text || line->height_text) && !drawing.target.path) {
        return usage_error(line->width_text ? "--width" : line->height_text ? "--height" : "--gray", " needs --png");
    }
    if (line->width_text && !parse_width(line->width_text)) return 2;
    if (line->height_text && !parse_height(line->height_text)) return 2;
    if (exports_check(line->csv) != 0) return 2;
    if (line->force && !drawing.target.path && !exports_write_files()) {
        return usage_error("--force", " needs --png, --geojson or --netcdf");
    }
    if (line->file_count == 0) {
        fputs(USAGE, stderr);
        return 2;
    }
    return GO_ON;
}

int read_command_line(int argc, char** argv, CommandLine* line)
{
    int status = read_options(argc, argv, line);
    return status == GO_ON ? check_options(line) : status;
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
        long pings = drawing.height > 0 ? count_pings(files, count) : 0;
        waterfall_rows_begin(&drawing.rows, pings, drawing.height);
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
    scanner.format = SCAN_TEXT;
    scanner.out = stdout;
    scanner.messages = stderr;
    CommandLine line;
    int status = read_command_line(argc, argv, &line);
    if (status != GO_ON) return status;
    if (line.follow) return follow_run(line.file_count > 0 ? line.files[0] : nullptr);
    return run(&line);
}
