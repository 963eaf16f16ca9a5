#include "tools/navlog/navlog_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "store/naming.h"
#include "store/timestamp.h"

const char NAVLOG_FILE_SUFFIX[] = ".NAV";

namespace {

const uint8_t ESCAPE = 0x1B;
const uint8_t CTRL_C = 0x03;
// The day's part of a data file name: the characters before "-NNNN".
constexpr int DAY_STEM_LENGTH = NAME_NUMBER_AT - 1;

// Appends printf-formatted text at *length, never past size.
void append(char* text, size_t size, size_t* length, const char* format, ...) __attribute__((format(printf, 4, 5)));

void append(char* text, size_t size, size_t* length, const char* format, ...)
{
    if (*length + 1 >= size) return;
    va_list values;
    va_start(values, format);
    int added = vsnprintf(text + *length, size - *length, format, values);
    va_end(values);
    if (added > 0) *length += static_cast<size_t>(added) < size - *length ? static_cast<size_t>(added) : size - *length - 1;
}

void append_fix(char* text, size_t size, size_t* length, const NmeaFix* fix, int64_t age_ms)
{
    if (fix == nullptr || !fix->present || !fix->valid) {
        append(text, size, length, "  no fix");
        return;
    }
    append(text, size, length, "  %s", fix->quality);
    if (fix->satellites >= 0) append(text, size, length, "  %d satellites", fix->satellites);
    if (fix->latitude[0] != 0) append(text, size, length, "  %s", fix->latitude);
    if (fix->longitude[0] != 0) append(text, size, length, "  %s", fix->longitude);
    append(text, size, length, "  %lld s old", static_cast<long long>(age_ms / 1000));
}

}  // namespace

size_t navlog_time_text(const NavTime* time, char text[NAVLOG_TIME_TEXT_SIZE])
{
    int offset = time->utc_offset_seconds;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    size_t length = 0;
    append(text, NAVLOG_TIME_TEXT_SIZE, &length, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time->year,
           time->month, time->day, time->hour, time->minute, time->second, time->millisecond, sign, offset / 3600,
           offset / 60 % 60);
    if (offset % 60 != 0) append(text, NAVLOG_TIME_TEXT_SIZE, &length, ":%02d", offset % 60);
    return length;
}

size_t navlog_line(const NavTime* time, const char* sentence, char line[NAVLOG_LINE_SIZE])
{
    size_t length = navlog_time_text(time, line);
    append(line, NAVLOG_LINE_SIZE, &length, " %s\n", sentence);
    return length;
}

void navlog_file_name(const NavTime* time, char name[NAVLOG_NAME_SIZE])
{
    PlatLocalTime local = {time->year - 1900, time->month - 1, time->day, time->hour, time->minute, time->second, 0};
    TimestampClock clock = {};
    timestamp_update(&clock, &local);
    char pattern[DATA_NAME_SIZE];
    naming_pattern(pattern, clock.date_time_text);
    snprintf(name, NAVLOG_NAME_SIZE, "%.*s%s", DAY_STEM_LENGTH, pattern, NAVLOG_FILE_SUFFIX);
}

bool navlog_same_day(const NavTime* a, const NavTime* b)
{
    return a->year == b->year && a->month == b->month && a->day == b->day;
}

bool navlog_keys_quit(const uint8_t* keys, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        uint8_t key = keys[i];
        if (key == 'q' || key == 'Q' || key == CTRL_C) return true;
        if (key != ESCAPE) continue;
        if (i + 1 == count) return true;
        uint8_t introducer = keys[++i];
        if (introducer != '[' && introducer != 'O') continue;  // Alt and a key
        while (i + 1 < count && !(keys[i + 1] >= 0x40 && keys[i + 1] <= 0x7E)) ++i;
        ++i;  // the sequence's final byte
    }
    return false;
}

size_t navlog_status_text(const NavStatus* status, char text[NAVLOG_STATUS_SIZE])
{
    size_t length = 0;
    text[0] = 0;
    append(text, NAVLOG_STATUS_SIZE, &length, "%s", status->file_name);
    if (status->file_trouble != nullptr) append(text, NAVLOG_STATUS_SIZE, &length, ": %s", status->file_trouble);
    if (status->source_trouble != nullptr) {
        append(text, NAVLOG_STATUS_SIZE, &length, "  %s", status->source_trouble);
    } else if (status->silent_ms >= NAVLOG_SILENCE_SHOWN_MS) {
        append(text, NAVLOG_STATUS_SIZE, &length, "  no data for %lld s",
               static_cast<long long>(status->silent_ms / 1000));
    } else {
        append(text, NAVLOG_STATUS_SIZE, &length, "  %.1f sentences/s", status->sentences_per_second);
    }
    append(text, NAVLOG_STATUS_SIZE, &length, "  %ld bad", status->bad);
    if (status->unwritten > 0) append(text, NAVLOG_STATUS_SIZE, &length, "  %ld not written", status->unwritten);
    if (status->dropped > 0) append(text, NAVLOG_STATUS_SIZE, &length, "  %ld dropped", status->dropped);
    append_fix(text, NAVLOG_STATUS_SIZE, &length, status->fix, status->fix_age_ms);
    return length;
}

size_t navlog_status_redraw(const char* text, int columns, char out[NAVLOG_STATUS_SIZE + 2])
{
    int width = columns - 1;
    if (width > NAVLOG_STATUS_SIZE - 1) width = NAVLOG_STATUS_SIZE - 1;
    if (width < 0) width = 0;
    size_t length = strlen(text);
    if (length > static_cast<size_t>(width)) length = static_cast<size_t>(width);
    out[0] = '\r';
    memcpy(out + 1, text, length);
    memset(out + 1 + length, ' ', static_cast<size_t>(width) - length);
    out[1 + width] = 0;
    return static_cast<size_t>(width) + 1;
}
