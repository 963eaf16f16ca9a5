// The follower's console on Windows. Output goes to the console with virtual
// terminal processing switched on for the run (Windows 10 and later), as
// UTF-16 through WriteConsoleW, so the half blocks show whatever the console's
// code page. Keys come from the console's input queue with processed input
// off, so Ctrl+C is a key; Ctrl+Break, closing the window, logging off and
// shutting down end the loop through the console control handler, which
// gives the loop a moment to put the console back. A resize shows in the
// window's size, looked at on every wait. A file is named by its volume's
// serial number and its index on the volume, and created at its creation time.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "tools/viewer.h"

namespace {

const DWORD INPUT_MODES_OFF = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                              ENABLE_VIRTUAL_TERMINAL_INPUT;
const DWORD ENDED_EXIT_CODE = 0xC000013A;  // STATUS_CONTROL_C_EXIT: what Windows ends a process with on Ctrl+Break
const int ENDING_GRACE_MS = 2000;          // the console is closed after the handler returns
const int CTRL_C = 0x03;
const size_t WIDE_PIECE = 4096;
const int BESIDE_ATTEMPTS = 100;  // names tried for a new file beside another
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

ViewerEvent key_event(const KEY_EVENT_RECORD& key)
{
    if (!key.bKeyDown) return VIEWER_NOTHING;
    WCHAR c = key.uChar.UnicodeChar;
    bool quits = c == L'q' || c == L'Q' || c == CTRL_C || key.wVirtualKeyCode == VK_ESCAPE;
    return quits ? VIEWER_QUIT : VIEWER_NOTHING;
}

void copy_reason(char* reason, size_t reason_size)
{
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
        snprintf(reason, reason_size, "another program holds it and lets no one read it");
        return;
    }
    char text[256] = {};
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                        sizeof text, nullptr)) {
        snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error));
    }
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
        text[--length] = 0;
    }
    snprintf(reason, reason_size, "%s", text);
}

uint64_t joined(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Which file an open handle is; a handle of no disk file (a pipe, a device) is not regular.
void look_at_handle(HANDLE handle, ViewerLook* look)
{
    BY_HANDLE_FILE_INFORMATION info;
    *look = ViewerLook{};
    if (!GetFileInformationByHandle(handle, &info)) return;
    look->regular = GetFileType(handle) == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    look->identified = true;
    look->volume = info.dwVolumeSerialNumber;
    look->index = joined(info.nFileIndexHigh, info.nFileIndexLow);
    look->created = static_cast<int64_t>(joined(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime));
}

}  // namespace

const char* viewer_start()
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

void viewer_stop()
{
    if (input == INVALID_HANDLE_VALUE) return;
    SetConsoleMode(input, input_found);
    SetConsoleMode(output, output_found);
    CloseHandle(input);
    input = INVALID_HANDLE_VALUE;
    SetConsoleCtrlHandler(note_ending, FALSE);
    InterlockedExchange(&stopped, 1);
}

void viewer_size(int* rows, int* columns)
{
    window_size(rows, columns);
    known_rows = *rows;
    known_columns = *columns;
}

ViewerEvent viewer_wait(int wait_ms)
{
    if (ending) return VIEWER_ENDED;
    if (size_changed()) return VIEWER_RESIZED;
    DWORD waited = WaitForSingleObject(input, static_cast<DWORD>(wait_ms));
    if (ending) return VIEWER_ENDED;
    if (size_changed()) return VIEWER_RESIZED;
    DWORD pending = 0;
    if (waited != WAIT_OBJECT_0 || !GetNumberOfConsoleInputEvents(input, &pending) || pending == 0) {
        return VIEWER_NOTHING;
    }
    INPUT_RECORD event;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &event, 1, &read) || read != 1) return VIEWER_NOTHING;
    return event.EventType == KEY_EVENT ? key_event(event.Event.KeyEvent) : VIEWER_NOTHING;
}

void viewer_write(const char* text, size_t count)
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

void viewer_end_as_asked()
{
    ExitProcess(ENDED_EXIT_CODE);
}

bool viewer_look(const char* path, ViewerLook* look)
{
    // No access asked: the file's metadata only, whoever holds it and however they share it.
    HANDLE handle = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    look_at_handle(handle, look);
    CloseHandle(handle);
    return true;
}

bool viewer_file_open(const char* path, ViewerFile* file, ViewerLook* look, char* reason, size_t reason_size)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        copy_reason(reason, reason_size);
        return false;
    }
    look_at_handle(handle, look);
    if (!look->regular) {
        CloseHandle(handle);
        snprintf(reason, reason_size, "not a regular file");
        return false;
    }
    *file = reinterpret_cast<ViewerFile>(handle);
    return true;
}

long long viewer_file_size(ViewerFile file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size) ? size.QuadPart : -1;
}

bool viewer_file_read(ViewerFile file, long long offset, uint8_t* bytes, size_t count)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(reinterpret_cast<HANDLE>(file), bytes, static_cast<DWORD>(count), &got, &at) && got == count;
}

void viewer_file_close(ViewerFile file)
{
    CloseHandle(reinterpret_cast<HANDLE>(file));
}

FILE* viewer_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size)
{
    for (int attempt = 0; attempt < BESIDE_ATTEMPTS; ++attempt) {
        int length = snprintf(temp, temp_size, "%s.%lu-%d.tmp", path, static_cast<unsigned long>(GetCurrentProcessId()),
                              attempt);
        if (length < 0 || static_cast<size_t>(length) >= temp_size) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            break;
        }
        HANDLE handle = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (handle == INVALID_HANDLE_VALUE) break;
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (stream != nullptr) return stream;
        snprintf(reason, reason_size, "%s", strerror(errno));
        if (fd < 0) {
            CloseHandle(handle);
        } else {
            _close(fd);
        }
        DeleteFileA(temp);
        return nullptr;
    }
    copy_reason(reason, reason_size);
    return nullptr;
}

bool viewer_replace(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    copy_reason(reason, reason_size);
    return false;
}
