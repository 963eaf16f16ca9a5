#include "store/naming.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char DATA_FILE_SUFFIX[] = ".QKV";

namespace {

// Positions in the date-time text of the day, the month and the year, skipping the dashes.
const int DATE_CHARACTERS[] = {0, 1, 3, 4, 5, 7, 8, 9, 10};
const char NAME_NUMBER_PLACE[] = "-????";

struct Largest {
    uint32_t number;
    char* name;  // null: only the number is wanted
};

void keep_largest(const char* name, void* context)
{
    Largest* largest = static_cast<Largest*>(context);
    uint32_t number = naming_number_of(name);
    if (number <= largest->number) return;
    largest->number = number;
    if (largest->name) snprintf(largest->name, DATA_NAME_SIZE, "%s", name);
}

}  // namespace

bool naming_ends_in(const char* path, const char* suffix)
{
    size_t length = strlen(path);
    size_t suffix_length = strlen(suffix);
    if (length < suffix_length) return false;
    const char* tail = path + length - suffix_length;
    for (size_t i = 0; i < suffix_length; ++i) {
        if (toupper(static_cast<unsigned char>(tail[i])) != suffix[i]) return false;
    }
    return true;
}

void naming_pattern(char name[DATA_NAME_SIZE], const char* date_time_text)
{
    memset(name, 0, DATA_NAME_SIZE);
    int length = 0;
    for (int at : DATE_CHARACTERS) name[length++] = date_time_text[at];
    memcpy(name + length, NAME_NUMBER_PLACE, sizeof NAME_NUMBER_PLACE - 1);
    memcpy(name + length + sizeof NAME_NUMBER_PLACE - 1, DATA_FILE_SUFFIX, sizeof DATA_FILE_SUFFIX);
}

void naming_any_day_pattern(char name[DATA_NAME_SIZE])
{
    char any_day[sizeof "dd-MMM-yyyy"];
    memset(any_day, '?', sizeof any_day - 1);
    any_day[sizeof any_day - 1] = '\0';
    naming_pattern(name, any_day);
}

bool naming_of_day(const char* found_name, const char* pattern)
{
    size_t day_length = sizeof DATE_CHARACTERS / sizeof DATE_CHARACTERS[0];
    return strncmp(found_name, pattern, day_length) == 0;
}

uint32_t naming_number_of(const char* found_name)
{
    char digits[NAME_NUMBER_DIGITS + 1] = {};
    size_t length = strlen(found_name);
    for (int i = 0; i < NAME_NUMBER_DIGITS && NAME_NUMBER_AT + static_cast<size_t>(i) < length; ++i) {
        digits[i] = found_name[NAME_NUMBER_AT + i];
    }
    return static_cast<uint32_t>(atoi(digits));
}

uint32_t naming_next_number(uint32_t largest)
{
    uint32_t next = largest + 1u;
    return next > NAME_NUMBER_MAX ? 1u : next;
}

void naming_set_number(char name[DATA_NAME_SIZE], uint32_t number)
{
    char digits[16];
    snprintf(digits, sizeof digits, "%04lu", static_cast<unsigned long>(number % (NAME_NUMBER_MAX + 1)));
    memcpy(name + NAME_NUMBER_AT, digits, NAME_NUMBER_DIGITS);
}

uint32_t naming_largest_number(const char* pattern)
{
    return naming_newest(pattern, nullptr);
}

uint32_t naming_newest(const char* pattern, char name[DATA_NAME_SIZE])
{
    Largest largest = {0, name};
    plat_find_files(pattern, keep_largest, &largest);
    return largest.number;
}

uint32_t naming_build_from(char name[DATA_NAME_SIZE], const char* date_time_text)
{
    naming_pattern(name, date_time_text);
    uint32_t number = naming_next_number(naming_largest_number(name));
    naming_set_number(name, number);
    return number;
}

uint32_t naming_build(char name[DATA_NAME_SIZE], TimestampClock* clock)
{
    memset(name, 0, DATA_NAME_SIZE);
    timestamp_update_now(clock);
    return naming_build_from(name, clock->date_time_text);
}
