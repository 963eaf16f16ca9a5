#include "tools/headsim/wire.h"

#include "platform/platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int POLL_SLICE_MS = 50;  // how soon a stop request is noticed

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int) { stop_requested = 1; }

// Waits until fd is readable; 1 ready, 0 stop requested, -1 error.
int wait_readable(int fd)
{
    while (!stop_requested) {
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, POLL_SLICE_MS);
        if (ready > 0) return 1;
        if (ready < 0 && errno != EINTR) return -1;
    }
    return 0;
}

bool send_all(int fd, const uint8_t* bytes, int size)
{
    while (size > 0) {
        ssize_t sent = send(fd, bytes, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += sent;
        size -= static_cast<int>(sent);
    }
    return true;
}

}  // namespace

bool wire_stop_requested() { return stop_requested != 0; }

void wire_request_stop() { stop_requested = 1; }

void wire_install_signals()
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool wire_sleep_ms(long ms)
{
    int64_t deadline = plat_monotonic_ms() + ms;
    while (!stop_requested) {
        int64_t left = deadline - plat_monotonic_ms();
        if (left <= 0) return true;
        int64_t slice = left < POLL_SLICE_MS ? left : POLL_SLICE_MS;
        poll(nullptr, 0, static_cast<int>(slice));
    }
    return false;
}

bool wire_is_ipv4_address(const char* text)
{
    in_addr address{};
    return inet_pton(AF_INET, text, &address) == 1;
}

int wire_listen(const char* address_text, uint16_t port)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        fprintf(stderr, "headsim: cannot create a socket: %s\n", strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, address_text, &address.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        fprintf(stderr, "headsim: cannot listen on %s:%u: %s\n", address_text, static_cast<unsigned>(port),
                strerror(errno));
        close(listener);
        return -1;
    }
    return listener;
}

int wire_accept(int listener, char peer[WIRE_PEER_SIZE])
{
    for (;;) {
        int ready = wait_readable(listener);
        if (ready <= 0) return -1;
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int client = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
        if (client < 0) continue;  // the peer may have gone before we got to it
        int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        snprintf(peer, WIRE_PEER_SIZE, "%s:%u", text, static_cast<unsigned>(ntohs(address.sin_port)));
        return client;
    }
}

WireResult wire_read_command(int socket, uint8_t command[SWITCH_COMMAND_SIZE])
{
    int have = 0;
    while (have < SWITCH_COMMAND_SIZE) {
        int ready = wait_readable(socket);
        if (ready == 0) return WIRE_STOPPED;
        if (ready < 0) return WIRE_ERROR;
        ssize_t got = recv(socket, command + have, static_cast<size_t>(SWITCH_COMMAND_SIZE - have), 0);
        if (got == 0) return WIRE_CLOSED;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return WIRE_ERROR;
        }
        have += static_cast<int>(got);
    }
    return WIRE_OK;
}

WireResult wire_send_pieces(int socket, const uint8_t* bytes, int size, long pieces, long gap_ms)
{
    if (pieces > size) pieces = size;
    int piece = static_cast<int>((size + pieces - 1) / pieces);
    for (int offset = 0; offset < size; offset += piece) {
        if (offset > 0 && !wire_sleep_ms(gap_ms)) return WIRE_STOPPED;
        int length = size - offset < piece ? size - offset : piece;
        if (!send_all(socket, bytes + offset, length)) return WIRE_CLOSED;
    }
    return WIRE_OK;
}

void wire_abort_on_close(int socket)
{
    linger abortive{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

void wire_close(int socket) { close(socket); }

int wire_loopback_udp_open()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fprintf(stderr, "headsim: cannot create a UDP socket: %s\n", strerror(errno));
    return fd;
}

void wire_loopback_udp_send(int socket, uint16_t port, const char* bytes, size_t size)
{
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(socket, bytes, size, 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

bool wire_is_regular_file(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

FILE* wire_open_recording(const char* path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        fprintf(stderr, "headsim: cannot open %s: %s\n", path, strerror(errno));
        if (fd >= 0) close(fd);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        fprintf(stderr, "headsim: %s is not a regular file: a recording is read again for every connection\n",
                path);
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        fprintf(stderr, "headsim: cannot open %s: %s\n", path, strerror(errno));
        close(fd);
    }
    return file;
}
