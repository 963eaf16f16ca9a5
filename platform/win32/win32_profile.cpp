// The settings file through the Windows profile functions. Windows edits the
// file in place, keeping comments, other sections and the order of keys.
#include <windows.h>

#include "platform/platform.h"

const char PLAT_DIR_SEPARATOR = '\\';

size_t plat_current_directory(char* dir, size_t size)
{
    // The result is the length without the zero, or the size needed when it does not fit.
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), dir);
    if (length == 0 || length >= size) return 0;
    return length;
}

void plat_profile_get(const char* path, const char* section, const char* key, const char* fallback,
                      char* value, size_t size)
{
    GetPrivateProfileStringA(section, key, fallback, value, static_cast<DWORD>(size), path);
}

PlatResult plat_profile_set(const char* path, const char* section, const char* key, const char* value)
{
    return WritePrivateProfileStringA(section, key, value, path) ? PLAT_OK : PLAT_ERR_FAILED;
}
