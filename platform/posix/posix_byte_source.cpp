// Byte sources on POSIX. The source is a file descriptor: a serial line set
// raw, 8N1; a bound UDP socket; a TCP socket connected without blocking. One
// ppoll watches it, the terminal's keys and the ends (posix_terminal.h).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/byte_source.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_terminal.h"

namespace {

struct BaudConstant {
    long rate;
    speed_t constant;
};
const BaudConstant BAUD_CONSTANTS[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                                       {9600, B9600},   {19200, B19200}, {38400, B38400},
                                       {57600, B57600}, {115200, B115200}, {230400, B230400}};
static_assert(sizeof BAUD_CONSTANTS / sizeof BAUD_CONSTANTS[0] == PLAT_SOURCE_BAUD_RATE_COUNT,
              "every rate a serial line takes has its constant");

int fd_of(const PlatSource* source) { return static_cast<int>(source->handle); }

void set_reason(PlatSource* source, const char* text) { snprintf(source->reason, PLAT_SOURCE_REASON_SIZE, "%s", text); }

PlatSourceEvent lost(PlatSource* source, const char* reason)
{
    set_reason(source, reason);
    plat_source_close(source);
    return PLAT_SOURCE_LOST;
}

PlatSourceEvent connect_finished(PlatSource* source)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd_of(source), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) return lost(source, strerror(error));
    source->connecting = false;
    return PLAT_SOURCE_CONNECTED;
}

// The system's count of datagrams dropped on this socket, its queue full,
// since it was opened. Read after each pass rather than taken beside a
// datagram (SO_RXQ_OVFL), which tells nothing of those dropped after the
// last one queued: the end of a burst.
void count_dropped(PlatSource* source)
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
ssize_t receive_queued(PlatSource* source, uint8_t* bytes, size_t size)
{
    size_t taken = 0;
    int error = 0;
    for (size_t datagrams = 0;
         datagrams < PLAT_SOURCE_DATAGRAMS_PER_WAIT && size - taken >= PLAT_SOURCE_DATAGRAM_MAX; ++datagrams) {
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

// The source cannot be used as asked: what was opened is closed, the reason kept.
PlatSourceOpen unusable(int fd)
{
    close(fd);
    return PLAT_SOURCE_UNUSABLE;
}

PlatSourceOpen ready(PlatSource* source, int fd)
{
    source->handle = fd;
    return PLAT_SOURCE_READY;
}

// A socket that never blocks; -1 with the reason.
int open_socket(PlatSource* source, int type)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) set_reason(source, strerror(errno));
    return fd;
}

PlatSourceEvent read_source(PlatSource* source, short revents, uint8_t* bytes, size_t size, size_t* count)
{
    if (source->connecting) return connect_finished(source);
    ssize_t got = source->kind == PLAT_SOURCE_UDP ? receive_queued(source, bytes, size)
                                                  : read(fd_of(source), bytes, size);
    if (got > 0) {
        *count = static_cast<size_t>(got);
        return PLAT_SOURCE_BYTES;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return (revents & (POLLHUP | POLLERR)) ? lost(source, "gone") : PLAT_SOURCE_NONE;
    }
    if (source->kind == PLAT_SOURCE_UDP) return PLAT_SOURCE_NONE;  // an error report of an earlier datagram
    if (got == 0) return lost(source, source->kind == PLAT_SOURCE_TCP ? "closed by the other end" : "gone");
    return lost(source, strerror(errno));
}

}  // namespace

PlatSourceOpen plat_source_open_serial(PlatSource* source)
{
    int fd = open(source->device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        set_reason(source, strerror(error));
        return posix_device_may_come(error) ? PLAT_SOURCE_ABSENT : PLAT_SOURCE_UNUSABLE;
    }
    struct termios line;
    if (tcgetattr(fd, &line) != 0) {
        set_reason(source, "not a serial device");
        return unusable(fd);
    }
    speed_t speed = B0;
    for (const BaudConstant& known : BAUD_CONSTANTS) {
        if (known.rate == source->baud) speed = known.constant;
    }
    cfmakeraw(&line);
    line.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (speed == B0 || cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &line) != 0) {
        snprintf(source->reason, PLAT_SOURCE_REASON_SIZE, "cannot be set to %ld baud, 8N1", source->baud);
        return unusable(fd);
    }
    return ready(source, fd);
}

PlatSourceOpen plat_source_open_udp(PlatSource* source)
{
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(source->port);
    if (inet_pton(AF_INET, source->address, &address.sin_addr) != 1) {
        set_reason(source, "not an IPv4 address");
        return PLAT_SOURCE_UNUSABLE;
    }
    int fd = open_socket(source, SOCK_DGRAM);
    if (fd < 0) return PLAT_SOURCE_ABSENT;
    // A larger queue may be refused without harm; the system caps it.
    int queue = PLAT_SOURCE_UDP_QUEUE_BYTES;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        set_reason(source, strerror(errno));
        return unusable(fd);
    }
    return ready(source, fd);
}

PlatSourceOpen plat_source_open_tcp(PlatSource* source)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    int looked_up = getaddrinfo(source->address, nullptr, &hints, &found);
    if (looked_up != 0 || found == nullptr) {
        set_reason(source, gai_strerror(looked_up));
        return PLAT_SOURCE_ABSENT;
    }
    struct sockaddr_in address;
    memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(source->port);
    int fd = open_socket(source, SOCK_STREAM);
    if (fd < 0) return PLAT_SOURCE_ABSENT;
    source->handle = fd;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) return PLAT_SOURCE_READY;
    if (errno == EINPROGRESS) {
        source->connecting = true;
        return PLAT_SOURCE_PENDING;
    }
    set_reason(source, strerror(errno));
    plat_source_close(source);
    return PLAT_SOURCE_ABSENT;
}

PlatSourceEvent plat_source_wait(PlatSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count)
{
    *count = 0;
    bool open = source->handle != PLAT_SOURCE_CLOSED;
    struct pollfd ready = {open ? fd_of(source) : -1, static_cast<short>(source->connecting ? POLLOUT : POLLIN), 0};
    if (posix_terminal_wait(&ready, wait_ms) == PLAT_TERMINAL_QUIT) return PLAT_SOURCE_QUIT;
    if (!open || ready.revents == 0) return PLAT_SOURCE_NONE;
    return read_source(source, ready.revents, bytes, size, count);
}

void plat_source_close(PlatSource* source)
{
    if (source->handle != PLAT_SOURCE_CLOSED) close(fd_of(source));
    source->handle = PLAT_SOURCE_CLOSED;
    source->connecting = false;
}
