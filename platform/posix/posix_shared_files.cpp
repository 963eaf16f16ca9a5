// Files shared with the program that writes them: looked at by path without
// being opened, read at an offset while they grow, and a new file made beside
// another and moved over it in one step. A file's creation time is its birth
// time where the file system keeps one (statx), else its last status change,
// which a program cannot set back. A file made beside another is removed by
// the handler of SIGINT, SIGTERM and SIGHUP until it is moved or discarded;
// the handler then lets the signal end the process as it would have.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/beside_name.h"
#include "platform/platform.h"
#include "platform/posix/posix_errors.h"

namespace {

const int BESIDE_ATTEMPTS = 100;  // names tried for a new file beside another
const int REMOVING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The files made beside others, not yet moved or discarded; read by the signal handler.
struct Beside {
    volatile sig_atomic_t used;
    char name[PATH_MAX];
};
Beside besides[PLAT_BESIDE_MAX];
bool removal_handled;

void remove_and_die(int signal_number)
{
    for (const Beside& beside : besides) {
        if (beside.used) unlink(beside.name);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);  // delivered when the handler returns
}

// Once: the removing handler for each of the signals not ignored (nohup keeps
// them so), and SIGXFSZ ignored so that a write past the limit fails.
void handle_removal()
{
    if (removal_handled) return;
    removal_handled = true;
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = remove_and_die;
    sigemptyset(&action.sa_mask);
    for (int signal_number : REMOVING_SIGNALS) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : REMOVING_SIGNALS) {
        struct sigaction found = {};
        if (sigaction(signal_number, nullptr, &found) == 0 && found.sa_handler != SIG_IGN) {
            sigaction(signal_number, &action, nullptr);
        }
    }
}

// The removing signals held back while the list of files changes, so the handler never sees half a name.
void hold_removing_signals(bool hold, sigset_t* saved)
{
    if (!hold) {
        sigprocmask(SIG_SETMASK, saved, nullptr);
        return;
    }
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : REMOVING_SIGNALS) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, saved);
}

Beside* free_beside()
{
    for (Beside& beside : besides) {
        if (!beside.used) return &beside;
    }
    return nullptr;
}

void forget_beside(const char* temp)
{
    for (Beside& beside : besides) {
        if (beside.used && strcmp(beside.name, temp) == 0) beside.used = 0;
    }
}

int64_t nanoseconds(const struct statx_timestamp& at)
{
    return static_cast<int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec;
}

void copy_errno(char* reason, size_t reason_size)
{
    plat_error_words(errno, reason, reason_size);
}

}  // namespace

bool plat_file_look(const char* path, PlatFileLook* look)
{
    struct statx status;
    if (statx(AT_FDCWD, path, 0, STATX_TYPE | STATX_INO | STATX_CTIME | STATX_BTIME, &status) != 0) return false;
    look->regular = S_ISREG(status.stx_mode);
    look->stream = S_ISFIFO(status.stx_mode) || S_ISCHR(status.stx_mode);
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
    *look = PlatFileLook{};
    look->regular = true;
    look->identified = true;
    look->volume = status.st_dev;
    look->index = status.st_ino;
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
    handle_removal();
    sigset_t saved;
    hold_removing_signals(true, &saved);
    Beside* beside = free_beside();
    FILE* stream = nullptr;
    if (beside == nullptr) {
        hold_removing_signals(false, &saved);
        beside_name_none_left(reason, reason_size);
        return nullptr;
    }
    for (int attempt = 0; beside != nullptr && attempt < BESIDE_ATTEMPTS; ++attempt) {
        int length = beside_name_make(path, static_cast<unsigned long>(getpid()), attempt, "/", temp, temp_size);
        if (length < 0 || static_cast<size_t>(length) >= PATH_MAX) {
            errno = ENAMETOOLONG;
            break;
        }
        // Made as fopen would make the file itself: readable and writable by all the umask lets through.
        int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        stream = fdopen(fd, "wb");
        if (stream == nullptr) {
            int error = errno;
            close(fd);
            unlink(temp);
            errno = error;
            break;
        }
        memcpy(beside->name, temp, static_cast<size_t>(length) + 1);
        beside->used = 1;
        break;
    }
    if (stream == nullptr) copy_errno(reason, reason_size);
    hold_removing_signals(false, &saved);
    return stream;
}

PlatResult plat_file_replace(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (rename(from, to) != 0) {
        copy_errno(reason, reason_size);
        return PLAT_ERR_FAILED;
    }
    forget_beside(from);
    return PLAT_OK;
}

PlatResult plat_file_move_new(const char* from, const char* to, char* reason, size_t reason_size)
{
    int moved = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: a second name made only where there is none, then the first removed.
        moved = link(from, to);
        if (moved == 0) unlink(from);
    }
    if (moved != 0) {
        PlatResult result = posix_result_of_errno(errno);
        copy_errno(reason, reason_size);
        return result;
    }
    forget_beside(from);
    return PLAT_OK;
}

void plat_file_discard(const char* temp)
{
    unlink(temp);
    forget_beside(temp);
}

void plat_ends_hold(bool hold)
{
    static sigset_t saved;
    hold_removing_signals(hold, &saved);
}

bool plat_end_asked()
{
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int signal_number : REMOVING_SIGNALS) {
        struct sigaction found = {};
        // Linux keeps a blocked signal pending even when it is ignored.
        if (sigismember(&pending, signal_number) == 1 && sigaction(signal_number, nullptr, &found) == 0 &&
            found.sa_handler != SIG_IGN) {
            return true;
        }
    }
    return false;
}

bool plat_disk_free(const char* path, int64_t* bytes)
{
    struct statvfs disk;
    if (statvfs(path, &disk) != 0) return false;
    *bytes = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
    return true;
}

bool plat_names_device(const char*, char*, size_t)
{
    return false;
}

void plat_name_utf8(const char* name, char* utf8, size_t size)
{
    snprintf(utf8, size, "%s", name);
}

void plat_closed_pipe_fails()
{
    signal(SIGPIPE, SIG_IGN);
}

bool plat_file_age_ms(const char* path, int64_t* age_ms)
{
    struct stat status;
    struct timespec now;
    if (stat(path, &status) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    int64_t age = (static_cast<int64_t>(now.tv_sec) - status.st_mtim.tv_sec) * 1000 +
                  (now.tv_nsec - status.st_mtim.tv_nsec) / 1000000;
    *age_ms = age > 0 ? age : 0;
    return true;
}
