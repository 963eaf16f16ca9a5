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

constexpr int PICTURE_CHUNK_DATA_SIZE = 1 << 16;

// The PNG colour types written: one grey level or red, green and blue per pixel, 8 bits each.
enum PictureKind { PICTURE_GREY = 0, PICTURE_RGB = 2 };

struct Picture {
    FILE* file;
    uint32_t width;
    PictureKind kind;
    uint32_t rows;
    bool failed;  // a write failed; everything after it is skipped
    int error;    // errno of that write
    z_stream deflater;
    uint8_t chunk_data[PICTURE_CHUNK_DATA_SIZE];
};

// Starts the picture at the start of file. A failure here or in a row is
// kept, the rest skipped, and reported by picture_finish.
void picture_begin(Picture* picture, FILE* file, int width, PictureKind kind);
// One row: width grey levels, or width red-green-blue triples.
void picture_add_row(Picture* picture, const uint8_t* pixels);
// Ends the data, writes the end chunk and the height; false when anything
// failed. Releases the compressor either way; the caller closes the file.
bool picture_finish(Picture* picture);
