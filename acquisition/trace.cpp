#include "acquisition/trace.h"

#include <cstdio>

#include "headlink/protocol.h"

namespace {

const char* const FAILURE_TEXTS[] = {
    "WSAStartup() failed!\n", "socket() failed!\n", "\nconnect() failed!\n",
    "send() failed!\n",       "recv() failed!\n",   "closesocket() failed!\n",
};

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
    printf("%s", FAILURE_TEXTS[failure]);
}

void trace_exit_prompt()
{
    printf("\n\nPress any key to exit.");
}
