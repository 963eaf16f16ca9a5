// Clocks: local calendar time with the offset from UTC, and wall time, both
// with milliseconds, and a monotonic clock for time limits. All in 64 bits,
// so dates after 2038 are right.
// GetTickCount64 is missing before Vista and GetTickCount wraps after 49.7
// days, so the monotonic clock counts with the performance counter. The
// zone's rules for a time of the past are the C runtime's, as on POSIX (TZ
// where it is set, else the system's zone).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace {

// FILETIME counts 100 ns steps since 1 January 1601; Unix time starts in 1970.
const int64_t FILETIME_STEPS_PER_SECOND = 10000000;
const int64_t FILETIME_STEPS_PER_MS = 10000;
const int64_t FILETIME_AT_1970 = 116444736000000000LL;

int64_t filetime_steps(const FILETIME& time)
{
    ULARGE_INTEGER steps;
    steps.LowPart = time.dwLowDateTime;
    steps.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(steps.QuadPart);
}

}  // namespace

void plat_local_time(PlatLocalTime* now)
{
    int utc_offset_seconds = 0;
    plat_local_time_offset(now, &utc_offset_seconds);
}

// One reading of the system clock, turned into local time with the bias in
// force now, as GetLocalTime does; the offset is the difference of the two.
void plat_local_time_offset(PlatLocalTime* now, int* utc_offset_seconds)
{
    FILETIME wall;
    FILETIME local_steps;
    GetSystemTimeAsFileTime(&wall);
    if (!FileTimeToLocalFileTime(&wall, &local_steps)) local_steps = wall;
    SYSTEMTIME local;
    FileTimeToSystemTime(&local_steps, &local);
    now->year_since_1900 = local.wYear - 1900;
    now->month = local.wMonth - 1;
    now->day = local.wDay;
    now->hour = local.wHour;
    now->minute = local.wMinute;
    now->second = local.wSecond;
    now->millisecond = local.wMilliseconds;
    *utc_offset_seconds = static_cast<int>((filetime_steps(local_steps) - filetime_steps(wall)) / FILETIME_STEPS_PER_SECOND);
}

void plat_precise_time(PlatPreciseTime* now)
{
    FILETIME wall;
    GetSystemTimeAsFileTime(&wall);
    int64_t since_1970 = filetime_steps(wall) - FILETIME_AT_1970;
    now->seconds = since_1970 / FILETIME_STEPS_PER_SECOND;
    now->milliseconds = static_cast<int>(since_1970 % FILETIME_STEPS_PER_SECOND / FILETIME_STEPS_PER_MS);
}

int64_t plat_monotonic_ms()
{
    static LARGE_INTEGER frequency;  // fixed at boot; asked once
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Split before scaling so that the product cannot overflow after long uptimes.
    int64_t whole_seconds = counter.QuadPart / frequency.QuadPart;
    int64_t rest = counter.QuadPart % frequency.QuadPart;
    return whole_seconds * 1000 + rest * 1000 / frequency.QuadPart;
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
