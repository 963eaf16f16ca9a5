// UTC calendar fields of a time in seconds since 1970, for the texts headsim
// stamps (the track's sentences, the truth file), without the C library's
// time zone machinery.
#pragma once

#include <cstdint>

struct UtcFields {
    int year, month, day;  // month 1 to 12
    int hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
inline void headsim_utc_fields(int64_t seconds, UtcFields* fields)
{
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t of_day = seconds - days * 86400;
    fields->hour = static_cast<int>(of_day / 3600);
    fields->minute = static_cast<int>(of_day / 60 % 60);
    fields->second = static_cast<int>(of_day % 60);
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t of_era = days - era * 146097;
    int64_t year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
    int64_t day_of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t month_index = (5 * day_of_year + 2) / 153;
    fields->day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    fields->month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    fields->year = static_cast<int>(year_of_era + era * 400 + (fields->month <= 2 ? 1 : 0));
}
