#include "tools/navlog/navlog_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char NAVLOG_USAGE[] =
    "usage: navlog --serial DEVICE [--baud N]\n"
    "       navlog --udp PORT [--bind ADDRESS]\n"
    "       navlog --tcp HOST:PORT\n"
    "Logs the NMEA 0183 sentences of a GNSS receiver beside the program's data\n"
    "files: each sentence with a right checksum goes, after the computer's local\n"
    "time of its arrival (ISO 8601 with milliseconds and UTC offset), to the\n"
    "day's file in the current directory, e.g. 08DEC2026.NAV.\n"
    "  --serial DEVICE  a serial line, 8 data bits, no parity, 1 stop bit\n"
    "                   (/dev/ttyUSB0, /dev/ttyS0, COM3)\n"
    "  --baud N         its rate: 1200, 2400, 4800 (default), 9600, 19200,\n"
    "                   38400, 57600, 115200 or 230400\n"
    "  --udp PORT       sentences in UDP datagrams to PORT (often 10110)\n"
    "  --bind ADDRESS   with --udp: the local IPv4 address listened on\n"
    "                   (default 0.0.0.0, every interface)\n"
    "  --tcp HOST:PORT  a receiver or multiplexer serving sentences over TCP\n"
    "  --version        print the version\n"
    "  --help           print this text\n"
    "A source that goes away is opened again until it is back. q, Esc or\n"
    "Ctrl+C in the terminal, SIGTERM or SIGHUP end it (status 0).\n";

namespace {

const char DEFAULT_BIND_ADDRESS[] = "0.0.0.0";

bool parse_number(const char* text, long low, long high, long* value)
{
    if (text == nullptr || text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (errno != 0 || *end != 0 || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool known_baud(long baud)
{
    for (long rate : BYTE_SOURCE_BAUD_RATES) {
        if (rate == baud) return true;
    }
    return false;
}

// HOST:PORT, the port after the last colon.
bool parse_host_port(const char* text, NavOptions* options)
{
    const char* colon = strrchr(text, ':');
    long port = 0;
    size_t host_length = colon ? static_cast<size_t>(colon - text) : 0;
    if (colon == nullptr || host_length == 0 || host_length >= NAVLOG_HOST_SIZE ||
        !parse_number(colon + 1, 1, 65535, &port)) {
        return false;
    }
    memcpy(options->host, text, host_length);
    options->host[host_length] = 0;
    options->port = static_cast<uint16_t>(port);
    return true;
}

NavParse bad(char message[NAVLOG_MESSAGE_SIZE], const char* first, const char* second)
{
    snprintf(message, NAVLOG_MESSAGE_SIZE, "%s%s", first, second);
    return NAV_PARSE_BAD;
}

}  // namespace

NavParse navlog_parse(int argc, const char* const* argv, NavOptions* options, char message[NAVLOG_MESSAGE_SIZE])
{
    memset(options, 0, sizeof *options);
    options->baud = NAVLOG_DEFAULT_BAUD;
    options->bind_address = DEFAULT_BIND_ADDRESS;
    int sources = 0;
    const char* baud_text = nullptr;
    const char* bind_text = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0) return NAV_PARSE_HELP;
        if (strcmp(option, "--version") == 0) return NAV_PARSE_VERSION;
        bool takes_value = strcmp(option, "--serial") == 0 || strcmp(option, "--baud") == 0 ||
                           strcmp(option, "--udp") == 0 || strcmp(option, "--bind") == 0 ||
                           strcmp(option, "--tcp") == 0;
        if (!takes_value) return bad(message, option[0] == '-' ? "unknown option " : "unexpected argument ", option);
        if (i + 1 >= argc) return bad(message, option, " needs a value");
        const char* value = argv[++i];
        long number = 0;
        if (strcmp(option, "--serial") == 0) {
            options->kind = BYTE_SOURCE_SERIAL;
            options->device = value;
            ++sources;
        } else if (strcmp(option, "--udp") == 0) {
            if (!parse_number(value, 1, 65535, &number)) return bad(message, "--udp needs a port 1 to 65535, not ", value);
            options->kind = BYTE_SOURCE_UDP;
            options->port = static_cast<uint16_t>(number);
            ++sources;
        } else if (strcmp(option, "--tcp") == 0) {
            if (!parse_host_port(value, options)) return bad(message, "--tcp needs HOST:PORT, not ", value);
            options->kind = BYTE_SOURCE_TCP;
            ++sources;
        } else if (strcmp(option, "--baud") == 0) {
            baud_text = value;
        } else {
            bind_text = value;
        }
    }
    if (sources != 1) return bad(message, "give one source: --serial, --udp or --tcp", "");
    if (baud_text != nullptr) {
        long baud = 0;
        if (options->kind != BYTE_SOURCE_SERIAL) return bad(message, "--baud", " goes with --serial");
        if (!parse_number(baud_text, 1, 100000000L, &baud) || !known_baud(baud)) {
            return bad(message, "--baud cannot be ", baud_text);
        }
        options->baud = baud;
    }
    if (bind_text != nullptr) {
        if (options->kind != BYTE_SOURCE_UDP) return bad(message, "--bind", " goes with --udp");
        options->bind_address = bind_text;
    }
    return NAV_PARSE_RUN;
}

void navlog_source_name(const NavOptions* options, char* text, size_t size)
{
    switch (options->kind) {
    case BYTE_SOURCE_SERIAL: snprintf(text, size, "%s", options->device); break;
    case BYTE_SOURCE_UDP: snprintf(text, size, "udp %s:%u", options->bind_address, options->port); break;
    case BYTE_SOURCE_TCP: snprintf(text, size, "tcp %s:%u", options->host, options->port); break;
    }
}
