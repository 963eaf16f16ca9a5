// Checks any bytes as a data file, parses any bytes as a record, and parses
// records built from any field values. The record fields and the read that
// fails come from the end of the input, the data file is what is left at its front.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "store/scan.h"
#include "store/record.h"

namespace {

constexpr int TEXT_MAX_LENGTH = 16;
constexpr int READS_MAX = 8;

struct MemoryFile {
    const uint8_t* bytes;
    size_t length;
    size_t position;
    int reads;
    int failing_read;  // 1 for the first read; 0 when no read fails
};

FILE* null_output;
Scanner scanner;
uint8_t built[RECORD_SIZE];
uint8_t image[PING_IMAGE_SIZE];

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

long read_memory(void* source, uint8_t* bytes, size_t count)
{
    MemoryFile* file = static_cast<MemoryFile*>(source);
    if (++file->reads == file->failing_read) return -1;
    size_t left = file->length - file->position;
    size_t got = count < left ? count : left;
    memcpy(bytes, file->bytes + file->position, got);
    file->position += got;
    return static_cast<long>(got);
}

void take_text(FuzzedDataProvider* fuzz, char* text)
{
    int length = fuzz->ConsumeIntegralInRange<int>(0, TEXT_MAX_LENGTH);
    for (int i = 0; i < length; ++i) text[i] = static_cast<char>(fuzz->ConsumeIntegral<uint8_t>());
    text[length] = 0;
}

// A parsed text is the written one, cut at the field's size.
bool same_text(const char* parsed, const char* written, size_t size)
{
    return strlen(parsed) <= size && strncmp(parsed, written, size) == 0;
}

// Any field values make a record that parses well-formed and reads back as built.
void round_trip_record(FuzzedDataProvider* fuzz)
{
    char date_text[TEXT_MAX_LENGTH + 1];
    char time_text[TEXT_MAX_LENGTH + 1];
    char hundredths_text[TEXT_MAX_LENGTH + 1];
    take_text(fuzz, date_text);
    take_text(fuzz, time_text);
    take_text(fuzz, hundredths_text);
    RecordFields fields = {date_text, time_text, hundredths_text, fuzz->ConsumeIntegral<int>(),
                           fuzz->ConsumeIntegral<int>(), fuzz->ConsumeIntegral<int>(), image};
    memset(image, fuzz->ConsumeIntegral<uint8_t>(), sizeof image);
    image[PING_IMAGE_END] = RETURN_END_BYTE;  // as every completed ping has it

    record_build(built, &fields);
    RecordView view;
    require(record_parse(built, &view) == RECORD_OK);
    require(same_text(view.date_text, date_text, RECORD_DATE_SIZE));
    require(same_text(view.time_text, time_text, RECORD_TIME_SIZE));
    require(same_text(view.hundredths_text, hundredths_text, RECORD_HUNDREDTHS_SIZE));
    require(view.gain == static_cast<uint8_t>(fields.gain));
    require(view.range_field == static_cast<uint8_t>(range_by_six_code(fields.range_by_six)));
    require(view.ping_interval_ms == static_cast<uint16_t>(fields.ping_interval_ms));
    require(view.end_byte == RETURN_END_BYTE);
    require(memcmp(view.image, image, sizeof image) == 0);
}

// Any 8192 bytes parse without reading past them, with terminated texts and
// a fault offset inside the record.
void parse_any_record(const uint8_t* data, size_t length)
{
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[RECORD_SIZE]());
    memcpy(bytes.get(), data, length < RECORD_SIZE ? length : RECORD_SIZE);
    RecordView view;
    RecordStatus status = record_parse(bytes.get(), &view);
    require(strlen(view.date_text) <= RECORD_DATE_SIZE && strlen(view.time_text) <= RECORD_TIME_SIZE &&
            strlen(view.hundredths_text) <= RECORD_HUNDREDTHS_SIZE);
    require(view.fault_offset >= 0 && view.fault_offset < RECORD_SIZE);
    require((status == RECORD_OK) == (view.fault_offset == 0 && view.end_byte == RETURN_END_BYTE &&
                                      memcmp(bytes.get(), RECORD_MAGIC_BYTES, sizeof RECORD_MAGIC_BYTES) == 0));
    require(record_status_text(status) != nullptr);
}

// The tally accounts for every byte read, and the verdict follows from it.
void scan_any_file(const uint8_t* data, size_t length, int failing_read, ScanFormat format)
{
    MemoryFile file = {data, length, 0, 0, failing_read};
    scanner.format = format;
    scanner.out = null_output;
    scanner.messages = null_output;
    if (format == SCAN_CSV) scan_csv_header(&scanner, nullptr);
    ScanTally tally;
    bool whole = scan_file(&scanner, "fuzzed.qkv", read_memory, &file, &tally);
    require(tally.records >= 0 && tally.malformed >= 0 && tally.malformed <= tally.records);
    require(tally.tail_bytes >= 0 && tally.tail_bytes < RECORD_SIZE);
    require(static_cast<size_t>(tally.records) * RECORD_SIZE + static_cast<size_t>(tally.tail_bytes) ==
            file.position);
    require(tally.read_failed == (failing_read != 0 && failing_read <= file.reads));
    require(whole == (tally.malformed == 0 && tally.tail_bytes == 0 && !tally.read_failed));
    if (!tally.read_failed) require(file.position == length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    null_output = fopen("/dev/null", "w");
    require(null_output != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider fuzz(data, size);
    int failing_read = fuzz.ConsumeIntegralInRange<int>(0, READS_MAX);
    ScanFormat format = static_cast<ScanFormat>(fuzz.ConsumeIntegralInRange<int>(SCAN_TEXT, SCAN_SUMMARY));
    scanner.samples = fuzz.ConsumeBool();
    round_trip_record(&fuzz);
    size_t length = fuzz.remaining_bytes();
    parse_any_record(data, length);
    scan_any_file(data, length, failing_read, format);
    return 0;
}
