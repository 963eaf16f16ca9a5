#include "tools/qkvdump/echogram.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/qkvdump/ping_time.h"
#include "waterfall/font.h"
#include "waterfall/waterfall.h"

namespace {

// The depth line: pure red, which the colour map (violet through blue and green to yellow) and grey levels lack.
const uint8_t LINE[3] = {255, 0, 0};
const uint8_t PAPER[3] = {255, 255, 255};
const uint8_t INK[3] = {0, 0, 0};

// The margins: the time labels ("HH:MM:SS") and their ticks on the left; the title, the scale's labels and ticks
// above; room on the right for half of the last label.
constexpr int GAP = 4;
constexpr int TICK = 5;
constexpr int PAD = 2;
constexpr int LEFT = PAD + 8 * FONT_WIDTH + GAP + TICK;
constexpr int RIGHT = 3 * FONT_WIDTH;
constexpr int TITLE_TOP = 3;
constexpr int SCALE_TOP = TITLE_TOP + FONT_HEIGHT + 2 * GAP;
constexpr int TICKS_TOP = SCALE_TOP + FONT_HEIGHT + 1;
constexpr int TOP = TICKS_TOP + TICK + 1;  // the last row of the top margin is the scale's line
// A time label every LABEL_ROWS rows of pings: room for the label and as much again between two.
constexpr int LABEL_ROWS = 4 * FONT_HEIGHT;
// Scale steps in metres; the first that puts labels at least SCALE_SPACING pixels apart.
const double SCALE_STEPS[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 25, 50, 100, 200, 500};
constexpr int SCALE_SPACING = 48;

void put(uint8_t* pixels, int x, const uint8_t colour[3])
{
    memcpy(pixels + 3 * x, colour, 3);
}

// Row y (0 to FONT_HEIGHT - 1) of text written from column x, clipped to columns [0, end).
void text_row(uint8_t* pixels, int x, int end, const char* text, int y)
{
    for (; *text; ++text, x += FONT_WIDTH) {
        for (int dx = 0; dx < FONT_WIDTH; ++dx) {
            if (x + dx >= 0 && x + dx < end && font_pixel(*text, dx, y)) put(pixels, x + dx, INK);
        }
    }
}

bool axes(const Echogram* e)
{
    return e->style.axes;
}

int data_left(const Echogram* e)
{
    return axes(e) ? LEFT : 0;
}

int total_width(const Echogram* e)
{
    return echogram_picture_width(&e->style);
}

void blank_row(Echogram* e)
{
    for (int x = 0; x < total_width(e); ++x) put(e->pixels, x, PAPER);
}

double scale_step(double range_m, int width)
{
    for (double step : SCALE_STEPS) {
        if (step / range_m * width >= SCALE_SPACING) return step;
    }
    return SCALE_STEPS[sizeof SCALE_STEPS / sizeof SCALE_STEPS[0] - 1];
}

void write_row(Echogram* e)
{
    picture_add_row(e->picture, e->pixels);
}

// The title (the file's name, the first ping's UTC date, what the scale measures), the scale's labels and ticks.
void draw_top_margin(Echogram* e)
{
    double range_m = range_code_metres(e->scale_range_code);
    int width = e->style.width;
    double step = scale_step(range_m, width);
    char title[ECHOGRAM_TITLE_SIZE];
    char date[PINGTIME_ISO_SIZE] = "date unknown";
    if (e->row_first.time_known) {
        pingtime_iso_utc(e->row_first.utc_ms, date);
        date[10] = 0;
    }
    snprintf(title, sizeof title, "%s   %s, times UTC   range %g m, metres from the transducer", e->style.name, date,
             range_m);
    for (int y = 0; y < TOP; ++y) {
        blank_row(e);
        if (y >= TITLE_TOP && y < TITLE_TOP + FONT_HEIGHT) text_row(e->pixels, LEFT, total_width(e), title, y - TITLE_TOP);
        for (int k = 0; range_m > 0.0 && k * step <= range_m + 1e-9; ++k) {
            int x = LEFT + static_cast<int>(std::lround(k * step / range_m * width));
            if (x >= LEFT + width) x = LEFT + width - 1;
            char label[16];
            snprintf(label, sizeof label, "%g", k * step);
            int label_x = x - static_cast<int>(strlen(label)) * FONT_WIDTH / 2;
            if (y >= SCALE_TOP && y < SCALE_TOP + FONT_HEIGHT) text_row(e->pixels, label_x, total_width(e), label, y - SCALE_TOP);
            if (y >= TICKS_TOP) put(e->pixels, x, INK);
        }
        if (y == TOP - 1) {
            for (int x = LEFT; x < LEFT + width; ++x) put(e->pixels, x, INK);
        }
        write_row(e);
    }
}

// The left margin of a row of pings: a tick and the time of its first ping every LABEL_ROWS rows, or where the
// range changes the new range, drawn down the rows that follow.
void draw_left_margin(Echogram* e)
{
    long r = e->data_rows;
    const ExportPing* first = &e->row_first;
    bool range_changed = e->row_range_code != e->scale_range_code;
    if (range_changed || r % LABEL_ROWS == 0) {
        if (range_changed) {
            snprintf(e->label, sizeof e->label, "%gm", range_code_metres(e->row_range_code));
            e->scale_range_code = e->row_range_code;
        } else if (first->time_known) {
            char iso[PINGTIME_ISO_SIZE];
            pingtime_iso_utc(first->utc_ms, iso);
            snprintf(e->label, sizeof e->label, "%.8s", iso + 11);
        } else {
            snprintf(e->label, sizeof e->label, "--:--:--");
        }
        e->label_row = r;
        for (int x = LEFT - TICK; x < LEFT; ++x) put(e->pixels, x, INK);
    }
    if (r - e->label_row < FONT_HEIGHT) text_row(e->pixels, PAD, LEFT - TICK - GAP, e->label, static_cast<int>(r - e->label_row));
    put(e->pixels, LEFT - 1, INK);
}

// The line through the row's bottom: its column, joined to the one above by a run along this row.
void draw_line(Echogram* e)
{
    if (e->row_depths == 0) {
        e->previous_line = -1;
        return;
    }
    int width = e->style.width;
    int column = static_cast<int>(e->row_depth_sum / static_cast<double>(e->row_depths));
    if (column >= width) column = width - 1;
    int from = e->previous_line < 0 ? column : (e->previous_line + column) / 2;
    int low = from < column ? from : column, high = from < column ? column : from;
    for (int x = low; x <= high; ++x) put(e->pixels, data_left(e) + x, LINE);
    e->previous_line = column;
}

void colour_row(Echogram* e)
{
    int left = data_left(e);
    for (int x = 0; x < e->style.width; ++x) {
        uint8_t mean = e->means[x];
        const uint8_t grey[3] = {mean, mean, mean};
        put(e->pixels, left + x, e->style.grey ? grey : WATERFALL_COLOURS[mean]);
    }
}

void emit_row(Echogram* e)
{
    if (echogram_kind(&e->style) != PICTURE_RGB) {
        picture_add_row(e->picture, e->means);
    } else {
        if (axes(e) && !e->margins_drawn) {
            e->margins_drawn = true;
            draw_top_margin(e);
        }
        if (axes(e)) blank_row(e);
        colour_row(e);
        if (axes(e)) draw_left_margin(e);
        if (e->style.depth_line) draw_line(e);
        write_row(e);
    }
    ++e->data_rows;
    e->row_depth_sum = 0.0;
    e->row_depths = 0;
    e->row_started = false;
}

}  // namespace

PictureKind echogram_kind(const EchogramStyle* style)
{
    if (style->depth_line || style->axes) return PICTURE_RGB;
    return style->grey ? PICTURE_GREY : PICTURE_INDEXED;
}

int echogram_picture_width(const EchogramStyle* style)
{
    return style->width + (style->axes ? LEFT + RIGHT : 0);
}

void echogram_begin(Echogram* echogram, const EchogramStyle* style, Picture* picture, long pings, int height)
{
    echogram->style = *style;
    echogram->picture = picture;
    echogram->data_rows = 0;
    echogram->margins_drawn = false;
    echogram->row_depth_sum = 0.0;
    echogram->row_depths = 0;
    echogram->previous_line = -1;
    echogram->row_started = false;
    echogram->scale_range_code = -1;
    echogram->label[0] = 0;
    echogram->label_row = 0;
    waterfall_rows_begin(&echogram->rows, pings, height);
}

void echogram_add(Echogram* e, const ExportPing* ping)
{
    const RecordView* view = ping->view;
    if (!e->row_started) {
        e->row_first = *ping;
        e->row_first.view = nullptr;  // gone by the time the row is drawn
        e->row_range_code = view->range_field;
        e->row_started = true;
        if (e->scale_range_code < 0) e->scale_range_code = view->range_field;
    }
    double range_m = range_code_metres(view->range_field);
    if (e->style.depth_line && ping->bottom.known && range_m > 0.0) {
        e->row_depth_sum += ping->bottom.distance_m / range_m * e->style.width;
        ++e->row_depths;
    }
    if (waterfall_rows_add(&e->rows, view->image + PING_IMAGE_SAMPLES, e->style.width, e->means)) emit_row(e);
}

void echogram_finish(Echogram* e)
{
    if (waterfall_rows_finish(&e->rows, e->style.width, e->means)) emit_row(e);
}
