// The follower's console on Windows. Output goes to the console with virtual
// terminal processing switched on for the run (Windows 10 and later), as
// UTF-16 through WriteConsoleW, so the half blocks show whatever the console's
// code page. Keys come from the console's input queue with processed input
// off, so Ctrl+C is a key; Ctrl+Break, closing the window, logging off and
// shutting down end the loop through the console control handler, which
// gives the loop a moment to put the console back. A resize shows in the
// window's size, looked at on every wait.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/qkvdump/terminal.h"

namespace {

const DWORD INPUT_MODES_OFF = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                              ENABLE_VIRTUAL_TERMINAL_INPUT;
const DWORD ENDED_EXIT_CODE = 0xC000013A;  // STATUS_CONTROL_C_EXIT: what Windows ends a process with on Ctrl+Break
const int ENDING_GRACE_MS = 2000;          // the console is closed after the handler returns
const int CTRL_C = 0x03;
const size_t WIDE_PIECE = 4096;

HANDLE output = INVALID_HANDLE_VALUE;
HANDLE input = INVALID_HANDLE_VALUE;
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
    if (!GetConsoleScreenBufferInfo(output, &info)) {
        *rows = 24;
        *columns = 80;
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

TerminalEvent key_event(const KEY_EVENT_RECORD& key)
{
    if (!key.bKeyDown) return TERMINAL_NOTHING;
    WCHAR c = key.uChar.UnicodeChar;
    bool quits = c == L'q' || c == L'Q' || c == CTRL_C || key.wVirtualKeyCode == VK_ESCAPE;
    return quits ? TERMINAL_QUIT : TERMINAL_NOTHING;
}

}  // namespace

const char* terminal_start()
{
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(output, &output_found)) return "standard output is not a console";
    if (!SetConsoleMode(output, (output_found | ENABLE_VIRTUAL_TERMINAL_PROCESSING) & ~ENABLE_WRAP_AT_EOL_OUTPUT)) {
        return "this console cannot switch on virtual terminal processing (Windows 10 or later has it)";
    }
    input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &input_found)) {
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        input = INVALID_HANDLE_VALUE;
        SetConsoleMode(output, output_found);
        return "there is no console input to read keys from";
    }
    SetConsoleMode(input, (input_found & ~INPUT_MODES_OFF) | ENABLE_WINDOW_INPUT);
    SetConsoleCtrlHandler(note_ending, TRUE);
    return nullptr;
}

void terminal_stop()
{
    if (input == INVALID_HANDLE_VALUE) return;
    SetConsoleMode(input, input_found);
    SetConsoleMode(output, output_found);
    CloseHandle(input);
    input = INVALID_HANDLE_VALUE;
    SetConsoleCtrlHandler(note_ending, FALSE);
    InterlockedExchange(&stopped, 1);
}

void terminal_size(int* rows, int* columns)
{
    window_size(rows, columns);
    known_rows = *rows;
    known_columns = *columns;
}

TerminalEvent terminal_wait(int wait_ms)
{
    if (ending) return TERMINAL_ENDED;
    if (size_changed()) return TERMINAL_RESIZED;
    DWORD waited = WaitForSingleObject(input, static_cast<DWORD>(wait_ms));
    if (ending) return TERMINAL_ENDED;
    if (size_changed()) return TERMINAL_RESIZED;
    DWORD pending = 0;
    if (waited != WAIT_OBJECT_0 || !GetNumberOfConsoleInputEvents(input, &pending) || pending == 0) {
        return TERMINAL_NOTHING;
    }
    INPUT_RECORD event;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &event, 1, &read) || read != 1) return TERMINAL_NOTHING;
    return event.EventType == KEY_EVENT ? key_event(event.Event.KeyEvent) : TERMINAL_NOTHING;
}

void terminal_write(const char* text, size_t count)
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

void terminal_end_as_asked()
{
    ExitProcess(ENDED_EXIT_CODE);
}
