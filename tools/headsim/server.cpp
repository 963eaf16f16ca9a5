#include "tools/headsim/server.h"

#include <cstdio>

#include "platform/platform.h"
#include "tools/headsim/wire.h"

namespace {

enum EndReason {
    END_NONE,
    END_CLIENT_CLOSED,
    END_FAULT_CLOSE,
    END_FAULT_RESET,
    END_FAULT_TRUNCATE,
    END_BAD_COMMAND,
    END_READ_ERROR,
    END_STOPPED,
    END_RECORDING_ENDED,
};

const char* const END_REASON_TEXT[] = {
    "",           "client closed", "fault close", "fault reset",         "fault truncate",
    "bad command", "read error",   "stopped",     "end of the recording",
};

// A ping starts with the first command of a connection, or with a command for
// packet 0 once packet 7 of the previous ping has been served.
enum PingState { PING_NONE, PING_SERVING, PING_DONE };

struct Head {
    const Options* options;
    const ReplySource* source;
};

struct Connection {
    int socket;
    char peer[WIRE_PEER_SIZE];
    long commands;
    long replies;
    long pings;
    bool silent;
    uint32_t garbage_state;
    PingState ping;
    int64_t ping_started_ms;  // when the current ping started: the next is due from then
    uint8_t outgoing[FAULT_OUTGOING_SIZE];
};

Connection the_connection;  // holds the send buffer; static so nothing is allocated per connection

EndReason end_of(WireResult result)
{
    switch (result) {
    case WIRE_OK: return END_NONE;
    case WIRE_CLOSED: return END_CLIENT_CLOSED;
    case WIRE_ERROR: return END_READ_ERROR;
    case WIRE_STOPPED: return END_STOPPED;
    }
    return END_READ_ERROR;
}

long paced_wait_ms(const Options* options, long recorded_ms)
{
    if (options->as_fast_as_asked) return 0;
    return static_cast<long>(static_cast<double>(recorded_ms) / options->speed + 0.5);
}

// Moves to the next ping when the command starts one, once it is due.
EndReason step_ping(const Head* head, Connection* connection, int asked)
{
    bool first = connection->ping == PING_NONE;
    if (!first && !(connection->ping == PING_DONE && asked == 0)) return END_NONE;
    long wait_ms = 0;
    if (!head->source->next_ping(&wait_ms)) return END_RECORDING_ENDED;
    if (!first) {
        int64_t due = connection->ping_started_ms + paced_wait_ms(head->options, wait_ms);
        if (!wire_sleep_ms(static_cast<long>(due - plat_monotonic_ms()))) return END_STOPPED;
    }
    connection->ping = PING_SERVING;
    connection->ping_started_ms = plat_monotonic_ms();
    return END_NONE;
}

// Answers one command; END_NONE to carry on with the connection.
EndReason answer(const Head* head, Connection* connection, const SwitchCommand* command)
{
    const Options* options = head->options;
    const Fault* fault = quirk_for(options->faults, options->fault_count, connection->commands);
    FaultKind kind = fault ? fault->kind : FAULT_NONE;
    if (kind == FAULT_SILENT) connection->silent = true;
    if (connection->silent) return END_NONE;
    int asked = command->packet_number & 7;
    EndReason stepped = step_ping(head, connection, asked);
    if (stepped != END_NONE) return stepped;
    if (!wire_sleep_ms(options->delay_ms)) return END_STOPPED;
    if (kind == FAULT_STALL && !wire_sleep_ms(fault->ms)) return END_STOPPED;
    if (kind == FAULT_CLOSE) return END_FAULT_CLOSE;
    if (kind == FAULT_RESET) {
        wire_abort_on_close(connection->socket);
        return END_FAULT_RESET;
    }
    int size = quirk_prepare_reply(connection->outgoing, head->source, command, kind, &connection->garbage_state);
    EndReason sent = end_of(
        wire_send_pieces(connection->socket, connection->outgoing, size, options->split, options->split_gap_ms));
    if (sent != END_NONE) return sent;
    ++connection->replies;
    if (kind == FAULT_TRUNCATE) return END_FAULT_TRUNCATE;
    if (kind == FAULT_TRUNCATE_RESET) {
        wire_abort_on_close(connection->socket);
        return END_FAULT_RESET;
    }
    if (asked == PACKETS_PER_PING - 1 && connection->ping == PING_SERVING) {
        connection->ping = PING_DONE;
        ++connection->pings;
    }
    return END_NONE;
}

void serve(const Head* head, int client, const char* peer, Connection* connection)
{
    connection->socket = client;
    snprintf(connection->peer, sizeof connection->peer, "%s", peer);
    connection->commands = 0;
    connection->replies = 0;
    connection->pings = 0;
    connection->silent = false;
    connection->garbage_state = 0x5EED1234U;
    connection->ping = PING_NONE;
    head->source->rewind();
    EndReason reason = END_NONE;
    while (reason == END_NONE) {
        uint8_t bytes[SWITCH_COMMAND_SIZE];
        reason = end_of(wire_read_command(connection->socket, bytes));
        if (reason != END_NONE) break;
        ++connection->commands;
        SwitchCommand command{};
        if (!switch_command_parse(bytes, &command)) {
            reason = END_BAD_COMMAND;
            break;
        }
        reason = answer(head, connection, &command);
    }
    wire_close(client);
    fprintf(stderr, "headsim: %s closed after %ld commands, %ld replies, %ld pings (%s)\n", connection->peer,
            connection->commands, connection->replies, connection->pings, END_REASON_TEXT[reason]);
}

}  // namespace

int server_run(const Options* options, const ReplySource* source)
{
    wire_install_signals();
    int listener = wire_listen(options->address, options->port);
    if (listener < 0) return 1;
    printf("headsim: listening on %s:%u\n", options->address, static_cast<unsigned>(options->port));
    fflush(stdout);
    Head head = {options, source};
    long limit = options->once ? 1 : options->max_connections;
    for (long served = 0; !wire_stop_requested() && (limit == 0 || served < limit); ++served) {
        char peer[WIRE_PEER_SIZE];
        int client = wire_accept(listener, peer);
        if (client < 0) break;
        serve(&head, client, peer, &the_connection);
    }
    wire_close(listener);
    return 0;
}
