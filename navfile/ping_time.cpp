#include "navfile/ping_time.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
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

// The UTC instant of a local time of the computer's zone, read as standard time (summer 0), summer time (1) or as
// the zone's rule has it (-1), in milliseconds; false for none.
bool machine_instant(const CivilTime* local, int summer, int64_t* utc_ms)
{
    PlatLocalTime at = {local->year - 1900, local->month - 1, local->day, local->hour, local->minute, local->second, 0};
    int64_t seconds = 0;
    if (!plat_zone_instant(&at, summer, &seconds)) return false;
    *utc_ms = seconds * 1000;
    return true;
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
        CivilTime local;
        timestamp_civil_of_ms(minute, &local);
        // The minute read as standard time and as summer time: each a reading where the zone has that local time.
        for (int summer = 0; summer <= 1; ++summer) {
            int64_t utc_ms = 0;
            if (!machine_instant(&local, summer, &utc_ms)) continue;
            int64_t offset = minute - utc_ms;
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
            int64_t utc_ms = 0;
            memo->offsets_ms[0] = machine_instant(&local, -1, &utc_ms) ? minute - utc_ms : 0;
        }
    }
    int64_t first = local_ms - memo->offsets_ms[0];
    if (memo->readings < 2) return first;
    int64_t second = local_ms - memo->offsets_ms[1];
    bool stepped_back = previous_utc_ms != nullptr && first < *previous_utc_ms - (second - first) / 4;
    return stepped_back ? second : first;
}
