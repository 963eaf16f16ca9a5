// navlog's command line: one source of NMEA sentences.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cmdline/cmdline.h"
#include "platform/byte_source.h"

constexpr long NAVLOG_DEFAULT_BAUD = 4800;  // NMEA 0183's own rate
constexpr int NAVLOG_HOST_SIZE = 256;
constexpr int NAVLOG_MESSAGE_SIZE = CMDLINE_MESSAGE_SIZE;

struct NavOptions {
    PlatSourceKind kind;
    const char* device;        // serial
    long baud;
    uint16_t port;             // UDP: the port listened on; TCP: the port connected to
    const char* bind_address;  // UDP
    char host[NAVLOG_HOST_SIZE];  // TCP
};

enum NavParse { NAV_PARSE_RUN, NAV_PARSE_HELP, NAV_PARSE_VERSION, NAV_PARSE_BAD };

extern const char NAVLOG_USAGE[];
// Reads the arguments; for NAV_PARSE_BAD, message says why.
NavParse navlog_parse(int argc, const char* const* argv, NavOptions* options, char message[NAVLOG_MESSAGE_SIZE]);
// How the source is named on the status line: the device, "udp 0.0.0.0:10110" or "tcp HOST:PORT".
void navlog_source_name(const NavOptions* options, char* text, size_t size);
