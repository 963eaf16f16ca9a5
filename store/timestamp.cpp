#include "store/timestamp.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const MONTH_ABBREVIATIONS[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

const char* month_abbreviation(int month)
{
    return month >= 0 && month < 12 ? MONTH_ABBREVIATIONS[month] : "???";
}

void format_date_and_time(TimestampClock* clock, const PlatLocalTime* local)
{
    snprintf(clock->date_text, sizeof clock->date_text, "%02d-%s-%04d", local->day,
             month_abbreviation(local->month), local->year_since_1900 + 1900);
    snprintf(clock->time_text, sizeof clock->time_text, "%02d:%02d:%02d", local->hour, local->minute,
             local->second);
    // Both parts are at most 19 characters, so date, two blanks and time fit in 40.
    size_t date_length = strlen(clock->date_text);
    memcpy(clock->date_time_text, clock->date_text, date_length);
    memcpy(clock->date_time_text + date_length, "  ", 2);
    memcpy(clock->date_time_text + date_length + 2, clock->time_text, strlen(clock->time_text) + 1);
}

}  // namespace

void timestamp_update(TimestampClock* clock, const PlatLocalTime* local, int milliseconds)
{
    if (!clock->updated || local->second != clock->last_second) {
        clock->updated = true;
        clock->last_second = local->second;
        format_date_and_time(clock, local);
    }
    int hundredths = milliseconds / 10;
    if (hundredths < 0 || hundredths > 99) hundredths = 0;
    snprintf(clock->hundredths_text, sizeof clock->hundredths_text, ".%02d", hundredths);
}

void timestamp_update_now(TimestampClock* clock)
{
    PlatLocalTime local;
    plat_local_time(&local);
    // A second reading: its hundredths may belong to the next second.
    PlatPreciseTime precise;
    plat_precise_time(&precise);
    timestamp_update(clock, &local, precise.milliseconds);
}
