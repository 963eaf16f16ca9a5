#include "acquisition/trace.h"

#include <cstdarg>
#include <cstdio>

#include "headlink/protocol.h"
#include "store/naming.h"

namespace {

const char PROGRAM_NAME[] = "Halvex_StoreData";
const int REASON_SIZE = 256;

// Each failed call: the line breaks before its message, and its name.
struct FailedCall {
    const char* lead;
    const char* call;
    bool names_head;  // the call was made to the head's address
};
const FailedCall FAILED_CALLS[] = {
    {"", "WSAStartup()", false}, {"", "socket()", false}, {"\n", "connect()", true},
    {"", "send()", true},        {"", "recv()", true},    {"", "closesocket()", true},
};

// Standard error, after what the console shows so far. Redirected standard
// output keeps its 512-byte blocks: the two keep their order only on a console.
void say(const char* format, ...)
{
    plat_console_show();
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stderr, format, arguments);
    va_end(arguments);
}

// The system's reason in its own words.
void reason_of(int error, char reason[REASON_SIZE])
{
    if (error == 0) {
        snprintf(reason, REASON_SIZE, "no reason given by the system");
        return;
    }
    plat_error_words(error, reason, REASON_SIZE);
}

void link_reason(const LinkFailure* why, char reason[REASON_SIZE])
{
    const int silence_s = HEAD_SILENCE_LIMIT_MS / 1000;
    switch (why->cause) {
    case CAUSE_CLOSED: snprintf(reason, REASON_SIZE, "the head closed the connection"); break;
    case CAUSE_TIMED_OUT: snprintf(reason, REASON_SIZE, "no answer within %d s", silence_s); break;
    case CAUSE_SILENT: snprintf(reason, REASON_SIZE, "the head sent nothing for %d s", silence_s); break;
    case CAUSE_OVERDUE:
        snprintf(reason, REASON_SIZE, "no whole packet %d s after its command", HEAD_PACKET_LIMIT_MS / 1000);
        break;
    default: reason_of(why->error, reason); break;
    }
}

void say_replaced(const char* key, const char* read, const char* used)
{
    say("%s: %s=%s replaced by %s\n", SETTINGS_FILE_NAME, key, read, used);
}

}  // namespace

void trace_settings(const HeadSettings* settings)
{
    printf("IP Address: %s\n", settings->address);
    printf("Port:       %d\n", settings->port);
    printf("Range:      %dm\n", settings->range);
    printf("Gain:       %ddB\n", settings->gain);
}

void trace_send_line(int range, int gain)
{
    printf("\n\nSend Switches...    %dm, %ddB\n", range, gain);
}

void trace_packet(const uint8_t* packet, int delivered)
{
    printf("Header            = %c%c%c\n", packet[0], packet[1], packet[2]);
    printf("Packet Number     = %d\n", return_packet_number(packet));
    printf("ser_buf_tcp[%d] = 0x%02X", delivered - 1, packet[delivered - 1]);
}

void trace_ping(int count)
{
    printf(" --> Ping %d\n", count);
}

void trace_writing(const char* file_name, int64_t bytes_written)
{
    printf("\nWriting to file: %s - %d kbytes", file_name, static_cast<int>(bytes_written / 1024));
}

void trace_no_data()
{
    printf("No Data\n");
}

void trace_failure(TraceFailure failure)
{
    printf("%s%s failed!\n", FAILED_CALLS[failure].lead, FAILED_CALLS[failure].call);
}

void trace_exit_prompt()
{
    printf("\n\nPress any key to exit.");
}

void trace_settings_unreadable(int error)
{
    char reason[REASON_SIZE];
    reason_of(error, reason);
    say("%s: cannot read: %s; the run does not start without the settings it holds (remove it to use the "
        "defaults)\n",
        SETTINGS_FILE_NAME, reason);
}

void trace_store_not_created(const char* name, PlatResult failure, int error)
{
    if (failure == PLAT_ERR_EXISTS) {
        say("%s: cannot create a data file: every number of the day is taken (%.*s-0001.QKV to 9999); this run "
            "records nothing\n",
            PROGRAM_NAME, NAME_NUMBER_AT - 1, name);
        return;
    }
    char reason[REASON_SIZE];
    reason_of(error, reason);
    say("%s: cannot create: %s; this run records nothing\n", name, reason);
}

void trace_store_stopped(const char* name, int error)
{
    char reason[REASON_SIZE];
    reason_of(error, reason);
    say("%s: cannot write: %s; pings are not recorded until it can be written again\n", name, reason);
}

void trace_store_resumed(const char* name, int records_lost)
{
    say("%s: written again; %d ping%s not recorded\n", name, records_lost, records_lost == 1 ? " was" : "s were");
}

void trace_settings_replaced(const SettingsText* text, const HeadSettings* used)
{
    char value[32];
    if (settings_address_replaced(text, used)) say_replaced(SETTINGS_KEY_ADDRESS, text->address, used->address);
    if (settings_number_replaced(text->range, used->range)) {
        snprintf(value, sizeof value, "%d m", used->range);
        say_replaced(SETTINGS_KEY_RANGE, text->range, value);
    }
    if (settings_number_replaced(text->gain, used->gain)) {
        snprintf(value, sizeof value, "%d dB", used->gain);
        say_replaced(SETTINGS_KEY_GAIN, text->gain, value);
    }
}

void trace_link_failure(TraceFailure failure, const LinkFailure* why, const HeadSettings* settings)
{
    const FailedCall& call = FAILED_CALLS[failure];
    char reason[REASON_SIZE];
    link_reason(why, reason);
    if (!call.names_head) {
        say("%s: %s failed: %s\n", PROGRAM_NAME, call.call, reason);
        return;
    }
    char hint[96] = "";
    if (failure == FAILED_CONNECT) snprintf(hint, sizeof hint, "; check %s in %s", SETTINGS_KEY_ADDRESS, SETTINGS_FILE_NAME);
    say("%s: %s failed, head %s port %d: %s%s\n", PROGRAM_NAME, call.call, settings->address, settings->port, reason,
        hint);
}

void trace_recording_to(const char* name, const HeadSettings* settings)
{
    say("%s: recording to %s (head %s port %d, range %d m, gain %d dB)\n", PROGRAM_NAME, name, settings->address,
        settings->port, settings->range, settings->gain);
}

void trace_recording_nothing(const HeadSettings* settings)
{
    say("%s: recording nothing: this build stores no data file (head %s port %d, range %d m, gain %d dB)\n",
        PROGRAM_NAME, settings->address, settings->port, settings->range, settings->gain);
}
