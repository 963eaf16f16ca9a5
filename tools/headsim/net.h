// headsim's sockets and its sleep: listening, accepting, reading commands and
// sending replies, every wait cut short when a stop is requested. Time is the
// platform's monotonic clock.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"

constexpr int NET_PEER_SIZE = 64;

// Set by SIGINT or SIGTERM; every wait ends soon after.
bool net_stop_requested();
void net_install_signals();

// Sleeps in short slices; false when a stop was requested meanwhile.
bool net_sleep_ms(long ms);

// The listening socket, or -1 with the reason on stderr.
int net_listen(const char* address, uint16_t port);
// The next client, with its address as text in peer; -1 when a stop was requested.
int net_accept(int listener, char peer[NET_PEER_SIZE]);

enum NetResult { NET_OK, NET_CLOSED, NET_ERROR, NET_STOPPED };
// Reads one whole command, however it arrives in pieces.
NetResult net_read_command(int socket, uint8_t command[SWITCH_COMMAND_SIZE]);
// Sends size bytes in the given number of pieces, gap_ms apart.
// NET_CLOSED when the client has gone.
NetResult net_send_pieces(int socket, const uint8_t* bytes, int size, long pieces, long gap_ms);
// Makes the close that follows abortive: the client gets a reset.
void net_abort_on_close(int socket);
