// navlog's operating-system side on POSIX. The source is a file descriptor:
// a serial line set raw, 8N1; a bound UDP socket; a TCP socket connected
// without blocking. Keys come from /dev/tty in raw mode, so Ctrl+C is a key.
// SIGTERM, SIGHUP and SIGINT are held blocked except inside the wait, which
// they end, so one that comes at any other moment ends the next wait.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tools/navlog/navlog_os.h"

namespace {

const uint8_t ESCAPE = 0x1B;
const int SEQUENCE_GAP_MS = 30;  // the bytes of one key's escape sequence arrive together
const size_t KEYS_READ_MAX = 64;
const int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT};
const int DEFAULT_COLUMNS = 80;

struct BaudConstant {
    long rate;
    speed_t constant;
};
const BaudConstant BAUD_CONSTANTS[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                                       {9600, B9600},   {19200, B19200}, {38400, B38400},
                                       {57600, B57600}, {115200, B115200}, {230400, B230400}};

int tty_fd = -1;
struct termios tty_found;
sigset_t mask_found;  // the signal mask the wait lets signals through with
volatile sig_atomic_t ending;

void note_ending(int) { ending = 1; }

// ppoll lets a blocked signal in only when it waits: with the source or the
// terminal ready at once, a signal stays pending, so it is looked for too.
bool asked_to_end()
{
    sigset_t pending;
    if (ending) return true;
    if (sigpending(&pending) != 0) return false;
    for (int signal_number : ENDING_SIGNALS) {
        if (sigismember(&pending, signal_number) == 1) return true;
    }
    return false;
}

int fd_of(const NavSource* source) { return static_cast<int>(source->handle); }

void set_reason(NavSource* source, const char* text) { snprintf(source->reason, NAVLOG_REASON_SIZE, "%s", text); }

// A device that is not there now, or not yet ready, may come back.
bool device_may_come(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO || error == EBUSY ||
           error == EAGAIN || error == EINTR;
}

NavEvent lost(NavSource* source, const char* reason)
{
    set_reason(source, reason);
    navlog_source_close(source);
    return NAV_EVENT_LOST;
}

NavEvent connect_finished(NavSource* source)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd_of(source), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) return lost(source, strerror(error));
    source->connecting = false;
    return NAV_EVENT_CONNECTED;
}

// The system's count of datagrams dropped on this socket, its queue full,
// since it was opened. Read after each pass rather than taken beside a
// datagram (SO_RXQ_OVFL), which tells nothing of those dropped after the
// last one queued: the end of a burst.
void count_dropped(NavSource* source)
{
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof memory;
    if (getsockopt(fd_of(source), SOL_SOCKET, SO_MEMINFO, memory, &size) == 0 &&
        size >= (SK_MEMINFO_DROPS + 1) * sizeof memory[0]) {
        source->dropped = static_cast<long>(memory[SK_MEMINFO_DROPS]);
    }
}

// Every datagram queued, while there is room for the largest (and empty ones
// do not go on for ever); the first error (nothing more queued, or the report
// of an earlier datagram) ends it, and is what is told when nothing came.
ssize_t receive_queued(NavSource* source, uint8_t* bytes, size_t size)
{
    size_t taken = 0;
    int error = 0;
    for (size_t datagrams = 0; datagrams < NAVLOG_DATAGRAMS_PER_WAIT && size - taken >= NAVLOG_DATAGRAM_MAX;
         ++datagrams) {
        ssize_t got = recv(fd_of(source), bytes + taken, size - taken, MSG_DONTWAIT);
        if (got < 0) {
            error = errno;
            break;
        }
        taken += static_cast<size_t>(got);
    }
    count_dropped(source);
    errno = error;
    return taken > 0 || error == 0 ? static_cast<ssize_t>(taken) : -1;
}

NavEvent read_source(NavSource* source, short revents, uint8_t* bytes, size_t size, size_t* count)
{
    if (source->connecting) return connect_finished(source);
    ssize_t got = source->options->kind == NAV_SOURCE_UDP ? receive_queued(source, bytes, size)
                                                           : read(fd_of(source), bytes, size);
    if (got > 0) {
        *count = static_cast<size_t>(got);
        return NAV_EVENT_BYTES;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return (revents & (POLLHUP | POLLERR)) ? lost(source, "gone") : NAV_EVENT_NONE;
    }
    if (source->options->kind == NAV_SOURCE_UDP) return NAV_EVENT_NONE;  // an error report of an earlier datagram
    if (got == 0) return lost(source, source->options->kind == NAV_SOURCE_TCP ? "closed by the other end" : "gone");
    return lost(source, strerror(errno));
}

// The keys typed since the last look; an Esc last waits a moment for the
// rest of an escape sequence, whose bytes come together. A terminal that has
// gone (hung up) is let go: keys can come no more.
bool keys_quit()
{
    uint8_t keys[KEYS_READ_MAX];
    ssize_t got = read(tty_fd, keys, sizeof keys);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    if (got <= 0) {
        navlog_console_stop();
        return false;
    }
    size_t count = static_cast<size_t>(got);
    struct pollfd more = {tty_fd, POLLIN, 0};
    if (keys[count - 1] == ESCAPE && count < sizeof keys && poll(&more, 1, SEQUENCE_GAP_MS) > 0) {
        ssize_t rest = read(tty_fd, keys + count, sizeof keys - count);
        if (rest > 0) count += static_cast<size_t>(rest);
    }
    return navlog_keys_quit(keys, count);
}

void catch_ending_signals()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : ENDING_SIGNALS) {
        struct sigaction found;
        sigaction(signal_number, nullptr, &found);
        if (found.sa_handler == SIG_IGN) continue;  // started to ignore it (nohup): it stays ignored
        struct sigaction action = {};
        action.sa_handler = note_ending;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
        sigaddset(&blocked, signal_number);
    }
    sigprocmask(SIG_BLOCK, &blocked, &mask_found);
    for (int signal_number : ENDING_SIGNALS) sigdelset(&mask_found, signal_number);
}

}  // namespace

NavOpen navlog_open_serial(NavSource* source)
{
    const NavOptions* options = source->options;
    int fd = open(options->device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        set_reason(source, strerror(error));
        return device_may_come(error) ? NAV_OPEN_ABSENT : NAV_OPEN_UNUSABLE;
    }
    struct termios line;
    if (tcgetattr(fd, &line) != 0) {
        set_reason(source, "not a serial device");
        close(fd);
        return NAV_OPEN_UNUSABLE;
    }
    speed_t speed = B0;
    for (const BaudConstant& known : BAUD_CONSTANTS) {
        if (known.rate == options->baud) speed = known.constant;
    }
    cfmakeraw(&line);
    line.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (speed == B0 || cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &line) != 0) {
        snprintf(source->reason, NAVLOG_REASON_SIZE, "cannot be set to %ld baud, 8N1", options->baud);
        close(fd);
        return NAV_OPEN_UNUSABLE;
    }
    source->handle = fd;
    return NAV_OPEN_READY;
}

NavOpen navlog_open_udp(NavSource* source)
{
    const NavOptions* options = source->options;
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(options->port);
    if (inet_pton(AF_INET, options->bind_address, &address.sin_addr) != 1) {
        set_reason(source, "not an IPv4 address");
        return NAV_OPEN_UNUSABLE;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        set_reason(source, strerror(errno));
        return NAV_OPEN_ABSENT;
    }
    // A larger queue may be refused without harm; the system caps it.
    int queue = NAVLOG_UDP_QUEUE_BYTES;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        set_reason(source, strerror(errno));
        close(fd);
        return NAV_OPEN_UNUSABLE;
    }
    source->handle = fd;
    return NAV_OPEN_READY;
}

NavOpen navlog_open_tcp(NavSource* source)
{
    const NavOptions* options = source->options;
    struct addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    int looked_up = getaddrinfo(options->host, nullptr, &hints, &found);
    if (looked_up != 0 || found == nullptr) {
        set_reason(source, gai_strerror(looked_up));
        return NAV_OPEN_ABSENT;
    }
    struct sockaddr_in address;
    memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(options->port);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        set_reason(source, strerror(errno));
        return NAV_OPEN_ABSENT;
    }
    source->handle = fd;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) return NAV_OPEN_READY;
    if (errno == EINPROGRESS) {
        source->connecting = true;
        return NAV_OPEN_PENDING;
    }
    set_reason(source, strerror(errno));
    navlog_source_close(source);
    return NAV_OPEN_ABSENT;
}

NavEvent navlog_wait(NavSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count)
{
    *count = 0;
    if (asked_to_end()) return NAV_EVENT_QUIT;
    struct pollfd ready[2];
    int watched = 0;
    int source_at = -1;
    int key_at = -1;
    if (source->handle != NAVLOG_NO_HANDLE) {
        ready[watched] = {fd_of(source), static_cast<short>(source->connecting ? POLLOUT : POLLIN), 0};
        source_at = watched++;
    }
    if (tty_fd >= 0) {
        ready[watched] = {tty_fd, POLLIN, 0};
        key_at = watched++;
    }
    struct timespec limit = {wait_ms / 1000, (wait_ms % 1000) * 1000000L};
    int count_ready = ppoll(ready, static_cast<nfds_t>(watched), &limit, &mask_found);
    if (asked_to_end()) return NAV_EVENT_QUIT;
    if (count_ready <= 0) return NAV_EVENT_NONE;
    if (key_at >= 0 && ready[key_at].revents != 0) {
        if (!(ready[key_at].revents & POLLIN)) {
            navlog_console_stop();  // the terminal has gone: no more keys
        } else if (keys_quit()) {
            return NAV_EVENT_QUIT;
        }
    }
    if (source_at >= 0 && ready[source_at].revents != 0) {
        return read_source(source, ready[source_at].revents, bytes, size, count);
    }
    return NAV_EVENT_NONE;
}

void navlog_source_close(NavSource* source)
{
    if (source->handle != NAVLOG_NO_HANDLE) close(fd_of(source));
    source->handle = NAVLOG_NO_HANDLE;
    source->connecting = false;
}

bool navlog_console_start()
{
    // A write past a file size limit fails as on a full disk instead of ending navlog.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    catch_ending_signals();
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd >= 0 && tcgetattr(tty_fd, &tty_found) == 0) {
        struct termios raw = tty_found;
        raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_iflag &= ~(IXON | ICRNL | INLCR | ISTRIP);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(tty_fd, TCSANOW, &raw);
    } else if (tty_fd >= 0) {
        close(tty_fd);
        tty_fd = -1;
    }
    return isatty(STDOUT_FILENO) == 1;
}

void navlog_console_stop()
{
    if (tty_fd < 0) return;
    tcsetattr(tty_fd, TCSANOW, &tty_found);
    close(tty_fd);
    tty_fd = -1;
}

int navlog_console_columns()
{
    struct winsize size = {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : DEFAULT_COLUMNS;
}

void navlog_console_write(const char* text, size_t count)
{
    while (count > 0) {
        ssize_t written = write(STDOUT_FILENO, text, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        count -= static_cast<size_t>(written);
    }
}

void navlog_clock_now(NavTime* now)
{
    struct timespec wall = {};
    clock_gettime(CLOCK_REALTIME, &wall);
    struct tm local = {};
    localtime_r(&wall.tv_sec, &local);
    now->year = local.tm_year + 1900;
    now->month = local.tm_mon + 1;
    now->day = local.tm_mday;
    now->hour = local.tm_hour;
    now->minute = local.tm_min;
    now->second = local.tm_sec;
    now->millisecond = static_cast<int>(wall.tv_nsec / 1000000);
    now->utc_offset_seconds = static_cast<int>(local.tm_gmtoff);
}

// The lock is flock's: on the open file, so it goes with the last descriptor
// of it, also when the process is killed; no lock file is left behind.
PlatResult navlog_file_open(const char* name, PlatFile* file, char reason[NAVLOG_REASON_SIZE])
{
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        snprintf(reason, NAVLOG_REASON_SIZE, "%s", strerror(error));
        if (fd >= 0) close(fd);
        return fd >= 0 && error == EWOULDBLOCK ? PLAT_ERR_HELD : PLAT_ERR_FAILED;
    }
    *file = fd;
    return PLAT_OK;
}
