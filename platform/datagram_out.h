// Datagrams sent to one IPv4 address and port: qkvdump --nmea-out's depth
// sentences for a chart plotter. A UDP socket that sends to that address
// alone; broadcast is never asked for, so the system refuses a broadcast
// address. One backend per system (posix_datagram_out.cpp,
// win32_datagram_out.cpp), CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatDatagram {
    intptr_t socket;  // the system's; -1 when closed
};

// Opens the socket for address (IPv4, dotted) and port; false with why in reason.
bool plat_datagram_open(PlatDatagram* out, const char* address, uint16_t port, char* reason, size_t size);
// One datagram; false when the system refused it (nobody listening on loopback is no failure).
bool plat_datagram_send(PlatDatagram* out, const void* bytes, size_t count);
void plat_datagram_close(PlatDatagram* out);
