// headsim: a simulated sonar head for trials without hardware. It listens on
// TCP, answers every switch command with one return packet of synthetic echo
// data, and can be told to misbehave on chosen commands so the program's
// recovery paths can be exercised. Linux only; single thread, one connection
// at a time (others wait in the listen backlog).

#include "headlink/protocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int POLL_SLICE_MS = 50;  // how soon a stop request is noticed
constexpr int FAULTS_MAX = 64;
constexpr int ADDRESS_TEXT_SIZE = 64;
constexpr int SHORT_REPLY_SIZE = 1000;
constexpr int TRUNCATE_REPLY_SIZE = 500;
constexpr int LONG_REPLY_EXTRA = 7;
constexpr int OUTGOING_SIZE = 2 * RETURN_PACKET_SIZE;
constexpr int SAMPLES_PER_PING = PACKETS_PER_PING * RETURN_DATA_SIZE;
constexpr double BOTTOM_DEPTH_M = 18.0;
constexpr uint8_t HEAD_ID = 0x10;
constexpr uint8_t HEAD_STATUS_READY = 0x80;

enum FaultKind {
    FAULT_NONE,
    FAULT_BAD_HEADER,
    FAULT_BAD_END,
    FAULT_WRONG_NUMBER,
    FAULT_SHORT,
    FAULT_LONG,
    FAULT_DOUBLE,
    FAULT_GARBAGE,
    FAULT_CLOSE,
    FAULT_RESET,
    FAULT_TRUNCATE,
    FAULT_SILENT,
    FAULT_STALL,
};

struct FaultName {
    const char* name;
    FaultKind kind;
};

const FaultName FAULT_NAMES[] = {
    {"bad-header", FAULT_BAD_HEADER}, {"bad-end", FAULT_BAD_END}, {"wrong-number", FAULT_WRONG_NUMBER},
    {"short", FAULT_SHORT},           {"long", FAULT_LONG},       {"double", FAULT_DOUBLE},
    {"garbage", FAULT_GARBAGE},       {"close", FAULT_CLOSE},     {"reset", FAULT_RESET},
    {"truncate", FAULT_TRUNCATE},     {"silent", FAULT_SILENT},
};

struct Fault {
    FaultKind kind;
    long command;   // 1-based command number within a connection
    long stall_ms;  // FAULT_STALL only
};

struct Options {
    char address[ADDRESS_TEXT_SIZE];
    uint16_t port;
    long delay_ms;
    long split;
    long split_gap_ms;
    bool once;
    long max_connections;  // 0: unlimited
    Fault faults[FAULTS_MAX];
    int fault_count;
};

enum EndReason {
    END_NONE,
    END_CLIENT_CLOSED,
    END_FAULT_CLOSE,
    END_FAULT_RESET,
    END_FAULT_TRUNCATE,
    END_BAD_COMMAND,
    END_READ_ERROR,
    END_STOPPED,
};

const char* const END_REASON_TEXT[] = {
    "", "client closed", "fault close", "fault reset", "fault truncate", "bad command", "read error", "stopped",
};

struct Connection {
    int socket;
    char peer[ADDRESS_TEXT_SIZE];
    long commands;
    long replies;
    bool silent;
    uint32_t garbage_state;
    uint8_t outgoing[OUTGOING_SIZE];
    int outgoing_size;
};

volatile sig_atomic_t stop_requested = 0;
uint16_t head_reply_counter = 0;  // running across connections, like a real head's

const char USAGE[] =
    "Usage: headsim [options]\n"
    "A simulated sonar head: answers each 27-byte switch command with one\n"
    "1033-byte return packet of synthetic echo data (a bottom echo at 18 m).\n"
    "\n"
    "Options:\n"
    "  --address A          listen address (default 127.0.0.1)\n"
    "  --port P             listen port (default 4040)\n"
    "  --delay-ms N         wait N ms before each reply\n"
    "  --split K            send each reply in K pieces\n"
    "  --split-gap-ms N     wait N ms between pieces (default 20)\n"
    "  --fault KIND@N       misbehave on the reply to the Nth command of a\n"
    "                       connection (1-based); repeatable. KIND is one of:\n"
    "                         bad-header    byte 1 is not 'U'\n"
    "                         bad-end       last byte is not 0xFC\n"
    "                         wrong-number  packet number is the one asked + 1 (mod 8)\n"
    "                         short         send only the first 1000 bytes\n"
    "                         long          send the packet and 7 extra bytes\n"
    "                         double        send two full replies\n"
    "                         garbage       send 1033 random bytes\n"
    "                         close         close the connection instead of replying\n"
    "                         reset         abortive close (the client gets a reset)\n"
    "                         truncate      send the first 500 bytes, then close\n"
    "                         silent        never reply again; keep reading\n"
    "                         stall:MS      hold this reply MS ms, then send it\n"
    "  --once               exit after the first connection ends\n"
    "  --max-connections N  exit after N connections (default unlimited)\n"
    "  --help               show this text\n"
    "\n"
    "Prints \"headsim: listening on A:P\" once listening, and one line per\n"
    "connection on stderr when it ends. SIGINT or SIGTERM stop it (status 0).\n";

// ---- time -------------------------------------------------------------------

long headsim_now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sleeps in short slices; false when a stop was requested meanwhile.
bool headsim_sleep_ms(long ms)
{
    long deadline = headsim_now_ms() + ms;
    while (!stop_requested) {
        long left = deadline - headsim_now_ms();
        if (left <= 0) return true;
        long slice = left < POLL_SLICE_MS ? left : POLL_SLICE_MS;
        poll(nullptr, 0, static_cast<int>(slice));
    }
    return false;
}

// ---- synthetic echo data ----------------------------------------------------

uint32_t headsim_hash(uint32_t value)
{
    value ^= value >> 16;
    value *= 0x7FEB352DU;
    value ^= value >> 15;
    value *= 0x846CA68BU;
    value ^= value >> 16;
    return value;
}

uint32_t headsim_random_next(uint32_t* state)
{
    *state = *state * 1664525U + 1013904223U;
    return headsim_hash(*state);
}

// Amplitude of one sample: low noise, surface reverberation fading with depth,
// and a strong bottom echo with a decaying tail, all scaled by the gain.
uint8_t headsim_echo_sample(int sample, int range, int gain)
{
    double depth = range > 0 ? static_cast<double>(sample) * range / SAMPLES_PER_PING : 0.0;
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

void headsim_echo_fill(uint8_t data[RETURN_DATA_SIZE], const SwitchCommand* command)
{
    int first = (command->packet_number & 7) * RETURN_DATA_SIZE;
    for (int i = 0; i < RETURN_DATA_SIZE; ++i) {
        data[i] = headsim_echo_sample(first + i, command->range, command->gain);
    }
}

// Head status: identity, a running reply counter, the range and gain echoed,
// the packet number asked for and the data size in hundreds of bytes.
void headsim_status_fill(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command)
{
    ++head_reply_counter;
    packet[3] = HEAD_ID;
    packet[4] = HEAD_STATUS_READY;
    packet[RETURN_PACKET_NUMBER] =
        static_cast<uint8_t>((head_reply_counter & 0x1F) << 3 | (packet[RETURN_PACKET_NUMBER] & 7));
    packet[6] = static_cast<uint8_t>(head_reply_counter & 0xFF);
    packet[7] = static_cast<uint8_t>(head_reply_counter >> 8);
    packet[8] = static_cast<uint8_t>(command->range);
    packet[9] = static_cast<uint8_t>(command->gain);
    packet[10] = static_cast<uint8_t>(command->packet_number);
    packet[11] = RETURN_DATA_SIZE / 100;
}

void headsim_reply_build(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command, int packet_number)
{
    uint8_t data[RETURN_DATA_SIZE];
    headsim_echo_fill(data, command);
    return_packet_build(packet, packet_number, data);
    headsim_status_fill(packet, command);
}

// ---- command line -----------------------------------------------------------

bool headsim_parse_count(const char* text, long low, long high, long* value)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool headsim_parse_fault(const char* text, Fault* fault)
{
    const char* at = strrchr(text, '@');
    if (at == nullptr || !headsim_parse_count(at + 1, 1, 1000000000L, &fault->command)) return false;
    size_t name_length = static_cast<size_t>(at - text);
    fault->stall_ms = 0;
    if (strncmp(text, "stall:", 6) == 0 && name_length > 6) {
        char ms[16];
        if (name_length - 6 >= sizeof ms) return false;
        memcpy(ms, text + 6, name_length - 6);
        ms[name_length - 6] = '\0';
        fault->kind = FAULT_STALL;
        return headsim_parse_count(ms, 0, 86400000L, &fault->stall_ms);
    }
    for (const FaultName& entry : FAULT_NAMES) {
        if (strlen(entry.name) == name_length && strncmp(text, entry.name, name_length) == 0) {
            fault->kind = entry.kind;
            return true;
        }
    }
    return false;
}

void headsim_options_defaults(Options* options)
{
    memset(options, 0, sizeof *options);
    snprintf(options->address, sizeof options->address, "127.0.0.1");
    options->port = HEAD_PORT;
    options->split = 1;
    options->split_gap_ms = 20;
}

// 0: parsed; 1: help shown; 2: bad option (message already on stderr).
int headsim_parse_options(int argc, char** argv, Options* options)
{
    headsim_options_defaults(options);
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) {
            fputs(USAGE, stdout);
            return 1;
        }
        if (strcmp(name, "--once") == 0) {
            options->once = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool good = value != nullptr;
        long number = 0;
        if (strcmp(name, "--address") == 0) {
            in_addr probe{};
            good = good && inet_pton(AF_INET, value, &probe) == 1;
            if (good) snprintf(options->address, sizeof options->address, "%s", value);
        } else if (strcmp(name, "--port") == 0) {
            good = good && headsim_parse_count(value, 1, 65535, &number);
            options->port = static_cast<uint16_t>(number);
        } else if (strcmp(name, "--delay-ms") == 0) {
            good = good && headsim_parse_count(value, 0, 86400000L, &options->delay_ms);
        } else if (strcmp(name, "--split") == 0) {
            good = good && headsim_parse_count(value, 1, OUTGOING_SIZE, &options->split);
        } else if (strcmp(name, "--split-gap-ms") == 0) {
            good = good && headsim_parse_count(value, 0, 86400000L, &options->split_gap_ms);
        } else if (strcmp(name, "--max-connections") == 0) {
            good = good && headsim_parse_count(value, 1, 1000000000L, &options->max_connections);
        } else if (strcmp(name, "--fault") == 0) {
            good = good && options->fault_count < FAULTS_MAX &&
                   headsim_parse_fault(value, &options->faults[options->fault_count]);
            if (good) ++options->fault_count;
        } else {
            fprintf(stderr, "headsim: unknown option '%s' (see --help)\n", name);
            return 2;
        }
        if (!good) {
            fprintf(stderr, "headsim: bad or missing value for %s%s%s (see --help)\n", name,
                    value ? ": " : "", value ? value : "");
            return 2;
        }
        ++i;
    }
    return 0;
}

const Fault* headsim_fault_for(const Options* options, long command)
{
    for (int i = 0; i < options->fault_count; ++i) {
        if (options->faults[i].command == command) return &options->faults[i];
    }
    return nullptr;
}

// ---- sockets ----------------------------------------------------------------

void headsim_on_stop_signal(int) { stop_requested = 1; }

void headsim_install_signals()
{
    struct sigaction action {};
    action.sa_handler = headsim_on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int headsim_listen(const Options* options)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        fprintf(stderr, "headsim: cannot create a socket: %s\n", strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options->port);
    inet_pton(AF_INET, options->address, &address.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        fprintf(stderr, "headsim: cannot listen on %s:%u: %s\n", options->address,
                static_cast<unsigned>(options->port), strerror(errno));
        close(listener);
        return -1;
    }
    return listener;
}

// Waits until fd is readable; 1 ready, 0 stop requested, -1 error.
int headsim_wait_readable(int fd)
{
    while (!stop_requested) {
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, POLL_SLICE_MS);
        if (ready > 0) return 1;
        if (ready < 0 && errno != EINTR) return -1;
    }
    return 0;
}

int headsim_accept(int listener, char peer[ADDRESS_TEXT_SIZE])
{
    for (;;) {
        int ready = headsim_wait_readable(listener);
        if (ready <= 0) return -1;
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int client = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
        if (client < 0) continue;  // the peer may have gone before we got to it
        int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        snprintf(peer, ADDRESS_TEXT_SIZE, "%s:%u", text, static_cast<unsigned>(ntohs(address.sin_port)));
        return client;
    }
}

// Reads one whole command, however it arrives in pieces.
EndReason headsim_read_command(Connection* connection, uint8_t command[SWITCH_COMMAND_SIZE])
{
    int have = 0;
    while (have < SWITCH_COMMAND_SIZE) {
        int ready = headsim_wait_readable(connection->socket);
        if (ready == 0) return END_STOPPED;
        if (ready < 0) return END_READ_ERROR;
        ssize_t got = recv(connection->socket, command + have, static_cast<size_t>(SWITCH_COMMAND_SIZE - have), 0);
        if (got == 0) return END_CLIENT_CLOSED;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return END_READ_ERROR;
        }
        have += static_cast<int>(got);
    }
    return END_NONE;
}

bool headsim_send_all(int fd, const uint8_t* bytes, int size)
{
    while (size > 0) {
        ssize_t sent = send(fd, bytes, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += sent;
        size -= static_cast<int>(sent);
    }
    return true;
}

// Sends the first size outgoing bytes, in the configured number of pieces.
// A failed send means the client has gone.
EndReason headsim_send_outgoing(Connection* connection, const Options* options, int size)
{
    long pieces = options->split < size ? options->split : size;
    int piece = static_cast<int>((size + pieces - 1) / pieces);
    for (int offset = 0; offset < size; offset += piece) {
        if (offset > 0 && !headsim_sleep_ms(options->split_gap_ms)) return END_STOPPED;
        int length = size - offset < piece ? size - offset : piece;
        if (!headsim_send_all(connection->socket, connection->outgoing + offset, length)) {
            return END_CLIENT_CLOSED;
        }
    }
    return END_NONE;
}

void headsim_abort_connection(Connection* connection)
{
    linger abortive{1, 0};
    setsockopt(connection->socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

// Prepares the outgoing bytes for one reply, bent by the fault if there is one;
// returns how many to send.
int headsim_prepare_reply(Connection* connection, const SwitchCommand* command, FaultKind fault)
{
    uint8_t* packet = connection->outgoing;
    int asked = command->packet_number & 7;
    int number = fault == FAULT_WRONG_NUMBER ? (asked + 1) % PACKETS_PER_PING : asked;
    headsim_reply_build(packet, command, number);
    switch (fault) {
    case FAULT_BAD_HEADER: packet[1] = 'V'; return RETURN_PACKET_SIZE;
    case FAULT_BAD_END: packet[RETURN_END] = 0x00; return RETURN_PACKET_SIZE;
    case FAULT_SHORT: return SHORT_REPLY_SIZE;
    case FAULT_TRUNCATE: return TRUNCATE_REPLY_SIZE;
    case FAULT_LONG:
        for (int i = 0; i < LONG_REPLY_EXTRA; ++i) {
            packet[RETURN_PACKET_SIZE + i] = static_cast<uint8_t>(headsim_random_next(&connection->garbage_state));
        }
        return RETURN_PACKET_SIZE + LONG_REPLY_EXTRA;
    case FAULT_DOUBLE:
        headsim_reply_build(packet + RETURN_PACKET_SIZE, command, number);
        return 2 * RETURN_PACKET_SIZE;
    case FAULT_GARBAGE:
        for (int i = 0; i < RETURN_PACKET_SIZE; ++i) {
            packet[i] = static_cast<uint8_t>(headsim_random_next(&connection->garbage_state));
        }
        return RETURN_PACKET_SIZE;
    default: return RETURN_PACKET_SIZE;
    }
}

// Answers one command; END_NONE to carry on with the connection.
EndReason headsim_answer(Connection* connection, const Options* options, const SwitchCommand* command)
{
    const Fault* fault = headsim_fault_for(options, connection->commands);
    FaultKind kind = fault ? fault->kind : FAULT_NONE;
    if (kind == FAULT_SILENT) connection->silent = true;
    if (connection->silent) return END_NONE;
    if (!headsim_sleep_ms(options->delay_ms)) return END_STOPPED;
    if (kind == FAULT_STALL && !headsim_sleep_ms(fault->stall_ms)) return END_STOPPED;
    if (kind == FAULT_CLOSE) return END_FAULT_CLOSE;
    if (kind == FAULT_RESET) {
        headsim_abort_connection(connection);
        return END_FAULT_RESET;
    }
    int size = headsim_prepare_reply(connection, command, kind);
    EndReason sent = headsim_send_outgoing(connection, options, size);
    if (sent != END_NONE) return sent;
    ++connection->replies;
    return kind == FAULT_TRUNCATE ? END_FAULT_TRUNCATE : END_NONE;
}

void headsim_serve(int client, const char* peer, const Options* options, Connection* connection)
{
    connection->socket = client;
    snprintf(connection->peer, sizeof connection->peer, "%s", peer);
    connection->commands = 0;
    connection->replies = 0;
    connection->silent = false;
    connection->garbage_state = 0x5EED1234U;
    EndReason reason = END_NONE;
    while (reason == END_NONE) {
        uint8_t bytes[SWITCH_COMMAND_SIZE];
        reason = headsim_read_command(connection, bytes);
        if (reason != END_NONE) break;
        ++connection->commands;
        SwitchCommand command{};
        if (!switch_command_parse(bytes, &command)) {
            reason = END_BAD_COMMAND;
            break;
        }
        reason = headsim_answer(connection, options, &command);
    }
    close(client);
    fprintf(stderr, "headsim: %s closed after %ld commands, %ld replies (%s)\n", connection->peer,
            connection->commands, connection->replies, END_REASON_TEXT[reason]);
}

Connection the_connection;  // holds the send buffer; static so nothing is allocated per connection

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    int parsed = headsim_parse_options(argc, argv, &options);
    if (parsed == 1) return 0;
    if (parsed != 0) return 2;
    headsim_install_signals();
    int listener = headsim_listen(&options);
    if (listener < 0) return 1;
    printf("headsim: listening on %s:%u\n", options.address, static_cast<unsigned>(options.port));
    fflush(stdout);
    long limit = options.once ? 1 : options.max_connections;
    for (long served = 0; !stop_requested && (limit == 0 || served < limit); ++served) {
        char peer[ADDRESS_TEXT_SIZE];
        int client = headsim_accept(listener, peer);
        if (client < 0) break;
        headsim_serve(client, peer, &options, &the_connection);
    }
    close(listener);
    return 0;
}
