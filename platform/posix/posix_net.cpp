// TCP sockets over BSD sockets. The wait for a whole packet sleeps in poll()
// with SO_RCVLOWAT set to the packet size, so a slow head costs no CPU.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/address_text.h"
#include "platform/platform.h"
#include "platform/posix/posix_errors.h"

namespace {

int queued_bytes(int fd)
{
    int queued = 0;
    return ioctl(fd, FIONREAD, &queued) == 0 ? queued : -1;
}

int low_water_fd = -1;
int low_water_count;

void set_low_water(int fd, int count)
{
    if (fd == low_water_fd && count == low_water_count) return;
    setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &count, sizeof count);
    low_water_fd = fd;
    low_water_count = count;
}

// The peer has closed the connection, or reset it: then the socket holds why.
PlatResult closed_or_reset(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return error != 0 ? posix_result_of_errno(error) : posix_result_without_errno(PLAT_ERR_CLOSED);
}

// The head has closed or reset the connection: a whole packet may still be
// queued before the end, anything less is lost.
PlatResult whole_packet_left(int fd, void* scratch, size_t count)
{
    ssize_t peeked = recv(fd, scratch, count, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0) return posix_result_of_errno(errno);
    return peeked == static_cast<ssize_t>(count) ? PLAT_OK : closed_or_reset(fd);
}

// Four decimal parts are read as decimal; any other text as inet_addr reads it.
in_addr_t address_of(const char* text)
{
    uint8_t octets[ADDRESS_TEXT_PARTS];
    if (!address_text_decimal(text, octets)) return inet_addr(text);
    in_addr_t address;
    memcpy(&address, octets, sizeof address);
    return address;
}

PlatResult wait_connected(int fd, int limit_ms)
{
    struct pollfd writable = {fd, POLLOUT, 0};
    int64_t deadline = plat_monotonic_ms() + limit_ms;
    int ready;
    do {
        ready = poll(&writable, 1, static_cast<int>(deadline - plat_monotonic_ms()));
    } while (ready < 0 && errno == EINTR && plat_monotonic_ms() < deadline);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return posix_result_without_errno(PLAT_ERR_TIMEOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return posix_result_of_errno(errno);
    return error == 0 ? PLAT_OK : posix_result_of_errno(error);
}

}  // namespace

PlatResult plat_net_start() { return PLAT_OK; }

void plat_net_stop() {}

PlatResult plat_net_socket(PlatSocket* sock)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return posix_result_of_errno(errno);
    *sock = fd;
    return PLAT_OK;
}

PlatResult plat_net_connect(PlatSocket sock, const char* address, uint16_t port, int limit_ms)
{
    int fd = static_cast<int>(sock);
    struct sockaddr_in head = {};
    head.sin_family = AF_INET;
    head.sin_port = htons(port);
    head.sin_addr.s_addr = address_of(address);

    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    PlatResult result = PLAT_OK;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&head), sizeof head) != 0) {
        result = errno == EINPROGRESS ? wait_connected(fd, limit_ms) : posix_result_of_errno(errno);
    }
    fcntl(fd, F_SETFL, flags);

    struct timeval send_limit = {limit_ms / 1000, (limit_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
    return result;
}

PlatResult plat_net_send(PlatSocket sock, const void* bytes, size_t count, int /*limit_ms: SO_SNDTIMEO*/)
{
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_SEND, &injected)) return posix_result_without_errno(injected);
    ssize_t sent = send(static_cast<int>(sock), bytes, count, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(count)) return PLAT_OK;
    return sent < 0 ? posix_result_of_errno(errno) : posix_result_without_errno(PLAT_ERR_TIMEOUT);
}

PlatResult plat_net_wait_queued(PlatSocket sock, void* scratch, size_t count, int wait_ms, int* queued)
{
    int fd = static_cast<int>(sock);
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_RECEIVE, &injected)) return posix_result_without_errno(injected);
    set_low_water(fd, static_cast<int>(count));
    struct pollfd readable = {fd, POLLIN | POLLRDHUP, 0};
    int ready = poll(&readable, 1, wait_ms);
    if (ready > 0) {
        // With the low-water mark at count, readable without a hang-up means count bytes are queued
        // (as a rule: see plat_net_read).
        if (!(readable.revents & (POLLRDHUP | POLLHUP | POLLERR))) return PLAT_OK;
        return whole_packet_left(fd, scratch, count);
    }
    if (ready < 0 && errno != EINTR) return posix_result_of_errno(errno);
    *queued = queued_bytes(fd);
    return PLAT_ERR_TIMEOUT;
}

void plat_net_discard_queued(PlatSocket sock, void* scratch, size_t size)
{
    int fd = static_cast<int>(sock);
    while (queued_bytes(fd) > 0) {
        if (recv(fd, scratch, size, MSG_DONTWAIT) <= 0) return;
    }
}

// poll may call a socket readable below the low-water mark (under memory
// pressure, or with a small receive window), and a blocking read would then
// wait for the rest with no limit.
int plat_net_read(PlatSocket sock, void* bytes, size_t count)
{
    return static_cast<int>(recv(static_cast<int>(sock), bytes, count, MSG_DONTWAIT));
}

PlatResult plat_net_close(PlatSocket sock)
{
    low_water_fd = -1;
    return close(static_cast<int>(sock)) == 0 ? PLAT_OK : posix_result_of_errno(errno);
}

PlatResult plat_net_listen(const uint8_t address[4], uint16_t port, PlatSocket* sock, char* reason,
                           size_t reason_size)
{
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    memcpy(&local.sin_addr, address, 4);
    int one = 1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bool listening = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
                     bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
                     listen(fd, SOMAXCONN) == 0;
    if (listening) {
        *sock = fd;
        return PLAT_OK;
    }
    int error = errno;
    if (fd >= 0) close(fd);
    plat_error_words(error, reason, reason_size);
    return posix_result_of_errno(error);
}
