// The rows of qkvdump's picture from the pings: the waterfall (one row a ping,
// or the mean of several with --height), with --depth the bottom picked drawn
// over it as a line of a colour the colour map does not have, and with --axes
// the margins a surveyor reads it by: a scale in metres along the range, UTC
// times along the pings, the file's name. The plain picture stays one pixel a
// column of samples in the colour map's indices (or grey levels); a line or
// axes make it red, green and blue.
#pragma once

#include <cstdint>

#include "tools/qkvdump/picture.h"
#include "tools/qkvdump/ping_export.h"
#include "waterfall/waterfall_rows.h"

constexpr int ECHOGRAM_TITLE_SIZE = 512;

struct EchogramStyle {
    int width;       // columns of samples
    bool grey;
    bool depth_line;
    bool axes;
    const char* name;  // the file named in the title
};

struct Echogram {
    EchogramStyle style;
    Picture* picture;
    WaterfallRows rows;
    long data_rows;                  // rows of pings written
    bool margins_drawn;              // the top margin, before the first row of pings
    double row_depth_sum;            // the row's picked bottoms, in columns
    long row_depths;
    int previous_line;               // the line's column in the row before; -1: none there
    bool row_started;
    ExportPing row_first;            // the first ping of the row being gathered, for its time
    int row_range_code;              // and its range
    int scale_range_code;            // the range the scale is drawn for
    char label[32];                  // the label being drawn down the left margin
    long label_row;                  // its first row
    uint8_t means[PING_SAMPLE_COUNT];
    uint8_t pixels[PICTURE_ROW_MAX];
};

// The picture's kind and width in pixels for a style.
PictureKind echogram_kind(const EchogramStyle* style);
int echogram_picture_width(const EchogramStyle* style);
// pings: counted beforehand when style has a height (rows), else 0.
void echogram_begin(Echogram* echogram, const EchogramStyle* style, Picture* picture, long pings, int height);
// A ping, with its bottom (when the line is drawn) and time (for the axes); writes the rows it completes.
void echogram_add(Echogram* echogram, const ExportPing* ping);
// The last row, if one is open.
void echogram_finish(Echogram* echogram);
