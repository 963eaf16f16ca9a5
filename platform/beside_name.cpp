#include "platform/beside_name.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

void beside_name_none_left(char* reason, size_t size)
{
    snprintf(reason, size, "more than %d outputs made at once", PLAT_BESIDE_MAX);
}

int beside_name_make(const char* path, unsigned long process, int attempt, const char* separators, char* temp,
                     size_t size)
{
    char suffix[48];
    int suffix_length = snprintf(suffix, sizeof suffix, ".%lu-%d.tmp", process, attempt);
    size_t length = strlen(path);
    size_t component = length;
    while (component > 0 && strchr(separators, path[component - 1]) == nullptr) --component;
    size_t kept = length;
    size_t room = BESIDE_NAME_COMPONENT_MAX - static_cast<size_t>(suffix_length);
    if (length - component > room) {
        kept = component + room;
        // A UTF-8 character's continuation bytes (10xxxxxx) go with the byte that starts it.
        while (kept > component && (static_cast<unsigned char>(path[kept]) & 0xC0) == 0x80) --kept;
    }
    int made = snprintf(temp, size, "%.*s%s", static_cast<int>(kept), path, suffix);
    return made < 0 || static_cast<size_t>(made) >= size ? -1 : made;
}
