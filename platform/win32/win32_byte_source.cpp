// Byte sources on Windows. The source is a COM port (\\.\COMn, so COM10 and
// up open too) set to 8N1, or a Windows Sockets 1.1 socket. Windows cannot
// wait for a COM port, a socket and the console in one call, so the wait
// looks at each in turn in slices of 50 ms: a COM port read returns as soon
// as a byte has come, a socket's select as soon as one is queued, and the
// console is looked at between (win32_terminal.h).
#include <winsock.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/byte_source.h"
#include "platform/platform.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_terminal.h"

namespace {

const DWORD SLICE_MS = 50;
const char DEVICE_PREFIX[] = "\\\\.\\";

HANDLE port_of(const PlatSource* source) { return reinterpret_cast<HANDLE>(source->handle); }
SOCKET socket_of(const PlatSource* source) { return static_cast<SOCKET>(source->handle); }

void set_reason(PlatSource* source, const char* text) { snprintf(source->reason, PLAT_SOURCE_REASON_SIZE, "%s", text); }

void set_system_reason(PlatSource* source, DWORD error)
{
    plat_error_words(static_cast<int>(error), source->reason, PLAT_SOURCE_REASON_SIZE);
}

PlatSourceEvent lost(PlatSource* source, DWORD error, const char* text)
{
    if (text != nullptr) set_reason(source, text);
    if (text == nullptr) set_system_reason(source, error);
    plat_source_close(source);
    return PLAT_SOURCE_LOST;
}

PlatSourceEvent read_port(PlatSource* source, uint8_t* bytes, size_t size, size_t* count)
{
    DWORD got = 0;
    if (!ReadFile(port_of(source), bytes, static_cast<DWORD>(size), &got, nullptr)) {
        return lost(source, GetLastError(), nullptr);
    }
    *count = got;
    return got > 0 ? PLAT_SOURCE_BYTES : PLAT_SOURCE_NONE;
}

// Every datagram queued, while there is room for the largest (and empty ones
// do not go on for ever); the first error (nothing more queued, or the report
// of an earlier datagram) ends it. The socket does not block.
int receive_queued(SOCKET sock, uint8_t* bytes, size_t size)
{
    size_t taken = 0;
    for (size_t datagrams = 0;
         datagrams < PLAT_SOURCE_DATAGRAMS_PER_WAIT && size - taken >= PLAT_SOURCE_DATAGRAM_MAX; ++datagrams) {
        int got = recv(sock, reinterpret_cast<char*>(bytes + taken), static_cast<int>(size - taken), 0);
        if (got < 0) return taken > 0 ? static_cast<int>(taken) : got;
        taken += static_cast<size_t>(got);
    }
    return static_cast<int>(taken);
}

// The source cannot be used as asked: what was opened is closed, the reason kept.
PlatSourceOpen unusable(PlatSource* source, intptr_t handle)
{
    source->handle = handle;
    plat_source_close(source);
    return PLAT_SOURCE_UNUSABLE;
}

PlatSourceOpen ready(PlatSource* source, intptr_t handle)
{
    source->handle = handle;
    return PLAT_SOURCE_READY;
}

// The source's address and port, the address as inet_addr reads it.
struct sockaddr_in socket_address(const PlatSource* source)
{
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(source->port);
    address.sin_addr.s_addr = inet_addr(source->address);
    return address;
}

// A socket that never blocks; INVALID_SOCKET with the reason.
SOCKET open_socket(PlatSource* source, int type)
{
    SOCKET sock = socket(AF_INET, type, 0);
    if (sock == INVALID_SOCKET) {
        set_system_reason(source, WSAGetLastError());
        return sock;
    }
    u_long non_blocking = 1;
    ioctlsocket(sock, FIONBIO, &non_blocking);
    return sock;
}

// Waits one slice for the socket; reads what is queued, or finishes the connect under way.
PlatSourceEvent read_socket(PlatSource* source, uint8_t* bytes, size_t size, size_t* count)
{
    SOCKET sock = socket_of(source);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, source->connecting ? &writable : &readable);
    FD_SET(sock, &failed);
    struct timeval slice = {0, static_cast<long>(SLICE_MS) * 1000};
    int ready = select(0, &readable, &writable, &failed, &slice);  // the first argument is ignored
    if (ready <= 0) return PLAT_SOURCE_NONE;
    if (source->connecting) {
        if (FD_ISSET(sock, &failed)) {
            int error = 0;
            int length = sizeof error;
            getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            return lost(source, static_cast<DWORD>(error), nullptr);
        }
        source->connecting = false;
        return PLAT_SOURCE_CONNECTED;
    }
    bool datagrams = source->kind == PLAT_SOURCE_UDP;
    int got = datagrams ? receive_queued(sock, bytes, size)
                        : recv(sock, reinterpret_cast<char*>(bytes), static_cast<int>(size), 0);
    if (got > 0) {
        *count = static_cast<size_t>(got);
        return PLAT_SOURCE_BYTES;
    }
    if (datagrams) return PLAT_SOURCE_NONE;  // nothing more, or an error report of an earlier datagram
    if (got == 0) return lost(source, 0, "closed by the other end");
    return lost(source, static_cast<DWORD>(WSAGetLastError()), nullptr);
}

}  // namespace

PlatSourceOpen plat_source_open_serial(PlatSource* source)
{
    char path[PLAT_SOURCE_REASON_SIZE];
    bool named_whole = strncmp(source->device, "\\\\", 2) == 0;
    snprintf(path, sizeof path, "%s%s", named_whole ? "" : DEVICE_PREFIX, source->device);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        set_system_reason(source, error);
        return win32_device_may_come(static_cast<int>(error)) ? PLAT_SOURCE_ABSENT : PLAT_SOURCE_UNUSABLE;
    }
    DCB line = {};
    line.DCBlength = sizeof line;
    if (!GetCommState(port, &line)) {
        set_reason(source, "not a serial device");
        return unusable(source, reinterpret_cast<intptr_t>(port));
    }
    line.BaudRate = static_cast<DWORD>(source->baud);
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fNull = FALSE;
    line.fAbortOnError = FALSE;
    // A read returns as soon as a byte is there, or after one slice with none.
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, SLICE_MS, 0, 0};
    if (!SetCommState(port, &line) || !SetCommTimeouts(port, &timeouts)) {
        snprintf(source->reason, PLAT_SOURCE_REASON_SIZE, "cannot be set to %ld baud, 8N1", source->baud);
        return unusable(source, reinterpret_cast<intptr_t>(port));
    }
    return ready(source, reinterpret_cast<intptr_t>(port));
}

PlatSourceOpen plat_source_open_udp(PlatSource* source)
{
    struct sockaddr_in address = socket_address(source);
    if (address.sin_addr.s_addr == INADDR_NONE && strcmp(source->address, "255.255.255.255") != 0) {
        set_reason(source, "not an IPv4 address");
        return PLAT_SOURCE_UNUSABLE;
    }
    SOCKET sock = open_socket(source, SOCK_DGRAM);
    if (sock == INVALID_SOCKET) return PLAT_SOURCE_ABSENT;
    // A larger queue may be refused without harm. Windows does not tell what it dropped.
    int queue = PLAT_SOURCE_UDP_QUEUE_BYTES;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&queue), sizeof queue);
    if (bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        set_system_reason(source, WSAGetLastError());
        return unusable(source, static_cast<intptr_t>(sock));
    }
    return ready(source, static_cast<intptr_t>(sock));
}

PlatSourceOpen plat_source_open_tcp(PlatSource* source)
{
    struct sockaddr_in address = socket_address(source);
    if (address.sin_addr.s_addr == INADDR_NONE) {
        struct hostent* found = gethostbyname(source->address);
        if (found == nullptr || found->h_addrtype != AF_INET) {
            set_system_reason(source, WSAGetLastError());
            return PLAT_SOURCE_ABSENT;
        }
        memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    }
    SOCKET sock = open_socket(source, SOCK_STREAM);
    if (sock == INVALID_SOCKET) return PLAT_SOURCE_ABSENT;
    source->handle = static_cast<intptr_t>(sock);
    if (connect(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) return PLAT_SOURCE_READY;
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        source->connecting = true;
        return PLAT_SOURCE_PENDING;
    }
    set_system_reason(source, error);
    plat_source_close(source);
    return PLAT_SOURCE_ABSENT;
}

// Bytes that came are handed over at once; an end that came meanwhile ends the next wait.
PlatSourceEvent plat_source_wait(PlatSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count)
{
    *count = 0;
    int64_t deadline = plat_monotonic_ms() + wait_ms;
    for (;;) {
        if (win32_terminal_look() == PLAT_TERMINAL_QUIT) return PLAT_SOURCE_QUIT;
        PlatSourceEvent event = PLAT_SOURCE_NONE;
        if (source->handle == PLAT_SOURCE_CLOSED) {
            Sleep(SLICE_MS);
        } else if (source->kind == PLAT_SOURCE_SERIAL) {
            event = read_port(source, bytes, size, count);
        } else {
            event = read_socket(source, bytes, size, count);
        }
        if (event != PLAT_SOURCE_NONE || plat_monotonic_ms() >= deadline) return event;
    }
}

void plat_source_close(PlatSource* source)
{
    if (source->handle != PLAT_SOURCE_CLOSED) {
        if (source->kind == PLAT_SOURCE_SERIAL) {
            CloseHandle(port_of(source));
        } else {
            closesocket(socket_of(source));
        }
    }
    source->handle = PLAT_SOURCE_CLOSED;
    source->connecting = false;
}
