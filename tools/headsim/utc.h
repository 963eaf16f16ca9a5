// UTC calendar fields of a time in seconds since 1970, for the texts headsim
// stamps (the track's sentences, the truth file), without the C library's
// time zone machinery.
#pragma once

#include <cstdint>

#include "store/timestamp.h"

struct UtcFields {
    int year, month, day;  // month 1 to 12
    int hour, minute, second;
};

inline void headsim_utc_fields(int64_t seconds, UtcFields* fields)
{
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t of_day = seconds - days * 86400;
    fields->hour = static_cast<int>(of_day / 3600);
    fields->minute = static_cast<int>(of_day / 60 % 60);
    fields->second = static_cast<int>(of_day % 60);
    timestamp_date_of_day(days, &fields->year, &fields->month, &fields->day);
}
