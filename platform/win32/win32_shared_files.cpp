// Files shared with the program that writes them: looked at by path without
// being opened, read at an offset while they grow, and a new file made beside
// another and moved over it in one step. A file is named by its volume's
// serial number and its index on the volume, and created at its creation
// time. A file held by a program that shares it with no one (the acquisition
// program keeps its data file so) cannot be opened: PLAT_ERR_HELD. A file made
// beside another is deleted by the console's control handler (Ctrl+C,
// Ctrl+Break, the window closed) until it is moved or discarded; it is opened
// sharing deletion, so the deletion takes effect when the ending process
// closes it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/beside_name.h"
#include "platform/platform.h"
#include "platform/win32/win32_errors.h"

namespace {

const int BESIDE_ATTEMPTS = 100;  // names tried for a new file beside another
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const size_t BESIDE_NAME_SIZE = 4096;

// The files made beside others, not yet moved or discarded; read by the control handler's thread.
struct Beside {
    volatile LONG used;
    char name[BESIDE_NAME_SIZE];
};
Beside besides[PLAT_BESIDE_MAX];
bool removal_handled;

BOOL WINAPI remove_on_ending(DWORD)
{
    for (const Beside& beside : besides) {
        if (beside.used) DeleteFileA(beside.name);
    }
    return FALSE;  // the next handler, the system's own, ends the process
}

// While the ends are held: noted, and the process carries on.
volatile LONG end_noted;

BOOL WINAPI note_end(DWORD event)
{
    // The console closed, a log off: the process ends whatever a handler says, the files removed by the next.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&end_noted, 1);
    return TRUE;
}

// Once: the deleting control handler.
void handle_removal()
{
    if (removal_handled) return;
    removal_handled = true;
    SetConsoleCtrlHandler(remove_on_ending, TRUE);
}

Beside* free_beside()
{
    for (Beside& beside : besides) {
        if (!beside.used) return &beside;
    }
    return nullptr;
}

void forget_beside(const char* temp)
{
    for (Beside& beside : besides) {
        if (beside.used && strcmp(beside.name, temp) == 0) InterlockedExchange(&beside.used, 0);
    }
}

void copy_reason(char* reason, size_t reason_size)
{
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
        snprintf(reason, reason_size, "another program holds it and lets no one read it");
        return;
    }
    plat_error_words(static_cast<int>(error), reason, reason_size);
}

uint64_t joined(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Which file an open handle is; a handle of no disk file (a pipe, a device) is not regular.
void look_at_handle(HANDLE handle, PlatFileLook* look)
{
    BY_HANDLE_FILE_INFORMATION info;
    *look = PlatFileLook{};
    DWORD type = GetFileType(handle);
    look->stream = type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
    if (!GetFileInformationByHandle(handle, &info)) return;
    look->regular = type == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    look->identified = true;
    look->volume = info.dwVolumeSerialNumber;
    look->index = joined(info.nFileIndexHigh, info.nFileIndexLow);
    look->created = static_cast<int64_t>(joined(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime));
}

}  // namespace

bool plat_file_look(const char* path, PlatFileLook* look)
{
    // No access asked: the file's metadata only, whoever holds it and however they share it.
    HANDLE handle = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    look_at_handle(handle, look);
    CloseHandle(handle);
    return true;
}

PlatResult plat_file_open_shared(const char* path, PlatFile* file, PlatFileLook* look, char* reason,
                                 size_t reason_size)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        PlatResult failed = win32_result_of_error(static_cast<int>(GetLastError()));
        copy_reason(reason, reason_size);
        return failed;
    }
    look_at_handle(handle, look);
    if (!look->regular) {
        CloseHandle(handle);
        snprintf(reason, reason_size, "not a regular file");
        return PLAT_ERR_FAILED;
    }
    *file = reinterpret_cast<PlatFile>(handle);
    return PLAT_OK;
}

int64_t plat_file_size(PlatFile file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size) ? size.QuadPart : -1;
}

PlatResult plat_file_read_at(PlatFile file, int64_t offset, uint8_t* bytes, size_t count)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    bool whole = ReadFile(reinterpret_cast<HANDLE>(file), bytes, static_cast<DWORD>(count), &got, &at) && got == count;
    return whole ? PLAT_OK : PLAT_ERR_FAILED;
}

FILE* plat_file_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size)
{
    handle_removal();
    Beside* beside = free_beside();
    if (beside == nullptr) {
        beside_name_none_left(reason, reason_size);
        return nullptr;
    }
    for (int attempt = 0; beside != nullptr && attempt < BESIDE_ATTEMPTS; ++attempt) {
        int length = beside_name_make(path, GetCurrentProcessId(), attempt, "/\\", temp, temp_size);
        if (length < 0 || static_cast<size_t>(length) >= BESIDE_NAME_SIZE) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            break;
        }
        HANDLE handle =
            CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (handle == INVALID_HANDLE_VALUE) break;
        memcpy(beside->name, temp, static_cast<size_t>(length) + 1);
        InterlockedExchange(&beside->used, 1);
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (stream != nullptr) return stream;
        snprintf(reason, reason_size, "%s", strerror(errno));
        if (fd < 0) {
            CloseHandle(handle);
        } else {
            _close(fd);
        }
        plat_file_discard(temp);
        return nullptr;
    }
    copy_reason(reason, reason_size);
    return nullptr;
}

PlatResult plat_file_replace(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
        copy_reason(reason, reason_size);
        return PLAT_ERR_FAILED;
    }
    forget_beside(from);
    return PLAT_OK;
}

PlatResult plat_file_move_new(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (!MoveFileExA(from, to, 0)) {
        PlatResult failed = win32_result_of_error(static_cast<int>(GetLastError()));
        copy_reason(reason, reason_size);
        return failed;
    }
    forget_beside(from);
    return PLAT_OK;
}

void plat_file_discard(const char* temp)
{
    DeleteFileA(temp);
    forget_beside(temp);
}

void plat_ends_hold(bool hold)
{
    SetConsoleCtrlHandler(note_end, hold ? TRUE : FALSE);
    if (hold || !end_noted) return;
    remove_on_ending(CTRL_C_EVENT);
    ExitProcess(STATUS_CONTROL_C_EXIT);  // what the system's own handler ends a process with
}

bool plat_end_asked()
{
    return end_noted != 0;
}

bool plat_disk_free(const char* path, int64_t* bytes)
{
    ULARGE_INTEGER free_to_caller;
    if (!GetDiskFreeSpaceExA(path, &free_to_caller, nullptr, nullptr)) return false;
    *bytes = static_cast<int64_t>(free_to_caller.QuadPart);
    return true;
}

bool plat_names_device(const char* path, char* device, size_t size)
{
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
    static const char* const NUMBERED[] = {"COM", "LPT"};
    const char* name = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == '\\' || *c == ':') name = c + 1;
    }
    // The name before its first dot, blanks at its end dropped as Windows drops them; a bare name is the device
    // meant as one (NUL, as /dev/null).
    const char* dot = strchr(name, '.');
    if (dot == nullptr) return false;
    size_t stem = static_cast<size_t>(dot - name);
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    char upper[8] = {};
    if (stem < 3 || stem > 4) return false;
    for (size_t i = 0; i < stem; ++i) upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(name[i])));
    bool found = false;
    for (const char* known : DEVICES) found = found || strcmp(upper, known) == 0;
    for (const char* known : NUMBERED) {
        found = found || (stem == 4 && strncmp(upper, known, 3) == 0 && upper[3] >= '0' && upper[3] <= '9');
    }
    if (found) snprintf(device, size, "%s", upper);
    return found;
}

void plat_name_utf8(const char* name, char* utf8, size_t size)
{
    static wchar_t wide[BESIDE_NAME_SIZE];
    bool made = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, BESIDE_NAME_SIZE) > 0 &&
                WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, static_cast<int>(size), nullptr, nullptr) > 0;
    if (!made) snprintf(utf8, size, "%s", name);
}

void plat_closed_pipe_fails()
{
}

bool plat_file_age_ms(const char* path, int64_t* age_ms)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    int64_t steps = static_cast<int64_t>(joined(now.dwHighDateTime, now.dwLowDateTime)) -
                    static_cast<int64_t>(joined(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    *age_ms = steps > 0 ? steps / 10000 : 0;  // FILETIME counts 100 ns steps
    return true;
}
