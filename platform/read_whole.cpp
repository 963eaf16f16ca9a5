#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool plat_file_read_whole(const char* path, long max_bytes, char** text, size_t* size, char* reason,
                          size_t reason_size)
{
    *text = nullptr;
    *size = 0;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        snprintf(reason, reason_size, "cannot open: %s", strerror(errno));
        return false;
    }
    size_t used = 0, room = 0;
    size_t limit = static_cast<size_t>(max_bytes) + 1;
    char* buffer = nullptr;
    const char* problem = nullptr;
    char too_large[48];
    for (;;) {
        if (used == room) {
            room = room == 0 ? 65536 : 2 * room;
            char* grown = room <= limit ? static_cast<char*>(realloc(buffer, room)) : nullptr;
            if (grown == nullptr && room > limit) {
                snprintf(too_large, sizeof too_large, "larger than %ld MiB", max_bytes / (1024 * 1024));
                problem = too_large;
            }
            if (grown == nullptr) {
                if (problem == nullptr) problem = "out of memory";
                break;
            }
            buffer = grown;
        }
        size_t got = fread(buffer + used, 1, room - used, file);
        used += got;
        if (got == 0) break;
    }
    if (problem == nullptr && ferror(file)) problem = strerror(errno);
    fclose(file);
    if (problem != nullptr) {
        snprintf(reason, reason_size, "cannot read: %s", problem);
        free(buffer);
        return false;
    }
    *text = buffer;
    *size = used;
    return true;
}
