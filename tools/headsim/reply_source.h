// Where the contents of headsim's replies come from: echoes invented from the
// command, or the pings of a recorded survey. The server decides when a ping
// starts and ends; a source supplies the pings and builds their packets.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"

struct ReplySource {
    // Back to the first ping, for a new connection.
    void (*rewind)();
    // Moves on to the next ping; false when there is none (a recording has ended).
    // wait_ms: how long after the previous ping this one is due (0: at once).
    bool (*next_ping)(long* wait_ms);
    // A well-formed return packet of the current ping carrying packet_number (0 to 7).
    void (*build)(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command, int packet_number);
};

extern const ReplySource ECHO_SOURCE;

// A well-mixed 32-bit hash, for invented bytes (echo noise, garbage replies).
inline uint32_t headsim_hash(uint32_t value)
{
    value ^= value >> 16;
    value *= 0x7FEB352DU;
    value ^= value >> 15;
    value *= 0x846CA68BU;
    value ^= value >> 16;
    return value;
}

// Checks the data file with the data file checker and opens it for serving;
// false, with the reason on stderr, when it cannot be served.
bool replay_open(const char* path, bool loop);
extern const ReplySource REPLAY_SOURCE;
