#include "tools/navlog/navlog_options.h"

#include <cstdio>
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
constexpr long PORT_MAX = 65535;

enum OptionId { OPT_HELP, OPT_VERSION, OPT_SERIAL, OPT_BAUD, OPT_UDP, OPT_BIND, OPT_TCP };
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},    {OPT_HELP, "-h", CMDLINE_FLAG},      {OPT_VERSION, "--version", CMDLINE_FLAG},
    {OPT_SERIAL, "--serial", CMDLINE_VALUE}, {OPT_BAUD, "--baud", CMDLINE_VALUE}, {OPT_UDP, "--udp", CMDLINE_VALUE},
    {OPT_BIND, "--bind", CMDLINE_VALUE},   {OPT_TCP, "--tcp", CMDLINE_VALUE},
};

// HOST:PORT, the port after the last colon.
bool parse_host_port(Cmdline* line, NavOptions* options)
{
    const char* text = line->value;
    const char* colon = strrchr(text, ':');
    long port = 0;
    size_t host_length = colon ? static_cast<size_t>(colon - text) : 0;
    if (colon == nullptr || host_length == 0 || host_length >= NAVLOG_HOST_SIZE ||
        !cmdline_number(line, colon + 1, "", 1, PORT_MAX, &port)) {
        return cmdline_refuse(line, "HOST:PORT with a port from 1 to 65535", text);
    }
    memcpy(options->host, text, host_length);
    options->host[host_length] = 0;
    options->port = static_cast<uint16_t>(port);
    return true;
}

// Takes the option read; false when its value is refused (said in the line's message).
bool take(Cmdline* line, NavOptions* options, int* sources)
{
    long number = 0;
    switch (line->option->id) {
    case OPT_SERIAL:
        options->kind = PLAT_SOURCE_SERIAL;
        options->device = line->value;
        break;
    case OPT_UDP:
        if (!cmdline_number(line, line->value, "a port", 1, PORT_MAX, &number)) return false;
        options->kind = PLAT_SOURCE_UDP;
        options->port = static_cast<uint16_t>(number);
        break;
    case OPT_TCP:
        if (!parse_host_port(line, options)) return false;
        options->kind = PLAT_SOURCE_TCP;
        break;
    case OPT_BAUD:
        return cmdline_one_of(line, line->value, PLAT_SOURCE_BAUD_RATES, PLAT_SOURCE_BAUD_RATE_COUNT, &options->baud);
    case OPT_BIND: options->bind_address = line->value; return true;
    }
    ++*sources;
    return true;
}

// The options that go together: one source, --baud with a serial line, --bind with UDP.
bool go_together(Cmdline* line, const NavOptions* options, int sources, bool baud_given, bool bind_given)
{
    if (sources != 1) return cmdline_fail(line, "give one source: --serial, --udp or --tcp");
    if (baud_given && options->kind != PLAT_SOURCE_SERIAL) return cmdline_fail(line, "--baud goes with --serial");
    if (bind_given && options->kind != PLAT_SOURCE_UDP) return cmdline_fail(line, "--bind goes with --udp");
    return true;
}

NavParse bad(char message[NAVLOG_MESSAGE_SIZE], const Cmdline* line)
{
    snprintf(message, NAVLOG_MESSAGE_SIZE, "%s", line->message);
    return NAV_PARSE_BAD;
}

}  // namespace

NavParse navlog_parse(int argc, const char* const* argv, NavOptions* options, char message[NAVLOG_MESSAGE_SIZE])
{
    memset(options, 0, sizeof *options);
    options->baud = NAVLOG_DEFAULT_BAUD;
    options->bind_address = DEFAULT_BIND_ADDRESS;
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    int sources = 0;
    bool baud_given = false, bind_given = false;
    for (CmdlineRead read = cmdline_next_option(&line); read != CMDLINE_END; read = cmdline_next_option(&line)) {
        if (read == CMDLINE_BAD) return bad(message, &line);
        if (line.option->id == OPT_HELP) return NAV_PARSE_HELP;
        if (line.option->id == OPT_VERSION) return NAV_PARSE_VERSION;
        if (!take(&line, options, &sources)) return bad(message, &line);
        baud_given = baud_given || line.option->id == OPT_BAUD;
        bind_given = bind_given || line.option->id == OPT_BIND;
    }
    if (!go_together(&line, options, sources, baud_given, bind_given)) return bad(message, &line);
    return NAV_PARSE_RUN;
}

void navlog_source_name(const NavOptions* options, char* text, size_t size)
{
    switch (options->kind) {
    case PLAT_SOURCE_SERIAL: snprintf(text, size, "%s", options->device); break;
    case PLAT_SOURCE_UDP: snprintf(text, size, "udp %s:%u", options->bind_address, options->port); break;
    case PLAT_SOURCE_TCP: snprintf(text, size, "tcp %s:%u", options->host, options->port); break;
    }
}
