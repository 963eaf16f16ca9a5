#include "tools/qkvdump/picture.h"

#include <cerrno>
#include <cstring>

#include "tools/qkvdump/picture_filter.h"

const uint8_t PICTURE_SIGNATURE[PICTURE_SIGNATURE_SIZE] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

namespace {

constexpr int HEADER_DATA_SIZE = 13;
constexpr long HEADER_CHUNK_AT = PICTURE_SIGNATURE_SIZE;
constexpr int DEFLATE_MEMORY_LEVEL = 8;  // zlib's default

void put_be32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

void fail(Picture* picture, int error)
{
    if (picture->failed) return;
    picture->failed = true;
    picture->error = error;
}

void write_bytes(Picture* picture, const void* bytes, size_t count)
{
    if (!picture->failed && count > 0 && fwrite(bytes, 1, count, picture->file) != count) fail(picture, errno);
}

// A chunk: data length, type, data, and the CRC-32 of type and data.
void write_chunk(Picture* picture, const char type[4], const uint8_t* data, uint32_t size)
{
    uint8_t head[8];
    put_be32(head, size);
    memcpy(head + 4, type, 4);
    uLong crc = crc32(crc32(0L, Z_NULL, 0), head + 4, 4);
    if (size > 0) crc = crc32(crc, data, size);  // zlib takes no data as a request for its start value
    uint8_t check[4];
    put_be32(check, static_cast<uint32_t>(crc));
    write_bytes(picture, head, sizeof head);
    write_bytes(picture, data, size);
    write_bytes(picture, check, sizeof check);
}

void write_header(Picture* picture)
{
    uint8_t data[HEADER_DATA_SIZE] = {};
    put_be32(data, picture->width);
    put_be32(data + 4, picture->rows);
    data[8] = 8;  // bits per sample
    data[9] = static_cast<uint8_t>(picture->kind);
    // compression method, filter method and interlace method 0: deflate, the five filters, none
    write_chunk(picture, "IHDR", data, HEADER_DATA_SIZE);
}

void write_palette(Picture* picture, const uint8_t (*palette)[3])
{
    uint8_t data[3 * PICTURE_PALETTE_SIZE];
    memcpy(data, palette, sizeof data);
    write_chunk(picture, "PLTE", data, sizeof data);
}

void write_data_chunk(Picture* picture)
{
    uint32_t size = PICTURE_CHUNK_DATA_SIZE - picture->deflater.avail_out;
    if (size > 0) write_chunk(picture, "IDAT", picture->chunk_data, size);
    picture->deflater.next_out = picture->chunk_data;
    picture->deflater.avail_out = PICTURE_CHUNK_DATA_SIZE;
}

// Compresses bytes, writing a data chunk whenever the chunk buffer is full.
void compress(Picture* picture, const uint8_t* bytes, size_t count, int flush)
{
    if (picture->failed) return;
    z_stream* deflater = &picture->deflater;
    deflater->next_in = const_cast<Bytef*>(bytes);
    deflater->avail_in = static_cast<uInt>(count);
    for (;;) {
        int result = deflate(deflater, flush);
        if (result == Z_STREAM_END) return;
        if (result == Z_STREAM_ERROR || (flush == Z_FINISH && deflater->avail_out > 0)) {
            fail(picture, EINVAL);
            return;
        }
        if (deflater->avail_out > 0) return;  // all of the input taken
        write_data_chunk(picture);
    }
}

}  // namespace

void picture_begin(Picture* picture, FILE* file, int width, PictureKind kind, const uint8_t (*palette)[3])
{
    picture->file = file;
    picture->width = static_cast<uint32_t>(width);
    picture->kind = kind;
    picture->pixel_bytes = kind == PICTURE_RGB ? 3 : 1;
    picture->rows = 0;
    picture->failed = false;
    picture->error = 0;
    memset(&picture->deflater, 0, sizeof picture->deflater);
    memset(picture->previous, 0, sizeof picture->previous);
    // Filtered rows of pings are mostly runs of small numbers (a ping much
    // like the one above it): zlib's run-length strategy, which looks for
    // repeats of the byte before only, came out 11% smaller than its
    // filtered strategy at the default level on survey-like pictures, in a
    // thirteenth of the time (1.3 s against 17 s for 1 GiB of pings), and as
    // small on noise, which does not compress.
    if (deflateInit2(&picture->deflater, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS, DEFLATE_MEMORY_LEVEL,
                     Z_RLE) != Z_OK) {
        fail(picture, ENOMEM);
        return;
    }
    picture->deflater.next_out = picture->chunk_data;
    picture->deflater.avail_out = PICTURE_CHUNK_DATA_SIZE;
    write_bytes(picture, PICTURE_SIGNATURE, PICTURE_SIGNATURE_SIZE);
    write_header(picture);
    if (kind == PICTURE_INDEXED) write_palette(picture, palette);
}

void picture_add_row(Picture* picture, const uint8_t* pixels)
{
    size_t size = picture->width * picture->pixel_bytes;
    PictureFilter filter = picture_filter_choose(pixels, picture->previous, size, picture->pixel_bytes);
    picture->filtered[0] = static_cast<uint8_t>(filter);
    picture_filter_apply(filter, pixels, picture->previous, size, picture->filtered + 1, picture->pixel_bytes);
    memcpy(picture->previous, pixels, size);
    compress(picture, picture->filtered, 1 + size, Z_NO_FLUSH);
    ++picture->rows;
}

bool picture_finish(Picture* picture)
{
    compress(picture, nullptr, 0, Z_FINISH);
    write_data_chunk(picture);
    deflateEnd(&picture->deflater);
    write_chunk(picture, "IEND", nullptr, 0);
    if (!picture->failed && fseek(picture->file, HEADER_CHUNK_AT, SEEK_SET) != 0) fail(picture, errno);
    write_header(picture);
    if (fflush(picture->file) != 0) fail(picture, errno);
    return !picture->failed;
}
