#include "headlink/headlink.h"

#include <cstring>

namespace {

// The limits on the wait for one packet.
struct ReceiveWatch {
    int64_t deadline;       // the packet limit
    int64_t last_progress;  // when the bytes queued last changed
    int last_queued;
};

// False once the head has been silent too long or the packet is overdue.
bool within_limits(ReceiveWatch* watch, int queued, int64_t now)
{
    if (queued != watch->last_queued) {
        watch->last_queued = queued;
        watch->last_progress = now;
    }
    return now - watch->last_progress < HEAD_SILENCE_LIMIT_MS && now < watch->deadline;
}

// A slice, cut short so that the packet limit is looked at when it passes.
int next_wait_ms(const ReceiveWatch* watch, int64_t now)
{
    int64_t left = watch->deadline - now;
    return left < HEAD_WAIT_SLICE_MS ? static_cast<int>(left) : HEAD_WAIT_SLICE_MS;
}

// Notes why a platform call failed.
void note_failure(HeadLink* link, PlatResult result)
{
    int error = plat_last_error();
    LinkCause cause = CAUSE_SYSTEM;
    if (error == 0 && result == PLAT_ERR_CLOSED) cause = CAUSE_CLOSED;
    if (error == 0 && result == PLAT_ERR_TIMEOUT) cause = CAUSE_TIMED_OUT;
    link->failure = LinkFailure{cause, error};
}

void note_limit_passed(HeadLink* link, const ReceiveWatch* watch, int64_t now)
{
    bool silent = now - watch->last_progress >= HEAD_SILENCE_LIMIT_MS;
    link->failure = LinkFailure{silent ? CAUSE_SILENT : CAUSE_OVERDUE, 0};
}

LinkStart start_failure(HeadLink* link, PlatResult result, LinkStart stage)
{
    note_failure(link, result);
    return stage;
}

}  // namespace

void headlink_init(HeadLink* link, int range)
{
    memset(link, 0, sizeof *link);
    link->socket = PLAT_NO_SOCKET;
    link->range_by_six = range_by_six_of(range);
}

LinkStart headlink_start(HeadLink* link, const char* address, uint16_t port)
{
    PlatResult result = plat_net_start();
    if (result != PLAT_OK) return start_failure(link, result, LINK_NO_SERVICE);
    result = plat_net_socket(&link->socket);
    if (result != PLAT_OK) return start_failure(link, result, LINK_NO_SOCKET);
    result = plat_net_connect(link->socket, address, port, HEAD_SILENCE_LIMIT_MS);
    if (result != PLAT_OK) return start_failure(link, result, LINK_NO_CONNECTION);
    return LINK_STARTED;
}

void headlink_build_command(HeadLink* link, int range, int gain)
{
    SwitchCommand fields = {range, gain, link->assembly.expected_packet};
    switch_command_build(link->switch_command, &fields);
    link->range_by_six = range_by_six_of(range);
}

bool headlink_send_command(HeadLink* link)
{
    link->command_sent_ms = plat_monotonic_ms();
    PlatResult sent = plat_net_send(link->socket, link->switch_command, SWITCH_COMMAND_SIZE, HEAD_SILENCE_LIMIT_MS);
    if (sent != PLAT_OK) note_failure(link, sent);
    return sent == PLAT_OK;
}

// The wait reports a whole packet queued and one read takes it. Where it
// reports a part (a system that cannot otherwise see the head's close behind
// it), or is wrong about a whole one, the read still returns at once with
// what is there, and the rest is waited for within the same limits.
bool headlink_receive(HeadLink* link, int* delivered, void (*idle)())
{
    ReceiveWatch watch = {link->command_sent_ms + HEAD_PACKET_LIMIT_MS, link->command_sent_ms, 0};
    int taken = 0;
    int wait_ms = HEAD_WAIT_SLICE_MS;
    for (;;) {
        uint8_t* rest = link->ser_buf_tcp + taken;
        size_t wanted = RETURN_PACKET_SIZE - taken;
        int queued = 0;
        PlatResult waited = plat_net_wait_queued(link->socket, rest, wanted, wait_ms, &queued);
        if (waited == PLAT_OK) {
            int got = plat_net_read(link->socket, rest, wanted);
            if (got <= 0 || taken + got == RETURN_PACKET_SIZE) {
                *delivered = got <= 0 ? got : RETURN_PACKET_SIZE;
                return true;
            }
            taken += got;
        } else if (waited != PLAT_ERR_TIMEOUT) {
            note_failure(link, waited);
            return false;
        }
        int64_t now = plat_monotonic_ms();
        if (!within_limits(&watch, taken + queued, now)) {
            note_limit_passed(link, &watch, now);
            return false;
        }
        idle();
        wait_ms = next_wait_ms(&watch, now);
    }
}

OfferOutcome headlink_offer(HeadLink* link, int delivered)
{
    OfferOutcome outcome = assembly_offer(&link->assembly, link->ser_buf_tcp, delivered);
    // A head that sent more than a packet leaves the stream out of step, and
    // every later packet would fail the check too; what is left queued
    // after a failed one is dropped so the next reply starts in step.
    if (outcome == OFFER_DROPPED) plat_net_discard_queued(link->socket, link->ser_buf_tcp, RETURN_PACKET_SIZE);
    return outcome;
}

bool headlink_close(HeadLink* link)
{
    PlatResult closed = plat_net_close(link->socket);
    if (closed != PLAT_OK) {
        note_failure(link, closed);
        return false;
    }
    link->socket = PLAT_NO_SOCKET;
    plat_net_stop();
    return true;
}

void assembly_reset(PingAssembly* assembly)
{
    assembly->expected_packet = 0;
    assembly->last_packet = 0;
    assembly->ping_count = 0;
}

OfferOutcome assembly_offer(PingAssembly* assembly, const uint8_t* packet, int delivered)
{
    if (!return_packet_valid(packet, delivered)) return OFFER_DROPPED;

    int number = return_packet_number(packet);
    assembly->last_packet = number;
    memcpy(assembly->image, packet, RETURN_HEADER_SIZE);
    memcpy(assembly->image + ping_image_slot(number), packet + RETURN_DATA_OFFSET, RETURN_DATA_SIZE);

    if (number == assembly->expected_packet) ++assembly->expected_packet;
    if (assembly->expected_packet < PACKETS_PER_PING) return OFFER_ACCEPTED;

    assembly->image[PING_IMAGE_END] = packet[delivered - 1];
    assembly->image_length = PING_IMAGE_SIZE;
    assembly->expected_packet = 0;
    ++assembly->ping_count;
    return OFFER_PING_COMPLETE;
}
