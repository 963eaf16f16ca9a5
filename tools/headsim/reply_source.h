// Where the contents of headsim's replies come from: echoes invented from the
// command, or the pings of a recorded survey. The server decides when a ping
// starts and ends; a source supplies the pings and builds their packets.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"
#include "tools/headsim/sea.h"
#include "tools/headsim/vessel.h"

struct ReplySource {
    // Back to the first ping, for a new connection.
    void (*rewind)();
    // Moves on to the next ping; false when there is none (a recording has ended).
    // wait_ms: how long after the previous ping this one is due (0: at once).
    bool (*next_ping)(long* wait_ms);
    // A well-formed return packet of the current ping carrying packet_number (0 to 7).
    void (*build)(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command, int packet_number);
};

// The synthetic source: the echo of the seabed under the simulated vessel.
struct EchoPlan {
    uint32_t seed;           // chooses the seabed, its fish and its bubbles
    long ping_rate;          // pings a second; 0: each ping as soon as asked
    VesselPlan vessel;
    SeaPlan sea;
    uint32_t spike_one_in;   // 0: no spikes
    const char* truth_path;  // where the truth of each ping served goes; null: nowhere
    bool truth_reduced;      // the truth goes on with what a reduction of the ping must find
    const char* gauge_path;  // where the tide's levels go, as a gauge's record; null: nowhere
    const char* cast_path;   // where the speed of sound goes, as a probe's cast; null: nowhere
    int64_t epoch_ms;        // the survey's start on the monotonic clock, shared with the track
};
// Takes the plan, writes the gauge's and the cast's files and opens the
// truth file: 0, or headsim's exit status with the reason on stderr: 2 for
// raw survey data it will not write over, 1 for a file it cannot write.
int echo_open(const EchoPlan* plan);
// False once writing the truth file failed (the reason is on stderr, and headsim is stopping).
bool echo_truth_kept();
void echo_close();
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
