#include "tools/headsim/faults.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int SHORT_REPLY_SIZE = 1000;
constexpr int LONG_REPLY_EXTRA = 7;
constexpr long MS_MAX = 86400000L;
constexpr long COMMAND_MAX = 1000000000L;

struct FaultKindEntry {
    const char* name;
    FaultKind kind;
    bool takes_ms;  // written KIND:MS
    const char* help;
};

// Every fault kind: adding one is a row here and its behaviour where the reply is made or sent.
const FaultKindEntry FAULT_KINDS[] = {
    {"bad-header", FAULT_BAD_HEADER, false, "byte 1 is not 'U'"},
    {"bad-end", FAULT_BAD_END, false, "last byte is not 0xFC"},
    {"wrong-number", FAULT_WRONG_NUMBER, false, "packet number is the one asked + 1 (mod 8)"},
    {"short", FAULT_SHORT, false, "send only the first 1000 bytes"},
    {"long", FAULT_LONG, false, "send the packet and 7 extra bytes"},
    {"double", FAULT_DOUBLE, false, "send two full replies"},
    {"garbage", FAULT_GARBAGE, false, "send 1033 random bytes"},
    {"close", FAULT_CLOSE, false, "close the connection instead of replying"},
    {"reset", FAULT_RESET, false, "abortive close (the client gets a reset)"},
    {"truncate", FAULT_TRUNCATE, false, "send the first 500 bytes, then close"},
    {"truncate-reset", FAULT_TRUNCATE_RESET, false, "send the first 500 bytes, then an abortive close"},
    {"silent", FAULT_SILENT, false, "never reply again; keep reading"},
    {"stall", FAULT_STALL, true, "hold this reply MS ms, then send it"},
};

bool parse_number(const char* text, size_t length, long high, long* value)
{
    char digits[16];
    if (length == 0 || length >= sizeof digits) return false;
    memcpy(digits, text, length);
    digits[length] = '\0';
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(digits, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < 0 || parsed > high) return false;
    *value = parsed;
    return true;
}

uint32_t random_next(uint32_t* state)
{
    *state = *state * 1664525U + 1013904223U;
    return headsim_hash(*state);
}

void fill_random(uint8_t* bytes, int count, uint32_t* state)
{
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(random_next(state));
}

}  // namespace

bool quirk_parse(const char* text, Fault* fault)
{
    const char* at = strrchr(text, '@');
    if (at == nullptr || !parse_number(at + 1, strlen(at + 1), COMMAND_MAX, &fault->command) ||
        fault->command < 1) {
        return false;
    }
    const char* colon = static_cast<const char*>(memchr(text, ':', static_cast<size_t>(at - text)));
    const char* name_end = colon ? colon : at;
    size_t name_length = static_cast<size_t>(name_end - text);
    fault->ms = 0;
    for (const FaultKindEntry& entry : FAULT_KINDS) {
        if (strlen(entry.name) != name_length || strncmp(text, entry.name, name_length) != 0) continue;
        if (entry.takes_ms != (colon != nullptr)) return false;
        fault->kind = entry.kind;
        return !colon || parse_number(colon + 1, static_cast<size_t>(at - colon - 1), MS_MAX, &fault->ms);
    }
    return false;
}

void quirk_describe_allowed(char* text, size_t size)
{
    int count = static_cast<int>(sizeof FAULT_KINDS / sizeof FAULT_KINDS[0]);
    int length = snprintf(text, size, "KIND@N with N from 1 to %ld and KIND one of", COMMAND_MAX);
    for (int i = 0; i < count && length >= 0 && static_cast<size_t>(length) < size; ++i) {
        const char* joint = i == 0 ? " " : i + 1 < count ? ", " : " or ";
        length += snprintf(text + length, size - static_cast<size_t>(length), "%s%s%s", joint, FAULT_KINDS[i].name,
                           FAULT_KINDS[i].takes_ms ? ":MS" : "");
    }
    if (length >= 0 && static_cast<size_t>(length) < size) {
        snprintf(text + length, size - static_cast<size_t>(length), " (MS from 0 to %ld)", MS_MAX);
    }
}

void quirk_print_help(FILE* out)
{
    for (const FaultKindEntry& entry : FAULT_KINDS) {
        char name[32];
        snprintf(name, sizeof name, "%s%s", entry.name, entry.takes_ms ? ":MS" : "");
        fprintf(out, "                         %-13s %s\n", name, entry.help);
    }
}

const Fault* quirk_for(const Fault* faults, int count, long command)
{
    for (int i = 0; i < count; ++i) {
        if (faults[i].command == command) return &faults[i];
    }
    return nullptr;
}

int quirk_prepare_reply(uint8_t outgoing[FAULT_OUTGOING_SIZE], const ReplySource* source,
                        const SwitchCommand* command, FaultKind kind, uint32_t* garbage_state)
{
    int asked = command->packet_number & 7;
    int number = kind == FAULT_WRONG_NUMBER ? (asked + 1) % PACKETS_PER_PING : asked;
    source->build(outgoing, command, number);
    switch (kind) {
    case FAULT_BAD_HEADER: outgoing[1] = 'V'; return RETURN_PACKET_SIZE;
    case FAULT_BAD_END: outgoing[RETURN_END] = 0x00; return RETURN_PACKET_SIZE;
    case FAULT_SHORT: return SHORT_REPLY_SIZE;
    case FAULT_TRUNCATE:
    case FAULT_TRUNCATE_RESET: return FAULT_TRUNCATE_SIZE;
    case FAULT_LONG:
        fill_random(outgoing + RETURN_PACKET_SIZE, LONG_REPLY_EXTRA, garbage_state);
        return RETURN_PACKET_SIZE + LONG_REPLY_EXTRA;
    case FAULT_DOUBLE:
        source->build(outgoing + RETURN_PACKET_SIZE, command, number);
        return 2 * RETURN_PACKET_SIZE;
    case FAULT_GARBAGE: fill_random(outgoing, RETURN_PACKET_SIZE, garbage_state); return RETURN_PACKET_SIZE;
    default: return RETURN_PACKET_SIZE;
    }
}
