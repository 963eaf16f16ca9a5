// The synthetic source: every ping is the same invented echo profile, a
// bottom at 18 m under surface reverberation and noise, shaped by range and gain.
#include "tools/headsim/reply_source.h"

#include <cmath>

namespace {

constexpr double BOTTOM_DEPTH_M = 18.0;
constexpr uint8_t HEAD_ID = 0x10;
constexpr uint8_t HEAD_STATUS_READY = 0x80;

uint16_t head_reply_counter = 0;  // running across connections, like a real head's

// Amplitude of one sample: low noise, surface reverberation fading with depth,
// and a strong bottom echo with a decaying tail, all scaled by the gain.
uint8_t echo_sample(int sample, int range, int gain)
{
    double depth = range > 0 ? static_cast<double>(sample) * range / PING_SAMPLE_COUNT : 0.0;
    uint32_t seed = static_cast<uint32_t>(sample) | static_cast<uint32_t>(range) << 13 |
                    static_cast<uint32_t>(gain) << 21;
    double noise = 3.0 + static_cast<double>(headsim_hash(seed) % 9);
    double surface = 40.0 * std::exp(-depth / 1.5);
    double echo = 0.0;
    double below = depth - BOTTOM_DEPTH_M;
    if (below >= -0.3) {
        echo = below < 0.0 ? 120.0 * std::exp(-(below * below) / 0.02)
                           : 120.0 * std::exp(-below / 0.4) + 25.0 * std::exp(-below / 4.0);
    }
    double amplitude = (noise + surface + echo) * (1.0 + gain / 8.0);
    if (amplitude > 255.0) amplitude = 255.0;
    if (amplitude < 0.0) amplitude = 0.0;
    return static_cast<uint8_t>(amplitude);
}

void echo_fill(uint8_t data[RETURN_DATA_SIZE], const SwitchCommand* command)
{
    int first = (command->packet_number & 7) * RETURN_DATA_SIZE;
    for (int i = 0; i < RETURN_DATA_SIZE; ++i) {
        data[i] = echo_sample(first + i, command->range, command->gain);
    }
}

// Head status: identity, a running reply counter, the range and gain echoed,
// the packet number asked for and the data size in hundreds of bytes.
void echo_status_fill(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command)
{
    ++head_reply_counter;
    packet[3] = HEAD_ID;
    packet[4] = HEAD_STATUS_READY;
    return_packet_set_number(packet, static_cast<uint8_t>((head_reply_counter & 0x1F) << 3),
                             return_packet_number(packet));
    packet[6] = static_cast<uint8_t>(head_reply_counter & 0xFF);
    packet[7] = static_cast<uint8_t>(head_reply_counter >> 8);
    packet[8] = static_cast<uint8_t>(command->range);
    packet[9] = static_cast<uint8_t>(command->gain);
    packet[10] = static_cast<uint8_t>(command->packet_number);
    packet[11] = RETURN_DATA_SIZE / 100;
}

void echo_rewind() {}

bool echo_next_ping(long* wait_ms)
{
    *wait_ms = 0;
    return true;
}

void echo_build(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command, int packet_number)
{
    uint8_t data[RETURN_DATA_SIZE];
    echo_fill(data, command);
    return_packet_build(packet, packet_number, data);
    echo_status_fill(packet, command);
}

}  // namespace

const ReplySource ECHO_SOURCE = {echo_rewind, echo_next_ping, echo_build};
