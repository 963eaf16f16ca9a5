// The settings file through the Windows profile functions. Windows edits the
// file in place, keeping comments, other sections and the order of keys. The
// path names the file relative to the current directory (".\NAME"): the
// functions then look there, whatever the directory is called, and never in
// the Windows directory as they would for a bare name.
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/win32_errors.h"

const char PLAT_DIR_SEPARATOR = '\\';

namespace {

// The profile functions give the fallbacks for a file they cannot open as
// for a missing one. So the file is first opened here as they open it, for
// reading and letting others read and write: what is not there (or is a
// directory, as on POSIX) is missing, anything else that fails is a file
// that cannot be read.
PlatResult check_readable(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? PLAT_OK : win32_result_of_error(static_cast<int>(error));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PLAT_OK;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return PLAT_OK;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return PLAT_OK;  // removed meanwhile
    return win32_result_of_error(static_cast<int>(error));
}

}  // namespace

PlatResult plat_profile_get(const char* path, const char* section, PlatProfileQuery* queries, size_t count)
{
    PlatResult readable = check_readable(path);
    for (size_t i = 0; i < count; ++i) {
        PlatProfileQuery& query = queries[i];
        if (readable != PLAT_OK) {
            snprintf(query.value, query.size, "%s", query.fallback);
            continue;
        }
        GetPrivateProfileStringA(section, query.key, query.fallback, query.value, static_cast<DWORD>(query.size), path);
    }
    return readable;
}

PlatResult plat_profile_set(const char* path, const char* section, const PlatProfileEntry* entries, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (!WritePrivateProfileStringA(section, entries[i].key, entries[i].value, path)) return PLAT_ERR_FAILED;
    }
    return PLAT_OK;
}
