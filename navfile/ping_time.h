// Times of pings and fixes: a record's date and time texts are the
// acquisition computer's local time; with the UTC offset then in force they
// give the absolute time, kept as milliseconds since 1970-01-01 00:00 UTC
// (civil times read as UTC, store/timestamp.h).
#pragma once

#include <cstdint>

#include "navfile/nav_line.h"
#include "store/record.h"

// The record's local date and time texts as milliseconds since 1970-01-01
// read as UTC; false when the texts are not such.
bool pingtime_from_record(const RecordView* view, int64_t* local_ms);
// "+01:00", "-05:30" or "+0100": seconds east of Greenwich; false for anything else.
bool pingtime_parse_offset(const char* text, int* offset_seconds);
// "2026-12-08T08:05:00.370Z".
constexpr int PINGTIME_ISO_SIZE = 48;  // room for any year the arithmetic gives
void pingtime_iso_utc(int64_t utc_ms, char text[PINGTIME_ISO_SIZE]);
// "+01:00".
constexpr int PINGTIME_OFFSET_SIZE = 16;
void pingtime_offset_text(int offset_seconds, char text[PINGTIME_OFFSET_SIZE]);

// The UTC time of a local time of the computer's own time zone, in
// milliseconds read as UTC (the C library's, so the summer time rule of that
// day applies). In the hour that comes twice when the zone leaves summer
// time, the first pass, unless the pings' times stepped back into the second:
// previous_utc_ms, when given, is the ping before's UTC time, and the first
// pass would put this one a quarter of the change or more before it.
// The zone's readings of one local minute, kept for the pings after it: the
// C library's conversion is slow, and a zone's clocks change on a minute.
struct PingTimeZoneMinute {
    bool known;
    int64_t minute;        // local milliseconds read as UTC, of the minute's start
    int readings;          // 0 (a minute skipped in spring), 1, or 2 (a minute that comes twice)
    int64_t offsets_ms[2]; // local less UTC of each reading, the first pass first
};
int64_t pingtime_machine_utc(int64_t local_ms, const int64_t* previous_utc_ms, PingTimeZoneMinute* memo);
