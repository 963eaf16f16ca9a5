// The timestamp clock: the local date and time of the current loop pass as
// the texts that name the data file and go into every ping record.
#pragma once

#include "platform/platform.h"

struct TimestampClock {
    char date_text[20];        // "07-DEC-2026"
    char time_text[20];        // "09:05:00"
    char date_time_text[40];   // "07-DEC-2026  09:05:00"
    char hundredths_text[8];   // ".37"
    int last_second;           // seconds field of the last formatting of the three texts above
    bool updated;              // false until the first update
};

// Formats the texts from one local time and the milliseconds of a second
// reading. Date, time and date-time are reformatted only when the seconds
// field differs from last_second (or on the first update); the hundredths
// always.
void timestamp_update(TimestampClock* clock, const PlatLocalTime* local, int milliseconds);
// Reads the local time, then the precise time, and updates the clock.
void timestamp_update_now(TimestampClock* clock);
// Reads a record's date, time and hundredths texts back as milliseconds since
// a fixed day; false when they are not in the form this clock writes.
bool timestamp_parse_ms(const char* date_text, const char* time_text, const char* hundredths_text,
                        long long* milliseconds);
