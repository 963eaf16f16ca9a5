// The switch command bytes, the acceptance rule for return packets and the
// assembly of eight packets into a ping image.
#include <gtest/gtest.h>

#include <cstring>

#include "headlink/headlink.h"
#include "platform/address_text.h"

namespace {

struct Packet {
    uint8_t bytes[RETURN_PACKET_SIZE];
};

Packet make_packet(int number, uint8_t fill)
{
    uint8_t data[RETURN_DATA_SIZE];
    memset(data, fill, sizeof data);
    Packet packet;
    return_packet_build(packet.bytes, number, data);
    return packet;
}

OfferOutcome offer(PingAssembly* assembly, const Packet& packet, int delivered = RETURN_PACKET_SIZE)
{
    return assembly_offer(assembly, packet.bytes, delivered);
}

class Assembly : public testing::Test {
protected:
    void SetUp() override
    {
        memset(&assembly, 0, sizeof assembly);
        assembly_reset(&assembly);
    }
    PingAssembly assembly;
};

}  // namespace

// Every fixed byte and every field lands where the head expects it.
TEST(SwitchCommand, BytesForRange100Gain20)
{
    uint8_t command[SWITCH_COMMAND_SIZE];
    SwitchCommand fields = {100, 20, 6};
    switch_command_build(command, &fields);
    const uint8_t expected[SWITCH_COMMAND_SIZE] = {0xFE, 0x44, 0x10, 0x64, 0, 0, 0, 0, 0x14, 1, 0x0A, 0, 0, 6,
                                                   0x3C, 0,    0,    0,    0, 8, 8, 0, 0, 0,    0, 0x56, 0xFD};
    EXPECT_EQ(0, memcmp(command, expected, sizeof expected));
}

// The range code is range times six over ten, truncated: 5 m gives 3, 30 m gives 18.
TEST(SwitchCommand, RangeCodeTruncates)
{
    uint8_t command[SWITCH_COMMAND_SIZE];
    SwitchCommand fields = {5, 0, 0};
    switch_command_build(command, &fields);
    EXPECT_EQ(3, command[SWITCH_RANGE_BY_SIX]);
    fields.range = 30;
    switch_command_build(command, &fields);
    EXPECT_EQ(18, command[SWITCH_RANGE_BY_SIX]);
}

// What the program builds the simulated head parses back; a damaged command is refused.
TEST(SwitchCommand, ParseRoundTripAndRejectsDamage)
{
    uint8_t command[SWITCH_COMMAND_SIZE];
    SwitchCommand fields = {40, 7, 5};
    switch_command_build(command, &fields);
    SwitchCommand parsed = {};
    ASSERT_TRUE(switch_command_parse(command, &parsed));
    EXPECT_EQ(40, parsed.range);
    EXPECT_EQ(7, parsed.gain);
    EXPECT_EQ(5, parsed.packet_number);
    command[26] = 0;
    EXPECT_FALSE(switch_command_parse(command, &parsed));
}

// The link rebuilds the command from the expected packet number and keeps range by six.
TEST(SwitchCommand, LinkCarriesExpectedPacketAndRangeBySix)
{
    HeadLink link;
    headlink_init(&link, 30);
    EXPECT_EQ(180, link.range_by_six);
    link.assembly.expected_packet = 4;
    headlink_build_command(&link, 40, 7);
    EXPECT_EQ(4, link.switch_command[SWITCH_PACKET_NUMBER]);
    EXPECT_EQ(240, link.range_by_six);
}

// Header bytes and the last delivered byte decide acceptance; nothing else does.
TEST(ReturnPacket, AcceptanceRule)
{
    Packet packet = make_packet(3, 0x11);
    EXPECT_TRUE(return_packet_valid(packet.bytes, RETURN_PACKET_SIZE));
    for (int i = 0; i < 3; ++i) {
        Packet bad = packet;
        bad.bytes[i] ^= 0x20;
        EXPECT_FALSE(return_packet_valid(bad.bytes, RETURN_PACKET_SIZE)) << "header byte " << i;
    }
    Packet bad_end = packet;
    bad_end.bytes[RETURN_END] = 0xFD;
    EXPECT_FALSE(return_packet_valid(bad_end.bytes, RETURN_PACKET_SIZE));
    EXPECT_FALSE(return_packet_valid(packet.bytes, 0));
    packet.bytes[99] = RETURN_END_BYTE;  // the last byte delivered is the one looked at
    EXPECT_TRUE(return_packet_valid(packet.bytes, 100));
}

// Only the low three bits of byte 5 are the packet number: 0x0A is packet 2.
TEST(ReturnPacket, PacketNumberIsLowThreeBits)
{
    Packet packet = make_packet(0, 0);
    packet.bytes[RETURN_PACKET_NUMBER] = 0x0A;
    EXPECT_EQ(2, return_packet_number(packet.bytes));
}

// Eight packets in order complete a ping: counter, end byte, image length and slots.
TEST_F(Assembly, EightPacketsMakeOnePing)
{
    for (int number = 0; number < 7; ++number) {
        EXPECT_EQ(OFFER_ACCEPTED, offer(&assembly, make_packet(number, static_cast<uint8_t>(0x10 + number))));
    }
    EXPECT_EQ(0, assembly.image_length);
    Packet last = make_packet(7, 0x17);
    last.bytes[6] = 0x99;
    EXPECT_EQ(OFFER_PING_COMPLETE, offer(&assembly, last));
    EXPECT_EQ(1, assembly.ping_count);
    EXPECT_EQ(0, assembly.expected_packet);
    EXPECT_EQ(PING_IMAGE_SIZE, assembly.image_length);
    EXPECT_EQ(0, memcmp(assembly.image, last.bytes, RETURN_HEADER_SIZE));
    for (int number = 0; number < 8; ++number) {
        const uint8_t* slot = assembly.image + RETURN_HEADER_SIZE + number * RETURN_DATA_SIZE;
        EXPECT_EQ(0x10 + number, slot[0]);
        EXPECT_EQ(0x10 + number, slot[RETURN_DATA_SIZE - 1]);
    }
    EXPECT_EQ(RETURN_END_BYTE, assembly.image[PING_IMAGE_END]);
}

// A packet with another number than expected is stored but does not move the expected number.
TEST_F(Assembly, WrongNumberIsStoredButNotCounted)
{
    offer(&assembly, make_packet(0, 1));
    offer(&assembly, make_packet(1, 1));
    ASSERT_EQ(2, assembly.expected_packet);
    Packet wrong = make_packet(5, 0x55);
    EXPECT_EQ(OFFER_ACCEPTED, offer(&assembly, wrong));
    EXPECT_EQ(2, assembly.expected_packet);
    EXPECT_EQ(5, assembly.last_packet);
    EXPECT_EQ(0x55, assembly.image[RETURN_HEADER_SIZE + 5 * RETURN_DATA_SIZE]);
    EXPECT_EQ(0, memcmp(assembly.image, wrong.bytes, RETURN_HEADER_SIZE));
}

// A dropped packet changes nothing.
TEST_F(Assembly, DroppedPacketChangesNothing)
{
    offer(&assembly, make_packet(0, 1));
    PingAssembly before = assembly;
    Packet bad = make_packet(1, 2);
    bad.bytes[1] = 'V';
    EXPECT_EQ(OFFER_DROPPED, offer(&assembly, bad));
    EXPECT_EQ(0, memcmp(&before, &assembly, sizeof assembly));
}

// A ping needs packets 0 to 7 each while it was the one asked for: 7 early does not complete it.
TEST_F(Assembly, OutOfOrderPacketsDoNotCompleteAPing)
{
    for (int number = 7; number >= 0; --number) {
        EXPECT_NE(OFFER_PING_COMPLETE, offer(&assembly, make_packet(number, 0)));
    }
    EXPECT_EQ(0, assembly.ping_count);
    EXPECT_EQ(1, assembly.expected_packet);
}

// Only exactly four decimal parts of 0 to 255 are read as decimal; any other text is left to the old conversion.
TEST(AddressText, FourDecimalPartsOnly)
{
    uint8_t octets[ADDRESS_TEXT_PARTS] = {};
    ASSERT_TRUE(address_text_decimal("127.000.005.010", octets));
    EXPECT_EQ(0, memcmp(octets, "\x7F\x00\x05\x0A", 4));
    ASSERT_TRUE(address_text_decimal("255.0255.00000.9", octets));
    EXPECT_EQ(0, memcmp(octets, "\xFF\xFF\x00\x09", 4));
    for (const char* other : {"", "127.1", "1.2.3.4.5", "1..2.3", "256.0.0.1", "1.2.3.4 ", " 1.2.3.4", "0x7f.0.0.1",
                              "1.2.3.", "+1.2.3.4", "1.2.3.99999999999"}) {
        EXPECT_FALSE(address_text_decimal(other, octets)) << other;
    }
}
