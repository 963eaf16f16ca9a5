#include "headlink/protocol.h"

#include <cstring>

namespace {

const uint8_t SWITCH_TEMPLATE[SWITCH_COMMAND_SIZE] = {
    0xFE, 0x44, 0x10, 0, 0, 0, 0, 0, 0, 1, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0, 0, 0, 0, 0x56, 0xFD,
};

}  // namespace

void switch_command_build(uint8_t command[SWITCH_COMMAND_SIZE], const SwitchCommand* fields)
{
    memcpy(command, SWITCH_TEMPLATE, SWITCH_COMMAND_SIZE);
    command[SWITCH_RANGE] = static_cast<uint8_t>(fields->range);
    command[SWITCH_GAIN] = static_cast<uint8_t>(fields->gain);
    command[SWITCH_PACKET_NUMBER] = static_cast<uint8_t>(fields->packet_number);
    command[SWITCH_RANGE_BY_SIX] = static_cast<uint8_t>(range_by_six_code(range_by_six_of(fields->range)));
}

bool switch_command_parse(const uint8_t command[SWITCH_COMMAND_SIZE], SwitchCommand* fields)
{
    for (int i = 0; i < SWITCH_COMMAND_SIZE; ++i) {
        bool variable = i == SWITCH_RANGE || i == SWITCH_GAIN || i == SWITCH_PACKET_NUMBER ||
                        i == SWITCH_RANGE_BY_SIX;
        if (!variable && command[i] != SWITCH_TEMPLATE[i]) return false;
    }
    fields->range = command[SWITCH_RANGE];
    fields->gain = command[SWITCH_GAIN];
    fields->packet_number = command[SWITCH_PACKET_NUMBER];
    return true;
}

void return_packet_build(uint8_t packet[RETURN_PACKET_SIZE], int packet_number,
                         const uint8_t data[RETURN_DATA_SIZE])
{
    memset(packet, 0, RETURN_DATA_OFFSET);
    packet[0] = 'I';
    packet[1] = 'U';
    packet[2] = 'X';
    return_packet_set_number(packet, 0, packet_number);
    memcpy(packet + RETURN_DATA_OFFSET, data, RETURN_DATA_SIZE);
    packet[RETURN_END] = RETURN_END_BYTE;
}

bool return_packet_valid(const uint8_t* packet, int delivered)
{
    return delivered >= 1 && packet[0] == 'I' && packet[1] == 'U' && packet[2] == 'X' &&
           packet[delivered - 1] == RETURN_END_BYTE;
}
