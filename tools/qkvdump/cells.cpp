#include "tools/qkvdump/cells.h"

#include <cstdio>
#include <cstring>

const char CELLS_ENTER[] = "\x1b[?1049h\x1b[?25l\x1b[?7l";
const char CELLS_LEAVE[] = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";

namespace {

const char UPPER_HALF[] = "\xE2\x96\x80";  // U+2580: the upper half block, in UTF-8
const char LOWER_HALF[] = "\xE2\x96\x84";  // U+2584: for a newest ping that has no older partner yet
const int DEFAULT_COLOUR = -1;
const int FOREGROUND = 38;
const int BACKGROUND = 48;
// The 256 colours beyond the first 16: a 6x6x6 cube of these levels, then 24 greys.
const int CUBE_LEVELS[6] = {0, 95, 135, 175, 215, 255};
const int CUBE_FIRST = 16;
const int GREY_FIRST = 232;

// The colours last set in the row: a 256-colour index, or red, green and blue packed, or DEFAULT_COLOUR.
struct Pen {
    int foreground;
    int background;
};

char* put_text(char* at, const char* text)
{
    size_t length = strlen(text);
    memcpy(at, text, length);
    return at + length;
}

char* put_number(char* at, int value)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count > 0) *at++ = digits[--count];
    return at;
}

char* put_move(char* at, int row)
{
    at = put_text(at, "\x1b[");
    at = put_number(at, row + 1);
    return put_text(at, ";1H\x1b[0m");
}

char* put_colour(char* at, CellsColours colours, int layer, int colour)
{
    if (colour == DEFAULT_COLOUR) return put_number(at, layer + 1);  // 39 or 49
    at = put_number(at, layer);
    if (colours == CELLS_256_COLOURS) {
        at = put_text(at, ";5;");
        return put_number(at, colour);
    }
    at = put_text(at, ";2;");
    at = put_number(at, colour >> 16);
    *at++ = ';';
    at = put_number(at, (colour >> 8) & 0xFF);
    *at++ = ';';
    return put_number(at, colour & 0xFF);
}

// One escape sequence for whichever of the two colours changes.
char* put_pen(char* at, CellsColours colours, Pen* pen, int foreground, int background)
{
    bool new_foreground = foreground != pen->foreground;
    bool new_background = background != pen->background;
    if (!new_foreground && !new_background) return at;
    at = put_text(at, "\x1b[");
    if (new_foreground) at = put_colour(at, colours, FOREGROUND, foreground);
    if (new_foreground && new_background) *at++ = ';';
    if (new_background) at = put_colour(at, colours, BACKGROUND, background);
    *at++ = 'm';
    *pen = Pen{foreground, background};
    return at;
}

int slot_of_age(const CellsPicture* picture, int age)
{
    return (picture->newest - age + CELLS_PINGS_MAX) % CELLS_PINGS_MAX;
}

// The depth line, as in the pictures: red, which the colour map lacks; as one of the 256, the cube's red.
const int LINE_RGB = 0xFF0000;
const int LINE_256 = 196;

int colour_of(const CellsPicture* picture, int age, int column)
{
    int slot = slot_of_age(picture, age);
    float bottom = picture->bottom[slot];
    if (bottom >= 0.0f && bottom <= 1.0f) {
        int line = static_cast<int>(bottom * picture->drawn_columns);
        if (line == column || (line == picture->drawn_columns && column == line - 1)) {
            return picture->colours == CELLS_256_COLOURS ? LINE_256 : LINE_RGB;
        }
    }
    uint8_t level = picture->means[slot][column];
    if (picture->colours == CELLS_256_COLOURS) return picture->nearest[level];
    const uint8_t* rgb = WATERFALL_COLOURS[level];
    return rgb[0] << 16 | rgb[1] << 8 | rgb[2];
}

void palette_colour(int index, int rgb[3])
{
    if (index >= GREY_FIRST) {
        rgb[0] = rgb[1] = rgb[2] = 8 + 10 * (index - GREY_FIRST);
        return;
    }
    int cube = index - CUBE_FIRST;
    rgb[0] = CUBE_LEVELS[cube / 36];
    rgb[1] = CUBE_LEVELS[cube / 6 % 6];
    rgb[2] = CUBE_LEVELS[cube % 6];
}

// The status text after the mark: the file, its counts and the last record's fields.
void describe(const CellsStatus* status, char* text, size_t size)
{
    if (status->note[0] != 0) {
        snprintf(text, size, "%s", status->note);
        return;
    }
    int used = snprintf(text, size, "%s  %ld ping%s", status->file_name, status->pings, status->pings == 1 ? "" : "s");
    if (status->malformed > 0) used += snprintf(text + used, size - used, "  %ld malformed", status->malformed);
    if (!status->have_record) return;
    used += snprintf(text + used, size - used, "  %s  gain %d dB  ", status->time_text, status->gain);
    int metres = 0;
    if (range_of_code(status->range_field, &metres)) {
        used += snprintf(text + used, size - used, "range %d m", metres);
    } else {
        used += snprintf(text + used, size - used, "range field %d", status->range_field);
    }
    used += snprintf(text + used, size - used, "  interval %d ms", status->interval_ms);
    if (!status->depth_shown) return;
    if (status->have_depth) {
        snprintf(text + used, size - used, "  depth %.2f m%s", status->depth_m, status->depth_note);
    } else {
        snprintf(text + used, size - used, "  depth -%s", status->depth_note);
    }
}

}  // namespace

void cells_start(CellsPicture* picture, CellsColours colours, int rows, int columns)
{
    picture->colours = colours;
    for (int level = 0; level < WATERFALL_LEVELS; ++level) {
        picture->nearest[level] = static_cast<uint8_t>(cells_nearest_256(WATERFALL_COLOURS[level]));
    }
    cells_clear(picture);
    picture->drawn_columns = 0;
    cells_resize(picture, rows, columns);
}

void cells_clear(CellsPicture* picture)
{
    picture->count = 0;
    picture->newest = CELLS_PINGS_MAX - 1;
}

void cells_resize(CellsPicture* picture, int rows, int columns)
{
    picture->rows = rows > 0 ? rows : 1;
    picture->columns = columns > 0 ? columns : 1;
    int drawn = picture->columns < CELLS_COLUMNS_MAX ? picture->columns : CELLS_COLUMNS_MAX;
    if (drawn == picture->drawn_columns) return;
    picture->drawn_columns = drawn;
    for (int age = 0; age < picture->count; ++age) {
        int slot = slot_of_age(picture, age);
        waterfall_column_means(picture->samples[slot], drawn, picture->means[slot]);
    }
}

void cells_add_ping(CellsPicture* picture, const uint8_t samples[PING_SAMPLE_COUNT])
{
    int slot = (picture->newest + 1) % CELLS_PINGS_MAX;
    memcpy(picture->samples[slot], samples, PING_SAMPLE_COUNT);
    waterfall_column_means(samples, picture->drawn_columns, picture->means[slot]);
    picture->bottom[slot] = -1.0f;
    picture->newest = slot;
    if (picture->count < CELLS_PINGS_MAX) ++picture->count;
}

void cells_set_bottom(CellsPicture* picture, int age, double share)
{
    if (age < 0 || age >= picture->count) return;
    picture->bottom[slot_of_age(picture, age)] = static_cast<float>(share);
}

size_t cells_picture_row(const CellsPicture* picture, int row, char* out)
{
    char* at = put_move(out, row);
    int picture_rows = (picture->rows < CELLS_ROWS_MAX ? picture->rows : CELLS_ROWS_MAX) - 1;
    int from_bottom = picture->rows - 2 - row;
    if (from_bottom >= 0 && from_bottom < picture_rows) {
        int newer = 2 * from_bottom;
        int older = newer + 1;
        Pen pen = {DEFAULT_COLOUR, DEFAULT_COLOUR};
        for (int column = 0; column < picture->drawn_columns; ++column) {
            if (older < picture->count) {
                at = put_pen(at, picture->colours, &pen, colour_of(picture, older, column),
                             colour_of(picture, newer, column));
                at = put_text(at, UPPER_HALF);
            } else if (newer < picture->count) {
                at = put_pen(at, picture->colours, &pen, colour_of(picture, newer, column), DEFAULT_COLOUR);
                at = put_text(at, LOWER_HALF);
            } else {
                at = put_pen(at, picture->colours, &pen, pen.foreground, DEFAULT_COLOUR);
                *at++ = ' ';
            }
        }
        at = put_text(at, "\x1b[0m");
    }
    if (from_bottom < 0 || from_bottom >= picture_rows || picture->drawn_columns < picture->columns) {
        at = put_text(at, "\x1b[K");
    }
    return static_cast<size_t>(at - out);
}

size_t cells_status_line(const CellsPicture* picture, const CellsStatus* status, char* out)
{
    char* at = put_move(out, picture->rows - 1);
    int room = picture->drawn_columns;
    if (status->note[0] == 0 && status->quiet_ms > CELLS_QUIET_MARK_MS) {
        char mark[48];
        int length = snprintf(mark, sizeof mark, " nothing new for %lld s ",
                              static_cast<long long>(status->quiet_ms / 1000));
        if (length > room) length = room;
        at = put_text(at, "\x1b[7m");
        memcpy(at, mark, static_cast<size_t>(length));
        at = put_text(at + length, "\x1b[27m");
        room -= length;
        if (room > 0) {
            *at++ = ' ';
            --room;
        }
    }
    char text[sizeof status->file_name + sizeof status->note + sizeof status->depth_note + 128];
    describe(status, text, sizeof text);
    int length = static_cast<int>(strlen(text));
    if (length > room) length = room;
    memcpy(at, text, static_cast<size_t>(length));
    at += length;
    // In the last column the cursor stays on the character just written, which an erase would take.
    if (length < room || picture->columns > CELLS_COLUMNS_MAX) at = put_text(at, "\x1b[K");
    return static_cast<size_t>(at - out);
}

int cells_nearest_256(const uint8_t rgb[3])
{
    int nearest = CUBE_FIRST;
    long nearest_distance = -1;
    for (int index = CUBE_FIRST; index < 256; ++index) {
        int colour[3];
        palette_colour(index, colour);
        long distance = 0;
        for (int i = 0; i < 3; ++i) distance += static_cast<long>(colour[i] - rgb[i]) * (colour[i] - rgb[i]);
        if (nearest_distance < 0 || distance < nearest_distance) {
            nearest = index;
            nearest_distance = distance;
        }
    }
    return nearest;
}
