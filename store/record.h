// The ping record: one 8192-byte block per completed ping in the data file.
// The layout lives here only; the writer builds records with record_build and
// every reader goes through record_parse. 16-bit numbers are big-endian;
// every byte not listed is 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "headlink/protocol.h"

constexpr int RECORD_SIZE = 8192;

constexpr int RECORD_MAGIC = 0;  // "QKV" and 10
constexpr uint8_t RECORD_MAGIC_BYTES[4] = {'Q', 'K', 'V', 0x0A};
constexpr int RECORD_LENGTH = 4;        // 16 bits: RECORD_SIZE
constexpr int RECORD_IMAGE_LENGTH = 6;  // 16 bits: PING_IMAGE_SIZE
constexpr int RECORD_DATE = 8;          // date text and its terminating zero
constexpr int RECORD_DATE_SIZE = 12;
constexpr int RECORD_TIME = 20;         // time text and its terminating zero
constexpr int RECORD_TIME_SIZE = 9;
constexpr int RECORD_HUNDREDTHS = 29;   // ".37", no terminator
constexpr int RECORD_HUNDREDTHS_SIZE = 3;
constexpr int RECORD_MARK_37 = 37;      // 0x80
constexpr int RECORD_GAIN = 38;         // dB
constexpr int RECORD_MARK_42 = 42;      // 10
constexpr int RECORD_RANGE = 44;        // the switch command's range-by-six code
constexpr int RECORD_MARK_46 = 46;      // 16 bits: 15000 with the top bit set
constexpr uint16_t RECORD_MARK_46_VALUE = 0x8000 | 15000;
constexpr int RECORD_MARK_80 = 80;      // 1
constexpr int RECORD_MARK_81 = 81;      // 4
constexpr int RECORD_INTERVAL = 88;     // 16 bits: ping interval in milliseconds
constexpr int RECORD_MARK_90 = 90;      // '2'
constexpr int RECORD_IMAGE = 100;       // the ping image: header of packet 7, eight slots, end byte
constexpr int RECORD_END = RECORD_IMAGE + PING_IMAGE_END;  // 8112: the image's end byte
constexpr int RECORD_RESERVED = RECORD_END + 1;            // three 32-bit words, always 0
// The layout is counts of bytes, never the size of a C++ type, so a record is
// the same on every build (32 or 64 bits, Linux or Windows); checked wherever
// this is compiled.
static_assert(RECORD_SIZE == 8192 && RECORD_END == 8112, "a record is 8192 bytes, the image's end byte at 8112");
static_assert(RECORD_DATE + RECORD_DATE_SIZE == RECORD_TIME && RECORD_TIME + RECORD_TIME_SIZE == RECORD_HUNDREDTHS &&
                  RECORD_HUNDREDTHS + RECORD_HUNDREDTHS_SIZE <= RECORD_MARK_37 && RECORD_INTERVAL + 2 <= RECORD_MARK_90 &&
                  RECORD_MARK_90 < RECORD_IMAGE,
              "the fields before the image do not overlap");
static_assert(RECORD_RESERVED + 12 <= RECORD_SIZE, "the ping image and reserved words fit the record");

struct RecordFields {
    const char* date_text;        // the clock's texts as of the pass that completed the ping
    const char* time_text;
    const char* hundredths_text;
    int gain;                     // dB
    int range_by_six;
    int ping_interval_ms;
    const uint8_t* image;         // PING_IMAGE_SIZE bytes
};

// What a parsed record says; texts are copied out and always terminated.
struct RecordView {
    char date_text[RECORD_DATE_SIZE + 1];
    char time_text[RECORD_TIME_SIZE + 1];
    char hundredths_text[RECORD_HUNDREDTHS_SIZE + 1];
    int gain;
    int range_field;
    int ping_interval_ms;
    uint8_t end_byte;
    const uint8_t* image;  // points into the parsed bytes
    int fault_offset;      // byte offset of the first bad field when not RECORD_OK
};

enum RecordStatus { RECORD_OK, RECORD_BAD_MAGIC, RECORD_BAD_LENGTHS, RECORD_BAD_END_BYTE };

void record_build(uint8_t record[RECORD_SIZE], const RecordFields* fields);
// A file's first count bytes begin as a ping record does: the file is a data
// file, which no tool writes over or into, whatever its name. It looks at the
// first RECORD_STARTS_FILE_SIZE.
constexpr size_t RECORD_STARTS_FILE_SIZE = RECORD_MAGIC + sizeof RECORD_MAGIC_BYTES;
bool record_starts_file(const uint8_t* bytes, size_t count);
// Reads RECORD_SIZE bytes; the view is filled as far as the record allows.
RecordStatus record_parse(const uint8_t* bytes, RecordView* view);
const char* record_status_text(RecordStatus status);

void record_put_be16(uint8_t* at, uint16_t value);
uint16_t record_get_be16(const uint8_t* at);
