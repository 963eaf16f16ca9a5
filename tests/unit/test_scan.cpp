// The data-file check behind qkvdump: record lines, summaries and the faults it names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store/scan.h"

namespace {

// File bytes served in the reads the scanner asks for, with an optional read error.
struct MemorySource {
    std::string bytes;
    size_t at = 0;
    size_t fail_at = std::string::npos;
};

long read_memory(void* source, uint8_t* bytes, size_t count)
{
    MemorySource* memory = static_cast<MemorySource*>(source);
    if (memory->at >= memory->fail_at) return -1;
    size_t got = std::min(count, memory->bytes.size() - memory->at);
    memcpy(bytes, memory->bytes.data() + memory->at, got);
    memory->at += got;
    return static_cast<long>(got);
}

std::string sample_record(int interval_ms, const uint8_t* samples = nullptr)
{
    static uint8_t image[PING_IMAGE_SIZE];
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) image[PING_IMAGE_SAMPLES + i] = samples ? samples[i] : 0;
    RecordFields fields{"07-DEC-2026", "09:05:00", ".37", 7, 240, interval_ms, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<char*>(record), RECORD_SIZE);
}

std::string sample_file(int records)
{
    std::string bytes;
    for (int i = 0; i < records; ++i) bytes += sample_record(i * 10);
    return bytes;
}

class DataFileScan : public ::testing::Test {
protected:
    static Scanner scanner;
    char* out_text = nullptr;
    size_t out_size = 0;
    char* messages_text = nullptr;
    size_t messages_size = 0;
    ScanTally tally = {};
    std::string out;
    std::string messages;

    bool scan(MemorySource* source, ScanFormat format)
    {
        scanner.format = format;
        scanner.out = open_memstream(&out_text, &out_size);
        scanner.messages = open_memstream(&messages_text, &messages_size);
        if (format == SCAN_CSV) scan_csv_header(&scanner, nullptr);
        bool whole = scan_file(&scanner, "day.QKV", read_memory, source, &tally);
        fclose(scanner.out);
        fclose(scanner.messages);
        out = out_text;
        messages = messages_text;
        free(out_text);
        free(messages_text);
        return whole;
    }
};

Scanner DataFileScan::scanner;

}  // namespace

// A good file lists every record and a clean summary, with nothing on the message stream.
TEST_F(DataFileScan, GoodFile)
{
    MemorySource source{sample_file(3)};
    EXPECT_TRUE(scan(&source, SCAN_TEXT));
    EXPECT_EQ(3, tally.records);
    EXPECT_EQ("record 1: 07-DEC-2026 09:05:00.37  gain 7 dB  range 24  interval 0 ms  end 0xFC\n"
              "record 2: 07-DEC-2026 09:05:00.37  gain 7 dB  range 24  interval 10 ms  end 0xFC\n"
              "record 3: 07-DEC-2026 09:05:00.37  gain 7 dB  range 24  interval 20 ms  end 0xFC\n"
              "day.QKV: 3 records (24576 bytes), all well-formed\n",
              out);
    EXPECT_EQ("", messages);
}

// An empty file is a whole number (none) of records.
TEST_F(DataFileScan, EmptyFileIsWhole)
{
    MemorySource source{""};
    EXPECT_TRUE(scan(&source, SCAN_TEXT));
    EXPECT_EQ("day.QKV: 0 records (0 bytes), all well-formed\n", out);
}

// A torn tail: the whole records are listed and the tail is reported with its size.
TEST_F(DataFileScan, TornTail)
{
    MemorySource source{sample_file(2) + sample_record(0).substr(0, 100)};
    EXPECT_FALSE(scan(&source, SCAN_TEXT));
    EXPECT_EQ(2, tally.records);
    EXPECT_EQ(100, tally.tail_bytes);
    EXPECT_NE(std::string::npos, out.find("record 2: "));
    EXPECT_NE(std::string::npos, out.find("day.QKV: 2 records (16384 bytes), torn tail of 100 bytes\n"));
    EXPECT_EQ("day.QKV: torn tail: 100 bytes after record 2 (byte offset 16384)\n", messages);
}

// A bad magic in record 3 is named with its byte offset; the records around it are still listed.
TEST_F(DataFileScan, BadMagicInRecordThree)
{
    MemorySource source{sample_file(4)};
    source.bytes[2 * RECORD_SIZE + 1] = 'X';
    EXPECT_FALSE(scan(&source, SCAN_TEXT));
    EXPECT_EQ(4, tally.records);
    EXPECT_EQ(1, tally.malformed);
    EXPECT_EQ(std::string::npos, out.find("record 3: "));
    EXPECT_NE(std::string::npos, out.find("record 4: "));
    EXPECT_NE(std::string::npos, out.find(", 1 malformed\n"));
    EXPECT_EQ(0u, messages.find("day.QKV: record 3 is malformed at byte offset 16385: bad magic"));
}

// A bad end byte and a bad length field are named at their own offsets.
TEST_F(DataFileScan, BadEndByteAndLength)
{
    MemorySource source{sample_file(2)};
    source.bytes[RECORD_END] = 0;
    source.bytes[RECORD_SIZE + RECORD_IMAGE_LENGTH + 1] = 0;
    EXPECT_FALSE(scan(&source, SCAN_TEXT));
    EXPECT_NE(std::string::npos, messages.find("record 1 is malformed at byte offset 8112: bad end byte"));
    EXPECT_NE(std::string::npos, messages.find("record 2 is malformed at byte offset 8198: bad length"));
}

// CSV: a header and one row per record on the output; the summary goes to the messages. A date or time text
// holding a comma or a quote is quoted, so the columns stay where they are; one a spreadsheet would evaluate as a
// formula starts with an apostrophe.
TEST_F(DataFileScan, Csv)
{
    MemorySource source{sample_file(4)};
    source.bytes[2 * RECORD_SIZE + RECORD_DATE + 2] = ',';
    source.bytes[2 * RECORD_SIZE + RECORD_TIME + 2] = '"';
    source.bytes[3 * RECORD_SIZE + RECORD_DATE] = '=';
    source.bytes[3 * RECORD_SIZE + RECORD_TIME] = '+';
    source.bytes[3 * RECORD_SIZE + RECORD_TIME + 2] = ',';
    EXPECT_TRUE(scan(&source, SCAN_CSV));
    EXPECT_EQ("file,record,date,time,gain_db,range_field,interval_ms,end_byte\n"
              "day.QKV,1,07-DEC-2026,09:05:00.37,7,24,0,0xFC\n"
              "day.QKV,2,07-DEC-2026,09:05:00.37,7,24,10,0xFC\n"
              "day.QKV,3,\"07,DEC-2026\",\"09\"\"05:00.37\",7,24,20,0xFC\n"
              "day.QKV,4,'=7-DEC-2026,\"'+9,05:00.37\",7,24,30,0xFC\n",
              out);
    EXPECT_EQ("day.QKV: 4 records (32768 bytes), all well-formed\n", messages);
}

// With the samples, the header names s0 to s7999 and each row ends in its record's data bytes, slot 0 first.
TEST_F(DataFileScan, CsvSamples)
{
    uint8_t samples[PING_SAMPLE_COUNT];
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) samples[i] = static_cast<uint8_t>(i * 37 + i / 256);
    MemorySource source{sample_record(0, samples) + sample_record(10)};
    scanner.samples = true;
    bool whole = scan(&source, SCAN_CSV);
    scanner.samples = false;
    EXPECT_TRUE(whole);
    std::string header = "file,record,date,time,gain_db,range_field,interval_ms,end_byte";
    std::string first = "day.QKV,1,07-DEC-2026,09:05:00.37,7,24,0,0xFC";
    std::string second = "day.QKV,2,07-DEC-2026,09:05:00.37,7,24,10,0xFC";
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
        header += ",s" + std::to_string(i);
        first += "," + std::to_string(samples[i]);
        second += ",0";
    }
    EXPECT_EQ(header + "\n" + first + "\n" + second + "\n", out);
}

// A read error stops the listing with a message and fails the file.
TEST_F(DataFileScan, ReadError)
{
    MemorySource source{sample_file(3)};
    source.fail_at = 2 * RECORD_SIZE;
    EXPECT_FALSE(scan(&source, SCAN_TEXT));
    EXPECT_EQ(2, tally.records);
    EXPECT_EQ("day.QKV: read error after record 2 (byte offset 16384)\n", messages);
}

// Garbage in the texts of a record is shown as '?', never as raw control bytes.
TEST_F(DataFileScan, GarbageTextsArePrintable)
{
    MemorySource source{sample_file(1)};
    source.bytes[RECORD_DATE] = '\n';
    source.bytes[RECORD_TIME] = static_cast<char>(0xFF);
    EXPECT_TRUE(scan(&source, SCAN_TEXT));
    EXPECT_EQ(0u, out.find("record 1: ?7-DEC-2026 ?9:05:00.37"));
}
