// TCP sockets over Windows Sockets 1.1. Windows cannot sleep until a given
// number of bytes is queued, nor tell a close behind bytes still queued (a
// peek keeps returning them). So the wait for a packet sleeps in select()
// until something is queued, looks again every millisecond while the part
// queued grows, and hands a part that has stopped growing to the read: with
// nothing left queued, the next select sleeps until the rest or the close.
#include <winsock.h>

#include <cstring>

#include "platform/address_text.h"
#include "platform/platform.h"
#include "platform/win32/win32_errors.h"

namespace {

const DWORD PARTIAL_PACKET_PAUSE_MS = 1;

SOCKET socket_of(PlatSocket sock) { return static_cast<SOCKET>(sock); }

struct timeval timeval_of_ms(long ms) { return {ms / 1000, (ms % 1000) * 1000}; }

void set_blocking(SOCKET sock, bool blocking)
{
    u_long non_blocking = blocking ? 0 : 1;
    ioctlsocket(sock, FIONBIO, &non_blocking);
}

// Four decimal parts are read as decimal; any other text as inet_addr reads it.
u_long address_of(const char* text)
{
    uint8_t octets[ADDRESS_TEXT_PARTS];
    if (!address_text_decimal(text, octets)) return inet_addr(text);
    u_long address;
    memcpy(&address, octets, sizeof address);
    return address;
}

PlatResult wait_connected(SOCKET sock, int limit_ms)
{
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, &writable);
    FD_SET(sock, &failed);
    struct timeval limit = timeval_of_ms(limit_ms);
    int ready = select(0, nullptr, &writable, &failed, &limit);  // the first argument is ignored
    if (ready == 0) return win32_result_without_error(PLAT_ERR_TIMEOUT);
    if (ready < 0) return win32_result_of_error(WSAGetLastError());
    if (FD_ISSET(sock, &writable)) return PLAT_OK;
    // The connect failed: the socket holds why.
    int error = 0;
    int length = sizeof error;
    getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    return win32_result_of_error(error);
}

// 1 when something can be read (data or the peer's close), 0 after wait_ms, -1 on error.
int wait_readable(SOCKET sock, long wait_ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    struct timeval wait = timeval_of_ms(wait_ms);
    return select(0, &readable, nullptr, nullptr, &wait);
}

// A peek found the end of the stream: the peer closed the connection, or
// reset it, which not every Windows Sockets says at the peek. A send of no
// bytes, which puts nothing on the wire, fails on a reset connection alone.
PlatResult closed_or_reset(SOCKET sock)
{
    if (send(sock, "", 0, 0) == SOCKET_ERROR) return win32_result_of_error(WSAGetLastError());
    return win32_result_without_error(PLAT_ERR_CLOSED);
}

long ms_left(int64_t deadline)
{
    int64_t left = deadline - plat_monotonic_ms();
    return left > 0 ? static_cast<long>(left) : 0;
}

}  // namespace

PlatResult plat_net_start()
{
    WSADATA service;
    int error = WSAStartup(MAKEWORD(1, 1), &service);
    return error == 0 ? PLAT_OK : win32_result_of_error(error);
}

void plat_net_stop() { WSACleanup(); }

PlatResult plat_net_socket(PlatSocket* sock)
{
    SOCKET created = socket(AF_INET, SOCK_STREAM, 0);
    if (created == INVALID_SOCKET) return win32_result_of_error(WSAGetLastError());
    *sock = static_cast<PlatSocket>(created);
    return PLAT_OK;
}

PlatResult plat_net_connect(PlatSocket sock, const char* address, uint16_t port, int limit_ms)
{
    SOCKET s = socket_of(sock);
    struct sockaddr_in head = {};
    head.sin_family = AF_INET;
    head.sin_port = htons(port);
    head.sin_addr.s_addr = address_of(address);

    plat_console_show();
    set_blocking(s, false);
    PlatResult result = PLAT_OK;
    if (connect(s, reinterpret_cast<struct sockaddr*>(&head), sizeof head) != 0) {
        int error = WSAGetLastError();
        result = error == WSAEWOULDBLOCK ? wait_connected(s, limit_ms) : win32_result_of_error(error);
    }
    set_blocking(s, true);

    DWORD send_limit = static_cast<DWORD>(limit_ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_limit), sizeof send_limit);
    return result;
}

PlatResult plat_net_send(PlatSocket sock, const void* bytes, size_t count, int /*limit_ms: SO_SNDTIMEO*/)
{
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_SEND, &injected)) return win32_result_without_error(injected);
    plat_console_show();  // a send may wait up to its limit
    int sent = send(socket_of(sock), static_cast<const char*>(bytes), static_cast<int>(count), 0);
    if (sent == static_cast<int>(count)) return PLAT_OK;
    if (sent == SOCKET_ERROR) return win32_result_of_error(WSAGetLastError());
    return win32_result_without_error(PLAT_ERR_TIMEOUT);
}

PlatResult plat_net_wait_queued(PlatSocket sock, void* scratch, size_t count, int wait_ms, int* queued)
{
    SOCKET s = socket_of(sock);
    int wanted = static_cast<int>(count);
    PlatResult injected;
    if (plat_fault_fires(PLAT_FAULT_RECEIVE, &injected)) return win32_result_without_error(injected);
    plat_console_show();
    int64_t deadline = plat_monotonic_ms() + wait_ms;
    int part = 0;
    for (;;) {
        int ready = wait_readable(s, ms_left(deadline));
        if (ready < 0) return win32_result_of_error(WSAGetLastError());
        if (ready > 0) {
            int peeked = recv(s, static_cast<char*>(scratch), wanted, MSG_PEEK);
            if (peeked == SOCKET_ERROR) return win32_result_of_error(WSAGetLastError());
            if (peeked == 0) return closed_or_reset(s);
            if (peeked == wanted || peeked == part) return PLAT_OK;  // whole, or a part that stopped growing
            part = peeked;
        }
        if (plat_monotonic_ms() >= deadline) {
            *queued = part;
            return PLAT_ERR_TIMEOUT;
        }
        if (part > 0) Sleep(PARTIAL_PACKET_PAUSE_MS);
    }
}

void plat_net_discard_queued(PlatSocket sock, void* scratch, size_t size)
{
    SOCKET s = socket_of(sock);
    u_long queued = 0;
    while (ioctlsocket(s, FIONREAD, &queued) == 0 && queued > 0) {
        if (recv(s, static_cast<char*>(scratch), static_cast<int>(size), 0) <= 0) return;
    }
}

// The wait's peek has seen bytes queued, so this returns at once.
int plat_net_read(PlatSocket sock, void* bytes, size_t count)
{
    return recv(socket_of(sock), static_cast<char*>(bytes), static_cast<int>(count), 0);
}

PlatResult plat_net_close(PlatSocket sock)
{
    return closesocket(socket_of(sock)) == 0 ? PLAT_OK : win32_result_of_error(WSAGetLastError());
}

PlatResult plat_net_listen(const uint8_t address[4], uint16_t port, PlatSocket* sock, char* reason,
                           size_t reason_size)
{
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    memcpy(&local.sin_addr, address, 4);
    u_long not_blocking = 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    bool listening = s != INVALID_SOCKET && ioctlsocket(s, FIONBIO, &not_blocking) == 0 &&
                     bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
                     listen(s, SOMAXCONN) == 0;
    if (listening) {
        *sock = static_cast<PlatSocket>(s);
        return PLAT_OK;
    }
    int error = WSAGetLastError();
    if (s != INVALID_SOCKET) closesocket(s);
    plat_error_words(error, reason, reason_size);
    return win32_result_of_error(error);
}
