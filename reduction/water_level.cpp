#include "reduction/water_level.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "reduction/series_bracket.h"

namespace {

// The header names taken, as fields_name_key makes them ("Date Time" is "datetime").
const char* const TIME_KEYS[] = {"time",      "timeutc",      "timegmt",   "timez",        "datetime",
                                 "datetimeutc", "datetimegmt", "timestamp", "timestamputc", "date"};
const char* const DATE_KEYS[] = {"date", "dateutc", "dategmt"};
const char* const CLOCK_KEYS[] = {"time", "timeutc", "timegmt"};
// In this order of preference: a gauge's verified values before its preliminary ones, both before a prediction.
const char* const LEVEL_KEYS[] = {"levelm",      "level",       "waterlevelm", "waterlevel", "verifiedm",
                                  "verified",    "preliminarym", "preliminary", "sealevelm",  "sealevel",
                                  "predictionm", "prediction",  "predictedm",  "predicted",  "tidem",
                                  "tide",        "heightm",     "height"};
template <size_t N> constexpr int count_of(const char* const (&)[N]) { return static_cast<int>(N); }

constexpr int TIME_TEXT_MAX = 64;

bool key_has(const char* key, const char* part) { return strstr(key, part) != nullptr; }

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

// The length letters from word are the small letters of unit, whatever their case.
bool word_is(const char* word, size_t length, const char* unit)
{
    if (strlen(unit) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if ((is_upper(word[i]) ? word[i] - 'A' + 'a' : word[i]) != unit[i]) return false;
    }
    return true;
}

// A column name holding a word of feet ("level_ft", "Height (feet)", "LevelFt"), not letters that end
// another word ("Datum shift", "draft"). A word is a run of letters; a capital after a small letter starts one.
bool names_feet(const char* name)
{
    const char* start = name;
    for (const char* at = name;; ++at) {
        bool letter = is_lower(*at) || is_upper(*at);
        bool starts_word = is_upper(*at) && at > name && is_lower(at[-1]);
        if (letter && !starts_word) continue;
        size_t length = static_cast<size_t>(at - start);
        for (const char* unit : {"ft", "feet", "foot"}) {
            if (word_is(start, length, unit)) return true;
        }
        if (*at == 0) return false;
        start = letter ? at : at + 1;
    }
}

// A header column naming local times ("Time (LST/LDT)") or levels in feet: what to say of it, or null.
const char* refused_column(const FieldsLine* header)
{
    for (int column = 0; column < header->count; ++column) {
        char key[FIELDS_LINE_MAX + 1];
        fields_name_key(header->field[column], key, sizeof key);
        bool time = strncmp(key, "time", 4) == 0 || strncmp(key, "date", 4) == 0;
        if (time && (key_has(key, "lst") || key_has(key, "ldt") || key_has(key, "local"))) {
            return "its times are local: give them in UTC (GMT)";
        }
        if (!time && names_feet(header->field[column])) {
            return "its levels are in feet: give them in metres";
        }
    }
    return nullptr;
}

FieldsVerdict take_header(WaterLevelSeries* series, const char* line, long number, FieldsProblem* problem)
{
    FieldsLine header;
    series->separator = fields_separator_of(line);
    fields_split(line, series->separator, &header);
    const char* refused = refused_column(&header);
    if (refused != nullptr) {
        fields_say(problem, number, "the header says %s", refused);
        series->header_refused = number;
        return FIELDS_BAD;
    }
    int date = fields_find_column(&header, DATE_KEYS, count_of(DATE_KEYS));
    int clock = fields_find_column(&header, CLOCK_KEYS, count_of(CLOCK_KEYS));
    bool apart = date >= 0 && clock >= 0;
    series->time_column = apart ? date : fields_find_column(&header, TIME_KEYS, count_of(TIME_KEYS));
    series->clock_column = apart ? clock : -1;
    series->level_column = fields_find_column(&header, LEVEL_KEYS, count_of(LEVEL_KEYS));
    if (series->time_column < 0 || series->level_column < 0) {
        if (series->header_missed) return FIELDS_NOTHING;
        fields_say(problem, number, "the header names no %s column (time,level_m: UTC and metres)",
                   series->time_column < 0 ? "time" : "level");
        series->header_missed = true;
        return FIELDS_BAD;
    }
    series->header_read = true;
    return FIELDS_NOTHING;
}

// The line's time text: its date and time, or its date and its time of day,
// with a date's slashes ("2026/12/08") as hyphens.
void time_text(const WaterLevelSeries* series, const FieldsLine* cut, char text[TIME_TEXT_MAX + 1])
{
    if (series->clock_column >= 0) {
        snprintf(text, TIME_TEXT_MAX + 1, "%.24s %.24s", cut->field[series->time_column],
                 cut->field[series->clock_column]);
    } else {
        snprintf(text, TIME_TEXT_MAX + 1, "%s", cut->field[series->time_column]);
    }
    if (strlen(text) > 7 && text[4] == '/' && text[7] == '/') text[4] = text[7] = '-';
}

bool point_values(const WaterLevelSeries* series, const FieldsLine* cut, long number, WaterLevelPoint* point,
                  FieldsProblem* problem)
{
    int needed = series->time_column > series->level_column ? series->time_column : series->level_column;
    if (series->clock_column > needed) needed = series->clock_column;
    if (cut->count <= needed) {
        fields_say(problem, number, "%d fields, the header's columns need %d", cut->count, needed + 1);
        return false;
    }
    char time[TIME_TEXT_MAX + 1];
    time_text(series, cut, time);
    if (!fields_utc_time(time, true, &point->utc_ms)) {
        fields_say(problem, number, "\"%.40s\" is no ISO 8601 time (2026-12-08T09:00:00Z)", time);
        return false;
    }
    const char* level = cut->field[series->level_column];
    if (level[0] == 0) {
        fields_say(problem, number, "no level: a gap in the record");
        return false;
    }
    if (!fields_number(level, series->separator != ',', &point->level_m) || point->level_m <= -WATER_LEVEL_ABS_MAX_M ||
        point->level_m >= WATER_LEVEL_ABS_MAX_M) {
        fields_say(problem, number, "level \"%.24s\" is no level in metres (a missing value's mark?)", level);
        return false;
    }
    return true;
}

bool add_point(WaterLevelSeries* series, const WaterLevelPoint* point, long number, FieldsProblem* problem)
{
    if (series->count > 0 && point->utc_ms <= series->point[series->count - 1].utc_ms) {
        fields_say(problem, number, "its time is not after line %ld's", series->last_line);
        return false;
    }
    if (series->count == WATER_LEVEL_POINTS_MAX) {
        fields_say(problem, number, "more than %d points: give the days of the survey", WATER_LEVEL_POINTS_MAX);
        return false;
    }
    series->point[series->count++] = *point;
    series->last_line = number;
    return true;
}

FieldsVerdict take_any(void* series, const char* line, long number, FieldsProblem* problem)
{
    return water_level_take_line(static_cast<WaterLevelSeries*>(series), line, number, problem);
}

}  // namespace

void water_level_start(WaterLevelSeries* series)
{
    series->count = 0;
    series->header_read = false;
    series->header_refused = 0;
    series->header_missed = false;
    series->separator = ',';
    series->time_column = series->clock_column = series->level_column = -1;
    series->last_line = 0;
}

FieldsVerdict water_level_take_line(WaterLevelSeries* series, const char* line, long number, FieldsProblem* problem)
{
    if (fields_is_blank_or_comment(line) || series->header_refused > 0) return FIELDS_NOTHING;
    if (!series->header_read) return take_header(series, line, number, problem);
    FieldsLine cut;
    WaterLevelPoint point;
    fields_split(line, series->separator, &cut);
    if (!point_values(series, &cut, number, &point, problem) || !add_point(series, &point, number, problem)) {
        return FIELDS_BAD;
    }
    return FIELDS_TAKEN;
}

bool water_level_finish(const WaterLevelSeries* series, FieldsProblem* problem)
{
    if (series->count > 0) return true;
    fields_no_point(problem, series->header_read, series->header_refused, "the series has no point");
    return false;
}

bool water_level_read(WaterLevelSeries* series, const char* text, size_t size, FieldsSay say, void* context)
{
    water_level_start(series);
    fields_read(text, size, take_any, series, say, context);
    FieldsProblem problem;
    if (water_level_finish(series, &problem)) return true;
    say(context, &problem);
    return false;
}

bool water_level_at(const WaterLevelSeries* series, int64_t utc_ms, double* level_m)
{
    int before = 0;
    double share = 0;
    auto time_of = [series](int i) { return series->point[i].utc_ms; };
    if (!series_bracket(series->count, time_of, utc_ms, WATER_LEVEL_GAP_MAX_MS, &before, &share)) return false;
    const WaterLevelPoint* point = &series->point[before];
    *level_m = share == 0.0 ? point->level_m : point->level_m + share * (point[1].level_m - point->level_m);
    return true;
}
