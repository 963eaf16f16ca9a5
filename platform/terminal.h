// The terminal of the tools: qkvdump --follow draws on it, navlog shows its
// status line there, and both take their keys from it. One backend per
// system, posix/posix_terminal.cpp and win32/win32_terminal.cpp, with the same
// functions in the same order; CMake picks one. The program's own console
// (platform.h) is another thing, with key rules of its own.
//
// How a tool ends: by a quit key (plat_terminal_keys_quit), or when it is asked
// to by the system: SIGTERM, SIGHUP, SIGINT or SIGQUIT on POSIX; Ctrl+Break,
// closing the console window, logging off or shutting down on Windows. Either
// way the wait says PLAT_TERMINAL_QUIT, and the tool finishes its work, puts the
// terminal back and exits with status 0. A signal the tool was started to
// ignore (nohup) stays ignored. On Windows the system waits up to two seconds
// after the event, until plat_terminal_stop, before it ends a closed console's
// process: a tool stops the terminal last.
#pragma once

#include <cstddef>
#include <cstdint>

enum PlatTerminalUse {
    PLAT_TERMINAL_DRAWN,   // the tool draws on the whole terminal with escape sequences: standard output must be it
    PLAT_TERMINAL_STATUS,  // the tool writes lines, and with standard output a terminal redraws one in place
};

// Takes the terminal, wherever standard input and output go: keys come one at
// a time, unechoed, Ctrl+C among them; and catches the ends asked by the
// system. From then on a write past the file size limit or into a closed pipe
// fails instead of ending the process. For PLAT_TERMINAL_DRAWN, null when it
// is taken, otherwise why it cannot be, and nothing is changed.
// PLAT_TERMINAL_STATUS is never refused: without a terminal no key comes, and
// the ends are caught.
const char* plat_terminal_start(PlatTerminalUse use);
// Puts the terminal and the handling of the ends back as they were found.
void plat_terminal_stop();
// True when standard output is the terminal (a line can be redrawn in place).
bool plat_terminal_is_output();
// The window's size in text cells; 24 by 80 when it cannot be told.
void plat_terminal_size(int* rows, int* columns);
// True when the terminal says it shows 24-bit colour (COLORTERM truecolor or
// 24bit); otherwise a tool draws in the 256 colours every terminal has.
bool plat_terminal_24_bit();

enum PlatTerminalEvent {
    PLAT_TERMINAL_NOTHING,  // the time is up, or keys that do nothing
    PLAT_TERMINAL_QUIT,     // a quit key, or an end asked by the system
    PLAT_TERMINAL_RESIZED,
    PLAT_TERMINAL_GONE,     // the terminal has hung up: no key can come any more
};
// Waits at most wait_ms for a key, an end or a resize; an end or a resize cuts the wait short.
PlatTerminalEvent plat_terminal_wait(int wait_ms);
// UTF-8 text and escape sequences to standard output, all of it unless a write
// fails, or waits when an end is asked (a terminal that takes nothing more).
void plat_terminal_write(const char* text, size_t count);

// The one rule of the keys that end a tool, over the bytes a terminal sends
// for them: q, Q, Ctrl+C, or an Esc on its own. An arrow or function key (ESC
// [ ... or ESC O ..., up to its final letter or '~') and Alt with a key (ESC
// and the key) do not. Plain text work, no system calls.
bool plat_terminal_keys_quit(const uint8_t* keys, size_t count);
