#include "navfile/nav_line.h"

#include <cstdio>
#include <cstring>

#include "store/naming.h"
#include "store/timestamp.h"

const char NAVFILE_FILE_SUFFIX[] = ".NAV";

namespace {

// The day's part of a data file name: the characters before "-NNNN".
constexpr int DAY_STEM_LENGTH = NAME_NUMBER_AT - 1;
constexpr int TIME_ZONE_AT = 23;  // the offset's sign, after "2026-12-08T09:05:00.123"

// What snprintf put into size bytes: all it wrote, or what fitted.
size_t put(int count, size_t size)
{
    if (count < 0) return 0;
    return static_cast<size_t>(count) < size ? static_cast<size_t>(count) : size - 1;
}

bool digits(const char* text, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

bool plausible(const NavTime* t)
{
    return t->month >= 1 && t->month <= 12 && t->day >= 1 && t->day <= 31 && t->hour <= 23 && t->minute <= 59 &&
           t->second <= 60;
}

}  // namespace

size_t navfile_time_text(const NavTime* time, char text[NAVFILE_TIME_TEXT_SIZE])
{
    int offset = time->utc_offset_seconds;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    size_t length = put(snprintf(text, NAVFILE_TIME_TEXT_SIZE, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                                 time->year, time->month, time->day, time->hour, time->minute, time->second,
                                 time->millisecond, sign, offset / 3600, offset / 60 % 60),
                        NAVFILE_TIME_TEXT_SIZE);
    if (offset % 60 != 0) {
        size_t room = NAVFILE_TIME_TEXT_SIZE - length;
        length += put(snprintf(text + length, room, ":%02d", offset % 60), room);
    }
    return length;
}

size_t navfile_line(const NavTime* time, const char* sentence, char line[NAVFILE_LINE_SIZE])
{
    size_t length = navfile_time_text(time, line);
    size_t room = NAVFILE_LINE_SIZE - length;
    return length + put(snprintf(line + length, room, " %s\n", sentence), room);
}

void navfile_file_name(const NavTime* time, char name[NAVFILE_NAME_SIZE])
{
    PlatLocalTime local = {time->year - 1900, time->month - 1, time->day, time->hour, time->minute, time->second, 0};
    TimestampClock clock = {};
    timestamp_update(&clock, &local);
    char pattern[DATA_NAME_SIZE];
    naming_pattern(pattern, clock.date_time_text);
    snprintf(name, NAVFILE_NAME_SIZE, "%.*s%s", DAY_STEM_LENGTH, pattern, NAVFILE_FILE_SUFFIX);
}

bool navfile_same_day(const NavTime* a, const NavTime* b)
{
    return a->year == b->year && a->month == b->month && a->day == b->day;
}

bool navfile_time_parse(const char* text, NavTime* time, const char** end)
{
    NavTime t = {};
    if (!digits(text, 4, &t.year) || text[4] != '-' || !digits(text + 5, 2, &t.month) || text[7] != '-' ||
        !digits(text + 8, 2, &t.day) || text[10] != 'T' || !digits(text + 11, 2, &t.hour) || text[13] != ':' ||
        !digits(text + 14, 2, &t.minute) || text[16] != ':' || !digits(text + 17, 2, &t.second) ||
        text[19] != '.' || !digits(text + 20, 3, &t.millisecond) || !plausible(&t)) {
        return false;
    }
    const char* zone = text + TIME_ZONE_AT;
    int hours = 0, minutes = 0, seconds = 0;
    if ((zone[0] != '+' && zone[0] != '-') || !digits(zone + 1, 2, &hours) || zone[3] != ':' ||
        !digits(zone + 4, 2, &minutes)) {
        return false;
    }
    const char* after = zone + 6;
    if (after[0] == ':' && digits(after + 1, 2, &seconds)) after += 3;  // a zone whose offset has seconds
    t.utc_offset_seconds = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60 + seconds);
    *time = t;
    *end = after;
    return true;
}

bool navfile_line_split(const char* line, NavTime* time, const char** sentence)
{
    const char* end = nullptr;
    if (!navfile_time_parse(line, time, &end) || *end != ' ') return false;
    *sentence = end + 1;
    return nmea_check(*sentence, strlen(*sentence)) == NMEA_GOOD;
}
