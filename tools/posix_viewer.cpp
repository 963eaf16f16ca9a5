// The follower's terminal on POSIX. Keys come from /dev/tty in raw mode, so
// Ctrl+C is a key; SIGTERM, SIGHUP, SIGINT and SIGQUIT sent to the process
// end the loop, which puts the terminal back before the process dies by the
// signal. SIGWINCH marks a resize. The handlers only set flags, and are
// installed without SA_RESTART so that they cut a wait or a write short.
// A file's creation time is its birth time where the file system keeps one
// (statx), else its last status change, which a program cannot set back.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tools/viewer.h"

namespace {

const int ESCAPE = 0x1B;
const int CTRL_C = 0x03;
const int SEQUENCE_GAP_MS = 30;  // the bytes of one key's escape sequence arrive together
const int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
const int ENDING_SIGNAL_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];
const int DEFAULT_ROWS = 24;
const int DEFAULT_COLUMNS = 80;
const int BESIDE_ATTEMPTS = 100;  // names tried for a new file beside another

int tty_fd = -1;
struct termios tty_found;
struct sigaction ending_found[ENDING_SIGNAL_COUNT];
struct sigaction resize_found;
volatile sig_atomic_t ending_signal;
volatile sig_atomic_t resized;

void note_ending(int signal_number) { ending_signal = signal_number; }
void note_resize(int) { resized = 1; }

void catch_signal(int signal_number, void (*handler)(int), struct sigaction* found)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, found);
}

bool byte_within(int wait_ms)
{
    struct pollfd ready = {tty_fd, POLLIN, 0};
    return poll(&ready, 1, wait_ms) > 0 && (ready.revents & POLLIN);
}

int read_byte()
{
    unsigned char byte = 0;
    return read(tty_fd, &byte, 1) == 1 ? byte : -1;
}

// Esc alone quits. An arrow or function key comes as ESC [ ... or ESC O ...
// ending in a letter or '~', Alt and a key as ESC and the key: read whole and ignored.
ViewerEvent after_escape()
{
    if (!byte_within(SEQUENCE_GAP_MS)) return VIEWER_QUIT;
    int introducer = read_byte();
    if (introducer != '[' && introducer != 'O') return VIEWER_NOTHING;
    while (byte_within(SEQUENCE_GAP_MS)) {
        int byte = read_byte();
        if (byte < 0 || (byte >= 0x40 && byte <= 0x7E)) break;
    }
    return VIEWER_NOTHING;
}

ViewerEvent signalled_event()
{
    if (ending_signal != 0) return VIEWER_ENDED;
    if (resized == 0) return VIEWER_NOTHING;
    resized = 0;
    return VIEWER_RESIZED;
}

int64_t nanoseconds(const struct statx_timestamp& at)
{
    return static_cast<int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec;
}

void copy_errno(char* reason, size_t reason_size)
{
    snprintf(reason, reason_size, "%s", strerror(errno));
}

}  // namespace

const char* viewer_start()
{
    if (!isatty(STDOUT_FILENO)) return "standard output is not a terminal";
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0) return "there is no terminal to read keys from";
    if (tcgetattr(tty_fd, &tty_found) != 0) {
        close(tty_fd);
        tty_fd = -1;
        return "there is no terminal to read keys from";
    }
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) {
        catch_signal(ENDING_SIGNALS[i], note_ending, &ending_found[i]);
        // A signal the process was started to ignore (nohup) stays ignored.
        if (ending_found[i].sa_handler == SIG_IGN) sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
    }
    catch_signal(SIGWINCH, note_resize, &resize_found);
    struct termios raw = tty_found;
    raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~(IXON | ICRNL | INLCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(tty_fd, TCSANOW, &raw);
    return nullptr;
}

void viewer_stop()
{
    if (tty_fd < 0) return;
    tcsetattr(tty_fd, TCSANOW, &tty_found);
    close(tty_fd);
    tty_fd = -1;
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
    sigaction(SIGWINCH, &resize_found, nullptr);
}

void viewer_size(int* rows, int* columns)
{
    struct winsize size = {};
    bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0;
    *rows = known ? size.ws_row : DEFAULT_ROWS;
    *columns = known ? size.ws_col : DEFAULT_COLUMNS;
}

ViewerEvent viewer_wait(int wait_ms)
{
    ViewerEvent event = signalled_event();
    if (event != VIEWER_NOTHING) return event;
    struct pollfd ready = {tty_fd, POLLIN, 0};
    int count = poll(&ready, 1, wait_ms);
    event = signalled_event();
    if (event != VIEWER_NOTHING || count <= 0) return event;
    if (!(ready.revents & POLLIN)) return VIEWER_QUIT;  // the terminal has gone
    int byte = read_byte();
    if (byte == 'q' || byte == 'Q' || byte == CTRL_C) return VIEWER_QUIT;
    return byte == ESCAPE ? after_escape() : VIEWER_NOTHING;
}

void viewer_write(const char* text, size_t count)
{
    while (count > 0) {
        ssize_t written = write(STDOUT_FILENO, text, count);
        if (written < 0 && errno == EINTR && ending_signal == 0) continue;
        if (written <= 0) return;
        text += written;
        count -= static_cast<size_t>(written);
    }
}

void viewer_end_as_asked()
{
    signal(ending_signal, SIG_DFL);
    raise(ending_signal);
}

bool viewer_look(const char* path, ViewerLook* look)
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

bool viewer_file_open(const char* path, ViewerFile* file, ViewerLook* look, char* reason, size_t reason_size)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        copy_errno(reason, reason_size);
        if (fd >= 0) close(fd);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        close(fd);
        snprintf(reason, reason_size, "not a regular file");
        return false;
    }
    *look = ViewerLook{true, true, status.st_dev, status.st_ino, 0};
    *file = fd;
    return true;
}

long long viewer_file_size(ViewerFile file)
{
    struct stat status;
    return fstat(static_cast<int>(file), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

bool viewer_file_read(ViewerFile file, long long offset, uint8_t* bytes, size_t count)
{
    while (count > 0) {
        ssize_t got = pread(static_cast<int>(file), bytes, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

void viewer_file_close(ViewerFile file)
{
    close(static_cast<int>(file));
}

FILE* viewer_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size)
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

bool viewer_replace(const char* from, const char* to, char* reason, size_t reason_size)
{
    if (rename(from, to) == 0) return true;
    copy_errno(reason, reason_size);
    return false;
}
