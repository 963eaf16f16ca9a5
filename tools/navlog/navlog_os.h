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
constexpr size_t NAVLOG_DATAGRAM_MAX = 65536;  // the largest UDP datagram
// What one wait may read: a burst of datagrams queued together is taken in one pass.
constexpr size_t NAVLOG_READ_SIZE = 4 * NAVLOG_DATAGRAM_MAX;
constexpr size_t NAVLOG_DATAGRAMS_PER_WAIT = 8192;
// The UDP receive queue asked for, so a burst outlasts a pass; the system may give less.
constexpr int NAVLOG_UDP_QUEUE_BYTES = 2 * 1024 * 1024;

struct NavSource {
    const NavOptions* options;
    intptr_t handle;  // NAVLOG_NO_HANDLE while closed
    bool connecting;  // TCP: a connect is under way
    char reason[NAVLOG_REASON_SIZE];  // after NAV_OPEN_ABSENT, NAV_OPEN_UNUSABLE or NAV_EVENT_LOST: why
    long dropped;     // UDP: datagrams the system dropped for a full queue since the source was opened,
                      // where the system tells
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
// end; reads into bytes all that is queued, *count of them, as far as size
// allows: datagrams one after the other, each whole, while size has room for
// the largest.
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
// when missing, readable by others while written, and held for this process
// alone until closed: PLAT_ERR_HELD when another navlog holds it (on Windows
// also any program that lets no one else write it). What holds it is the
// open file itself, so the hold ends with the process however that ends.
PlatResult navlog_file_open(const char* name, PlatFile* file, char reason[NAVLOG_REASON_SIZE]);
