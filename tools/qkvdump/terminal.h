// The terminal qkvdump --follow draws on: keys, size, the signals and console
// events that end it. One backend per system, posix/posix_terminal.cpp and
// win32/win32_terminal.cpp, with the same functions in the same order; CMake
// picks one. The files it reads are the platform's (platform/platform.h).
#pragma once

#include <cstddef>

// Takes the terminal: keys come one at a time, unechoed, Ctrl+C among them,
// and escape sequences are understood. Null when it is taken; otherwise why
// it cannot be, and nothing is changed.
const char* terminal_start();
// Puts the terminal back as it was found.
void terminal_stop();
void terminal_size(int* rows, int* columns);

enum TerminalEvent {
    TERMINAL_NOTHING,   // the time is up, or a key that does nothing
    TERMINAL_QUIT,      // q, Esc or Ctrl+C
    TERMINAL_RESIZED,
    TERMINAL_ENDED,     // a signal or console event ends the process: finish and call terminal_end_as_asked
};
// Waits at most wait_ms for one of the events; a resize or an end cuts the wait short.
TerminalEvent terminal_wait(int wait_ms);
// UTF-8 text and escape sequences to the terminal. Gives up on a write that fails, or that waits when an
// end is asked (a terminal that takes nothing more).
void terminal_write(const char* text, size_t count);
// After terminal_stop, once TERMINAL_ENDED came: ends the process as the signal or event would have.
void terminal_end_as_asked();
