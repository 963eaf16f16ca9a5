// The .NAV file: the position log navlog writes beside the data files, one
// file a local day, named as the data files' day ("08DEC2026.NAV"). Each line
// is the computer's local time a sentence arrived, in ISO 8601 with
// milliseconds and the UTC offset then in force, a blank, and the NMEA
// sentence as received, ended by LF:
//   2026-12-08T09:05:00.123+01:00 $GPGGA,090500.00,5106.9848,N,...*5C
// The line is written and read back here, its sentence by nmea.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "navfile/nmea.h"
#include "store/timestamp.h"

// The computer's local time of one clock reading and the UTC offset then in
// force: less the offset, the civil time read as UTC (timestamp_civil_ms) is
// the instant of the reading.
struct NavTime : CivilTime {
    int utc_offset_seconds;  // east of Greenwich positive
};

// "2026-12-08T09:05:00.123+01:00": ISO 8601 with milliseconds and the UTC
// offset (with its seconds too, in the rare zone whose offset has them).
constexpr int NAVFILE_TIME_TEXT_SIZE = 40;
// The time, a blank, the sentence and LF.
constexpr int NAVFILE_LINE_SIZE = NAVFILE_TIME_TEXT_SIZE + 1 + NMEA_TEXT_MAX + 2;
constexpr int NAVFILE_NAME_SIZE = 32;

size_t navfile_time_text(const NavTime* time, char text[NAVFILE_TIME_TEXT_SIZE]);
// The whole line for a sentence received at time; its length.
size_t navfile_line(const NavTime* time, const char* sentence, char line[NAVFILE_LINE_SIZE]);
// The day's file, named as the data files' day: "08DEC2026.NAV".
extern const char NAVFILE_FILE_SUFFIX[];  // ".NAV"
void navfile_file_name(const NavTime* time, char name[NAVFILE_NAME_SIZE]);
bool navfile_same_day(const NavTime* a, const NavTime* b);

// Reads a time as navfile_time_text writes it at the start of text; *end is
// left after it. False when text does not start with one.
bool navfile_time_parse(const char* text, NavTime* time, const char** end);
// A line without its line end taken apart: its time and its sentence. False
// unless it is a time, one blank and a sentence with a right checksum.
bool navfile_line_split(const char* line, NavTime* time, const char** sentence);
