// Data files and the directory search. A data file is created exclusively, so
// an existing file is never replaced, and an empty one is removed only while
// its name still denotes it.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/win32_errors.h"

namespace {

const DWORD SKIPPED_ATTRIBUTES = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

PlatResult from_last_error() { return win32_result_of_error(static_cast<int>(GetLastError())); }

HANDLE handle_of(PlatFile file) { return reinterpret_cast<HANDLE>(file); }

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The open file holds nothing and name is that very file, not a file put in
// its place. The name is looked at without any access asked, which no
// sharing mode refuses, and without following a link.
bool still_named_and_empty(HANDLE opened, const char* name)
{
    BY_HANDLE_FILE_INFORMATION held, named;
    if (!GetFileInformationByHandle(opened, &held) || held.nFileSizeHigh != 0 || held.nFileSizeLow != 0) return false;
    HANDLE look = CreateFileA(name, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (look == INVALID_HANDLE_VALUE) return false;
    bool same = GetFileInformationByHandle(look, &named) && same_file(held, named);
    CloseHandle(look);
    return same;
}

// One WriteFile call at the current end of the file; *written says how much went.
bool write_at_end(HANDLE handle, const char* bytes, DWORD count, DWORD* written)
{
    LARGE_INTEGER no_move = {};
    *written = 0;
    return SetFilePointerEx(handle, no_move, nullptr, FILE_END) &&
           WriteFile(handle, bytes, count, written, nullptr);
}

}  // namespace

PlatResult plat_file_create_new(const char* name, PlatFile* file)
{
    HANDLE handle = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return from_last_error();
    *file = reinterpret_cast<PlatFile>(handle);
    return PLAT_OK;
}

PlatResult plat_file_write(PlatFile file, const void* bytes, size_t count)
{
    const char* next = static_cast<const char*>(bytes);
    size_t left = count;
    DWORD written = 0;
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_WRITE, &injected)) {
        // As a full disk does it: part of the buffer goes, then the write fails.
        if (!write_at_end(handle_of(file), next, static_cast<DWORD>(left / 2), &written)) return from_last_error();
        return win32_result_without_error(injected);
    }
    while (left > 0) {
        if (!write_at_end(handle_of(file), next, static_cast<DWORD>(left), &written)) return from_last_error();
        if (written == 0) return win32_result_without_error(PLAT_ERR_NO_SPACE);
        next += written;
        left -= written;
    }
    return PLAT_OK;
}

PlatResult plat_file_truncate(PlatFile file, int64_t size)
{
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!SetFilePointerEx(handle_of(file), end, nullptr, FILE_BEGIN)) return from_last_error();
    return SetEndOfFile(handle_of(file)) ? PLAT_OK : from_last_error();
}

PlatResult plat_file_sync(PlatFile file)
{
    return FlushFileBuffers(handle_of(file)) ? PLAT_OK : from_last_error();
}

PlatResult plat_file_close(PlatFile file)
{
    return CloseHandle(handle_of(file)) ? PLAT_OK : from_last_error();
}

// The file is compared while this program holds it without sharing, so
// that no one can move or remove it meanwhile; it is removed by name just
// after the close, as Windows before Vista cannot remove a file by its handle.
PlatResult plat_file_close_removing_empty(PlatFile file, const char* name)
{
    bool remove = still_named_and_empty(handle_of(file), name);
    if (!CloseHandle(handle_of(file))) return from_last_error();
    if (!remove) return PLAT_OK;
    return DeleteFileA(name) ? PLAT_OK : from_last_error();
}

void plat_file_remove_empty_at_end(PlatFile /*file*/, const char* /*name*/) {}

// The pattern is matched by Windows itself. Windows lets a '?' before the
// dot match nothing (08DEC2026-12.QKV would match ????), so names of another
// length than the pattern are left out: '?' stands for exactly one character.
void plat_find_files(const char* pattern, void (*found)(const char* name, void* context), void* context)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    size_t pattern_length = strlen(pattern);
    do {
        if ((entry.dwFileAttributes & SKIPPED_ATTRIBUTES) != 0) continue;
        if (strlen(entry.cFileName) != pattern_length) continue;
        found(entry.cFileName, context);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}
