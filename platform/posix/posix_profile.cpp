// The settings file on disk. The text logic lives in profile_text; this part
// feeds it the file a piece at a time and writes the edited text back
// atomically: the old file copied with the changed lines spliced in to one
// temporary file in the same directory, flushed to disk and renamed over the
// old one, so a crash leaves either the old or the new file. Memory stays the
// same whatever the file's size.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/profile_text.h"

const char PLAT_DIR_SEPARATOR = '/';

namespace {

const int SYMBOLIC_LINK_HOPS_MAX = 40;
const char TEMPORARY_SUFFIX[] = ".tmp";

// The file is read and the edit written in pieces of this size.
const size_t PIECE_SIZE = 64 * 1024;
char read_piece[PIECE_SIZE];
char write_piece[PIECE_SIZE];

// Opens the file for reading when it is a regular file. Without O_NONBLOCK
// the open of a FIFO would wait for a writer. *fd is -1 for a missing file,
// which is no error, and for anything that is not a regular file (a
// directory, a FIFO, a device: PLAT_ERR_EXISTS, which a lookup takes for a
// missing file and a write-back leaves alone). A file that cannot be opened
// fails with the system's reason; so does a symbolic link to a file that is
// not there (on a disk not mounted, say), which is no missing file.
PlatResult open_settings_file(const char* path, int* fd)
{
    *fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (*fd < 0 && errno == ENOENT) {
        struct stat link;
        return lstat(path, &link) == 0 ? posix_result_of_errno(ENOENT) : PLAT_OK;
    }
    if (*fd < 0) return posix_result_of_errno(errno);
    struct stat status;
    if (fstat(*fd, &status) == 0 && S_ISREG(status.st_mode)) return PLAT_OK;
    close(*fd);
    *fd = -1;
    return posix_result_without_errno(PLAT_ERR_EXISTS);
}

// Feeds the file to the scan, to its end or, when only a lookup is wanted,
// until the rest cannot matter; false on a read error, with its reason kept.
bool scan_settings_file(int fd, ProfileScan* scan, bool to_the_end)
{
    for (;;) {
        ssize_t got = fd < 0 ? 0 : read(fd, read_piece, sizeof read_piece);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            posix_result_of_errno(errno);
            return false;
        }
        if (got == 0) break;
        profile_scan_feed(scan, read_piece, static_cast<size_t>(got));
        if (!to_the_end && profile_scan_done(scan)) break;
    }
    profile_scan_finish(scan);
    return true;
}

// Follows symbolic links so that the write goes to the file they name; the
// links themselves stay. A link to a missing file names the file to create.
bool resolve_links(const char* path, char* target, size_t size)
{
    if (snprintf(target, size, "%s", path) >= static_cast<int>(size)) return false;
    for (int hop = 0; hop < SYMBOLIC_LINK_HOPS_MAX; ++hop) {
        char link[PATH_MAX];
        ssize_t length = readlink(target, link, sizeof link - 1);
        if (length < 0) return errno == EINVAL || errno == ENOENT;  // not a link, or nothing there
        link[length] = 0;
        // A relative link is relative to the directory holding the link.
        const char* slash = strrchr(target, '/');
        if (link[0] == '/' || slash == nullptr) {
            if (snprintf(target, size, "%s", link) >= static_cast<int>(size)) return false;
            continue;
        }
        size_t directory_length = static_cast<size_t>(slash - target) + 1;
        if (directory_length + strlen(link) >= size) return false;
        memcpy(target + directory_length, link, strlen(link) + 1);
    }
    return false;
}

// A file the program may not write itself is left as it is, as Windows
// leaves it: rename would replace it anyway. Root passes every access() test,
// so a file without any write permission bit counts as read-only too.
bool may_replace(const char* target)
{
    struct stat status;
    if (stat(target, &status) != 0) return errno == ENOENT;
    return (status.st_mode & 0222) != 0 && faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) == 0;
}

PlatResult write_all(int fd, const char* bytes, size_t count)
{
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_WRITE, &injected)) {
        // As a full disk does it: part of the text goes, then the write fails.
        if (write(fd, bytes, count / 2) < 0) return posix_result_of_errno(errno);
        return injected;
    }
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? posix_result_of_errno(errno) : PLAT_ERR_NO_SPACE;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return PLAT_OK;
}

// Makes the rename itself durable; a failure here leaves a good file anyway.
void sync_directory_of(const char* path)
{
    char directory[PATH_MAX];
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        strcpy(directory, ".");
    } else {
        size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
        memcpy(directory, path, length);
        directory[length] = 0;
    }
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// The temporary file has a fixed name, so a write-back killed half-way
// leaves no more than that one file, which the next write-back takes over.
// Its lock keeps two write-backs at the same time apart: the file must be
// locked by this one, still be the file of that name (not one that another
// write-back renamed meanwhile) and have no other name. Anything else of
// that name (a FIFO, a device) fails the write-back at once: the open does
// not wait, and only a regular file passes.
int open_temporary(const char* temporary)
{
    int fd = open(temporary, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat opened, named;
    bool ours = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 && lstat(temporary, &named) == 0 &&
                opened.st_dev == named.st_dev && opened.st_ino == named.st_ino && S_ISREG(opened.st_mode) &&
                opened.st_nlink == 1 && ftruncate(fd, 0) == 0;
    if (ours) return fd;
    close(fd);
    return -1;
}

// The replacement must have the old file's owner and group: only root may
// give a file away, so another user's file that anyone may write cannot be
// replaced without becoming the program's own. It is then left as it is.
PlatResult keep_owner(int fd, const struct stat& old)
{
    struct stat made;
    if (fstat(fd, &made) != 0) return posix_result_of_errno(errno);
    if (made.st_uid == old.st_uid && made.st_gid == old.st_gid) return PLAT_OK;
    return fchown(fd, old.st_uid, old.st_gid) == 0 ? PLAT_OK : PLAT_ERR_FAILED;
}

// The new file gets the old one's owner, group and permissions; a new file
// 0666 less the umask.
PlatResult take_over_attributes(int fd, const char* target)
{
    struct stat old;
    if (stat(target, &old) == 0) {
        PlatResult kept = keep_owner(fd, old);
        if (kept != PLAT_OK) return kept;
        return fchmod(fd, old.st_mode & 07777) == 0 ? PLAT_OK : posix_result_of_errno(errno);
    }
    // umask can only be read by setting it; this runs at shut-down only.
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

// The edited text on its way from the old file to the temporary file.
struct Copying {
    int old_fd;  // -1: there is no old file
    int new_fd;
    size_t held;  // bytes of write_piece not written yet
    PlatResult result;
};

bool put_to_file(void* context, const char* bytes, size_t count)
{
    Copying* copying = static_cast<Copying*>(context);
    while (count > 0 && copying->result == PLAT_OK) {
        size_t room = PIECE_SIZE - copying->held;
        size_t taken = count < room ? count : room;
        memcpy(write_piece + copying->held, bytes, taken);
        copying->held += taken;
        bytes += taken;
        count -= taken;
        if (copying->held == PIECE_SIZE) {
            copying->result = write_all(copying->new_fd, write_piece, copying->held);
            copying->held = 0;
        }
    }
    return copying->result == PLAT_OK;
}

// The old file's bytes [from, to), read where they lie; a file that shrank
// since it was scanned fails the edit.
bool copy_from_file(void* context, uint64_t from, uint64_t to)
{
    Copying* copying = static_cast<Copying*>(context);
    if (from == to) return copying->result == PLAT_OK;
    if (copying->old_fd < 0 || lseek(copying->old_fd, static_cast<off_t>(from), SEEK_SET) < 0) {
        copying->result = PLAT_ERR_FAILED;
        return false;
    }
    for (uint64_t left = to - from; left > 0 && copying->result == PLAT_OK;) {
        size_t wanted = left < PIECE_SIZE ? static_cast<size_t>(left) : PIECE_SIZE;
        ssize_t got = read(copying->old_fd, read_piece, wanted);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            copying->result = PLAT_ERR_FAILED;
            break;
        }
        put_to_file(context, read_piece, static_cast<size_t>(got));
        left -= static_cast<uint64_t>(got);
    }
    return copying->result == PLAT_OK;
}

PlatResult fill_temporary(int fd, const char* target, int old_fd, const ProfileScan* scan,
                          const char* const* values)
{
    Copying copying = {old_fd, fd, 0, take_over_attributes(fd, target)};
    ProfileSink sink = {&copying, copy_from_file, put_to_file};
    if (copying.result == PLAT_OK && profile_edit(scan, values, &sink) && copying.held > 0) {
        copying.result = write_all(fd, write_piece, copying.held);
    }
    if (copying.result != PLAT_OK) return copying.result;
    return fsync(fd) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

PlatResult rename_over(const char* temporary, const char* target)
{
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_RENAME, &injected)) return injected != PLAT_OK ? injected : PLAT_ERR_FAILED;
    return rename(temporary, target) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

PlatResult replace_file(const char* target, int old_fd, const ProfileScan* scan, const char* const* values)
{
    char temporary[PATH_MAX];
    if (snprintf(temporary, sizeof temporary, "%s%s", target, TEMPORARY_SUFFIX) >= static_cast<int>(sizeof temporary)) {
        return PLAT_ERR_FAILED;
    }
    int fd = open_temporary(temporary);
    if (fd < 0) return PLAT_ERR_FAILED;
    PlatResult result = fill_temporary(fd, target, old_fd, scan, values);
    if (result == PLAT_OK) result = rename_over(temporary, target);
    if (result != PLAT_OK) unlink(temporary);  // still locked, so it is this write-back's own
    close(fd);  // after fsync a close has nothing left to report
    if (result == PLAT_OK) sync_directory_of(target);
    return result;
}

PlatResult look_up(const char* path, const char* section, PlatProfileQuery* queries, size_t count)
{
    ProfileKey keys[PROFILE_KEYS_MAX] = {};
    for (size_t i = 0; i < count; ++i) {
        keys[i].name = queries[i].key;
        keys[i].value = queries[i].value;
        keys[i].size = queries[i].size;
    }
    ProfileScan scan;
    profile_scan_start(&scan, section, keys, static_cast<int>(count));
    int fd = -1;
    PlatResult opened = open_settings_file(path, &fd);
    PlatResult result = opened == PLAT_ERR_EXISTS ? PLAT_OK : opened;  // not a regular file: as if missing
    if (result == PLAT_OK && !scan_settings_file(fd, &scan, false)) result = PLAT_ERR_FAILED;
    if (fd >= 0) close(fd);
    for (size_t i = 0; i < count; ++i) {
        if (result != PLAT_OK) keys[i].found = false;  // what could be read of a file is not used
        profile_key_result(&keys[i], queries[i].fallback);
    }
    return result;
}

}  // namespace

PlatResult plat_profile_get(const char* path, const char* section, PlatProfileQuery* queries, size_t count)
{
    PlatResult result = PLAT_OK;
    for (size_t done = 0; done < count && result == PLAT_OK; done += PROFILE_KEYS_MAX) {
        size_t left = count - done;
        result = look_up(path, section, queries + done, left < PROFILE_KEYS_MAX ? left : PROFILE_KEYS_MAX);
    }
    if (result == PLAT_OK) return PLAT_OK;
    for (size_t i = 0; i < count; ++i) snprintf(queries[i].value, queries[i].size, "%s", queries[i].fallback);
    return result;
}

PlatResult plat_profile_set(const char* path, const char* section, const PlatProfileEntry* entries, size_t count)
{
    if (count > PROFILE_KEYS_MAX) return PLAT_ERR_FAILED;
    char target[PATH_MAX];
    if (!resolve_links(path, target, sizeof target) || !may_replace(target)) return PLAT_ERR_FAILED;
    ProfileKey keys[PROFILE_KEYS_MAX] = {};
    const char* values[PROFILE_KEYS_MAX] = {};
    for (size_t i = 0; i < count; ++i) {
        keys[i].name = entries[i].key;
        values[i] = entries[i].value;
    }
    ProfileScan scan;
    profile_scan_start(&scan, section, keys, static_cast<int>(count));
    int old_fd = -1;
    PlatResult result = open_settings_file(target, &old_fd);
    if (result == PLAT_ERR_EXISTS) result = PLAT_ERR_FAILED;  // not a regular file: left as it is
    if (result == PLAT_OK && !scan_settings_file(old_fd, &scan, true)) result = PLAT_ERR_FAILED;
    if (result == PLAT_OK) result = replace_file(target, old_fd, &scan, values);
    if (old_fd >= 0) close(old_fd);
    return result;
}
