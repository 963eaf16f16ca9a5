// Data file names: the day of the run and a four-digit sequence number one
// above the highest already used that day, e.g. 07DEC2026-0012.QKV. Past
// 9999 the numbers start again from the lowest free one.
#pragma once

#include <cstdint>

#include "store/timestamp.h"

constexpr int DATA_NAME_SIZE = 256;
constexpr int NAME_NUMBER_AT = 10;      // the four digits of the sequence number
constexpr int NAME_NUMBER_DIGITS = 4;
constexpr uint32_t NAME_NUMBER_MAX = 9999;
extern const char DATA_FILE_SUFFIX[];  // ".QKV", ending every data file's name

// Whether path ends in suffix, given in capitals, letter case ignored (".QKV" names a data file on any system).
bool naming_ends_in(const char* path, const char* suffix);

// Clears name and fills it with the search pattern of the day in
// date_time_text ("07-DEC-2026  09:05:00" gives "07DEC2026-????.QKV").
void naming_pattern(char name[DATA_NAME_SIZE], const char* date_time_text);
// The same for the data files of every day: "?????????-????.QKV".
void naming_any_day_pattern(char name[DATA_NAME_SIZE]);
// Whether a found name is of the day of a pattern naming_pattern made.
bool naming_of_day(const char* found_name, const char* pattern);
// The number in a found name: its four characters at the number's place,
// read as atoi reads them and taken as unsigned.
uint32_t naming_number_of(const char* found_name);
// One above largest on unsigned 32 bits (so it may wrap to 0); 1 when that
// would pass 9999, where the search for a free number starts again. Also the
// number to try when a number is taken.
uint32_t naming_next_number(uint32_t largest);
// Writes the number's four digits over the pattern's "????".
void naming_set_number(char name[DATA_NAME_SIZE], uint32_t number);
// The largest number among the files in the current directory matching pattern; 0 for none.
uint32_t naming_largest_number(const char* pattern);
// The same, and the name of the file that has it, when name is not null (left as it is for none).
uint32_t naming_newest(const char* pattern, char name[DATA_NAME_SIZE]);
// Builds the name for the day in date_time_text; returns its sequence number.
uint32_t naming_build_from(char name[DATA_NAME_SIZE], const char* date_time_text);
// Updates the clock, then builds the name from it; returns its sequence number.
uint32_t naming_build(char name[DATA_NAME_SIZE], TimestampClock* clock);
