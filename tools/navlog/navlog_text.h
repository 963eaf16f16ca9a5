// The texts navlog writes: the line of the log file for each good sentence,
// the file's name for the day, and the status line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/navlog/nmea.h"

// The computer's local time of one clock reading and the UTC offset then in force.
struct NavTime {
    int year;
    int month;  // 1 = January
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
    int utc_offset_seconds;  // east of Greenwich positive
};

// "2026-12-08T09:05:00.123+01:00": ISO 8601 with milliseconds and the UTC
// offset (with its seconds too, in the rare zone whose offset has them).
constexpr int NAVLOG_TIME_TEXT_SIZE = 40;
// The time, a blank, the sentence and LF.
constexpr int NAVLOG_LINE_SIZE = NAVLOG_TIME_TEXT_SIZE + 1 + NMEA_TEXT_MAX + 2;
constexpr int NAVLOG_NAME_SIZE = 32;

size_t navlog_time_text(const NavTime* time, char text[NAVLOG_TIME_TEXT_SIZE]);
// The whole line for a sentence received at time; its length.
size_t navlog_line(const NavTime* time, const char* sentence, char line[NAVLOG_LINE_SIZE]);
// The day's file, named as the data files' day: "08DEC2026.NAV".
extern const char NAVLOG_FILE_SUFFIX[];  // ".NAV"
void navlog_file_name(const NavTime* time, char name[NAVLOG_NAME_SIZE]);
bool navlog_same_day(const NavTime* a, const NavTime* b);

// Whether keys typed at a terminal end the run: q, Q, Ctrl+C, or an Esc on
// its own. An arrow or function key (ESC [ ... or ESC O ..., up to its final
// letter or '~') and Alt with a key (ESC and the key) do not.
bool navlog_keys_quit(const uint8_t* keys, size_t count);

// What the status line shows.
struct NavStatus {
    const char* file_name;
    const char* file_trouble;    // null while the file is open; else why it cannot be
    const char* source_trouble;  // null while the source delivers; else what is wrong and what is done
    double sentences_per_second;
    int64_t silent_ms;           // since the last good sentence (or the start)
    long bad;                    // sentences counted and not written
    long unwritten;              // good sentences the file did not take (disk full)
    long dropped;                // datagrams the system dropped before navlog could read them, where it tells
    const NmeaFix* fix;
    int64_t fix_age_ms;
};

// No data is shown after this long without a good sentence.
constexpr int64_t NAVLOG_SILENCE_SHOWN_MS = 3000;
constexpr int NAVLOG_STATUS_SIZE = 256;

// "08DEC2026.NAV  10.0 sentences/s  0 bad  GPS  9 satellites  51 06.9848 N  001 23.4567 E  0 s old"
size_t navlog_status_text(const NavStatus* status, char text[NAVLOG_STATUS_SIZE]);
// The status text for redrawing in place on a terminal columns wide: a
// carriage return, the text cut or padded with blanks to one column less
// than the width (so the cursor never wraps). Its length.
size_t navlog_status_redraw(const char* text, int columns, char out[NAVLOG_STATUS_SIZE + 2]);
