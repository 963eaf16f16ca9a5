// Logs: files appended to by the one process that holds them, read by others
// meanwhile. What holds it is the share mode: readers only, so a second
// writer is refused by Windows itself until this handle is closed. Only a
// file on a disk is taken, and not through a symbolic link: the lines would go
// to whatever file it names (a data file, another program's).
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/win32_errors.h"

namespace {

const char NOT_REGULAR[] = "not a regular file";
const char LINK[] = "a symbolic link";

}  // namespace

PlatResult plat_file_open_log(const char* name, PlatFile* file, char* reason, size_t reason_size)
{
    DWORD found = GetFileAttributesA(name);
    if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_REPARSE_POINT)) {
        snprintf(reason, reason_size, "%s", LINK);
        return PLAT_ERR_FAILED;
    }
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesA(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            snprintf(reason, reason_size, "%s", NOT_REGULAR);
            return PLAT_ERR_FAILED;
        }
        plat_error_words(static_cast<int>(error), reason, reason_size);
        return win32_result_of_error(static_cast<int>(error));
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        snprintf(reason, reason_size, "%s", NOT_REGULAR);
        return PLAT_ERR_FAILED;
    }
    *file = reinterpret_cast<PlatFile>(handle);
    return PLAT_OK;
}

// The name is looked at without any access asked, which no sharing mode
// refuses, and without following a link.
bool plat_file_still_named(PlatFile file, const char* name)
{
    BY_HANDLE_FILE_INFORMATION held, named;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &held)) return false;
    HANDLE look = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (look == INVALID_HANDLE_VALUE) return false;
    bool same = GetFileInformationByHandle(look, &named) && held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(look);
    return same;
}
