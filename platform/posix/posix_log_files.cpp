// Logs: files appended to by the one process that holds them, read by others
// meanwhile. The hold is flock's: on the open file, so it goes with the last
// descriptor of it, also when the process is killed; no lock file is left
// behind. The open never waits: a FIFO with no reader would hold it for ever,
// and a FIFO with one would take the lines away, so only a regular file is
// taken. Nor is a symbolic link followed: the lines would go to whatever file
// it names (a data file, another program's).
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

const char NOT_REGULAR[] = "not a regular file";
const char LINK[] = "a symbolic link";

PlatResult refuse(int fd, int error, char* reason, size_t reason_size)
{
    if (error == ELOOP) {
        snprintf(reason, reason_size, "%s", LINK);
    } else if (error == 0) {
        snprintf(reason, reason_size, "%s", NOT_REGULAR);
    } else {
        plat_error_words(error, reason, reason_size);
    }
    if (fd >= 0) close(fd);
    return error == EWOULDBLOCK ? PLAT_ERR_HELD : PLAT_ERR_FAILED;
}

}  // namespace

PlatResult plat_file_open_log(const char* name, PlatFile* file, char* reason, size_t reason_size)
{
    int fd = open(name, O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0666);
    // A FIFO without a reader (ENXIO) and a directory are not opened at all.
    if (fd < 0) return refuse(fd, errno == ENXIO || errno == EISDIR ? 0 : errno, reason, reason_size);
    struct stat status;
    if (fstat(fd, &status) != 0) return refuse(fd, errno, reason, reason_size);
    if (!S_ISREG(status.st_mode)) return refuse(fd, 0, reason, reason_size);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(fd, errno, reason, reason_size);
    fcntl(fd, F_SETFL, O_APPEND);  // writes wait for the disk again
    *file = fd;
    return PLAT_OK;
}

// While the file stays open its inode cannot be taken by another file, so a
// newcomer under the name never matches.
bool plat_file_still_named(PlatFile file, const char* name)
{
    struct stat opened, named;
    return fstat(static_cast<int>(file), &opened) == 0 && lstat(name, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}
