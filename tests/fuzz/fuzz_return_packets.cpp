// Offers any sequence of reads to the ping assembly, the way the receive loop
// does: each read lands at the start of one receive buffer that keeps the
// bytes of earlier reads, and any delivered count the read reports. Also
// round-trips the switch command through its builder and parser.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "headlink/headlink.h"
#include "headlink/protocol.h"

namespace {

uint8_t receive_buffer[RETURN_PACKET_SIZE];
PingAssembly assembly;
PingAssembly before;

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

bool image_is_complete_ping(const PingAssembly& a)
{
    return a.image_length == PING_IMAGE_SIZE && a.image[0] == 'I' && a.image[1] == 'U' && a.image[2] == 'X' &&
           a.image[PING_IMAGE_END] == RETURN_END_BYTE;
}

void check_offer(OfferOutcome outcome, int delivered)
{
    require(assembly.expected_packet >= 0 && assembly.expected_packet < PACKETS_PER_PING);
    require(assembly.last_packet >= 0 && assembly.last_packet < PACKETS_PER_PING);
    require(assembly.image_length == 0 || assembly.image_length == PING_IMAGE_SIZE);
    int pings_added = outcome == OFFER_PING_COMPLETE ? 1 : 0;
    require(assembly.ping_count == before.ping_count + pings_added);
    // Once a ping has completed, the image stays a whole ping.
    require(before.image_length == 0 || assembly.image_length == PING_IMAGE_SIZE);

    if (outcome == OFFER_DROPPED) {
        require(memcmp(&assembly, &before, sizeof assembly) == 0);
        return;
    }
    int number = receive_buffer[RETURN_PACKET_NUMBER] & 7;
    require(assembly.last_packet == number);
    const uint8_t* slot = assembly.image + RETURN_HEADER_SIZE + number * RETURN_DATA_SIZE;
    require(memcmp(slot, receive_buffer + RETURN_DATA_OFFSET, RETURN_DATA_SIZE) == 0);
    require(receive_buffer[delivered - 1] == RETURN_END_BYTE);
    if (outcome == OFFER_PING_COMPLETE) {
        require(before.expected_packet == PACKETS_PER_PING - 1 && number == PACKETS_PER_PING - 1);
        require(assembly.expected_packet == 0);
        require(image_is_complete_ping(assembly));
    }
}

void offer_reads(FuzzedDataProvider* fuzz)
{
    memset(receive_buffer, 0, sizeof receive_buffer);
    memset(&assembly, 0, sizeof assembly);
    assembly_reset(&assembly);
    while (fuzz->remaining_bytes() > 0) {
        int delivered = fuzz->ConsumeIntegralInRange<int>(-5, RETURN_PACKET_SIZE);
        size_t length = fuzz->ConsumeIntegralInRange<size_t>(0, RETURN_PACKET_SIZE);
        fuzz->ConsumeData(receive_buffer, length);
        // The receive loop reports "No Data" for these and offers nothing.
        if (delivered <= 0) continue;
        before = assembly;
        OfferOutcome outcome = assembly_offer(&assembly, receive_buffer, delivered);
        check_offer(outcome, delivered);
    }
}

void round_trip_switch_command(FuzzedDataProvider* fuzz)
{
    // Fields as the program can set them: one byte each, packet numbers 0 to 7.
    SwitchCommand fields;
    fields.range = fuzz->ConsumeIntegral<uint8_t>();
    fields.gain = fuzz->ConsumeIntegral<uint8_t>();
    fields.packet_number = fuzz->ConsumeIntegralInRange<int>(0, PACKETS_PER_PING - 1);
    uint8_t command[SWITCH_COMMAND_SIZE];
    switch_command_build(command, &fields);
    SwitchCommand parsed;
    require(switch_command_parse(command, &parsed));
    require(parsed.range == fields.range && parsed.gain == fields.gain &&
            parsed.packet_number == fields.packet_number);
    require(command[SWITCH_RANGE_BY_SIX] == static_cast<uint8_t>(range_by_six_code(fields.range * 6)));

    // Any bytes the parser accepts rebuild to the same command, but for the
    // range-by-six byte, which the parser does not read.
    uint8_t offered[SWITCH_COMMAND_SIZE];
    memcpy(offered, command, sizeof offered);
    fuzz->ConsumeData(offered, fuzz->ConsumeIntegralInRange<size_t>(0, SWITCH_COMMAND_SIZE));
    if (!switch_command_parse(offered, &parsed)) return;
    uint8_t rebuilt[SWITCH_COMMAND_SIZE];
    switch_command_build(rebuilt, &parsed);
    rebuilt[SWITCH_RANGE_BY_SIX] = offered[SWITCH_RANGE_BY_SIX];
    require(memcmp(rebuilt, offered, SWITCH_COMMAND_SIZE) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The assembly traces every accepted packet with printf.
    require(freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider fuzz(data, size);
    round_trip_switch_command(&fuzz);
    offer_reads(&fuzz);
    return 0;
}
