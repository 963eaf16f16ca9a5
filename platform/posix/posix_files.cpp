// Data files and the directory search. A data file is created exclusively, so
// an existing file is never replaced.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "platform/platform.h"
#include "platform/posix/posix_errors.h"

namespace {

bool matches(const char* pattern, const char* name)
{
    for (; *pattern; ++pattern, ++name) {
        if (*name == 0) return false;
        if (*pattern != '?' && tolower(static_cast<unsigned char>(*pattern)) !=
                                   tolower(static_cast<unsigned char>(*name))) {
            return false;
        }
    }
    return *name == 0;
}

bool is_regular_file(const char* name)
{
    struct stat status;
    return stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

PlatResult plat_file_create_new(const char* name, PlatFile* file)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return plat_result_of_errno(errno);
    *file = fd;
    return PLAT_OK;
}

PlatResult plat_file_write(PlatFile file, const void* bytes, size_t count)
{
    const char* next = static_cast<const char*>(bytes);
    size_t left = count;
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_WRITE, &injected)) {
        // As a full disk does it: part of the buffer goes, then the write fails.
        if (write(static_cast<int>(file), next, left / 2) < 0) return plat_result_of_errno(errno);
        return injected;
    }
    while (left > 0) {
        ssize_t written = write(static_cast<int>(file), next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? plat_result_of_errno(errno) : PLAT_ERR_NO_SPACE;
        next += written;
        left -= static_cast<size_t>(written);
    }
    return PLAT_OK;
}

PlatResult plat_file_truncate(PlatFile file, int64_t size)
{
    return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0 ? PLAT_OK : plat_result_of_errno(errno);
}

PlatResult plat_file_sync(PlatFile file)
{
    return fdatasync(static_cast<int>(file)) == 0 ? PLAT_OK : plat_result_of_errno(errno);
}

PlatResult plat_file_close(PlatFile file)
{
    return close(static_cast<int>(file)) == 0 ? PLAT_OK : plat_result_of_errno(errno);
}

PlatResult plat_file_remove(const char* name)
{
    return unlink(name) == 0 ? PLAT_OK : plat_result_of_errno(errno);
}

void plat_find_files(const char* pattern, void (*found)(const char* name, void* context), void* context)
{
    DIR* directory = opendir(".");
    if (directory == nullptr) return;
    while (struct dirent* entry = readdir(directory)) {
        const char* name = entry->d_name;
        if (name[0] == '.' || !matches(pattern, name) || !is_regular_file(name)) continue;
        found(name, context);
    }
    closedir(directory);
}
