#include "store/record.h"

#include <cstring>

namespace {

// Copies a text up to its terminator, at most size bytes; the record is zero around it.
void put_text(uint8_t* at, const char* text, int size)
{
    for (int i = 0; i < size && text[i] != 0; ++i) at[i] = static_cast<uint8_t>(text[i]);
}

void get_text(char* text, const uint8_t* at, int size)
{
    memcpy(text, at, static_cast<size_t>(size));
    text[size] = 0;
}

}  // namespace

void record_put_be16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t record_get_be16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

bool record_starts_file(const uint8_t* bytes, size_t count)
{
    return count >= RECORD_STARTS_FILE_SIZE &&
           memcmp(bytes + RECORD_MAGIC, RECORD_MAGIC_BYTES, sizeof RECORD_MAGIC_BYTES) == 0;
}

void record_build(uint8_t record[RECORD_SIZE], const RecordFields* fields)
{
    memset(record, 0, RECORD_SIZE);
    memcpy(record + RECORD_MAGIC, RECORD_MAGIC_BYTES, sizeof RECORD_MAGIC_BYTES);
    record_put_be16(record + RECORD_LENGTH, RECORD_SIZE);
    record_put_be16(record + RECORD_IMAGE_LENGTH, PING_IMAGE_SIZE);
    put_text(record + RECORD_DATE, fields->date_text, RECORD_DATE_SIZE);
    put_text(record + RECORD_TIME, fields->time_text, RECORD_TIME_SIZE);
    put_text(record + RECORD_HUNDREDTHS, fields->hundredths_text, RECORD_HUNDREDTHS_SIZE);
    record[RECORD_MARK_37] = 0x80;
    record[RECORD_GAIN] = static_cast<uint8_t>(fields->gain);
    record[RECORD_MARK_42] = 10;
    record[RECORD_RANGE] = static_cast<uint8_t>(range_by_six_code(fields->range_by_six));
    record_put_be16(record + RECORD_MARK_46, RECORD_MARK_46_VALUE);
    record[RECORD_MARK_80] = 1;
    record[RECORD_MARK_81] = 4;
    record_put_be16(record + RECORD_INTERVAL, static_cast<uint16_t>(fields->ping_interval_ms));
    record[RECORD_MARK_90] = '2';
    memcpy(record + RECORD_IMAGE, fields->image, PING_IMAGE_SIZE);
}

RecordStatus record_parse(const uint8_t* bytes, RecordView* view)
{
    memset(view, 0, sizeof *view);
    get_text(view->date_text, bytes + RECORD_DATE, RECORD_DATE_SIZE);
    get_text(view->time_text, bytes + RECORD_TIME, RECORD_TIME_SIZE);
    get_text(view->hundredths_text, bytes + RECORD_HUNDREDTHS, RECORD_HUNDREDTHS_SIZE);
    view->gain = bytes[RECORD_GAIN];
    view->range_field = bytes[RECORD_RANGE];
    view->ping_interval_ms = record_get_be16(bytes + RECORD_INTERVAL);
    view->end_byte = bytes[RECORD_END];
    view->image = bytes + RECORD_IMAGE;

    for (int i = 0; i < static_cast<int>(sizeof RECORD_MAGIC_BYTES); ++i) {
        if (bytes[RECORD_MAGIC + i] != RECORD_MAGIC_BYTES[i]) {
            view->fault_offset = RECORD_MAGIC + i;
            return RECORD_BAD_MAGIC;
        }
    }
    if (record_get_be16(bytes + RECORD_LENGTH) != RECORD_SIZE) {
        view->fault_offset = RECORD_LENGTH;
        return RECORD_BAD_LENGTHS;
    }
    if (record_get_be16(bytes + RECORD_IMAGE_LENGTH) != PING_IMAGE_SIZE) {
        view->fault_offset = RECORD_IMAGE_LENGTH;
        return RECORD_BAD_LENGTHS;
    }
    if (view->end_byte != RETURN_END_BYTE) {
        view->fault_offset = RECORD_END;
        return RECORD_BAD_END_BYTE;
    }
    return RECORD_OK;
}

const char* record_status_text(RecordStatus status)
{
    switch (status) {
    case RECORD_OK: return "well-formed";
    case RECORD_BAD_MAGIC: return "bad magic (want \"QKV\" and 0x0A)";
    case RECORD_BAD_LENGTHS: return "bad length field (want 8192 and 8013)";
    case RECORD_BAD_END_BYTE: return "bad end byte (want 0xFC)";
    }
    return "unknown fault";
}
