// The settings file on disk. The text logic lives in profile_text; this part
// reads the file into memory and writes the edited text back atomically: one
// temporary file in the same directory, flushed to disk and renamed over the
// old one, so a crash leaves either the old or the new file.
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
#include "platform/posix/profile_text.h"

const char PLAT_DIR_SEPARATOR = '/';

namespace {

const int SYMBOLIC_LINK_HOPS_MAX = 40;
const char TEMPORARY_SUFFIX[] = ".tmp";

struct FileText {
    char* bytes;  // malloc'd; nullptr when the file is missing
    size_t length;
};

PlatResult from_errno(int error)
{
    switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return PLAT_ERR_NO_SPACE;
    default: return PLAT_ERR_FAILED;
    }
}

bool read_all(int fd, char* bytes, size_t size, size_t* length)
{
    size_t total = 0;
    while (total < size) {
        ssize_t got = read(fd, bytes + total, size - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;  // the file shrank meanwhile
        total += static_cast<size_t>(got);
    }
    *length = total;
    return true;
}

// Reads the file when it is a regular file of at most PLAT_PROFILE_SIZE_MAX
// bytes. A missing file is no error (no text). Anything else is: a directory,
// a FIFO or device, a larger file, an unreadable file or a failed read.
PlatResult read_file_text(const char* path, FileText* file)
{
    file->bytes = nullptr;
    file->length = 0;
    // Without O_NONBLOCK the open of a FIFO would wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? PLAT_OK : PLAT_ERR_FAILED;
    struct stat status;
    PlatResult result = PLAT_ERR_FAILED;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= static_cast<off_t>(PLAT_PROFILE_SIZE_MAX)) {
        // One byte more than allowed, to notice a file that grew meanwhile.
        const size_t room = PLAT_PROFILE_SIZE_MAX + 1;
        file->bytes = static_cast<char*>(malloc(room));
        if (file->bytes && read_all(fd, file->bytes, room, &file->length) && file->length < room) result = PLAT_OK;
    }
    close(fd);
    if (result != PLAT_OK) {
        free(file->bytes);
        file->bytes = nullptr;
        file->length = 0;
    }
    return result;
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
        if (write(fd, bytes, count / 2) < 0) return from_errno(errno);
        return injected;
    }
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? from_errno(errno) : PLAT_ERR_NO_SPACE;
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
// write-back renamed meanwhile) and have no other name.
int open_temporary(const char* temporary)
{
    int fd = open(temporary, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat opened, named;
    bool ours = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 && lstat(temporary, &named) == 0 &&
                opened.st_dev == named.st_dev && opened.st_ino == named.st_ino && S_ISREG(opened.st_mode) &&
                opened.st_nlink == 1 && ftruncate(fd, 0) == 0;
    if (ours) return fd;
    close(fd);
    return -1;
}

// Only root may give a file away; others keep at least its group where they may.
bool keep_owner(int fd, const struct stat& old)
{
    return fchown(fd, old.st_uid, old.st_gid) == 0 || fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
}

// The new file gets the old one's owner, group and permissions; a new file
// 0666 less the umask.
PlatResult take_over_attributes(int fd, const char* target)
{
    struct stat old;
    if (stat(target, &old) == 0) {
        keep_owner(fd, old);  // where it cannot, the file becomes the program's own
        return fchmod(fd, old.st_mode & 07777) == 0 ? PLAT_OK : from_errno(errno);
    }
    // umask can only be read by setting it; this runs at shut-down only.
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask) == 0 ? PLAT_OK : from_errno(errno);
}

PlatResult fill_temporary(int fd, const char* target, const char* text, size_t length)
{
    PlatResult result = take_over_attributes(fd, target);
    if (result == PLAT_OK) result = write_all(fd, text, length);
    if (result != PLAT_OK) return result;
    return fsync(fd) == 0 ? PLAT_OK : from_errno(errno);
}

PlatResult rename_over(const char* temporary, const char* target)
{
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_RENAME, &injected)) return injected != PLAT_OK ? injected : PLAT_ERR_FAILED;
    return rename(temporary, target) == 0 ? PLAT_OK : from_errno(errno);
}

PlatResult replace_file(const char* target, const char* text, size_t length)
{
    char temporary[PATH_MAX];
    if (snprintf(temporary, sizeof temporary, "%s%s", target, TEMPORARY_SUFFIX) >= static_cast<int>(sizeof temporary)) {
        return PLAT_ERR_FAILED;
    }
    int fd = open_temporary(temporary);
    if (fd < 0) return PLAT_ERR_FAILED;
    PlatResult result = fill_temporary(fd, target, text, length);
    if (result == PLAT_OK) result = rename_over(temporary, target);
    if (result != PLAT_OK) unlink(temporary);  // still locked, so it is this write-back's own
    close(fd);  // after fsync a close has nothing left to report
    if (result == PLAT_OK) sync_directory_of(target);
    return result;
}

// Applies the entries one after the other, as that many single writes would.
PlatResult edit_text(const FileText* file, const char* section, const PlatProfileEntry* entries, size_t count,
                     FileText* edited)
{
    FileText text = *file;
    for (size_t i = 0; i < count; ++i) {
        const PlatProfileEntry& entry = entries[i];
        size_t capacity = profile_text_set_capacity(text.length, section, entry.key, entry.value);
        char* bytes = static_cast<char*>(malloc(capacity));
        size_t length = bytes ? profile_text_set(text.bytes, text.length, section, entry.key, entry.value, bytes) : 0;
        if (text.bytes != file->bytes) free(text.bytes);
        if (bytes == nullptr) return PLAT_ERR_FAILED;
        text = FileText{bytes, length};
    }
    *edited = text;
    return PLAT_OK;
}

}  // namespace

void plat_profile_get(const char* path, const char* section, const char* key, const char* fallback,
                      char* value, size_t size)
{
    FileText file;
    read_file_text(path, &file);
    profile_text_get(file.bytes, file.length, section, key, fallback, value, size);
    free(file.bytes);
}

PlatResult plat_profile_set(const char* path, const char* section, const PlatProfileEntry* entries, size_t count)
{
    char target[PATH_MAX];
    if (!resolve_links(path, target, sizeof target) || !may_replace(target)) return PLAT_ERR_FAILED;
    FileText file;
    PlatResult result = read_file_text(target, &file);
    if (result != PLAT_OK) return result;
    FileText edited = {nullptr, 0};
    result = edit_text(&file, section, entries, count, &edited);
    if (result == PLAT_OK) result = replace_file(target, edited.bytes, edited.length);
    if (edited.bytes != file.bytes) free(edited.bytes);
    free(file.bytes);
    return result;
}
