// Byte layouts of the head protocol: the switch command the program sends and
// the return packet the head answers with. Both sides (the program and the
// simulated head) build and read them only through these functions.
#pragma once

#include <cstdint>

constexpr uint16_t HEAD_PORT = 4040;

constexpr int SWITCH_COMMAND_SIZE = 27;
constexpr int SWITCH_RANGE = 3;
constexpr int SWITCH_GAIN = 8;
constexpr int SWITCH_PACKET_NUMBER = 13;
constexpr int SWITCH_RANGE_BY_SIX = 14;

constexpr int RETURN_PACKET_SIZE = 1033;
constexpr int RETURN_PACKET_NUMBER = 5;  // low three bits
constexpr int RETURN_HEADER_SIZE = 12;   // the part kept in the ping image
constexpr int RETURN_DATA_OFFSET = 32;
constexpr int RETURN_DATA_SIZE = 1000;
constexpr int RETURN_END = 1032;
constexpr uint8_t RETURN_END_BYTE = 0xFC;

constexpr int PACKETS_PER_PING = 8;
constexpr int PING_IMAGE_SIZE = RETURN_HEADER_SIZE + PACKETS_PER_PING * RETURN_DATA_SIZE + 1;  // 8013
constexpr int PING_IMAGE_END = PING_IMAGE_SIZE - 1;
constexpr int PING_IMAGE_SAMPLES = RETURN_HEADER_SIZE;  // the data slots, slot 0 first: the ping's samples
constexpr int PING_SAMPLE_COUNT = PACKETS_PER_PING * RETURN_DATA_SIZE;  // 8000
// Where the data bytes of packet packet_number (0 to 7) sit in the ping image.
inline int ping_image_slot(int packet_number) { return PING_IMAGE_SAMPLES + packet_number * RETURN_DATA_SIZE; }

// The wire layouts are counts of bytes, never the size of a C++ type, so they
// are the same on every build (32 or 64 bits, Linux or Windows); checked
// wherever this is compiled.
static_assert(SWITCH_RANGE_BY_SIX < SWITCH_COMMAND_SIZE && SWITCH_COMMAND_SIZE == 27,
              "the switch command is 27 bytes on the wire");
static_assert(RETURN_PACKET_NUMBER < RETURN_HEADER_SIZE && RETURN_HEADER_SIZE <= RETURN_DATA_OFFSET &&
                  RETURN_DATA_OFFSET + RETURN_DATA_SIZE == RETURN_END && RETURN_END + 1 == RETURN_PACKET_SIZE &&
                  RETURN_PACKET_SIZE == 1033,
              "the return packet is 1033 bytes: header, 1000 data bytes, end byte");
static_assert(PING_IMAGE_SIZE == 8013, "the ping image is 8013 bytes");

struct SwitchCommand {
    int range;          // metres
    int gain;           // dB
    int packet_number;  // 0 to 7
};

// The range in metres times six: what the head link keeps of the range.
inline int range_by_six_of(int range) { return range * 6; }
// Range by six, over ten: the head's sample spacing code (switch command byte 14, record byte 44).
inline int range_by_six_code(int range_by_six) { return range_by_six / 10; }
// The range in metres a code stands for: exact for every range the program offers;
// false for a code no whole number of metres gives.
inline bool range_of_code(int code, int* metres)
{
    if (code * 10 % 6 != 0) return false;
    *metres = code * 10 / 6;
    return true;
}
// The range in metres of any code, as a fraction where no whole number gives it: 24 is 40 m.
inline double range_code_metres(int code) { return code * 10.0 / 6.0; }

void switch_command_build(uint8_t command[SWITCH_COMMAND_SIZE], const SwitchCommand* fields);
// False when the fixed bytes are not those of a switch command.
bool switch_command_parse(const uint8_t command[SWITCH_COMMAND_SIZE], SwitchCommand* fields);

// Builds a well-formed return packet; bytes 3 to 31 other than the packet
// number are zero, for the head to fill with its own status bytes.
void return_packet_build(uint8_t packet[RETURN_PACKET_SIZE], int packet_number,
                         const uint8_t data[RETURN_DATA_SIZE]);
// The acceptance rule: "IUX" at the start and the end byte as the last byte delivered.
bool return_packet_valid(const uint8_t* packet, int delivered);
inline int return_packet_number(const uint8_t* packet) { return packet[RETURN_PACKET_NUMBER] & 7; }
// Byte 5 with the packet number in its low three bits; the head's own bits above them stay.
inline void return_packet_set_number(uint8_t* packet, uint8_t head_bits, int packet_number)
{
    packet[RETURN_PACKET_NUMBER] = static_cast<uint8_t>((head_bits & ~7) | (packet_number & 7));
}
