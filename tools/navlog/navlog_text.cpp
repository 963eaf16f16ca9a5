#include "tools/navlog/navlog_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

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

void navlog_rate_start(NavRate* rate, int64_t now_ms) { *rate = NavRate{now_ms, 0, false, 0.0}; }

double navlog_rate_at(NavRate* rate, int64_t now_ms)
{
    int64_t elapsed = now_ms - rate->window_start_ms;
    if (elapsed < NAVLOG_RATE_WINDOW_MS) {
        return rate->measured ? rate->per_second : rate->counted * 1000.0 / NAVLOG_RATE_WINDOW_MS;
    }
    rate->per_second = rate->counted * 1000.0 / static_cast<double>(elapsed);
    rate->measured = true;
    rate->window_start_ms = now_ms;
    rate->counted = 0;
    return rate->per_second;
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
