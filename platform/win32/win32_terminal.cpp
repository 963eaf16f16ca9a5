// The tools' terminal on Windows. Keys come from the console's input queue
// (CONIN$) with processed input off, so Ctrl+C is a key and the keys work
// with standard input or output redirected. Ctrl+Break, closing the window,
// logging off and shutting down end the run through the console control
// handler, which gives the tool a moment to finish. A drawn console has
// virtual terminal processing switched on for the run (Windows 10 and later);
// text goes to a console as UTF-16 through WriteConsoleW, so the half blocks
// show whatever the console's code page. A resize shows in the window's size,
// looked at on every wait.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/win32_terminal.h"

namespace {

const DWORD INPUT_MODES_OFF = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                              ENABLE_VIRTUAL_TERMINAL_INPUT;
const int ENDING_GRACE_MS = 2000;  // a closed console's process is ended once the handler returns
const DWORD EVENTS_PER_LOOK = 64;
const uint8_t ESCAPE = 0x1B;
const int DEFAULT_ROWS = 24;
const int DEFAULT_COLUMNS = 80;
const size_t WIDE_PIECE = 4096;

bool started;
bool drawn;
HANDLE output = INVALID_HANDLE_VALUE;
HANDLE input = INVALID_HANDLE_VALUE;
bool output_is_console;
DWORD output_found;
DWORD input_found;
volatile LONG ending;
volatile LONG stopped;
int known_rows;
int known_columns;
wchar_t wide[WIDE_PIECE];

BOOL WINAPI note_ending(DWORD)
{
    InterlockedExchange(&ending, 1);
    for (int waited = 0; waited < ENDING_GRACE_MS && !stopped; waited += 10) Sleep(10);
    return TRUE;
}

void window_size(int* rows, int* columns)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        *rows = DEFAULT_ROWS;
        *columns = DEFAULT_COLUMNS;
        return;
    }
    *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    *columns = info.srWindow.Right - info.srWindow.Left + 1;
}

bool size_changed()
{
    int rows = 0;
    int columns = 0;
    window_size(&rows, &columns);
    return rows != known_rows || columns != known_columns;
}

// The byte a terminal sends for the key: its character, or ESC for the Esc
// key; 0 for a key without one (an arrow, F1), which never quits.
uint8_t key_byte(const KEY_EVENT_RECORD& key)
{
    if (key.wVirtualKeyCode == VK_ESCAPE) return ESCAPE;
    WCHAR c = key.uChar.UnicodeChar;
    return c > 0 && c < 0x80 ? static_cast<uint8_t>(c) : 0;
}

// Each key is looked at on its own: here an Esc key is always a whole key.
bool quits(const INPUT_RECORD& event)
{
    if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) return false;
    uint8_t key = key_byte(event.Event.KeyEvent);
    return key != 0 && plat_terminal_keys_quit(&key, 1);
}

// Peeked before each read, which never waits: under Wine a peek also takes
// in what the terminal has typed, where a count of the events queued does not.
PlatTerminalEvent take_keys()
{
    for (DWORD taken = 0; taken < EVENTS_PER_LOOK && input != INVALID_HANDLE_VALUE; ++taken) {
        INPUT_RECORD event;
        DWORD count = 0;
        if (!PeekConsoleInputW(input, &event, 1, &count) || count == 0) break;
        if (!ReadConsoleInputW(input, &event, 1, &count) || count != 1) break;
        if (quits(event)) return PLAT_TERMINAL_QUIT;
    }
    return PLAT_TERMINAL_NOTHING;
}

void write_console(const char* text, size_t count)
{
    while (count > 0) {
        size_t piece = count < WIDE_PIECE ? count : WIDE_PIECE;
        // A piece ends between characters: never before a continuation byte.
        while (piece < count && piece > 0 && (static_cast<unsigned char>(text[piece]) & 0xC0) == 0x80) --piece;
        int length = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(piece), wide, WIDE_PIECE);
        DWORD written = 0;
        if (length <= 0 || !WriteConsoleW(output, wide, static_cast<DWORD>(length), &written, nullptr)) return;
        text += piece;
        count -= piece;
    }
}

void write_file(const char* text, size_t count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(output, text, static_cast<DWORD>(count), &written, nullptr) || written == 0) return;
        text += written;
        count -= written;
    }
}

}  // namespace

const char* plat_terminal_start(PlatTerminalUse use)
{
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    output_is_console = GetConsoleMode(output, &output_found) != 0;
    drawn = use == PLAT_TERMINAL_DRAWN;
    if (drawn && !output_is_console) return "standard output is not a console";
    if (drawn &&
        !SetConsoleMode(output, (output_found | ENABLE_VIRTUAL_TERMINAL_PROCESSING) & ~ENABLE_WRAP_AT_EOL_OUTPUT)) {
        return "this console cannot switch on virtual terminal processing (Windows 10 or later has it)";
    }
    input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    if (input != INVALID_HANDLE_VALUE && !GetConsoleMode(input, &input_found)) {
        CloseHandle(input);
        input = INVALID_HANDLE_VALUE;
    }
    if (input == INVALID_HANDLE_VALUE && drawn) {
        SetConsoleMode(output, output_found);
        return "there is no console input to read keys from";
    }
    if (input != INVALID_HANDLE_VALUE) SetConsoleMode(input, (input_found & ~INPUT_MODES_OFF) | ENABLE_WINDOW_INPUT);
    window_size(&known_rows, &known_columns);
    InterlockedExchange(&ending, 0);
    InterlockedExchange(&stopped, 0);
    SetConsoleCtrlHandler(note_ending, TRUE);
    started = true;
    return nullptr;
}

void plat_terminal_stop()
{
    if (!started) return;
    if (input != INVALID_HANDLE_VALUE) {
        SetConsoleMode(input, input_found);
        CloseHandle(input);
        input = INVALID_HANDLE_VALUE;
    }
    if (drawn) SetConsoleMode(output, output_found);
    SetConsoleCtrlHandler(note_ending, FALSE);
    InterlockedExchange(&stopped, 1);
    started = false;
}

bool plat_terminal_is_output()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void plat_terminal_size(int* rows, int* columns)
{
    window_size(rows, columns);
    known_rows = *rows;
    known_columns = *columns;
}

bool plat_terminal_24_bit()
{
    const char* colour_term = getenv("COLORTERM");
    return colour_term && (strcmp(colour_term, "truecolor") == 0 || strcmp(colour_term, "24bit") == 0);
}

PlatTerminalEvent win32_terminal_look()
{
    if (ending) return PLAT_TERMINAL_QUIT;
    if (take_keys() == PLAT_TERMINAL_QUIT) return PLAT_TERMINAL_QUIT;
    return size_changed() ? PLAT_TERMINAL_RESIZED : PLAT_TERMINAL_NOTHING;
}

PlatTerminalEvent plat_terminal_wait(int wait_ms)
{
    PlatTerminalEvent event = win32_terminal_look();
    if (event != PLAT_TERMINAL_NOTHING) return event;
    if (input != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(input, static_cast<DWORD>(wait_ms));
    } else {
        Sleep(static_cast<DWORD>(wait_ms));
    }
    return win32_terminal_look();
}

void plat_terminal_write(const char* text, size_t count)
{
    if (output_is_console) {
        write_console(text, count);
    } else {
        write_file(text, count);
    }
}
