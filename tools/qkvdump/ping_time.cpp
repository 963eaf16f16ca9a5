#include "tools/qkvdump/ping_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "store/timestamp.h"

namespace {

bool digits(const char* text, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

// mktime of a local time, summer time as told (-1: as the zone's rule has it); broken as mktime leaves it.
time_t machine_time(const NavTime* local, int summer, tm* broken)
{
    *broken = tm{};
    broken->tm_year = local->year - 1900;
    broken->tm_mon = local->month - 1;
    broken->tm_mday = local->day;
    broken->tm_hour = local->hour;
    broken->tm_min = local->minute;
    broken->tm_sec = local->second;
    broken->tm_isdst = summer;
    return mktime(broken);
}

}  // namespace

bool pingtime_from_record(const RecordView* view, int64_t* local_ms)
{
    long long since_day_zero = 0;
    if (!timestamp_parse_ms(view->date_text, view->time_text, view->hundredths_text, &since_day_zero)) return false;
    *local_ms = since_day_zero - TIMESTAMP_EPOCH_DAY * 86400000LL;
    return true;
}

bool pingtime_parse_offset(const char* text, int* offset_seconds)
{
    int hours = 0, minutes = 0;
    if ((text[0] != '+' && text[0] != '-') || !digits(text + 1, 2, &hours)) return false;
    const char* rest = text + 3;
    if (*rest == ':') ++rest;
    if (!digits(rest, 2, &minutes) || rest[2] != 0 || hours > 14 || minutes > 59) return false;
    *offset_seconds = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

void pingtime_iso_utc(int64_t utc_ms, char text[PINGTIME_ISO_SIZE])
{
    NavTime t;
    timestamp_civil_of_ms(utc_ms, &t);
    snprintf(text, PINGTIME_ISO_SIZE, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.millisecond);
}

void pingtime_offset_text(int offset_seconds, char text[PINGTIME_OFFSET_SIZE])
{
    int magnitude = abs(offset_seconds);
    snprintf(text, PINGTIME_OFFSET_SIZE, "%c%02d:%02d", offset_seconds < 0 ? '-' : '+', magnitude / 3600,
             magnitude / 60 % 60);
}

int64_t pingtime_machine_utc(int64_t local_ms, const int64_t* previous_utc_ms, PingTimeZoneMinute* memo)
{
    int64_t minute = local_ms - ((local_ms % 60000) + 60000) % 60000;
    if (!memo->known || memo->minute != minute) {
        *memo = PingTimeZoneMinute{true, minute, 0, {0, 0}};
        NavTime local;
        timestamp_civil_of_ms(minute, &local);
        // The minute read as standard time and as summer time: each a reading where the zone has that local time.
        for (int summer = 0; summer <= 1; ++summer) {
            tm broken;
            time_t utc = machine_time(&local, summer, &broken);
            bool kept = broken.tm_hour == local.hour && broken.tm_min == local.minute && broken.tm_mday == local.day &&
                        broken.tm_isdst == summer;
            if (utc == static_cast<time_t>(-1) || !kept) continue;
            int64_t offset = minute - static_cast<int64_t>(utc) * 1000;
            if (memo->readings == 1 && memo->offsets_ms[0] == offset) continue;
            memo->offsets_ms[memo->readings++] = offset;
        }
        if (memo->readings == 2 && memo->offsets_ms[1] > memo->offsets_ms[0]) {
            int64_t later = memo->offsets_ms[0];  // the larger offset is the earlier instant
            memo->offsets_ms[0] = memo->offsets_ms[1];
            memo->offsets_ms[1] = later;
        }
        if (memo->readings == 0) {
            // No such local time (the hour skipped in spring): the C library's rule decides.
            tm broken;
            time_t utc = machine_time(&local, -1, &broken);
            memo->offsets_ms[0] = utc == static_cast<time_t>(-1) ? 0 : minute - static_cast<int64_t>(utc) * 1000;
        }
    }
    int64_t first = local_ms - memo->offsets_ms[0];
    if (memo->readings < 2) return first;
    int64_t second = local_ms - memo->offsets_ms[1];
    bool stepped_back = previous_utc_ms != nullptr && first < *previous_utc_ms - (second - first) / 4;
    return stepped_back ? second : first;
}

void pingtime_machine_zone(char* text, int size)
{
    tzset();
    if (strcmp(tzname[0], tzname[1]) == 0 || tzname[1][0] == 0) {
        snprintf(text, static_cast<size_t>(size), "%s", tzname[0]);
    } else {
        snprintf(text, static_cast<size_t>(size), "%s/%s", tzname[0], tzname[1]);
    }
}
