// A source of bytes from another device: a serial line, a UDP port or a TCP
// connection (navlog's receivers). One backend per system,
// posix/posix_byte_source.cpp and win32/win32_byte_source.cpp, with the same
// functions in the same order; CMake picks one. Its wait also watches the
// tools' terminal (terminal.h) for a quit key or an end, once plat_terminal_start
// has been called. Windows Sockets are started with plat_net_start first.
#pragma once

#include <cstddef>
#include <cstdint>

enum PlatSourceKind { PLAT_SOURCE_SERIAL, PLAT_SOURCE_UDP, PLAT_SOURCE_TCP };

// The rates a serial line can be set to, on every system.
constexpr long PLAT_SOURCE_BAUD_RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr int PLAT_SOURCE_BAUD_RATE_COUNT = sizeof PLAT_SOURCE_BAUD_RATES / sizeof PLAT_SOURCE_BAUD_RATES[0];
constexpr int PLAT_SOURCE_REASON_SIZE = 256;
constexpr size_t PLAT_SOURCE_DATAGRAM_MAX = 65536;  // the largest UDP datagram
constexpr size_t PLAT_SOURCE_DATAGRAMS_PER_WAIT = 8192;
// The UDP receive queue asked for, so a burst outlasts a pass; the system may give less.
constexpr int PLAT_SOURCE_UDP_QUEUE_BYTES = 2 * 1024 * 1024;
constexpr intptr_t PLAT_SOURCE_CLOSED = -1;

struct PlatSource {
    PlatSourceKind kind;
    const char* device;   // serial: its name
    long baud;            // serial: one of PLAT_SOURCE_BAUD_RATES
    const char* address;  // UDP: the local IPv4 address bound to; TCP: the host connected to
    uint16_t port;        // UDP: the port listened on; TCP: the port connected to
    intptr_t handle;      // PLAT_SOURCE_CLOSED while closed
    bool connecting;      // TCP: a connect is under way
    char reason[PLAT_SOURCE_REASON_SIZE];  // after PLAT_SOURCE_ABSENT, PLAT_SOURCE_UNUSABLE or PLAT_SOURCE_LOST: why
    long dropped;  // UDP: datagrams the system dropped for a full queue since the source was opened, where the
                   // system tells
};

enum PlatSourceOpen {
    PLAT_SOURCE_READY,     // bytes can come
    PLAT_SOURCE_PENDING,   // a TCP connect is under way: plat_source_wait tells how it ends
    PLAT_SOURCE_ABSENT,    // not there now (device unplugged, nobody listening): try again later
    PLAT_SOURCE_UNUSABLE,  // it can never be used as asked (not a serial device, a bad rate or address)
};

enum PlatSourceEvent {
    PLAT_SOURCE_NONE,       // the time is up, or keys that do nothing
    PLAT_SOURCE_BYTES,      // bytes came
    PLAT_SOURCE_CONNECTED,  // the TCP connect under way succeeded
    PLAT_SOURCE_LOST,       // the source has gone (closed, unplugged, reset, connect failed); it is closed
    PLAT_SOURCE_QUIT,       // a quit key or an end (terminal.h)
};

// Open the source, which the caller has reset (closed, not connecting, no
// reason): a serial line set up 8N1 at the rate, raw; a UDP socket bound to
// its port; a TCP connect started.
PlatSourceOpen plat_source_open_serial(PlatSource* source);
PlatSourceOpen plat_source_open_udp(PlatSource* source);
PlatSourceOpen plat_source_open_tcp(PlatSource* source);
// Waits at most wait_ms for bytes from the source (when open), a quit key or
// an end; reads into bytes all that is queued, *count of them, as far as size
// allows: datagrams one after the other, each whole, while size has room for
// the largest.
PlatSourceEvent plat_source_wait(PlatSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count);
void plat_source_close(PlatSource* source);
