// The program's console output, every text of it in one place: the settings
// lines, the send line, the trace of each accepted packet and completed ping,
// the writing line, the failure messages and the exit prompt. Each text
// carries its own leading and trailing line breaks.
#pragma once

#include <cstdint>

#include "acquisition/settings.h"

// Which call of the head link failed: each has its fixed message.
enum TraceFailure {
    FAILED_SERVICE,  // the socket service did not start
    FAILED_SOCKET,
    FAILED_CONNECT,
    FAILED_SEND,
    FAILED_RECEIVE,
    FAILED_CLOSE,
};

void trace_settings(const HeadSettings* settings);
void trace_send_line(int range, int gain);
// An accepted packet of delivered bytes: its header, its packet number and its last byte.
void trace_packet(const uint8_t* packet, int delivered);
// Ends the trace of the packet that completed ping number count.
void trace_ping(int count);
void trace_writing(const char* file_name, int64_t bytes_written);
void trace_no_data();
void trace_failure(TraceFailure failure);
void trace_exit_prompt();
