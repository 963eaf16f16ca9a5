// A PNG picture written a row at a time: what it holds in memory is one
// chunk of compressed data and the compressor's window, however tall the
// picture grows. zlib compresses and computes the check sums; this writes
// only the file's fixed framing around them (signature, header chunk, data
// chunks, end chunk). The height is known only at the end, so the header
// goes out with height 0 and is rewritten when the picture is finished: the
// file must be seekable.
#pragma once

#include <cstdint>
#include <cstdio>

#include <zlib.h>

#include "headlink/protocol.h"

constexpr int PICTURE_CHUNK_DATA_SIZE = 1 << 16;
constexpr int PICTURE_WIDTH_MAX = PING_SAMPLE_COUNT + 512;  // the widest picture: a sample a column, and margins
constexpr int PICTURE_ROW_MAX = 3 * PICTURE_WIDTH_MAX;      // its bytes in colour
constexpr int PICTURE_HEIGHT_MAX = 0x7FFFFFFF;      // PNG's limit

// The PNG colour types written, 8 bits a sample: a grey level, red, green
// and blue, or an index into a palette of up to 256 colours (a colour map is
// one).
enum PictureKind { PICTURE_GREY = 0, PICTURE_RGB = 2, PICTURE_INDEXED = 3 };
constexpr int PICTURE_SIGNATURE_SIZE = 8;
extern const uint8_t PICTURE_SIGNATURE[PICTURE_SIGNATURE_SIZE];  // the first bytes of every PNG file
constexpr int PICTURE_PALETTE_SIZE = 256;

struct Picture {
    FILE* file;
    uint32_t width;
    PictureKind kind;
    uint32_t pixel_bytes;
    uint32_t rows;
    bool failed;  // a write failed; everything after it is skipped
    int error;    // errno of that write
    z_stream deflater;
    uint8_t chunk_data[PICTURE_CHUNK_DATA_SIZE];
    uint8_t previous[PICTURE_ROW_MAX];      // the row above as drawn, for the filters that look up
    uint8_t filtered[1 + PICTURE_ROW_MAX];  // the row as stored: its filter type and the filtered bytes
};

// Starts the picture at the start of file; palette: PICTURE_PALETTE_SIZE red,
// green and blue triples for PICTURE_INDEXED, else null. A failure here or
// in a row is kept, the rest skipped, and reported by picture_finish.
void picture_begin(Picture* picture, FILE* file, int width, PictureKind kind,
                   const uint8_t (*palette)[3]);
// One row: width grey levels or palette indices, or width red, green and
// blue triples. Each row is stored with the filter that suits it best
// (tools/qkvdump/picture_filter.h) and compressed.
void picture_add_row(Picture* picture, const uint8_t* pixels);
// Ends the data, writes the end chunk and the height; false when anything
// failed. Releases the compressor either way; the caller closes the file.
bool picture_finish(Picture* picture);
