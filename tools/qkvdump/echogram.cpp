#include "tools/qkvdump/echogram.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "navfile/ping_time.h"
#include "waterfall/font.h"
#include "waterfall/waterfall.h"

namespace {

// The depth line: pure red, which the colour map (violet through blue and green to yellow) and grey levels lack.
const uint8_t LINE[3] = {255, 0, 0};
const uint8_t PAPER[3] = {255, 255, 255};
const uint8_t INK[3] = {0, 0, 0};
const uint8_t GRID[3] = {208, 208, 208};  // light, dotted over the echoes: every other pixel of the line

// The echogram's margins: the title above; the depths, their ticks and the axis on the left; the times and their
// ticks below; the frame round the echoes, and room on the right for half the last time.
constexpr int PAD = 2;
constexpr int GAP = 4;
constexpr int TICK = 5;
constexpr int MINOR_TICK = 2;
constexpr int DEPTH_LABEL_CHARACTERS = 6;  // "112.25"
constexpr int TIME_LABEL_CHARACTERS = 8;   // "09:05:00"
constexpr int DATE_LABEL_CHARACTERS = 10;  // "2026-12-09"
constexpr int LEFT = PAD + DEPTH_LABEL_CHARACTERS * FONT_WIDTH + GAP + TICK + 1;
constexpr int RIGHT = TIME_LABEL_CHARACTERS / 2 * FONT_WIDTH + PAD + 1;
constexpr int TITLE_TOP = 3;
constexpr int TITLE_LINES = 2;
constexpr int LINE_SPACING = 2;
// Room under the title for half a depth label, centred on the first row.
constexpr int TOP = TITLE_TOP + TITLE_LINES * (FONT_HEIGHT + LINE_SPACING) + FONT_HEIGHT / 2 + GAP + 1;
constexpr int BOTTOM = 1 + TICK + GAP + FONT_HEIGHT + PAD;
// The least room between two labels: rows between depths, columns between times.
constexpr int DEPTH_SPACING = 2 * FONT_HEIGHT + GAP;
constexpr int TIME_SPACING = (TIME_LABEL_CHARACTERS + 2) * FONT_WIDTH;
constexpr int DATE_SPACING = (DATE_LABEL_CHARACTERS + 2) * FONT_WIDTH;
constexpr int MINOR_SPACING = 3;
constexpr int64_t MILLIMETRES_A_RANGE_CODE_SIXTH = 10000;  // a range code is the range in metres times 6 / 10
constexpr int64_t DEPTH_STEP_MAX = 100000000;  // millimetres: 100 km
// Steps between labelled times under a day: whole seconds, minutes and hours a clock is read by.
const int64_t TIME_STEPS_MS[] = {1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000,   300000,
                                 600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000};
constexpr int64_t DAY_MS = 86400000;
constexpr int64_t DAY_STEPS_MAX = 10000000;  // days: past any span of record times (years 0 to 9999)
constexpr int LABEL_SIZE = ECHOGRAM_LABEL_SIZE;

static_assert(ECHOGRAM_LABELS_MAX >= PING_SAMPLE_COUNT / DEPTH_SPACING + 2, "a depth label every DEPTH_SPACING rows");
static_assert(ECHOGRAM_LABELS_MAX >= 2 * (ECHOGRAM_COLUMNS_MAX / TIME_SPACING + 1), "ranges and times, each spaced");

void put(uint8_t* pixels, int x, const uint8_t colour[3])
{
    memcpy(pixels + 3 * x, colour, 3);
}

// Row y (0 to FONT_HEIGHT - 1) of UTF-8 text written from column x, a glyph a character, clipped to [0, end).
void text_row(uint8_t* pixels, int x, int end, const char* text, int y)
{
    const unsigned char* c = reinterpret_cast<const unsigned char*>(text);
    for (; *c; x += FONT_WIDTH) {
        int length = font_utf8_length(c);
        char glyph = length > 0 ? '?' : static_cast<char>(*c);
        c += length > 0 ? length : 1;
        for (int dx = 0; dx < FONT_WIDTH; ++dx) {
            if (x + dx >= 0 && x + dx < end && font_pixel(glyph, dx, y)) put(pixels, x + dx, INK);
        }
    }
}

int text_width(const char* text)
{
    return static_cast<int>(strlen(text)) * FONT_WIDTH;
}

int total_width(const Echogram* e)
{
    return echogram_picture_width(&e->style);
}

void blank_row(Echogram* e)
{
    for (int x = 0; x < total_width(e); ++x) put(e->pixels, x, PAPER);
}

void write_row(Echogram* e)
{
    picture_add_row(e->picture, e->pixels);
}

// The line through the row's bottom: its column, joined to the one above by a run along this row.
void draw_line(Echogram* e)
{
    if (e->row_depths == 0) {
        e->previous_line = -1;
        return;
    }
    int bins = e->style.bins;
    int column = static_cast<int>(e->row_depth_sum / static_cast<double>(e->row_depths));
    if (column >= bins) column = bins - 1;
    int from = e->previous_line < 0 ? column : (e->previous_line + column) / 2;
    int low = from < column ? from : column, high = from < column ? column : from;
    for (int x = low; x <= high; ++x) put(e->pixels, x, LINE);
    e->previous_line = column;
}

void colour_row(Echogram* e)
{
    for (int x = 0; x < e->style.bins; ++x) {
        uint8_t mean = e->means[x];
        const uint8_t grey[3] = {mean, mean, mean};
        put(e->pixels, x, e->style.grey ? grey : WATERFALL_COLOURS[mean]);
    }
}

// A row of the waterfall, written at once.
void emit_row(Echogram* e)
{
    if (echogram_kind(&e->style) != PICTURE_RGB) {
        picture_add_row(e->picture, e->means);
    } else {
        colour_row(e);
        if (e->style.depth_line) draw_line(e);
        write_row(e);
    }
}

// A group of the echogram's pings, kept.
void keep_group(Echogram* e)
{
    EchogramKept* kept = &e->kept;
    int bins = e->style.bins;
    if (kept->group_count >= e->style.columns) return;
    EchogramGroup* group = &kept->groups[kept->group_count];
    memcpy(kept->means + kept->group_count * bins, e->means, static_cast<size_t>(bins));
    group->utc_ms = e->row_first.utc_ms;
    group->time_known = e->row_first.time_known;
    group->range_code = e->row_range_code;
    group->line = -1;
    if (e->row_depths > 0) {
        int bin = static_cast<int>(e->row_depth_sum / static_cast<double>(e->row_depths));
        group->line = bin < bins ? bin : bins - 1;
    }
    ++kept->group_count;
}

// ---- The echogram's scales ----

// Metres of millimetres with the decimals a step of step millimetres needs ("12.5" for 12500 by 500).
void metres_text(int64_t millimetres, int64_t step, char text[LABEL_SIZE])
{
    int decimals = step % 1000 == 0 ? 0 : step % 100 == 0 ? 1 : step % 10 == 0 ? 2 : 3;
    int64_t tens = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
    int64_t units = millimetres / (1000 / tens);
    long long whole = units / tens, fraction = units % tens;
    if (decimals == 0) {
        snprintf(text, LABEL_SIZE, "%lld", whole);
    } else {
        snprintf(text, LABEL_SIZE, "%lld.%0*lld", whole, decimals, fraction);
    }
}

// The row of a distance from the transducer in millimetres, for a range code and the rows down it; rows or more
// past the range.
int64_t row_of(int64_t millimetres, int range_code, int bins)
{
    return millimetres * bins * 6 / (range_code * MILLIMETRES_A_RANGE_CODE_SIXTH);
}

// Depths every 1, 2 or 5 times a power of ten millimetres, the first step whose labels stand DEPTH_SPACING rows
// apart; each labelled, with unlabelled ticks between (a fifth of a step of 1 or 5, a quarter of one of 2), where
// they stand apart too. A depth is the draft and the distance from the transducer.
void plan_depth_scale(Echogram* e)
{
    EchogramKept* kept = &e->kept;
    int bins = e->style.bins;
    int code = kept->scale_code;
    memset(kept->row_marks, MARK_NONE, sizeof kept->row_marks);
    kept->depth_label_count = 0;
    if (code <= 0) return;
    int64_t step = 0;
    for (int64_t decade = 1; step == 0 && decade <= DEPTH_STEP_MAX; decade *= 10) {
        for (int64_t leading : {1, 2, 5}) {
            if (step == 0 && row_of(leading * decade, code, bins) >= DEPTH_SPACING) step = leading * decade;
        }
    }
    if (step == 0) step = DEPTH_STEP_MAX;
    int64_t leading = step;
    while (leading % 10 == 0) leading /= 10;
    int64_t divisions = leading == 2 ? 4 : 5;
    bool minor_apart = step % divisions == 0 && row_of(step / divisions, code, bins) >= MINOR_SPACING;
    int64_t minor = minor_apart ? step / divisions : 0;
    int64_t draft = static_cast<int64_t>(std::llround(e->style.draft_m * 1000.0));
    int64_t tick = minor > 0 ? minor : step;
    for (int64_t depth = (draft + tick - 1) / tick * tick;; depth += tick) {
        int64_t row = row_of(depth - draft, code, bins);
        if (row >= bins) break;
        bool major = depth % step == 0;
        kept->row_marks[row] = major ? MARK_MAJOR : MARK_MINOR;
        if (!major) continue;
        EchogramLabel* label = &kept->depth_labels[kept->depth_label_count++];
        label->at = static_cast<int>(row);
        metres_text(depth, step, label->text);
    }
}

// The scale's range, the longest of the pings'; a group's bin (of its own range) at a row of the scale: rows or
// more past its range.
void plan_scale(EchogramKept* kept)
{
    kept->scale_code = 0;
    kept->shortest_code = 0;
    for (long g = 0; g < kept->group_count; ++g) {
        int code = kept->groups[g].range_code;
        if (code > kept->scale_code) kept->scale_code = code;
        if (code > 0 && (kept->shortest_code == 0 || code < kept->shortest_code)) kept->shortest_code = code;
    }
}

long bin_at(const EchogramKept* kept, const EchogramGroup* group, long row)
{
    return group->range_code > 0 && kept->scale_code > 0 ? row * kept->scale_code / group->range_code : row;
}

// The row of the scale where a group's bin starts.
int row_at(const EchogramKept* kept, const EchogramGroup* group, int bin)
{
    int scale = kept->scale_code;
    long row = group->range_code > 0 && scale > 0 ? static_cast<long>(bin) * group->range_code / scale : bin;
    return static_cast<int>(row);
}

// A column's group, where the pings are fewer than the columns spread over several, and the rows its depth line
// takes: down to this column's bottom from half-way to the column before's.
void plan_columns(Echogram* e)
{
    EchogramKept* kept = &e->kept;
    int count = e->style.columns;
    int before = -1;
    for (int c = 0; c < count; ++c) {
        EchogramColumn* column = &kept->columns[c];
        column->group = static_cast<int>(static_cast<long>(c) * kept->group_count / count);
        column->mark = MARK_NONE;
        const EchogramGroup* group = &kept->groups[column->group];
        int line = group->line < 0 ? -1 : row_at(kept, group, group->line);
        int from = before < 0 || line < 0 ? line : (before + line) / 2;
        column->line_low = from < line ? from : line;
        column->line_high = line < 0 ? column->line_low - 1 : from < line ? line : from;
        before = line;
    }
}

bool label_fits(const Echogram* e, int column, const char* text)
{
    int x = LEFT + column - text_width(text) / 2;
    return x >= 0 && x + text_width(text) <= total_width(e);
}

void add_time_label(EchogramKept* kept, int column, const char* text)
{
    EchogramLabel* label = &kept->time_labels[kept->time_label_count++];
    label->at = column;
    snprintf(label->text, LABEL_SIZE, "%s", text);
}

// Columns apart two labels' centres must be to stand clear of each other.
int clear_apart(const char* a, const char* b)
{
    return (text_width(a) + text_width(b)) / 2 + 2 * FONT_WIDTH;
}

// Where the range changes, the new range under its first column; then a tick at each column whose ping crosses a
// whole step of the clock (echogram_time_step over the pings' span), labelled with the step crossed where that
// stands clear of the labels on either side. The first ping's time is labelled too.
void plan_time_marks(Echogram* e)
{
    EchogramKept* kept = &e->kept;
    int count = e->style.columns;
    kept->time_label_count = 0;
    int64_t first = 0, last = 0;
    bool any = false;
    for (long g = 0; g < kept->group_count; ++g) {
        if (!kept->groups[g].time_known) continue;
        if (!any || kept->groups[g].utc_ms < first) first = kept->groups[g].utc_ms;
        if (!any || kept->groups[g].utc_ms > last) last = kept->groups[g].utc_ms;
        any = true;
    }
    for (int c = 1; c < count; ++c) {
        int code = kept->groups[kept->columns[c].group].range_code;
        if (code == kept->groups[kept->columns[c - 1].group].range_code) continue;
        char text[LABEL_SIZE];
        snprintf(text, sizeof text, "range %g m", range_code_metres(code));
        kept->columns[c].mark = MARK_RANGE;
        int labels = kept->time_label_count;
        bool clear = labels == 0 || c - kept->time_labels[labels - 1].at >= TIME_SPACING;
        if (clear && label_fits(e, c, text)) add_time_label(kept, c, text);
    }
    int ranges = kept->time_label_count;
    int64_t step = echogram_time_step(last - first, count);
    const EchogramLabel* last_label = nullptr;
    bool ticked = false;
    int64_t previous = 0;
    for (int c = 0; c < count; ++c) {
        const EchogramGroup* group = &kept->groups[kept->columns[c].group];
        if (!group->time_known || (c > 0 && kept->columns[c].group == kept->columns[c - 1].group)) continue;
        int64_t crossed = group->utc_ms;
        bool crosses = !ticked || echogram_time_crossed(previous, group->utc_ms, step, &crossed);
        ticked = true;
        previous = group->utc_ms;
        if (!crosses) continue;
        if (kept->columns[c].mark == MARK_NONE) kept->columns[c].mark = MARK_MAJOR;
        char text[LABEL_SIZE];
        echogram_time_label(crossed, step, text);
        bool clear = (last_label == nullptr || c - last_label->at >= clear_apart(last_label->text, text)) &&
                     label_fits(e, c, text);
        for (int i = 0; i < ranges && clear; ++i) {
            int apart = kept->time_labels[i].at - c;
            int least = clear_apart(kept->time_labels[i].text, text);
            clear = apart >= least || apart <= -least;
        }
        if (!clear) continue;
        add_time_label(kept, c, text);
        last_label = &kept->time_labels[kept->time_label_count - 1];
    }
}

// Whole steps of step counted from 1970 up to ms, rounded down (before 1970 too).
int64_t steps_to(int64_t ms, int64_t step)
{
    return ms >= 0 ? ms / step : -((-ms + step - 1) / step);
}

// ---- The echogram's rows ----

// The rows of the depth labels that cross row (of the echoes, from 0; negative above them), right-aligned
// before the ticks, each centred on its tick.
void draw_depth_labels_at(Echogram* e, int row)
{
    for (int i = 0; i < e->kept.depth_label_count; ++i) {
        const EchogramLabel* label = &e->kept.depth_labels[i];
        int top = label->at - FONT_HEIGHT / 2;
        if (row < top || row >= top + FONT_HEIGHT) continue;
        text_row(e->pixels, LEFT - 1 - TICK - GAP - text_width(label->text), LEFT, label->text, row - top);
    }
}

// Row y (0 to FONT_HEIGHT - 1) of the time labels, each centred under its column.
void draw_time_labels(Echogram* e, int y)
{
    for (int i = 0; i < e->kept.time_label_count; ++i) {
        const EchogramLabel* label = &e->kept.time_labels[i];
        text_row(e->pixels, LEFT + label->at - text_width(label->text) / 2, total_width(e), label->text, y);
    }
}

// A line of ink across the echoes and the frame's two sides: the frame's top and bottom.
void draw_frame_line(Echogram* e)
{
    for (int x = LEFT - 1; x <= LEFT + e->style.columns; ++x) put(e->pixels, x, INK);
}

void draw_title(Echogram* e)
{
    const EchogramKept* kept = &e->kept;
    char date[PINGTIME_ISO_SIZE] = "date unknown";
    if (kept->groups[0].time_known) {
        pingtime_iso_utc(kept->groups[0].utc_ms, date);
        date[10] = 0;
    }
    char lines[TITLE_LINES][ECHOGRAM_TITLE_SIZE];
    snprintf(lines[0], sizeof lines[0], "%s   %s, times UTC", e->style.name, date);
    char range[64];
    if (kept->shortest_code == kept->scale_code) {
        snprintf(range, sizeof range, "range %g m", range_code_metres(kept->scale_code));
    } else {
        snprintf(range, sizeof range, "ranges %g to %g m", range_code_metres(kept->shortest_code),
                 range_code_metres(kept->scale_code));
    }
    if (e->style.draft_m > 0.0) {
        snprintf(lines[1], sizeof lines[1], "%s   depths in metres below the surface (draft %g m)", range,
                 e->style.draft_m);
    } else {
        snprintf(lines[1], sizeof lines[1], "%s   depths in metres below the transducer", range);
    }
    for (int y = 0; y < TOP; ++y) {
        blank_row(e);
        for (int line = 0; line < TITLE_LINES; ++line) {
            int top = TITLE_TOP + line * (FONT_HEIGHT + LINE_SPACING);
            if (y >= top && y < top + FONT_HEIGHT) text_row(e->pixels, LEFT, total_width(e), lines[line], y - top);
        }
        draw_depth_labels_at(e, y - TOP);
        if (y == TOP - 1) draw_frame_line(e);
        write_row(e);
    }
}

// Row y of the echoes: the depth's label and tick, the axis, each column's group's mean at that depth, the light
// grid at the labelled depths and under the time ticks, the depth line, the frame.
void draw_echo_row(Echogram* e, int y)
{
    EchogramKept* kept = &e->kept;
    int bins = e->style.bins;
    blank_row(e);
    draw_depth_labels_at(e, y);
    int tick = kept->row_marks[y] == MARK_MAJOR ? TICK : kept->row_marks[y] == MARK_MINOR ? MINOR_TICK : 0;
    for (int x = LEFT - 1 - tick; x < LEFT; ++x) put(e->pixels, x, INK);
    for (int c = 0; c < e->style.columns; ++c) {
        const EchogramColumn* column = &kept->columns[c];
        // Past the range of a ping shorter than the scale's: paper.
        long bin = bin_at(kept, &kept->groups[column->group], y);
        uint8_t mean = bin < bins ? kept->means[column->group * static_cast<long>(bins) + bin] : 0;
        const uint8_t grey[3] = {mean, mean, mean};
        const uint8_t* colour = bin >= bins ? PAPER : e->style.grey ? grey : WATERFALL_COLOURS[mean];
        bool grid = (kept->row_marks[y] == MARK_MAJOR && y > 0 && c % 2 == 1) ||
                    (column->mark != MARK_NONE && c > 0 && y % 2 == 1);
        if (grid) colour = GRID;
        if (y >= column->line_low && y <= column->line_high) colour = LINE;
        put(e->pixels, LEFT + c, colour);
    }
    put(e->pixels, LEFT + e->style.columns, INK);
    write_row(e);
}

// Under the echoes: the frame, the ticks of the times (longer where the range changes) and the labels.
void draw_bottom(Echogram* e)
{
    int bins = e->style.bins;
    for (int y = 0; y < BOTTOM; ++y) {
        blank_row(e);
        draw_depth_labels_at(e, bins + y);
        if (y == 0) draw_frame_line(e);
        for (int c = 0; c < e->style.columns && y > 0 && y <= TICK; ++c) {
            EchogramMark mark = e->kept.columns[c].mark;
            if (mark == MARK_RANGE || (mark == MARK_MAJOR && y <= TICK - 2)) put(e->pixels, LEFT + c, INK);
        }
        int label_top = 1 + TICK + GAP;
        if (y >= label_top && y < label_top + FONT_HEIGHT) draw_time_labels(e, y - label_top);
        write_row(e);
    }
}

void draw_echogram(Echogram* e)
{
    plan_scale(&e->kept);
    plan_columns(e);
    plan_depth_scale(e);
    plan_time_marks(e);
    draw_title(e);
    for (int y = 0; y < e->style.bins; ++y) draw_echo_row(e, y);
    draw_bottom(e);
}

void end_row(Echogram* e)
{
    if (e->style.axes) {
        keep_group(e);
    } else {
        emit_row(e);
    }
    e->row_depth_sum = 0.0;
    e->row_depths = 0;
    e->row_started = false;
}

}  // namespace

int64_t echogram_time_step(int64_t span_ms, int columns)
{
    for (int64_t step : TIME_STEPS_MS) {
        if (step * columns >= TIME_SPACING * span_ms) return step;
    }
    int64_t days = 1;
    for (int leading = 0; days < DAY_STEPS_MAX; leading = (leading + 1) % 3) {
        if (days * DAY_MS * columns >= DATE_SPACING * span_ms) break;
        days = leading == 1 ? days / 2 * 5 : days * 2;  // 1, 2, 5, 10, 20, 50, ...
    }
    return days * DAY_MS;
}

bool echogram_time_crossed(int64_t before_ms, int64_t ms, int64_t step_ms, int64_t* crossed_ms)
{
    int64_t from = steps_to(before_ms, step_ms), to = steps_to(ms, step_ms);
    if (from == to) return false;
    *crossed_ms = (to > from ? to : to + 1) * step_ms;
    return true;
}

void echogram_time_label(int64_t ms, int64_t step_ms, char text[ECHOGRAM_LABEL_SIZE])
{
    char iso[PINGTIME_ISO_SIZE];
    pingtime_iso_utc(ms, iso);
    bool date = step_ms >= DAY_MS || steps_to(ms, DAY_MS) * DAY_MS == ms;
    snprintf(text, ECHOGRAM_LABEL_SIZE, date ? "%.10s" : "%.8s", date ? iso : iso + 11);
}

int echogram_columns_max(int bins)
{
    long most = ECHOGRAM_CELLS_MAX / bins;
    return most < ECHOGRAM_COLUMNS_MAX ? static_cast<int>(most) : ECHOGRAM_COLUMNS_MAX;
}

int echogram_columns(int bins, long pings, int asked)
{
    if (asked > 0) return asked;
    long most = echogram_columns_max(bins);
    long wanted = pings < ECHOGRAM_COLUMNS_MIN ? ECHOGRAM_COLUMNS_MIN : pings;
    return static_cast<int>(wanted < most ? wanted : most);
}

PictureKind echogram_kind(const EchogramStyle* style)
{
    if (style->depth_line || style->axes) return PICTURE_RGB;
    return style->grey ? PICTURE_GREY : PICTURE_INDEXED;
}

int echogram_picture_width(const EchogramStyle* style)
{
    return style->axes ? LEFT + style->columns + RIGHT : style->bins;
}

void echogram_begin(Echogram* echogram, const EchogramStyle* style, Picture* picture, long pings, int height)
{
    echogram->style = *style;
    echogram->picture = picture;
    echogram->row_depth_sum = 0.0;
    echogram->row_depths = 0;
    echogram->previous_line = -1;
    echogram->row_started = false;
    if (style->axes) {
        // Groups of pings a column each, or a ping spread over several columns.
        echogram->kept.group_count = 0;
        long most = pings < style->columns ? pings : style->columns;
        height = most > 0 ? static_cast<int>(most) : 1;
    }
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
    }
    double range_m = range_code_metres(view->range_field);
    if (e->style.depth_line && ping->bottom.known && range_m > 0.0) {
        e->row_depth_sum += ping->bottom.distance_m / range_m * e->style.bins;
        ++e->row_depths;
    }
    if (waterfall_rows_add(&e->rows, view->image + PING_IMAGE_SAMPLES, e->style.bins, e->means)) end_row(e);
}

void echogram_finish(Echogram* e)
{
    if (waterfall_rows_finish(&e->rows, e->style.bins, e->means)) end_row(e);
    if (e->style.axes && e->kept.group_count > 0) draw_echogram(e);
}
