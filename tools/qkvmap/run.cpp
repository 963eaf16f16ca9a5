#include "tools/qkvmap/run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "navfile/nav_line.h"
#include "platform/platform.h"
#include "store/naming.h"
#include "tools/qkvmap/map_files.h"

namespace {

constexpr int PATH_SIZE = 4096;
constexpr int TITLE_SIZE = 512;
const uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// An existing OUT that is a PNG picture or empty: the one kind of file replaced.
bool holds_picture_or_nothing(const char* path)
{
    uint8_t head[sizeof PNG_SIGNATURE] = {};
    PlatFile file;
    PlatFileLook look;
    char reason[MAP_REASON_SIZE];
    if (plat_file_open_shared(path, &file, &look, reason, sizeof reason) != PLAT_OK) return false;
    int64_t size = plat_file_size(file);
    bool picture = size >= static_cast<int64_t>(sizeof head) && plat_file_read_at(file, 0, head, sizeof head) == PLAT_OK &&
                   memcmp(head, PNG_SIGNATURE, sizeof head) == 0;
    plat_file_close(file);
    return size == 0 || picture;
}

// A new OUT named as raw data: the recorder or navlog would take the picture for one of theirs (the next data file,
// the day's log to append to).
const char* named_as_raw_data(const char* out)
{
    return naming_ends_in(out, DATA_FILE_SUFFIX)      ? "a data file"
           : naming_ends_in(out, NAVFILE_FILE_SUFFIX) ? "a navigation log"
                                                      : nullptr;
}

// OUT is none of the files read, no directory, nothing but a picture, and not named as raw data: else said, false.
bool out_writable(const MapOptions* options, bool* existed, PlatFileLook* look)
{
    *existed = plat_file_look(options->out, look);
    const char* raw = *existed ? nullptr : named_as_raw_data(options->out);
    if (raw != nullptr) fprintf(stderr, "qkvmap: -o %s is named as %s: not drawing the map there\n", options->out, raw);
    if (!*existed) return raw == nullptr;
    for (const char* input : {options->grid, options->contours}) {
        PlatFileLook read;
        if (input != nullptr && plat_file_look(input, &read) && plat_same_file(read, *look)) {
            fprintf(stderr, "qkvmap: -o %s is %s, a file to read: not drawing the map over it\n", options->out, input);
            return false;
        }
    }
    const char* is = look->stream                               ? "a pipe or a device"
                     : !look->regular                           ? "a directory or a disk"
                     : !holds_picture_or_nothing(options->out) ? "no PNG picture"
                                                               : nullptr;
    if (is == nullptr) return true;
    fprintf(stderr, "qkvmap: -o %s is %s: not drawing the map over it\n", options->out, is);
    return false;
}

// The picture written beside OUT and moved over it, provided OUT is still the file it was when checked (or still
// none): never over a file that took its place meanwhile. OUT as it was when anything fails.
bool write_beside(const MapCanvas* canvas, const char* out, bool existed, const PlatFileLook* look)
{
    char temp[PATH_SIZE], reason[MAP_REASON_SIZE] = "";
    FILE* made = plat_file_create_beside(out, temp, sizeof temp, reason, sizeof reason);
    if (made == nullptr) {
        fprintf(stderr, "qkvmap: %s: cannot write: %s\n", out, reason);
        return false;
    }
    fclose(made);
    bool written = map_png_write(canvas, temp, reason);
    PlatResult moved = PLAT_OK;
    PlatFileLook now = {};
    bool there = written && plat_file_look(out, &now);
    if (written && !there) {
        moved = plat_file_move_new(temp, out, reason, sizeof reason);
    } else if (written) {
        moved = existed && plat_same_file_since(*look, now) ? plat_file_replace(temp, out, reason, sizeof reason)
                                                      : PLAT_ERR_EXISTS;
    }
    if (written && moved == PLAT_OK) return true;
    plat_file_discard(temp);
    if (moved == PLAT_ERR_EXISTS) snprintf(reason, sizeof reason, "another file took its place meanwhile");
    fprintf(stderr, "qkvmap: %s: cannot write: %s\n", out, reason);
    return false;
}

const char* last_part(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The map, its lines, its legend and its scale; false with the reason when the contours fail.
bool draw(const MapOptions* options, const MapGrid* grid, const MapLayout* layout, MapCanvas* canvas, float* depths,
          long* lines, char reason[MAP_REASON_SIZE])
{
    if (!map_grid_read(grid, layout, depths, reason)) return false;
    map_paint_depths(canvas, layout, depths, grid->shoalest, grid->deepest);
    static MapLabels labels;
    labels.count = 0;
    *lines = 0;
    if (options->contours != nullptr &&
        !map_contours_draw(options->contours, grid, layout, canvas, &labels, lines, reason)) {
        char said[MAP_REASON_SIZE];
        snprintf(said, sizeof said, "--contours %s: %s", options->contours, reason);
        snprintf(reason, MAP_REASON_SIZE, "%s", said);
        return false;
    }
    map_labels_draw(canvas, &labels);
    char title[TITLE_SIZE];
    snprintf(title, sizeof title, "%s: %s depths, metres%s%s", last_part(options->grid),
             MAP_BAND_NAMES[options->band], grid->reference[0] != 0 ? " below " : "", grid->reference);
    map_frame(canvas, layout, title);
    map_legend(canvas, layout, grid->shoalest, grid->deepest);
    map_scale_bar(canvas, layout, grid->transform[1] * grid->metres_per_unit / layout->pixels_per_cell);
    map_north_arrow(canvas, layout, map_grid_north(grid));
    return true;
}

}  // namespace

int map_run(const MapOptions* options)
{
    bool existed = false;
    PlatFileLook look;
    if (!out_writable(options, &existed, &look)) return 2;
    map_gdal_start();
    MapGrid grid;
    char reason[MAP_REASON_SIZE] = "";
    if (!map_grid_open(options->grid, options->band, &grid, reason)) {
        fprintf(stderr, "qkvmap: %s: cannot draw: %s\n", options->grid, reason);
        map_grid_close(&grid);
        return 1;
    }
    MapLayout layout;
    map_layout(grid.columns, grid.rows, options->size, &layout);
    MapCanvas canvas = {layout.width, layout.height,
                        static_cast<uint8_t*>(malloc(static_cast<size_t>(layout.width) * layout.height * 3))};
    float* depths = static_cast<float*>(malloc(sizeof(float) * layout.map_width * layout.map_height));
    long lines = 0;
    bool drawn = canvas.pixels != nullptr && depths != nullptr;
    if (!drawn) snprintf(reason, sizeof reason, "no memory for a picture of %d x %d", layout.width, layout.height);
    if (drawn) memset(canvas.pixels, 0xFF, static_cast<size_t>(layout.width) * layout.height * 3);
    drawn = drawn && draw(options, &grid, &layout, &canvas, depths, &lines, reason);
    if (!drawn) fprintf(stderr, "qkvmap: %s: cannot draw: %s\n", options->grid, reason);
    bool written = drawn && write_beside(&canvas, options->out, existed, &look);
    if (written) {
        printf("%s: %d x %d pixels, the %s depths of %s, %g to %g m, %g pixels a cell, %ld contour lines\n",
               options->out, layout.width, layout.height, MAP_BAND_NAMES[options->band], options->grid, grid.shoalest,
               grid.deepest, layout.pixels_per_cell, lines);
    }
    free(depths);
    free(canvas.pixels);
    map_grid_close(&grid);
    return written ? 0 : 1;
}
