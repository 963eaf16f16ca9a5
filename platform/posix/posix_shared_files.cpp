// Files shared with the program that writes them: looked at by path without
// being opened, read at an offset while they grow, and a new file made beside
// another and moved over it in one step. A file's creation time is its birth
// time where the file system keeps one (statx), else its last status change,
// which a program cannot set back.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_errors.h"

int posix_last_error;

namespace {

const int BESIDE_ATTEMPTS = 100;  // names tried for a new file beside another

int64_t nanoseconds(const struct statx_timestamp& at)
{
    return static_cast<int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec;
}

void copy_errno(char* reason, size_t reason_size)
{
    plat_error_words(errno, reason, reason_size);
}

}  // namespace

int plat_last_error() { return posix_last_error; }

void plat_error_words(int error, char* text, size_t size)
{
    snprintf(text, size, "%s", strerror(error));
}

bool plat_file_look(const char* path, PlatFileLook* look)
{
    struct statx status;
    if (statx(AT_FDCWD, path, 0, STATX_TYPE | STATX_INO | STATX_CTIME | STATX_BTIME, &status) != 0) return false;
    look->regular = S_ISREG(status.stx_mode);
    look->identified = true;
    look->volume = makedev(status.stx_dev_major, status.stx_dev_minor);
    look->index = status.stx_ino;
    look->created = nanoseconds((status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_ctime);
    return true;
}

PlatResult plat_file_open_shared(const char* path, PlatFile* file, PlatFileLook* look, char* reason,
                                 size_t reason_size)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        copy_errno(reason, reason_size);
        if (fd >= 0) close(fd);
        return PLAT_ERR_FAILED;
    }
    if (!S_ISREG(status.st_mode)) {
        close(fd);
        snprintf(reason, reason_size, "not a regular file");
        return PLAT_ERR_FAILED;
    }
    *look = PlatFileLook{true, true, status.st_dev, status.st_ino, 0};
    *file = fd;
    return PLAT_OK;
}

int64_t plat_file_size(PlatFile file)
{
    struct stat status;
    return fstat(static_cast<int>(file), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

PlatResult plat_file_read_at(PlatFile file, int64_t offset, uint8_t* bytes, size_t count)
{
    while (count > 0) {
        ssize_t got = pread(static_cast<int>(file), bytes, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return PLAT_ERR_FAILED;
        bytes += got;
        offset += got;
        count -= static_cast<size_t>(got);
    }
    return PLAT_OK;
}

FILE* plat_file_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size)
{
    for (int attempt = 0; attempt < BESIDE_ATTEMPTS; ++attempt) {
        int length = snprintf(temp, temp_size, "%s.%ld-%d.tmp", path, static_cast<long>(getpid()), attempt);
        if (length < 0 || static_cast<size_t>(length) >= temp_size) {
            errno = ENAMETOOLONG;
            break;
        }
        // Made as fopen would make the file itself: readable and writable by all the umask lets through.
        int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        FILE* stream = fdopen(fd, "wb");
        if (stream != nullptr) return stream;
        copy_errno(reason, reason_size);
        close(fd);
        unlink(temp);
        return nullptr;
    }
    copy_errno(reason, reason_size);
    return nullptr;
}

PlatResult plat_file_replace(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (rename(from, to) == 0) return PLAT_OK;
    copy_errno(reason, reason_size);
    return PLAT_ERR_FAILED;
}
