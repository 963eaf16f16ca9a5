// The live waterfall in a terminal's text cells: the newest pings at the
// bottom, the picture moving up half a cell per ping, and one status line
// under it. Each cell shows two pings with the upper half block: the older
// ping is its foreground (the upper half), the newer its background. A column
// is the mean of its share of a ping's 8000 samples, coloured by the
// waterfall's colour map in 24-bit colour or as the nearest of the 256
// colours; with --depth each ping's bottom in pure red, as in the pictures.
// Plain functions over one record that make the escape sequences;
// writing them is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "headlink/protocol.h"
#include "reduction/reduction.h"
#include "store/naming.h"
#include "store/record.h"
#include "waterfall/waterfall.h"

// Wider terminals are drawn in their left columns, taller ones in their bottom rows.
constexpr int CELLS_COLUMNS_MAX = 400;
constexpr int CELLS_ROWS_MAX = 150;  // the status line included
constexpr int CELLS_PINGS_MAX = 2 * (CELLS_ROWS_MAX - 1);
// The most the bytes of one row (picture or status line) come to.
constexpr size_t CELLS_ROW_BYTES_MAX = 64 + 40 * static_cast<size_t>(CELLS_COLUMNS_MAX);
// The status line counts the time since the last record once it passes this.
constexpr int64_t CELLS_QUIET_MARK_MS = 5000;

// Written before the first frame and after the last: the alternate screen, the cursor hidden, no line wrap.
extern const char CELLS_ENTER[];
extern const char CELLS_LEAVE[];

enum CellsColours { CELLS_256_COLOURS, CELLS_24_BIT };

// The newest pings and the terminal they are drawn on.
struct CellsPicture {
    CellsColours colours;
    int rows;     // the terminal's size
    int columns;
    int drawn_columns;  // the picture's width: the terminal's, at most CELLS_COLUMNS_MAX
    int count;          // pings held
    int newest;         // slot of the newest
    uint8_t nearest[WATERFALL_LEVELS];  // each colour of the map as one of the 256 (16 to 255)
    uint8_t samples[CELLS_PINGS_MAX][PING_SAMPLE_COUNT];
    uint8_t means[CELLS_PINGS_MAX][CELLS_COLUMNS_MAX];  // at drawn_columns
    float bottom[CELLS_PINGS_MAX];  // with --depth: the bottom's share of the ping's range; negative: none
};

// What the status line says.
struct CellsStatus {
    char file_name[DATA_NAME_SIZE];  // empty while there is no file
    char note[DATA_NAME_SIZE + 96];  // shown instead of the counts when not empty: waiting, a file problem
    long pings;
    long malformed;
    bool have_record;  // the fields below are those of the last well-formed record
    char time_text[RECORD_TIME_SIZE + RECORD_HUNDREDTHS_SIZE + 1];
    int gain;
    int range_field;
    int interval_ms;
    int64_t quiet_ms;  // since the last record came, or the file was opened
    bool depth_shown;  // --depth: the latest depth given, or that there is none yet
    bool have_depth;
    double depth_m;    // below the surface, or the reference named in depth_note
    char depth_note[REDUCTION_DATUM_SIZE + REDUCTION_FLAGS_TEXT_SIZE + 16];  // " below LAT (spike)"; empty: none
};

void cells_start(CellsPicture* picture, CellsColours colours, int rows, int columns);
// Drops every ping, as for a new file.
void cells_clear(CellsPicture* picture);
// Takes the terminal's new size; the pings held are drawn again at its width.
void cells_resize(CellsPicture* picture, int rows, int columns);
void cells_add_ping(CellsPicture* picture, const uint8_t samples[PING_SAMPLE_COUNT]);
// The bottom of the ping added age pings ago (0: the newest), as its share of the ping's range: drawn in the
// depth line's red; a share outside 0 to 1 draws none.
void cells_set_bottom(CellsPicture* picture, int age, double share);
// Row 0 (the top) to rows - 2 of the terminal: moves there and draws it all;
// returns the byte count, at most CELLS_ROW_BYTES_MAX.
size_t cells_picture_row(const CellsPicture* picture, int row, char* out);
// The terminal's last row, cut to its width.
size_t cells_status_line(const CellsPicture* picture, const CellsStatus* status, char* out);
// The index (16 to 255) of the colour of the 256 nearest to rgb; the first 16 are left out, as
// terminals give them colours of their own.
int cells_nearest_256(const uint8_t rgb[3]);
