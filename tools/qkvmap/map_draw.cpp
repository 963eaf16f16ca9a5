#include "tools/qkvmap/map_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "waterfall/font.h"

// Light water shoal to dark deep, every stop apart from the contours' red and the ink.
const MapRgb MAP_RAMP[MAP_RAMP_STOPS] = {
    {224, 248, 240}, {150, 218, 220}, {79, 170, 208}, {40, 110, 180}, {20, 50, 130},
};

namespace {

constexpr int MARGIN = 10;
constexpr int TITLE_HEIGHT = FONT_HEIGHT + 8;
constexpr int LEGEND_GAP = 16;            // between the map's frame and the colour bar
constexpr int LEGEND_HEAD = FONT_HEIGHT + 6;
constexpr int BAR_WIDTH = 16;
constexpr int TICK = 4;
constexpr int LEGEND_TEXT_WIDTH = 9 * FONT_WIDTH;
constexpr int LEGEND_HEIGHT_MIN = 120;
constexpr int LEGEND_HEIGHT_MAX = 400;
constexpr int LEGEND_LABEL_SPACING = 24;  // pixels between the legend's depths at least
constexpr int ARROW_ROOM = 70;            // under the legend: the north arrow
constexpr int ARROW_HALF = 14;
constexpr int SCALE_GAP = 10;
constexpr int SCALE_BAR_HEIGHT = 6;
constexpr int SCALE_SEGMENTS = 4;
constexpr int SCALE_HEIGHT = SCALE_BAR_HEIGHT + 3 + FONT_HEIGHT;
constexpr int WIDTH_MIN = 360;            // room for the title and the scale bar's words
constexpr int LABEL_ROOM = 3;             // a line takes its depth when this many times the words' width long
constexpr double HALF_TURN = 3.14159265358979323846;

struct Rect {
    int left, top, right, bottom;  // inclusive
};

Rect map_rect(const MapLayout* layout)
{
    return {layout->map_x, layout->map_y, layout->map_x + layout->map_width - 1,
            layout->map_y + layout->map_height - 1};
}

// 1, 2 or 5 times a power of ten: the greatest not above limit (up: the least not below it).
double round_125(double limit, bool up)
{
    double power = pow(10, floor(log10(limit)));
    const double steps[] = {1, 2, 5, 10};
    double chosen = up ? 10 * power : power;
    for (double step : steps) {
        if (up && step * power >= limit * (1 - 1e-9)) return step * power;
        if (!up && step * power <= limit * (1 + 1e-9)) chosen = step * power;
    }
    return chosen;
}

// Liang and Barsky's clipping of the segment to the rectangle; false when none of it is inside.
bool clip(double* x0, double* y0, double* x1, double* y1, const Rect& rect)
{
    double dx = *x1 - *x0, dy = *y1 - *y0, enter = 0, leave = 1;
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {*x0 - rect.left, rect.right - *x0, *y0 - rect.top, rect.bottom - *y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        double t = q[i] / p[i];
        if (p[i] < 0) enter = std::max(enter, t);
        else leave = std::min(leave, t);
    }
    if (enter > leave) return false;
    double ax = *x0 + enter * dx, ay = *y0 + enter * dy;
    *x1 = *x0 + leave * dx;
    *y1 = *y0 + leave * dy;
    *x0 = ax;
    *y0 = ay;
    return true;
}

void segment(MapCanvas* canvas, double x0, double y0, double x1, double y1, MapRgb colour, const Rect& rect)
{
    if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
    if (!clip(&x0, &y0, &x1, &y1, rect)) return;
    int steps = static_cast<int>(ceil(std::max(fabs(x1 - x0), fabs(y1 - y0))));
    for (int i = 0; i <= steps; ++i) {
        double t = steps == 0 ? 0 : static_cast<double>(i) / steps;
        map_put(canvas, static_cast<int>(lround(x0 + (x1 - x0) * t)), static_cast<int>(lround(y0 + (y1 - y0) * t)),
                colour);
    }
}

void fill(MapCanvas* canvas, const Rect& rect, MapRgb colour)
{
    for (int y = rect.top; y <= rect.bottom; ++y) {
        for (int x = rect.left; x <= rect.right; ++x) map_put(canvas, x, y, colour);
    }
}

void outline(MapCanvas* canvas, const Rect& rect, MapRgb colour)
{
    Rect whole = {0, 0, canvas->width - 1, canvas->height - 1};
    segment(canvas, rect.left, rect.top, rect.right, rect.top, colour, whole);
    segment(canvas, rect.left, rect.bottom, rect.right, rect.bottom, colour, whole);
    segment(canvas, rect.left, rect.top, rect.left, rect.bottom, colour, whole);
    segment(canvas, rect.right, rect.top, rect.right, rect.bottom, colour, whole);
}

int text_width(const char* text)
{
    int glyphs = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++glyphs) {
        int length = font_utf8_length(c);
        c += length > 0 ? length : 1;
    }
    return glyphs * FONT_WIDTH;
}

// A depth as the legend and the labels write it: its shortest form.
void depth_text(double depth, char* text, size_t size)
{
    snprintf(text, size, "%.6g", depth);
}

bool overlaps(const MapLabel& a, const MapLabel& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The point at the given length along the line, false past its end.
bool point_along(const double* xy, int points, double at, double* x, double* y)
{
    for (int i = 1; i < points; ++i) {
        double dx = xy[2 * i] - xy[2 * i - 2], dy = xy[2 * i + 1] - xy[2 * i - 1];
        double length = sqrt(dx * dx + dy * dy);
        if (at <= length && length > 0) {
            *x = xy[2 * i - 2] + dx * at / length;
            *y = xy[2 * i - 1] + dy * at / length;
            return true;
        }
        at -= length;
    }
    return false;
}

}  // namespace

void map_layout(int columns, int rows, long size, MapLayout* layout)
{
    int longer = std::max(std::max(columns, rows), 1);
    // A cell drawn larger is a whole number of pixels across, so that every cell looks alike.
    double fit = static_cast<double>(size) / longer;
    double scale = fit >= 1 ? std::min(floor(fit), static_cast<double>(MAP_UPSCALE_MAX)) : fit;
    *layout = MapLayout{};
    layout->pixels_per_cell = scale;
    layout->map_width = std::max(1, static_cast<int>(lround(columns * scale)));
    layout->map_height = std::max(1, static_cast<int>(lround(rows * scale)));
    layout->map_x = MARGIN + 1;  // inside the frame
    layout->map_y = MARGIN + TITLE_HEIGHT + 1;
    layout->legend_x = layout->map_x + layout->map_width + 1 + LEGEND_GAP;
    layout->legend_y = layout->map_y + LEGEND_HEAD;
    layout->legend_height = std::clamp(layout->map_height - LEGEND_HEAD, LEGEND_HEIGHT_MIN, LEGEND_HEIGHT_MAX);
    layout->scale_y = layout->map_y + layout->map_height + 1 + SCALE_GAP;
    layout->width = std::max(layout->legend_x + BAR_WIDTH + TICK + 2 + LEGEND_TEXT_WIDTH + MARGIN, WIDTH_MIN);
    layout->height = std::max(layout->scale_y + SCALE_HEIGHT + MARGIN,
                              layout->legend_y + layout->legend_height + ARROW_ROOM + MARGIN);
}

MapRgb map_ramp(double depth, double shoalest, double deepest)
{
    if (std::isnan(depth)) return MAP_WHITE;
    double t = deepest > shoalest ? (depth - shoalest) / (deepest - shoalest) : 0.5;
    double at = std::clamp(t, 0.0, 1.0) * (MAP_RAMP_STOPS - 1);
    int stop = std::min(static_cast<int>(at), MAP_RAMP_STOPS - 2);
    double f = at - stop;
    const MapRgb& a = MAP_RAMP[stop];
    const MapRgb& b = MAP_RAMP[stop + 1];
    auto mix = [f](uint8_t from, uint8_t to) { return static_cast<uint8_t>(lround(from + (to - from) * f)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void map_paint_depths(MapCanvas* canvas, const MapLayout* layout, const float* depths, double shoalest,
                      double deepest)
{
    for (int y = 0; y < layout->map_height; ++y) {
        const float* row = depths + static_cast<long>(y) * layout->map_width;
        for (int x = 0; x < layout->map_width; ++x) {
            map_put(canvas, layout->map_x + x, layout->map_y + y, map_ramp(row[x], shoalest, deepest));
        }
    }
}

void map_put(MapCanvas* canvas, int x, int y, MapRgb colour)
{
    if (x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return;
    uint8_t* pixel = canvas->pixels + (static_cast<long>(y) * canvas->width + x) * 3;
    pixel[0] = colour.r;
    pixel[1] = colour.g;
    pixel[2] = colour.b;
}

void map_line(MapCanvas* canvas, const MapLayout* layout, double x0, double y0, double x1, double y1, MapRgb colour)
{
    segment(canvas, x0, y0, x1, y1, colour, map_rect(layout));
}

int map_text(MapCanvas* canvas, int x, int y, const char* text, MapRgb colour)
{
    int left = x;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0 && x < canvas->width;
         x += FONT_WIDTH) {
        int length = font_utf8_length(c);
        char glyph = length > 0 ? '?' : static_cast<char>(*c);
        c += length > 0 ? length : 1;
        for (int row = 0; row < FONT_HEIGHT; ++row) {
            for (int column = 0; column < FONT_WIDTH; ++column) {
                if (font_pixel(glyph, column, row)) map_put(canvas, x + column, y + row, colour);
            }
        }
    }
    return x - left;
}

void map_frame(MapCanvas* canvas, const MapLayout* layout, const char* title)
{
    Rect map = map_rect(layout);
    outline(canvas, {map.left - 1, map.top - 1, map.right + 1, map.bottom + 1}, MAP_INK);
    map_text(canvas, MARGIN, MARGIN, title, MAP_INK);
}

void map_legend(MapCanvas* canvas, const MapLayout* layout, double shoalest, double deepest)
{
    int x = layout->legend_x, top = layout->legend_y, height = layout->legend_height;
    map_text(canvas, x, top - LEGEND_HEAD + 1, "depth m", MAP_INK);
    for (int row = 0; row < height; ++row) {
        double depth = shoalest + (deepest - shoalest) * row / (height - 1);
        fill(canvas, {x, top + row, x + BAR_WIDTH - 1, top + row}, map_ramp(depth, shoalest, deepest));
    }
    outline(canvas, {x - 1, top - 1, x + BAR_WIDTH, top + height}, MAP_INK);
    double span = deepest - shoalest;
    double step = span > 0 ? round_125(span / std::max(1, height / LEGEND_LABEL_SPACING), true) : 1;
    double first = span > 0 ? ceil(shoalest / step) * step : shoalest;
    Rect whole = {0, 0, canvas->width - 1, canvas->height - 1};
    for (double depth = first; depth <= deepest + step * 1e-9; depth += step) {
        int row = span > 0 ? static_cast<int>(lround((depth - shoalest) / span * (height - 1))) : height / 2;
        char text[MAP_LABEL_SIZE];
        depth_text(fabs(depth) < step * 1e-9 ? 0 : depth, text, sizeof text);
        segment(canvas, x + BAR_WIDTH, top + row, x + BAR_WIDTH + TICK, top + row, MAP_INK, whole);
        map_text(canvas, x + BAR_WIDTH + TICK + 2, top + row - FONT_HEIGHT / 2, text, MAP_INK);
        if (span <= 0) break;
    }
}

void map_scale_bar(MapCanvas* canvas, const MapLayout* layout, double metres_per_pixel)
{
    if (!(metres_per_pixel > 0 && std::isfinite(metres_per_pixel))) return;
    double metres = round_125(layout->map_width / 3.0 * metres_per_pixel, false);
    int length = static_cast<int>(lround(metres / metres_per_pixel));
    int x = layout->map_x, y = layout->scale_y;
    for (int i = 0; i < SCALE_SEGMENTS; ++i) {
        int from = x + length * i / SCALE_SEGMENTS, to = x + length * (i + 1) / SCALE_SEGMENTS;
        fill(canvas, {from, y, to, y + SCALE_BAR_HEIGHT - 1}, i % 2 == 0 ? MAP_INK : MAP_WHITE);
    }
    outline(canvas, {x, y, x + length, y + SCALE_BAR_HEIGHT - 1}, MAP_INK);
    char text[32];
    if (metres >= 1000) snprintf(text, sizeof text, "%g km", metres / 1000);
    else snprintf(text, sizeof text, "%g m", metres);
    map_text(canvas, x, y + SCALE_BAR_HEIGHT + 3, "0", MAP_INK);
    map_text(canvas, x + length - text_width(text) / 2, y + SCALE_BAR_HEIGHT + 3, text, MAP_INK);
}

void map_north_arrow(MapCanvas* canvas, const MapLayout* layout, double radians)
{
    if (!std::isfinite(radians)) return;
    double cx = layout->legend_x + BAR_WIDTH / 2.0;
    double cy = layout->legend_y + layout->legend_height + ARROW_ROOM / 2.0 + FONT_HEIGHT / 2.0;
    double ux = sin(radians), uy = -cos(radians);  // towards north, y down
    double tip_x = cx + ux * ARROW_HALF, tip_y = cy + uy * ARROW_HALF;
    Rect whole = {0, 0, canvas->width - 1, canvas->height - 1};
    segment(canvas, cx - ux * ARROW_HALF, cy - uy * ARROW_HALF, tip_x, tip_y, MAP_INK, whole);
    for (double side : {-1.0, 1.0}) {
        double angle = radians + HALF_TURN + side * 0.45;
        segment(canvas, tip_x, tip_y, tip_x + sin(angle) * 7, tip_y - cos(angle) * 7, MAP_INK, whole);
    }
    double n_x = cx + ux * (ARROW_HALF + 10), n_y = cy + uy * (ARROW_HALF + 10);
    map_text(canvas, static_cast<int>(lround(n_x)) - FONT_WIDTH / 2, static_cast<int>(lround(n_y)) - FONT_HEIGHT / 2,
             "N", MAP_INK);
}

void map_label_line(MapLabels* labels, const MapLayout* layout, const double* xy, int points, double depth)
{
    if (labels->count >= MAP_LABELS_MAX || points < 2) return;
    MapLabel label = {};
    depth_text(depth, label.text, sizeof label.text);
    label.width = text_width(label.text) + 4;
    label.height = FONT_HEIGHT + 2;
    double length = 0;
    for (int i = 1; i < points; ++i) length += hypot(xy[2 * i] - xy[2 * i - 2], xy[2 * i + 1] - xy[2 * i - 1]);
    if (!(length >= LABEL_ROOM * label.width)) return;
    Rect map = map_rect(layout);
    for (double part : {0.5, 0.25, 0.75}) {
        double x = 0, y = 0;
        if (!point_along(xy, points, length * part, &x, &y)) continue;
        label.x = static_cast<int>(lround(x)) - label.width / 2;
        label.y = static_cast<int>(lround(y)) - label.height / 2;
        bool inside = label.x >= map.left && label.y >= map.top && label.x + label.width - 1 <= map.right &&
                      label.y + label.height - 1 <= map.bottom;
        bool clear = inside;
        for (int i = 0; i < labels->count && clear; ++i) clear = !overlaps(label, labels->labels[i]);
        if (clear) {
            labels->labels[labels->count++] = label;
            return;
        }
    }
}

void map_labels_draw(MapCanvas* canvas, const MapLabels* labels)
{
    for (int i = 0; i < labels->count; ++i) {
        const MapLabel& label = labels->labels[i];
        fill(canvas, {label.x, label.y, label.x + label.width - 1, label.y + label.height - 1}, MAP_WHITE);
        map_text(canvas, label.x + 2, label.y + 1, label.text, MAP_CONTOUR);
    }
}
