// The rows of qkvdump's picture from the pings. The waterfall: one row a ping
// (or the mean of several with --height), the range across; with --depth the
// bottom picked drawn over it as a line of a colour the colour map does not
// have. With --axes the echogram a sounder shows: time across (a column a
// ping, or the mean of several), depth down, a depth scale at 1-2-5 steps
// chosen for the range with light grid lines, UTC times under it, the file's
// name above. The plain picture stays one pixel a column of samples in the
// colour map's indices (or grey levels); a line or axes make it red, green and
// blue. The echogram is kept whole until its pings are all read, as its rows
// run across them.
#pragma once

#include <cstdint>

#include "tools/qkvdump/picture.h"
#include "tools/qkvdump/ping_export.h"
#include "waterfall/waterfall_rows.h"

constexpr int ECHOGRAM_TITLE_SIZE = 512;
// The echogram's columns: at least so many (pings spread over them), and at most so many, nor more than its
// kept means allow for its rows (pings then shared out).
constexpr int ECHOGRAM_COLUMNS_MIN = 640;
constexpr int ECHOGRAM_COLUMNS_MAX = PING_SAMPLE_COUNT;
constexpr long ECHOGRAM_CELLS_MAX = 2000L * ECHOGRAM_COLUMNS_MAX;

struct EchogramStyle {
    int bins;        // columns of samples across the range: the waterfall's columns, the echogram's rows
    bool grey;
    bool depth_line;
    bool axes;
    int columns;     // the echogram's columns (echogram_columns)
    double draft_m;  // the echogram's depths are below the surface: the transducer's draft and the distance
    const char* name;  // the file named in the title, in UTF-8
};

constexpr int ECHOGRAM_LABEL_SIZE = 24;
constexpr int ECHOGRAM_LABELS_MAX = 512;  // of depths, and of ranges and times: as many as fit, spaced

enum EchogramMark : uint8_t { MARK_NONE, MARK_MINOR, MARK_MAJOR, MARK_RANGE };

// A group of pings, a column or more of the echogram: its first ping's time and range, and its mean bottom's bin
// (-1: none); its means down the range are kept beside.
struct EchogramGroup {
    int64_t utc_ms;
    bool time_known;
    int range_code;
    int line;
};

// Each of the echogram's columns: its group, the run of rows its depth line takes, and its tick below.
struct EchogramColumn {
    int group;
    int line_low;
    int line_high;  // below line_low: no line
    EchogramMark mark;
};

struct EchogramLabel {
    int at;  // its row (depths) or column (times)
    char text[ECHOGRAM_LABEL_SIZE];
};

// What the echogram keeps until its pings are all read, and its plan as it is drawn.
struct EchogramKept {
    uint8_t means[ECHOGRAM_CELLS_MAX];
    EchogramGroup groups[ECHOGRAM_COLUMNS_MAX];
    long group_count;
    // The range the depths are drawn to: the longest of the pings', each drawn to its own depth on it.
    int scale_code;
    int shortest_code;
    EchogramColumn columns[ECHOGRAM_COLUMNS_MAX];
    EchogramMark row_marks[PING_SAMPLE_COUNT];  // the depth ticks down the rows
    EchogramLabel depth_labels[ECHOGRAM_LABELS_MAX];
    int depth_label_count;
    EchogramLabel time_labels[ECHOGRAM_LABELS_MAX];  // ranges and times
    int time_label_count;
};

struct Echogram {
    EchogramStyle style;
    Picture* picture;
    WaterfallRows rows;
    long data_rows;                  // rows (or the echogram's groups of pings) gathered
    double row_depth_sum;            // the row's picked bottoms, in bins
    long row_depths;
    int previous_line;               // the line's bin in the row before; -1: none there
    bool row_started;
    ExportPing row_first;            // the first ping of the row being gathered, for its time
    int row_range_code;              // and its range
    uint8_t means[PING_SAMPLE_COUNT];
    uint8_t pixels[PICTURE_ROW_MAX];
    EchogramKept kept;  // with axes
};

// The echogram's columns for its rows (bins): those asked (0: none asked), or a column a ping within the
// bounds above.
int echogram_columns_max(int bins);
int echogram_columns(int bins, long pings, int asked);
// The picture's kind and width in pixels for a style.
PictureKind echogram_kind(const EchogramStyle* style);
int echogram_picture_width(const EchogramStyle* style);
// pings: counted beforehand for a height (groups of pings) or the echogram, else 0.
void echogram_begin(Echogram* echogram, const EchogramStyle* style, Picture* picture, long pings, int height);
// A ping, with its bottom (when the line is drawn) and time (for the axes); writes the rows it completes.
void echogram_add(Echogram* echogram, const ExportPing* ping);
// The last row, if one is open, and the whole echogram.
void echogram_finish(Echogram* echogram);

// The echogram's time ticks. The clock's step between them for a span of times drawn across so many columns: the
// first whole step a clock is read by (1, 2, 5, 10, 15 or 30 s, minutes, hours) that keeps their labels apart, and
// from a day on 1, 2 or 5 times a power of ten days (from 1970-01-01).
int64_t echogram_time_step(int64_t span_ms, int columns);
// Whether a column's time crossed a whole step from the time of the column before, and the step crossed: of those
// passed, the one nearest it, forwards or, where the clock was set back, back.
bool echogram_time_crossed(int64_t before_ms, int64_t ms, int64_t step_ms, int64_t* crossed_ms);
// A tick's label: the UTC time, "09:05:00", or its date, "2026-12-09", at midnight or with steps of days.
void echogram_time_label(int64_t ms, int64_t step_ms, char text[ECHOGRAM_LABEL_SIZE]);
