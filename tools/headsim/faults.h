// The ways headsim can be told to misbehave on the reply to a chosen command,
// so the program's recovery paths can be exercised.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tools/headsim/reply_source.h"

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
    FAULT_TRUNCATE_RESET,
    FAULT_SILENT,
    FAULT_STALL,
};

struct Fault {
    FaultKind kind;
    long command;  // 1-based command number within a connection
    long ms;       // the MS of a kind written KIND:MS
};

constexpr int FAULT_OUTGOING_SIZE = 2 * RETURN_PACKET_SIZE;  // the most one reply sends
constexpr int FAULT_TRUNCATE_SIZE = 500;                     // truncate: bytes sent before the close or reset

// Reads KIND@N or KIND:MS@N; false when it is neither.
bool quirk_parse(const char* text, Fault* fault);
// What quirk_parse takes, as a command-line message names it: "KIND@N with N
// from 1 ..., KIND one of bad-header, ... or stall:MS (MS from 0 ...)".
void quirk_describe_allowed(char* text, size_t size);
// One help line per kind.
void quirk_print_help(FILE* out);
const Fault* quirk_for(const Fault* faults, int count, long command);
// Builds one reply from the source into outgoing, bent by the fault kind;
// returns how many of its bytes to send.
int quirk_prepare_reply(uint8_t outgoing[FAULT_OUTGOING_SIZE], const ReplySource* source,
                        const SwitchCommand* command, FaultKind kind, uint32_t* garbage_state);
