// Data files and the directory search. A data file is created exclusively, so
// an existing file is never replaced, and an empty one is removed only while
// its name still denotes it. That removal is also made by the handler of the
// signals that end a run (posix_console.cpp), so everything it does there is
// async-signal-safe: fstat, lstat and unlink on what was noted beforehand.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>

#include "platform/platform.h"
#include "platform/posix/posix_ending.h"
#include "platform/posix/posix_errors.h"

namespace {

// The empty file a run ended by a signal removes; noted before it is armed.
int file_removed_at_end = -1;
const char* name_removed_at_end;
volatile sig_atomic_t removal_at_end_armed;

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

// The open file holds nothing and name is that very file, not a link to it
// nor a file put in its place. While fd stays open its inode cannot be
// taken by another file, so the comparison cannot match a newcomer.
bool still_named_and_empty(int fd, const char* name)
{
    struct stat opened, named;
    return fstat(fd, &opened) == 0 && opened.st_size == 0 && lstat(name, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void disarm_removal_at_end()
{
    removal_at_end_armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

PlatResult plat_file_create_new(const char* name, PlatFile* file)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return posix_result_of_errno(errno);
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
        if (write(static_cast<int>(file), next, left / 2) < 0) return posix_result_of_errno(errno);
        return posix_result_without_errno(injected);
    }
    while (left > 0) {
        ssize_t written = write(static_cast<int>(file), next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return posix_result_of_errno(errno);
        if (written == 0) return posix_result_without_errno(PLAT_ERR_NO_SPACE);
        next += written;
        left -= static_cast<size_t>(written);
    }
    return PLAT_OK;
}

PlatResult plat_file_truncate(PlatFile file, int64_t size)
{
    return ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

PlatResult plat_file_sync(PlatFile file)
{
    return fdatasync(static_cast<int>(file)) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

PlatResult plat_file_close(PlatFile file)
{
    if (static_cast<int>(file) == file_removed_at_end) disarm_removal_at_end();
    return close(static_cast<int>(file)) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

// Compared and removed before the close, while the file is still held. A
// signal that ends the run meanwhile finds the removal armed and makes it
// itself, or finds it made.
PlatResult plat_file_close_removing_empty(PlatFile file, const char* name)
{
    int fd = static_cast<int>(file);
    PlatResult removed = PLAT_OK;
    if (still_named_and_empty(fd, name) && unlink(name) != 0 && errno != ENOENT) removed = posix_result_of_errno(errno);
    PlatResult closed = plat_file_close(file);  // disarms the removal first
    return removed != PLAT_OK ? removed : closed;
}

void plat_file_remove_empty_at_end(PlatFile file, const char* name)
{
    disarm_removal_at_end();
    file_removed_at_end = static_cast<int>(file);
    name_removed_at_end = name;
    std::atomic_signal_fence(std::memory_order_seq_cst);  // both noted before the handler may look
    removal_at_end_armed = 1;
}

void posix_remove_empty_file_at_end()
{
    if (!removal_at_end_armed) return;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (still_named_and_empty(file_removed_at_end, name_removed_at_end)) unlink(name_removed_at_end);
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
