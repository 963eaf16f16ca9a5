// The timestamp clock: the local date and time of the current loop pass as
// the texts that name the data file and go into every ping record.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct TimestampClock {
    char date_text[20];        // "07-DEC-2026"
    char time_text[20];        // "09:05:00"
    char date_time_text[40];   // "07-DEC-2026  09:05:00"
    char hundredths_text[8];   // ".37"
    PlatLocalTime formatted;   // the calendar second the three texts above show
    bool updated;              // false until the first update
};

// Formats the texts from one local time. Date, time and date-time are
// reformatted when its calendar second differs from the one they show (or on
// the first update), however many minutes or days lie between; the
// hundredths always.
void timestamp_update(TimestampClock* clock, const PlatLocalTime* local);
// Reads the local time once and updates the clock from it.
void timestamp_update_now(TimestampClock* clock);
// 1970-01-01 as counted by timestamp_parse_ms: days from 1 March of year 0.
constexpr long long TIMESTAMP_EPOCH_DAY = 719468;
// The calendar date of a day counted from 1970-01-01 (before it negative), in
// the proleptic Gregorian calendar; month 1 to 12. The one home of the
// calendar's arithmetic, for every tool that writes or reads a date.
void timestamp_date_of_day(long long days_since_1970, int* year, int* month, int* day);
// The day counted from 1970-01-01 of a calendar date, month 1 to 12: timestamp_date_of_day backwards.
long long timestamp_day_of_date(int year, int month, int day);

// A civil time, as a calendar and a clock show it, of no zone of its own: UTC,
// or a local time the caller knows the offset of.
struct CivilTime {
    int year;
    int month;  // 1 = January
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};
// Milliseconds since 1970-01-01 00:00 of the civil time read as UTC.
int64_t timestamp_civil_ms(const CivilTime* time);
// The civil time of milliseconds since 1970-01-01 00:00 read as UTC (before it negative): timestamp_civil_ms
// backwards.
void timestamp_civil_of_ms(int64_t ms, CivilTime* time);
// Reads a record's date, time and hundredths texts back as milliseconds since
// a fixed day; false when they are not in the form this clock writes.
bool timestamp_parse_ms(const char* date_text, const char* time_text, const char* hundredths_text,
                        long long* milliseconds);
