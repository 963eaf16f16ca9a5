// The text navlog shows: the status line. The lines it logs are the .NAV
// file's (navfile/nav_line.h); the keys that end it are the terminal's
// (platform/terminal.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "navfile/nmea.h"

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

// The sentence rate, over windows of at least NAVLOG_RATE_WINDOW_MS: a status
// shown sooner (the last one at a stop, one shown at once) keeps the rate of
// the last whole window; before there is one, the time so far counts as a
// whole window, so a rate never shows more than came.
constexpr int64_t NAVLOG_RATE_WINDOW_MS = 1000;
struct NavRate {
    int64_t window_start_ms;
    long counted;       // good sentences in the window
    bool measured;      // a whole window has passed
    double per_second;  // over the last whole window
};
void navlog_rate_start(NavRate* rate, int64_t now_ms);
// The rate to show now; a window that has passed is closed and the next begun.
double navlog_rate_at(NavRate* rate, int64_t now_ms);

// No data is shown after this long without a good sentence.
constexpr int64_t NAVLOG_SILENCE_SHOWN_MS = 3000;
constexpr int NAVLOG_STATUS_SIZE = 256;

// "08DEC2026.NAV  10.0 sentences/s  0 bad  GPS  9 satellites  51 06.9848 N  001 23.4567 E  0 s old"
size_t navlog_status_text(const NavStatus* status, char text[NAVLOG_STATUS_SIZE]);
// The status text for redrawing in place on a terminal columns wide: a
// carriage return, the text cut or padded with blanks to one column less
// than the width (so the cursor never wraps). Its length.
size_t navlog_status_redraw(const char* text, int columns, char out[NAVLOG_STATUS_SIZE + 2]);
