// What navlog needs from the operating system: its source of sentences (a
// serial line, a UDP port or a TCP connection), the terminal it shows its
// status line on and takes its keys from, the local clock, and its log file.
// One backend per system, posix/ and win32/, with the same functions in the
// same order; CMake picks the folder. The log file is written, cut back,
// synced and closed with the platform's file operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "tools/navlog/navlog_options.h"
#include "tools/navlog/navlog_text.h"

constexpr int NAVLOG_REASON_SIZE = 256;

struct NavSource {
    const NavOptions* options;
    intptr_t handle;  // NAVLOG_NO_HANDLE while closed
    bool connecting;  // TCP: a connect is under way
    char reason[NAVLOG_REASON_SIZE];  // after NAV_OPEN_ABSENT, NAV_OPEN_UNUSABLE or NAV_EVENT_LOST: why
};
constexpr intptr_t NAVLOG_NO_HANDLE = -1;

enum NavOpen {
    NAV_OPEN_READY,     // bytes can come
    NAV_OPEN_PENDING,   // a TCP connect is under way: navlog_wait tells how it ends
    NAV_OPEN_ABSENT,    // not there now (device unplugged, nobody listening): try again later
    NAV_OPEN_UNUSABLE,  // it can never be used as asked (not a serial device, a bad rate or address)
};

enum NavEvent {
    NAV_EVENT_NONE,       // the time is up, or a key that does nothing
    NAV_EVENT_BYTES,      // bytes came
    NAV_EVENT_CONNECTED,  // the TCP connect under way succeeded
    NAV_EVENT_LOST,       // the source has gone (closed, unplugged, reset, connect failed); it is closed
    NAV_EVENT_QUIT,       // q, Esc, Ctrl+C, or a signal or console event that ends navlog
};

// Open the source, which the caller has reset (no handle, no reason): a
// serial line set up 8N1 at the rate, raw; a UDP socket bound to its port; a
// TCP connect started.
NavOpen navlog_open_serial(NavSource* source);
NavOpen navlog_open_udp(NavSource* source);
NavOpen navlog_open_tcp(NavSource* source);
// Waits at most wait_ms for bytes from the source (when open), a key or an
// end; reads into bytes what came, *count of them.
NavEvent navlog_wait(NavSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count);
void navlog_source_close(NavSource* source);

// Takes the terminal's keys (raw, unechoed; Ctrl+C among them) when there is
// one, and catches the signals or console events that end navlog. True when
// standard output is a terminal, where the status line is redrawn in place.
bool navlog_console_start();
// Puts the terminal back as it was found.
void navlog_console_stop();
int navlog_console_columns();
// To standard output, all of it unless it fails.
void navlog_console_write(const char* text, size_t count);

// The local time now, with milliseconds and the offset in force, from one reading.
void navlog_clock_now(NavTime* now);

// Opens the named file of the current directory for appending, creating it
// when missing, readable by others while written; *size is its size.
PlatResult navlog_file_open(const char* name, PlatFile* file, int64_t* size, char reason[NAVLOG_REASON_SIZE]);
