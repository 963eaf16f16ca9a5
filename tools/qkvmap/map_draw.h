// The map's picture: its layout, the depths' colours, lines, words, the
// legend, the scale bar and the north arrow, drawn into a canvas of RGB
// pixels. Plain functions over the canvas; reading the grid and writing the
// picture are map_files.h's.
//
// The colours of the depths are a fixed ramp, stretched over the depths the
// grid holds: from MAP_RAMP[0] at its shoalest cell to the last stop at its
// deepest, linear in RGB between stops set at equal steps. A cell without a
// depth is white. The same ramp, and the depths it stands for, is the legend.
#pragma once

#include <cstdint>

struct MapRgb {
    uint8_t r, g, b;
};

constexpr int MAP_RAMP_STOPS = 5;
extern const MapRgb MAP_RAMP[MAP_RAMP_STOPS];
constexpr MapRgb MAP_WHITE = {255, 255, 255};
constexpr MapRgb MAP_INK = {0, 0, 0};           // the frame, the words, the scale bar, the north arrow
constexpr MapRgb MAP_CONTOUR = {200, 30, 30};   // the contour lines and their depths
constexpr int MAP_UPSCALE_MAX = 32;             // pixels a cell at most, for a small grid

struct MapCanvas {
    int width;
    int height;
    uint8_t* pixels;  // RGB, row by row from the top
};

// Where each part goes, all in pixels of the canvas.
struct MapLayout {
    int width, height;           // of the canvas
    int map_x, map_y;            // the map's top left pixel
    int map_width, map_height;
    double pixels_per_cell;
    int legend_x, legend_y, legend_height;  // the colour bar
    int scale_y;                 // the scale bar's top
};

// The layout for a grid of the given cells with the map's longer side at most size pixels.
void map_layout(int columns, int rows, long size, MapLayout* layout);
// The colour of a depth between shoalest and deepest (NaN: white).
MapRgb map_ramp(double depth, double shoalest, double deepest);
// The map's pixels from their depths (map_width by map_height, row by row from the top).
void map_paint_depths(MapCanvas* canvas, const MapLayout* layout, const float* depths, double shoalest,
                      double deepest);
void map_put(MapCanvas* canvas, int x, int y, MapRgb colour);
// A line from one point to another, drawn only inside the map.
void map_line(MapCanvas* canvas, const MapLayout* layout, double x0, double y0, double x1, double y1, MapRgb colour);
// A text with its top left at x, y, in the 6x13 font, cut where the canvas ends; its width in pixels.
int map_text(MapCanvas* canvas, int x, int y, const char* text, MapRgb colour);
// The frame round the map, the legend with the depths of its colours, the title above.
void map_frame(MapCanvas* canvas, const MapLayout* layout, const char* title);
void map_legend(MapCanvas* canvas, const MapLayout* layout, double shoalest, double deepest);
// A bar of a round length under the map, for metres_per_pixel across it.
void map_scale_bar(MapCanvas* canvas, const MapLayout* layout, double metres_per_pixel);
// An arrow in the map's top right corner, turned clockwise from up by
// radians (true north on a grid whose north is up, or not).
void map_north_arrow(MapCanvas* canvas, const MapLayout* layout, double radians);

// The contours' depths, written where a line has room for them, no two over each other.
constexpr int MAP_LABELS_MAX = 1024;
constexpr int MAP_LABEL_SIZE = 16;
struct MapLabel {
    int x, y, width, height;  // the box, words and margin
    char text[MAP_LABEL_SIZE];
};
struct MapLabels {
    MapLabel labels[MAP_LABELS_MAX];
    int count;
};
// A line's points in the canvas's pixels: its depth is set at the middle of its
// length when that is long enough and the box there clear of the others.
void map_label_line(MapLabels* labels, const MapLayout* layout, const double* xy, int points, double depth);
void map_labels_draw(MapCanvas* canvas, const MapLabels* labels);
