// The program's console output, every text of it in one place: the settings
// lines, the send line, the trace of each accepted packet and completed ping,
// the writing line, the failure messages and the exit prompt on standard
// output, each text with its own leading and trailing line breaks; and on
// standard error, what went wrong in words, with the system's reason.
#pragma once

#include <cstdint>

#include "acquisition/settings.h"
#include "headlink/headlink.h"

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

// ---- Standard error --------------------------------------------------------
// The settings file is there but cannot be read: the run does not start.
void trace_settings_unreadable(int error);
// Storing, wherever standard error goes: a data file that cannot be created
// (failure PLAT_ERR_EXISTS: every number of the day is taken), and records
// that cannot be written, said once when it starts and once when it ends.
void trace_store_not_created(const char* name, PlatResult failure, int error);
void trace_store_stopped(const char* name, int error);
void trace_store_resumed(const char* name, int records_lost);
// Where standard error is no terminal (a service's journal, a file), what
// the screen does not say: values of the settings file replaced, the failed
// call's head and reason, and what the run records to.
void trace_settings_replaced(const SettingsText* text, const HeadSettings* used);
void trace_link_failure(TraceFailure failure, const LinkFailure* why, const HeadSettings* settings);
void trace_recording_to(const char* name, const HeadSettings* settings);
void trace_recording_nothing(const HeadSettings* settings);
