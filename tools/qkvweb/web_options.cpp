#include "tools/qkvweb/web_options.h"

#include <cstdio>
#include <cstring>

const char QKVWEB_USAGE[] =
    "usage: qkvweb [--listen ADDRESS:PORT] [--stale-after SECONDS] [--max-clients N]\n"
    "Shows the survey of the current directory in a web browser, live: today's\n"
    "newest data file and today's .NAV file, followed as qkvdump --follow\n"
    "follows them, on a page at http://ADDRESS:PORT/, and its health for\n"
    "monitoring at /health, /status and /metrics. It only reads.\n"
    "  --listen ADDRESS:PORT  the IPv4 address and port served (default\n"
    "                         127.0.0.1:8080: this computer alone; 0.0.0.0:8080\n"
    "                         serves every network the computer is on)\n"
    "  --stale-after SECONDS  a recording whose last record is older is stale,\n"
    "                         and /health answers 503 (1 to 86400, default 10)\n"
    "  --max-clients N        connections served at once, more are answered 503\n"
    "                         (1 to 200, default 64)\n"
    "  --version              print the version\n"
    "  --help                 print this text\n"
    "SIGTERM, SIGHUP or Ctrl+C, or q in its terminal, end it (status 0).\n";

namespace {

const char DEFAULT_LISTEN[] = "127.0.0.1:8080";
constexpr long PORT_MAX = 65535;
constexpr long STALE_AFTER_MAX_S = 86400;

enum OptionId { OPT_HELP, OPT_VERSION, OPT_LISTEN, OPT_STALE_AFTER, OPT_MAX_CLIENTS };
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},          {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},    {OPT_LISTEN, "--listen", CMDLINE_VALUE},
    {OPT_STALE_AFTER, "--stale-after", CMDLINE_VALUE}, {OPT_MAX_CLIENTS, "--max-clients", CMDLINE_VALUE},
};

// ADDRESS:PORT, an IPv4 address in four decimal parts and a port from 1.
bool take_listen(Cmdline* line, const char* text, WebOptions* options)
{
    const char* colon = strrchr(text, ':');
    char address[WEB_LISTEN_TEXT_SIZE] = "";
    size_t address_length = colon ? static_cast<size_t>(colon - text) : 0;
    long port = 0;
    if (colon == nullptr || address_length >= sizeof address) return cmdline_refuse(line, "ADDRESS:PORT", text);
    memcpy(address, text, address_length);
    if (!address_text_decimal(address, options->address) || !cmdline_number(line, colon + 1, "", 1, PORT_MAX, &port)) {
        return cmdline_refuse(line, "an IPv4 address and a port from 1 to 65535, as 127.0.0.1:8080", text);
    }
    options->port = static_cast<uint16_t>(port);
    snprintf(options->listen_text, sizeof options->listen_text, "%u.%u.%u.%u:%u", options->address[0],
             options->address[1], options->address[2], options->address[3], options->port);
    return true;
}

// The options one after the other; WEB_PARSE_BAD with the line's message saying why.
WebParse take_options(Cmdline* line, WebOptions* options)
{
    for (CmdlineRead read = cmdline_next_option(line); read != CMDLINE_END; read = cmdline_next_option(line)) {
        bool taken = read != CMDLINE_BAD;
        switch (taken ? line->option->id : -1) {
        case OPT_HELP: return WEB_PARSE_HELP;
        case OPT_VERSION: return WEB_PARSE_VERSION;
        case OPT_LISTEN: taken = take_listen(line, line->value, options); break;
        case OPT_STALE_AFTER:
            taken = cmdline_number(line, line->value, "a number of seconds", 1, STALE_AFTER_MAX_S,
                                   &options->stale_after_s);
            break;
        case OPT_MAX_CLIENTS:
            taken = cmdline_number(line, line->value, "a number", 1, WEB_MAX_CLIENTS_LIMIT, &options->max_clients);
            break;
        }
        if (!taken) return WEB_PARSE_BAD;
    }
    return WEB_PARSE_RUN;
}

}  // namespace

WebParse web_parse(int argc, const char* const* argv, WebOptions* options, char message[CMDLINE_MESSAGE_SIZE])
{
    *options = WebOptions{};
    options->stale_after_s = WEB_STALE_AFTER_DEFAULT_S;
    options->max_clients = WEB_MAX_CLIENTS_DEFAULT;
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    take_listen(&line, DEFAULT_LISTEN, options);
    WebParse parsed = take_options(&line, options);
    if (parsed == WEB_PARSE_BAD) snprintf(message, CMDLINE_MESSAGE_SIZE, "%s", line.message);
    return parsed;
}
