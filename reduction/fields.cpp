#include "reduction/fields.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "store/timestamp.h"

namespace {

constexpr int NUMBER_TEXT_MAX = 64;
constexpr int64_t MS_A_DAY = 86400000LL;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// count digits at text as a number; false unless all are digits.
bool digits(const char* text, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; ++i) {
        if (!is_digit(text[i])) return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

bool leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month)
{
    static const int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year(year) ? 29 : DAYS[month - 1];
}

// "Z", "+hh:mm", "+hhmm" or "+hh" and nothing after: the offset east of UTC in seconds.
bool zone_offset(const char* text, int* offset_seconds)
{
    if (strcmp(text, "Z") == 0 || strcmp(text, "z") == 0) {
        *offset_seconds = 0;
        return true;
    }
    int hours = 0, minutes = 0;
    if ((text[0] != '+' && text[0] != '-') || !digits(text + 1, 2, &hours)) return false;
    const char* rest = text + 3;
    if (*rest == ':') ++rest;
    if (*rest != 0 && (!digits(rest, 2, &minutes) || rest[2] != 0)) return false;
    if (rest == text + 4 && *rest == 0) return false;  // "+01:" ends at its colon
    if (hours > 14 || minutes > 59) return false;
    *offset_seconds = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

// Seconds with their decimals from text on ("05", "05.25"); *end after them.
bool seconds_of(const char* text, double* seconds, const char** end)
{
    int whole = 0;
    if (!digits(text, 2, &whole) || whole > 60) return false;
    *seconds = whole;
    const char* at = text + 2;
    if (*at == '.' || *at == ',') {
        double scale = 0.1;
        ++at;
        if (!is_digit(*at)) return false;
        for (; is_digit(*at); ++at, scale /= 10) *seconds += (*at - '0') * scale;
    }
    *end = at;
    return true;
}

}  // namespace

void fields_cursor_start(FieldsCursor* cursor, const char* text, size_t size)
{
    cursor->text = text;
    cursor->size = size;
    cursor->at = size >= 3 ? fields_bom_length(text) : 0;
    cursor->line = 0;
}

bool fields_cursor_next(FieldsCursor* cursor, char* line, bool* whole)
{
    if (cursor->at >= cursor->size) return false;
    size_t start = cursor->at;
    size_t end = start;
    bool nul = false;
    while (end < cursor->size && cursor->text[end] != '\n' && cursor->text[end] != '\r') {
        nul = nul || cursor->text[end] == 0;
        ++end;
    }
    size_t next = end;
    if (next < cursor->size && cursor->text[next] == '\r') ++next;
    if (next < cursor->size && cursor->text[next] == '\n' && (next == end || cursor->text[end] == '\r')) ++next;
    cursor->at = next;
    ++cursor->line;
    size_t length = end - start;
    *whole = !nul && length <= static_cast<size_t>(FIELDS_LINE_MAX);
    if (length > static_cast<size_t>(FIELDS_LINE_MAX)) length = FIELDS_LINE_MAX;
    memcpy(line, cursor->text + start, length);
    line[length] = 0;
    return true;
}

size_t fields_bom_length(const char* text)
{
    return memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

bool fields_is_blank_or_comment(const char* line)
{
    while (is_blank(*line)) ++line;
    return *line == 0 || *line == '#';
}

char fields_separator_of(const char* header)
{
    const char candidates[] = {',', ';', '\t'};
    int counts[3] = {0, 0, 0};
    int depth = 0;  // of brackets
    bool quoted = false;
    for (const char* at = header; *at != 0; ++at) {
        if (*at == '"') quoted = !quoted;
        if (!quoted && (*at == '(' || *at == '[')) ++depth;
        if (!quoted && (*at == ')' || *at == ']') && depth > 0) --depth;
        for (int k = 0; k < 3 && !quoted && depth == 0; ++k) counts[k] += *at == candidates[k];
    }
    int most = 0;
    for (int k = 1; k < 3; ++k) most = counts[k] > counts[most] ? k : most;
    return counts[most] > 0 ? candidates[most] : 0;
}

bool fields_split(const char* line, char separator, FieldsLine* cut)
{
    size_t length = strlen(line);
    cut->count = 0;
    if (length > static_cast<size_t>(FIELDS_LINE_MAX)) return false;
    memcpy(cut->text, line, length + 1);
    char* at = cut->text;
    for (;;) {
        char* end = separator != 0 ? strchr(at, separator) : nullptr;
        char* next = end != nullptr ? end + 1 : nullptr;
        if (end == nullptr) end = at + strlen(at);
        *end = 0;
        while (is_blank(*at)) ++at;
        while (end > at && (is_blank(end[-1]) || end[-1] == '\r' || end[-1] == '\n')) *--end = 0;
        if (end - at >= 2 && *at == '"' && end[-1] == '"') {
            ++at;
            *--end = 0;
        }
        if (cut->count == FIELDS_MAX) return false;
        cut->field[cut->count++] = at;
        if (next == nullptr) return true;
        at = next;
    }
}

void fields_name_key(const char* name, char* key, size_t size)
{
    size_t length = 0;
    for (; *name != 0 && length + 1 < size; ++name) {
        char c = *name;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || is_digit(c)) key[length++] = c;
    }
    key[length] = 0;
}

namespace {

// The name without what brackets hold: "Level (m, LAT)" as "Level ".
void unbracketed(const char* name, char* out, size_t size)
{
    size_t length = 0;
    int depth = 0;
    for (; *name != 0 && length + 1 < size; ++name) {
        if (*name == '(' || *name == '[') ++depth;
        if (depth == 0) out[length++] = *name;
        if ((*name == ')' || *name == ']') && depth > 0) --depth;
    }
    out[length] = 0;
}

}  // namespace

int fields_find_column(const FieldsLine* header, const char* const* keys, int key_count)
{
    char name[FIELDS_LINE_MAX + 1], key[FIELDS_LINE_MAX + 1];
    for (bool whole : {true, false}) {
        for (int k = 0; k < key_count; ++k) {
            for (int column = 0; column < header->count; ++column) {
                unbracketed(header->field[column], name, sizeof name);
                fields_name_key(whole ? header->field[column] : name, key, sizeof key);
                if (strcmp(key, keys[k]) == 0) return column;
            }
        }
    }
    return -1;
}

bool fields_number(const char* text, bool decimal_comma, double* value)
{
    char number[NUMBER_TEXT_MAX + 1];
    size_t length = strlen(text);
    if (length == 0 || length > static_cast<size_t>(NUMBER_TEXT_MAX)) return false;
    memcpy(number, text, length + 1);
    if (decimal_comma) {
        char* comma = strchr(number, ',');
        if (comma != nullptr) *comma = '.';
    }
    const char* start = number[0] == '+' ? number + 1 : number;
    const char* digits_at = *start == '-' && start == number ? start + 1 : start;
    if (!is_digit(*digits_at) && !(*digits_at == '.' && is_digit(digits_at[1]))) return false;  // no inf, nan, hex
    double parsed = 0;
    std::from_chars_result result = std::from_chars(start, number + length, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != number + length || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

bool fields_utc_time(const char* text, bool zone_optional, int64_t* utc_ms)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!digits(text, 4, &year) || text[4] != '-' || !digits(text + 5, 2, &month) || text[7] != '-' ||
        !digits(text + 8, 2, &day) || (text[10] != 'T' && text[10] != ' ') || !digits(text + 11, 2, &hour) ||
        text[13] != ':' || !digits(text + 14, 2, &minute)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59) {
        return false;
    }
    double seconds = 0;
    const char* zone = text + 16;
    if (*zone == ':' && !seconds_of(zone + 1, &seconds, &zone)) return false;
    int offset_seconds = 0;
    if (*zone == 0 ? !zone_optional : !zone_offset(zone, &offset_seconds)) return false;
    int64_t minutes = timestamp_day_of_date(year, month, day) * 1440 + hour * 60 + minute;
    *utc_ms = minutes * 60000 + static_cast<int64_t>(std::llround(seconds * 1000.0)) -
              static_cast<int64_t>(offset_seconds) * 1000;
    return true;
}

void fields_utc_text(int64_t utc_ms, char text[FIELDS_TIME_TEXT_SIZE])
{
    int64_t day = utc_ms >= 0 ? utc_ms / MS_A_DAY : -((-utc_ms + MS_A_DAY - 1) / MS_A_DAY);
    int64_t in_day = utc_ms - day * MS_A_DAY;
    int year = 0, month = 0, date = 0;
    timestamp_date_of_day(day, &year, &month, &date);
    snprintf(text, FIELDS_TIME_TEXT_SIZE, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, date,
             static_cast<int>(in_day / 3600000), static_cast<int>(in_day / 60000 % 60),
             static_cast<int>(in_day / 1000 % 60), static_cast<int>(in_day % 1000));
}

long fields_read(const char* text, size_t size, FieldsTake take, void* parser, FieldsSay say, void* context)
{
    FieldsCursor cursor;
    fields_cursor_start(&cursor, text, size);
    char line[FIELDS_LINE_MAX + 1];
    bool whole = false;
    long bad = 0;
    while (fields_cursor_next(&cursor, line, &whole)) {
        FieldsProblem problem;
        if (whole && take(parser, line, cursor.line, &problem) != FIELDS_BAD) continue;
        if (!whole) fields_say(&problem, cursor.line, "longer than %d characters, or holds a NUL byte", FIELDS_LINE_MAX);
        ++bad;
        say(context, &problem);
    }
    return bad;
}

void fields_no_point(FieldsProblem* problem, bool header_read, long header_refused, const char* no_point)
{
    if (header_refused > 0) {
        fields_say(problem, 0, "nothing read after the header refused on line %ld", header_refused);
    } else {
        fields_say(problem, 0, "%s", header_read ? no_point : "no header line");
    }
}

void fields_say(FieldsProblem* problem, long line, const char* format, ...)
{
    problem->line = line;
    int used = line > 0 ? snprintf(problem->text, sizeof problem->text, "line %ld: ", line) : 0;
    if (used < 0 || used >= static_cast<int>(sizeof problem->text)) return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(problem->text + used, sizeof problem->text - static_cast<size_t>(used), format, arguments);
    va_end(arguments);
}
