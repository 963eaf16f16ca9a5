// Console on Windows. Keys come from the console's own input queue (CONIN$),
// so they work with stdin or stdout redirected. The key test and the key read
// go by the scan-code key table below, not by the event's character, so that
// Shift, Ctrl, Alt and the lock keys alone never end the loop. Output goes
// through the C runtime in text mode, which writes each "\n" as CR LF. No
// console control handler is installed: Ctrl+C during the loop ends the process.
#include <windows.h>
#include <io.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

const DWORD PEEK_CAPACITY = 1024;
const DWORD RAW_MODE_OFF = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;
const DWORD ALT_PRESSED = LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
const DWORD CTRL_PRESSED = LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED;
// Main-block keys that have no code together with Ctrl: 1, 3, 4, 5, 7, 8, 9, 0, =, ;, ', `, comma, period, /.
const WORD NO_CODE_WITH_CTRL[] = {0x02, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0A, 0x0B, 0x0D,
                                  0x27, 0x28, 0x29, 0x33, 0x34, 0x35};
// Grey keys (ENHANCED_KEY): Enter and / of the numeric pad, Home, the arrows,
// Page Up, End, Page Down, Insert, Delete.
const WORD ENHANCED_IN_TABLE[] = {0x1C, 0x35, 0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53};

char output_block[512];
bool output_on_console;
HANDLE console_input = INVALID_HANDLE_VALUE;
INPUT_RECORD peeked[PEEK_CAPACITY];
bool second_code_pending;

template <size_t N>
bool listed(WORD scan, const WORD (&list)[N])
{
    for (WORD entry : list) {
        if (entry == scan) return true;
    }
    return false;
}

// Esc to Enter, A to `, \ to /, numeric pad *, Space, F1 to F10, the numeric pad, F11, F12.
bool main_block_in_table(WORD scan)
{
    return (scan >= 0x01 && scan <= 0x1C) || (scan >= 0x1E && scan <= 0x29) || (scan >= 0x2B && scan <= 0x35) ||
           scan == 0x37 || scan == 0x39 || (scan >= 0x3B && scan <= 0x44) || (scan >= 0x47 && scan <= 0x53) ||
           scan == 0x57 || scan == 0x58;
}

bool is_numeric_pad_digit(WORD scan) { return scan >= 0x47 && scan <= 0x52 && scan != 0x4A && scan != 0x4E; }

// Modifier, lock and system keys; listed by virtual key as well, since not
// every keyboard gives them the scan codes the table expects.
bool is_never_in_table(WORD virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_PAUSE: case VK_CAPITAL: case VK_NUMLOCK:
    case VK_SCROLL: case VK_SNAPSHOT: case VK_LWIN: case VK_RWIN: case VK_APPS: return true;
    default: return virtual_key >= VK_F13 && virtual_key <= VK_F24;
    }
}

// Whether the key table gives the key a code under the event's modifier state.
bool has_code(const KEY_EVENT_RECORD& key)
{
    if (is_never_in_table(key.wVirtualKeyCode)) return false;
    // Keys typed by other programs may come without a scan code.
    WORD scan = key.wVirtualScanCode != 0 ? key.wVirtualScanCode
                                          : static_cast<WORD>(MapVirtualKeyA(key.wVirtualKeyCode, MAPVK_VK_TO_VSC));
    if (key.dwControlKeyState & ENHANCED_KEY) return listed(scan, ENHANCED_IN_TABLE);
    if (!main_block_in_table(scan)) return false;
    if (key.dwControlKeyState & ALT_PRESSED) return !is_numeric_pad_digit(scan);
    if (key.dwControlKeyState & CTRL_PRESSED) return !listed(scan, NO_CODE_WITH_CTRL);
    return true;
}

bool is_key_down(const INPUT_RECORD& event) { return event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown; }

bool counts_for_key_test(const INPUT_RECORD& event) { return is_key_down(event) && has_code(event.Event.KeyEvent); }

bool taken_by_key_read(const INPUT_RECORD& event)
{
    return is_key_down(event) && (event.Event.KeyEvent.uChar.AsciiChar != 0 || has_code(event.Event.KeyEvent));
}

// Mouse, focus and key-up events are never consumed while the loop runs. When
// they fill the peek window, the leading ones a key read would throw away
// anyway are dropped, so that a key pressed after them is still seen.
void drop_leading_noise(DWORD peeked_count)
{
    DWORD noise = 0;
    while (noise < peeked_count && !taken_by_key_read(peeked[noise])) ++noise;
    DWORD dropped = 0;
    if (noise > 0) ReadConsoleInputA(console_input, peeked, noise, &dropped);
}

}  // namespace

void plat_console_start()
{
    // The runtime's printf writes an unbuffered stream one character at a
    // time, which a console shows slowly. So a console gets the block too, and
    // every wait (connect, send, packet, key) flushes it first: the screen is the
    // same as unbuffered whenever the program waits.
    output_on_console = _isatty(_fileno(stdout)) != 0;
    setvbuf(stdout, output_block, _IOFBF, sizeof output_block);
    console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
}

void plat_console_show()
{
    if (output_on_console) fflush(stdout);
}

void plat_console_stop()
{
    fflush(stdout);
    if (console_input == INVALID_HANDLE_VALUE) return;
    CloseHandle(console_input);
    console_input = INVALID_HANDLE_VALUE;
}

// Only a console has a console mode: NUL, which the runtime takes for a terminal too, has none.
bool plat_errors_on_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool plat_key_waiting()
{
    if (second_code_pending) return true;
    DWORD count = 0;
    if (console_input == INVALID_HANDLE_VALUE || !PeekConsoleInputA(console_input, peeked, PEEK_CAPACITY, &count)) {
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (counts_for_key_test(peeked[i])) return true;
    }
    if (count == PEEK_CAPACITY) drop_leading_noise(count);
    return false;
}

void plat_key_read()
{
    if (second_code_pending) {
        second_code_pending = false;
        return;
    }
    DWORD found_mode = 0;
    fflush(stdout);  // the run is ending: the prompt is out, also in a file, before the wait
    if (console_input == INVALID_HANDLE_VALUE || !GetConsoleMode(console_input, &found_mode)) return;
    SetConsoleMode(console_input, found_mode & ~RAW_MODE_OFF);
    INPUT_RECORD event;
    DWORD read = 0;
    while (ReadConsoleInputA(console_input, &event, 1, &read) && read == 1) {
        if (!taken_by_key_read(event)) continue;
        // A key without a character (F1, an arrow, Home...) leaves its second code.
        second_code_pending = event.Event.KeyEvent.uChar.AsciiChar == 0;
        break;
    }
    SetConsoleMode(console_input, found_mode);
}
