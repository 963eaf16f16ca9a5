// Clocks: local calendar time with the offset from UTC, and wall time, both
// with milliseconds, and a monotonic clock for time limits. All in 64 bits,
// so dates after 2038 are right. The zone's rules are the C library's.
#include <time.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

void plat_local_time(PlatLocalTime* now)
{
    int utc_offset_seconds = 0;
    plat_local_time_offset(now, &utc_offset_seconds);
}

void plat_local_time_offset(PlatLocalTime* now, int* utc_offset_seconds)
{
    // One reading for the whole and the part: time() follows a coarser clock
    // that lags this one by up to a tick.
    struct timespec wall = {};
    clock_gettime(CLOCK_REALTIME, &wall);
    struct tm local = {};
    localtime_r(&wall.tv_sec, &local);
    now->year_since_1900 = local.tm_year;
    now->month = local.tm_mon;
    now->day = local.tm_mday;
    now->hour = local.tm_hour;
    now->minute = local.tm_min;
    now->second = local.tm_sec;
    now->millisecond = static_cast<int>(wall.tv_nsec / 1000000);
    *utc_offset_seconds = static_cast<int>(local.tm_gmtoff);
}

void plat_precise_time(PlatPreciseTime* now)
{
    struct timespec wall = {};
    clock_gettime(CLOCK_REALTIME, &wall);
    now->seconds = static_cast<int64_t>(wall.tv_sec);
    now->milliseconds = static_cast<int>(wall.tv_nsec / 1000000);
}

int64_t plat_monotonic_ms()
{
    struct timespec since_boot = {};
    clock_gettime(CLOCK_MONOTONIC, &since_boot);
    return static_cast<int64_t>(since_boot.tv_sec) * 1000 + since_boot.tv_nsec / 1000000;
}

bool plat_zone_instant(const PlatLocalTime* local, int summer, int64_t* seconds)
{
    struct tm broken = {};
    broken.tm_year = local->year_since_1900;
    broken.tm_mon = local->month;
    broken.tm_mday = local->day;
    broken.tm_hour = local->hour;
    broken.tm_min = local->minute;
    broken.tm_sec = local->second;
    broken.tm_isdst = summer;
    time_t instant = mktime(&broken);
    bool kept = summer < 0 || (broken.tm_hour == local->hour && broken.tm_min == local->minute &&
                               broken.tm_mday == local->day && broken.tm_isdst == summer);
    if (instant == static_cast<time_t>(-1) || !kept) return false;
    *seconds = static_cast<int64_t>(instant);
    return true;
}

void plat_zone_names(char* text, size_t size)
{
    tzset();
    if (strcmp(tzname[0], tzname[1]) == 0 || tzname[1][0] == 0) {
        snprintf(text, size, "%s", tzname[0]);
    } else {
        snprintf(text, size, "%s/%s", tzname[0], tzname[1]);
    }
}
