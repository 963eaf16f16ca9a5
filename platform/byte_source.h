// A source of bytes from another device: a serial line, a UDP port or a TCP
// connection (navlog's receivers). One backend per system,
// posix/posix_byte_source.cpp and win32/win32_byte_source.cpp, with the same
// functions in the same order; CMake picks one. Its wait also watches the
// tools' terminal (terminal.h) for a quit key or an end, once terminal_start
// has been called. Windows Sockets are started with plat_net_start first.
#pragma once

#include <cstddef>
#include <cstdint>

enum ByteSourceKind { BYTE_SOURCE_SERIAL, BYTE_SOURCE_UDP, BYTE_SOURCE_TCP };

// The rates a serial line can be set to, on every system.
constexpr long BYTE_SOURCE_BAUD_RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr int BYTE_SOURCE_BAUD_RATE_COUNT = sizeof BYTE_SOURCE_BAUD_RATES / sizeof BYTE_SOURCE_BAUD_RATES[0];
constexpr int BYTE_SOURCE_REASON_SIZE = 256;
constexpr size_t BYTE_SOURCE_DATAGRAM_MAX = 65536;  // the largest UDP datagram
constexpr size_t BYTE_SOURCE_DATAGRAMS_PER_WAIT = 8192;
// The UDP receive queue asked for, so a burst outlasts a pass; the system may give less.
constexpr int BYTE_SOURCE_UDP_QUEUE_BYTES = 2 * 1024 * 1024;
constexpr intptr_t BYTE_SOURCE_CLOSED = -1;

struct ByteSource {
    ByteSourceKind kind;
    const char* device;   // serial: its name
    long baud;            // serial: one of BYTE_SOURCE_BAUD_RATES
    const char* address;  // UDP: the local IPv4 address bound to; TCP: the host connected to
    uint16_t port;        // UDP: the port listened on; TCP: the port connected to
    intptr_t handle;      // BYTE_SOURCE_CLOSED while closed
    bool connecting;      // TCP: a connect is under way
    char reason[BYTE_SOURCE_REASON_SIZE];  // after BYTE_OPEN_ABSENT, BYTE_OPEN_UNUSABLE or BYTE_EVENT_LOST: why
    long dropped;  // UDP: datagrams the system dropped for a full queue since the source was opened, where the
                   // system tells
};

enum ByteOpen {
    BYTE_OPEN_READY,     // bytes can come
    BYTE_OPEN_PENDING,   // a TCP connect is under way: byte_source_wait tells how it ends
    BYTE_OPEN_ABSENT,    // not there now (device unplugged, nobody listening): try again later
    BYTE_OPEN_UNUSABLE,  // it can never be used as asked (not a serial device, a bad rate or address)
};

enum ByteEvent {
    BYTE_EVENT_NONE,       // the time is up, or keys that do nothing
    BYTE_EVENT_BYTES,      // bytes came
    BYTE_EVENT_CONNECTED,  // the TCP connect under way succeeded
    BYTE_EVENT_LOST,       // the source has gone (closed, unplugged, reset, connect failed); it is closed
    BYTE_EVENT_QUIT,       // a quit key or an end (terminal.h)
};

// Open the source, which the caller has reset (closed, not connecting, no
// reason): a serial line set up 8N1 at the rate, raw; a UDP socket bound to
// its port; a TCP connect started.
ByteOpen byte_source_open_serial(ByteSource* source);
ByteOpen byte_source_open_udp(ByteSource* source);
ByteOpen byte_source_open_tcp(ByteSource* source);
// Waits at most wait_ms for bytes from the source (when open), a quit key or
// an end; reads into bytes all that is queued, *count of them, as far as size
// allows: datagrams one after the other, each whole, while size has room for
// the largest.
ByteEvent byte_source_wait(ByteSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count);
void byte_source_close(ByteSource* source);
