// The one TCP connection to the head, the switch command that asks it for a
// packet, and the assembly of eight accepted return packets into a ping image.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"
#include "platform/platform.h"

// A head that sends nothing for this long, or a send or connect that cannot
// complete within it, counts as a failed link.
constexpr int HEAD_SILENCE_LIMIT_MS = 10000;
// A packet not whole this long after its command is a failed link too,
// however the head drips its bytes.
constexpr int HEAD_PACKET_LIMIT_MS = 30000;
// A pass waiting for the head looks at the limits, and does the caller's
// idle work, at least this often.
constexpr int HEAD_WAIT_SLICE_MS = 1000;

struct PingAssembly {
    int expected_packet;  // 0 to 8: the packet wanted next in this ping
    int last_packet;      // 0 to 7: the latest accepted packet
    int ping_count;       // pings completed since start
    int image_length;     // 0 until the first ping completes, then PING_IMAGE_SIZE
    uint8_t image[PING_IMAGE_SIZE];
};

// Why the latest failed call of the link failed.
enum LinkCause {
    CAUSE_SYSTEM,     // the system's reason, in error (0 when it gave none)
    CAUSE_CLOSED,     // the head closed the connection
    CAUSE_TIMED_OUT,  // a connect or send not done within HEAD_SILENCE_LIMIT_MS
    CAUSE_SILENT,     // nothing from the head for HEAD_SILENCE_LIMIT_MS
    CAUSE_OVERDUE,    // no whole packet HEAD_PACKET_LIMIT_MS after its command
};
struct LinkFailure {
    LinkCause cause;
    int error;  // the system's code, for plat_error_words
};

struct HeadLink {
    PlatSocket socket;
    uint8_t switch_command[SWITCH_COMMAND_SIZE];
    int64_t command_sent_ms;  // when the latest switch command went
    int range_by_six;
    uint8_t ser_buf_tcp[RETURN_PACKET_SIZE];
    PingAssembly assembly;
    LinkFailure failure;  // set when a call below returns a failure
};

enum LinkStart { LINK_STARTED, LINK_NO_SERVICE, LINK_NO_SOCKET, LINK_NO_CONNECTION };
enum OfferOutcome { OFFER_DROPPED, OFFER_ACCEPTED, OFFER_PING_COMPLETE };

// Starts with the range of the settings, before any command carries it.
void headlink_init(HeadLink* link, int range);
LinkStart headlink_start(HeadLink* link, const char* address, uint16_t port);
void headlink_build_command(HeadLink* link, int range, int gain);
bool headlink_send_command(HeadLink* link);
// False when the wait for a whole packet fails: the peer closed, an error, or
// a limit passed. Otherwise *delivered is the packet's size, now in
// ser_buf_tcp, or 0 or less when a read delivered nothing. idle() is called
// after every slice of the wait that brought no whole packet.
bool headlink_receive(HeadLink* link, int* delivered, void (*idle)());
OfferOutcome headlink_offer(HeadLink* link, int delivered);
// Closes the socket, then stops the socket service; false, with nothing
// stopped, when the close failed.
bool headlink_close(HeadLink* link);

void assembly_reset(PingAssembly* assembly);
// Validates and stores one return packet (the driver traces it).
OfferOutcome assembly_offer(PingAssembly* assembly, const uint8_t* packet, int delivered);
