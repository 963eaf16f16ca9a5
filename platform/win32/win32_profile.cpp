// The settings file through the Windows profile functions. Windows edits the
// file in place, keeping comments, other sections and the order of keys. The
// path names the file relative to the current directory (".\NAME"): the
// functions then look there, whatever the directory is called, and never in
// the Windows directory as they would for a bare name.
#include <windows.h>

#include "platform/platform.h"

const char PLAT_DIR_SEPARATOR = '\\';

void plat_profile_get(const char* path, const char* section, PlatProfileQuery* queries, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        PlatProfileQuery& query = queries[i];
        GetPrivateProfileStringA(section, query.key, query.fallback, query.value, static_cast<DWORD>(query.size), path);
    }
}

PlatResult plat_profile_set(const char* path, const char* section, const PlatProfileEntry* entries, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (!WritePrivateProfileStringA(section, entries[i].key, entries[i].value, path)) return PLAT_ERR_FAILED;
    }
    return PLAT_OK;
}
