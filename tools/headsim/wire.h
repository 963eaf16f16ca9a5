// headsim's sockets and its sleep: listening, accepting, reading commands and
// sending replies, every wait cut short when a stop is requested. Time is the
// platform's monotonic clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "headlink/protocol.h"

constexpr int WIRE_PEER_SIZE = 64;

// Set by SIGINT or SIGTERM; every wait ends soon after.
bool wire_stop_requested();
void wire_install_signals();
// Requests the same stop from inside, on a failure of headsim's own.
void wire_request_stop();

// Sleeps in short slices; false when a stop was requested meanwhile.
bool wire_sleep_ms(long ms);

// True when text is an IPv4 address in the dotted form the listener takes.
bool wire_is_ipv4_address(const char* text);
// The listening socket, or -1 with the reason on stderr.
int wire_listen(const char* address, uint16_t port);
// The next client, with its address as text in peer; -1 when a stop was requested.
int wire_accept(int listener, char peer[WIRE_PEER_SIZE]);

enum WireResult { WIRE_OK, WIRE_CLOSED, WIRE_ERROR, WIRE_STOPPED };
// Reads one whole command, however it arrives in pieces.
WireResult wire_read_command(int socket, uint8_t command[SWITCH_COMMAND_SIZE]);
// Sends size bytes in the given number of pieces, gap_ms apart.
// WIRE_CLOSED when the client has gone.
WireResult wire_send_pieces(int socket, const uint8_t* bytes, int size, long pieces, long gap_ms);
// Makes the close that follows abortive: the client gets a reset.
void wire_abort_on_close(int socket);
void wire_close(int socket);

// A UDP socket that sends to 127.0.0.1 only; -1 with the reason on stderr.
int wire_loopback_udp_open();
// One datagram to 127.0.0.1:port; a datagram nobody reads is lost, as on a network.
void wire_loopback_udp_send(int socket, uint16_t port, const char* bytes, size_t size);

// True when path names a regular file (not a pipe or a device, nor nothing).
bool wire_is_regular_file(const char* path);
// A regular file opened for reading, without waiting for a writer; null, with
// the reason on stderr, when it cannot be opened or is not a regular file (a
// pipe, a device): it is read again for every connection.
FILE* wire_open_recording(const char* path);
