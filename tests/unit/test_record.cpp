// The ping record, byte for byte, and its parser.
#include <gtest/gtest.h>

#include <cstring>

#include "store/record.h"

namespace {

// A ping image as the assembly leaves it: packet 7's header, eight slots, the end byte.
struct SampleRecord {
    uint8_t image[PING_IMAGE_SIZE];
    uint8_t record[RECORD_SIZE];
    RecordFields fields;

    SampleRecord()
    {
        for (int i = 0; i < PING_IMAGE_SIZE; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
        const uint8_t header[RETURN_HEADER_SIZE] = {0x49, 0x55, 0x58, 0x12, 0x00, 0x07, 0x21, 0x00, 0x40, 0x1F, 0x00, 0x05};
        memcpy(image, header, sizeof header);
        image[PING_IMAGE_END] = RETURN_END_BYTE;
        fields = RecordFields{"07-DEC-2026", "09:05:00", ".37", 7, 40 * 6, 0, image};
        memset(record, 0xEE, sizeof record);
        record_build(record, &fields);
    }
};

}  // namespace

// The fixed part of the record holds exactly the listed bytes; all the others are 0.
TEST(RecordLayout, FixedPartByteForByte)
{
    SampleRecord sample;
    const uint8_t expected[100] = {
        'Q', 'K', 'V', 0x0A, 0x20, 0x00, 0x1F, 0x4D,
        '0', '7', '-', 'D', 'E', 'C', '-', '2', '0', '2', '6', 0,
        '0', '9', ':', '0', '5', ':', '0', '0', 0,
        '.', '3', '7',
        0, 0, 0, 0, 0, 0x80, 7, 0, 0, 0, 10, 0, 24, 0, 0xBA, 0x98,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        1, 4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x32, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 100; ++i) EXPECT_EQ(expected[i], sample.record[i]) << "byte " << i;
}

// Bytes 100 to 8112 are the ping image, packet 7's header first and 0xFC last; the rest is 0.
TEST(RecordLayout, ImageAndTail)
{
    SampleRecord sample;
    EXPECT_EQ(0, memcmp(sample.record + 100, sample.image, PING_IMAGE_SIZE));
    const uint8_t header[] = {0x49, 0x55, 0x58, 0x12, 0x00, 0x07, 0x21, 0x00, 0x40, 0x1F, 0x00, 0x05};
    EXPECT_EQ(0, memcmp(sample.record + 100, header, sizeof header));
    EXPECT_EQ(0xFC, sample.record[8112]);
    for (int i = 8113; i < RECORD_SIZE; ++i) ASSERT_EQ(0, sample.record[i]) << "byte " << i;
}

// The interval is big-endian in bytes 88 and 89; the range byte is the range by six over ten.
TEST(RecordLayout, IntervalAndRangeFields)
{
    SampleRecord sample;
    sample.fields.ping_interval_ms = 2000;
    sample.fields.range_by_six = 100 * 6;
    sample.fields.gain = 20;
    record_build(sample.record, &sample.fields);
    EXPECT_EQ(0x07, sample.record[88]);
    EXPECT_EQ(0xD0, sample.record[89]);
    EXPECT_EQ(60, sample.record[44]);
    EXPECT_EQ(20, sample.record[38]);
}

// Empty texts (a clock never updated) leave their bytes 0 and never read past the text.
TEST(RecordLayout, EmptyTextsStayZero)
{
    SampleRecord sample;
    sample.fields.date_text = "";
    sample.fields.time_text = "";
    sample.fields.hundredths_text = "";
    record_build(sample.record, &sample.fields);
    for (int i = 8; i < 32; ++i) EXPECT_EQ(0, sample.record[i]) << "byte " << i;
}

// Parsing a built record gives back every field.
TEST(RecordParse, RoundTrip)
{
    SampleRecord sample;
    sample.fields.ping_interval_ms = 150;
    record_build(sample.record, &sample.fields);
    RecordView view;
    ASSERT_EQ(RECORD_OK, record_parse(sample.record, &view));
    EXPECT_STREQ("07-DEC-2026", view.date_text);
    EXPECT_STREQ("09:05:00", view.time_text);
    EXPECT_STREQ(".37", view.hundredths_text);
    EXPECT_EQ(7, view.gain);
    EXPECT_EQ(24, view.range_field);
    EXPECT_EQ(150, view.ping_interval_ms);
    EXPECT_EQ(0xFC, view.end_byte);
    EXPECT_EQ(0, memcmp(sample.image, view.image, PING_IMAGE_SIZE));
}

// Each malformed field is named with the offset of its first bad byte.
TEST(RecordParse, NamesTheBadField)
{
    struct Case {
        int offset;
        uint8_t value;
        RecordStatus status;
    };
    const Case cases[] = {
        {0, 'q', RECORD_BAD_MAGIC},     {2, 'W', RECORD_BAD_MAGIC},    {3, 0x0D, RECORD_BAD_MAGIC},
        {5, 0x01, RECORD_BAD_LENGTHS},  {6, 0x00, RECORD_BAD_LENGTHS}, {8112, 0x00, RECORD_BAD_END_BYTE},
    };
    for (const Case& bad : cases) {
        SampleRecord sample;
        sample.record[bad.offset] = bad.value;
        RecordView view;
        EXPECT_EQ(bad.status, record_parse(sample.record, &view)) << "offset " << bad.offset;
        EXPECT_EQ(bad.offset == 5 ? 4 : bad.offset, view.fault_offset);
        EXPECT_STRNE("well-formed", record_status_text(bad.status));
    }
}

// Unterminated texts in a damaged record are cut at their field's width.
TEST(RecordParse, TextsAlwaysTerminated)
{
    SampleRecord sample;
    memset(sample.record + 8, 'A', 24);
    RecordView view;
    ASSERT_EQ(RECORD_OK, record_parse(sample.record, &view));
    EXPECT_EQ(12u, strlen(view.date_text));
    EXPECT_EQ(9u, strlen(view.time_text));
    EXPECT_EQ(3u, strlen(view.hundredths_text));
}
