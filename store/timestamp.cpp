#include "store/timestamp.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const MONTH_ABBREVIATIONS[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

const char* month_abbreviation(int month)
{
    return month >= 0 && month < 12 ? MONTH_ABBREVIATIONS[month] : "???";
}

void format_date_and_time(TimestampClock* clock, const PlatLocalTime* local)
{
    snprintf(clock->date_text, sizeof clock->date_text, "%02d-%s-%04d", local->day,
             month_abbreviation(local->month), local->year_since_1900 + 1900);
    snprintf(clock->time_text, sizeof clock->time_text, "%02d:%02d:%02d", local->hour, local->minute,
             local->second);
    // Both parts are at most 19 characters, so date, two blanks and time fit in 40.
    size_t date_length = strlen(clock->date_text);
    memcpy(clock->date_time_text, clock->date_text, date_length);
    memcpy(clock->date_time_text + date_length, "  ", 2);
    memcpy(clock->date_time_text + date_length + 2, clock->time_text, strlen(clock->time_text) + 1);
}

// Whole second against whole second: the milliseconds play no part.
bool same_calendar_second(const PlatLocalTime* a, const PlatLocalTime* b)
{
    return a->second == b->second && a->minute == b->minute && a->hour == b->hour && a->day == b->day &&
           a->month == b->month && a->year_since_1900 == b->year_since_1900;
}

int month_from_abbreviation(const char* text)
{
    for (int month = 0; month < 12; ++month) {
        if (strcmp(text, MONTH_ABBREVIATIONS[month]) == 0) return month;
    }
    return -1;
}

}  // namespace

long long timestamp_day_of_date(int year, int month, int day)
{
    long long shifted_year = month <= 2 ? year - 1LL : year;  // the year counted from 1 March
    long long era = (shifted_year >= 0 ? shifted_year : shifted_year - 399) / 400;
    long long year_of_era = shifted_year - era * 400;
    long long day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - TIMESTAMP_EPOCH_DAY;
}

void timestamp_date_of_day(long long days_since_1970, int* year, int* month, int* day)
{
    long long days = days_since_1970 + TIMESTAMP_EPOCH_DAY;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long day_of_era = days - era * 146097;
    long long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    long long month_from_march = (5 * day_of_year + 2) / 153;
    *day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    *month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    *year = static_cast<int>(year_of_era + era * 400 + (*month <= 2 ? 1 : 0));
}

int64_t timestamp_civil_ms(const CivilTime* t)
{
    int64_t day = timestamp_day_of_date(t->year, t->month, t->day);
    int64_t seconds = day * 86400 + t->hour * 3600 + t->minute * 60 + t->second;
    return seconds * 1000 + t->millisecond;
}

void timestamp_civil_of_ms(int64_t ms, CivilTime* time)
{
    int64_t days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
    int64_t of_day = ms - days * 86400000;
    timestamp_date_of_day(days, &time->year, &time->month, &time->day);
    time->hour = static_cast<int>(of_day / 3600000);
    time->minute = static_cast<int>(of_day / 60000 % 60);
    time->second = static_cast<int>(of_day / 1000 % 60);
    time->millisecond = static_cast<int>(of_day % 1000);
}

void timestamp_update(TimestampClock* clock, const PlatLocalTime* local)
{
    if (!clock->updated || !same_calendar_second(local, &clock->formatted)) {
        clock->updated = true;
        clock->formatted = *local;
        format_date_and_time(clock, local);
    }
    int hundredths = local->millisecond / 10;
    if (hundredths < 0 || hundredths > 99) hundredths = 0;
    snprintf(clock->hundredths_text, sizeof clock->hundredths_text, ".%02d", hundredths);
}

void timestamp_update_now(TimestampClock* clock)
{
    PlatLocalTime local;
    plat_local_time(&local);
    timestamp_update(clock, &local);
}

bool timestamp_parse_ms(const char* date_text, const char* time_text, const char* hundredths_text,
                        long long* milliseconds)
{
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, hundredths = 0;
    int date_end = 0, time_end = 0, hundredths_end = 0;  // where each match stopped: the whole text, or 0
    char month_text[4] = "";
    sscanf(date_text, "%2d-%3[A-Z]-%4d%n", &day, month_text, &year, &date_end);
    sscanf(time_text, "%2d:%2d:%2d%n", &hour, &minute, &second, &time_end);
    sscanf(hundredths_text, ".%2d%n", &hundredths, &hundredths_end);
    if (date_end == 0 || date_text[date_end] != 0 || time_end == 0 || time_text[time_end] != 0 ||
        hundredths_end == 0 || hundredths_text[hundredths_end] != 0) {
        return false;
    }
    int month = month_from_abbreviation(month_text);
    if (month < 0 || day < 1 || day > 31 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60 || hundredths < 0) {
        return false;
    }
    long long days = timestamp_day_of_date(year, month + 1, day) + TIMESTAMP_EPOCH_DAY;
    long long seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    *milliseconds = seconds * 1000 + hundredths * 10;
    return true;
}
