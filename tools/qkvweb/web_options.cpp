#include "tools/qkvweb/web_options.h"

#include <cstdio>
#include <cstring>

const char QKVWEB_USAGE[] =
    "usage: qkvweb [--listen ADDRESS:PORT] [--stale-after SECONDS] [--max-clients N]\n"
    "              [--draft M] [REDUCTION...]\n"
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
    "  --draft M              the transducer's depth in metres, added to the depth\n"
    "                         shown, which is then below the surface (default 0:\n"
    "                         below the transducer)\n"
    "  REDUCTION, as qkvdump --follow --depth takes it: the depth shown and mapped\n"
    "  below a named reference, each ping judged by the spike test:\n"
    "  --sound-speed M/S      the water's speed of sound, from a bar check\n"
    "  --sound-speed-profile FILE  a cast's CSV: depth_m,sound_speed_m_s\n"
    "  --water-level FILE     a gauge's or a prediction's CSV: time,level_m (UTC)\n"
    "  --datum NAME           the datum the water level is above\n"
    "  --depth-gates MIN,MAX  flag depths below the surface outside MIN to MAX m\n"
    "  --version              print the version\n"
    "  --help                 print this text\n"
    "SIGTERM, SIGHUP or Ctrl+C, or q in its terminal, end it (status 0).\n";

namespace {

const char DEFAULT_LISTEN[] = "127.0.0.1:8080";
constexpr long PORT_MAX = 65535;
constexpr long STALE_AFTER_MAX_S = 86400;

constexpr double DRAFT_MAX_M = 100.0;  // as qkvdump takes it

enum OptionId {
    OPT_HELP, OPT_VERSION, OPT_LISTEN, OPT_STALE_AFTER, OPT_MAX_CLIENTS, OPT_DRAFT, OPT_SOUND_SPEED,
    OPT_SOUND_SPEED_PROFILE, OPT_WATER_LEVEL, OPT_DATUM, OPT_DEPTH_GATES
};
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},          {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},    {OPT_LISTEN, "--listen", CMDLINE_VALUE},
    {OPT_STALE_AFTER, "--stale-after", CMDLINE_VALUE}, {OPT_MAX_CLIENTS, "--max-clients", CMDLINE_VALUE},
    {OPT_DRAFT, "--draft", CMDLINE_VALUE},       {OPT_SOUND_SPEED, "--sound-speed", CMDLINE_VALUE},
    {OPT_SOUND_SPEED_PROFILE, "--sound-speed-profile", CMDLINE_VALUE},
    {OPT_WATER_LEVEL, "--water-level", CMDLINE_VALUE}, {OPT_DATUM, "--datum", CMDLINE_VALUE},
    {OPT_DEPTH_GATES, "--depth-gates", CMDLINE_VALUE},
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

// MIN,MAX: metres below the surface, MIN the less.
bool take_gates(Cmdline* line, const char* text, ReductionSettings* s)
{
    char low[32] = "";
    const char* comma = strchr(text, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - text) : sizeof low;
    if (length >= sizeof low) return cmdline_refuse(line, "MIN,MAX in metres", text);
    memcpy(low, text, length);
    s->gates = true;
    if (!cmdline_decimal(line, low, "metres", 0.0, SOUND_SPEED_DEPTH_MAX_M, &s->gate_min_m) ||
        !cmdline_decimal(line, comma + 1, "metres", 0.0, SOUND_SPEED_DEPTH_MAX_M, &s->gate_max_m)) {
        return false;
    }
    return s->gate_min_m < s->gate_max_m || cmdline_refuse(line, "MIN,MAX with MIN the less", text);
}

// The reduction's options, as qkvdump takes them.
bool take_reduction(Cmdline* line, WebOptions* options)
{
    const char* value = line->value;
    ReductionSettings* s = &options->reduction.settings;
    options->reducing = true;
    switch (line->option->id) {
    case OPT_SOUND_SPEED:
        s->speed = REDUCTION_SPEED_CONSTANT;
        return cmdline_decimal(line, value, "m/s", SOUND_SPEED_MIN_M_S, SOUND_SPEED_MAX_M_S, &s->sound_speed_m_s);
    case OPT_SOUND_SPEED_PROFILE:
        options->reduction.profile = value;
        s->speed = REDUCTION_SPEED_PROFILE;
        return true;
    case OPT_WATER_LEVEL:
        options->reduction.water_level = value;
        s->level = REDUCTION_LEVEL_SERIES;
        return true;
    case OPT_DATUM:
        if (!reduction_datum_name_ok(value)) return cmdline_refuse(line, REDUCTION_DATUM_RULE, value);
        snprintf(s->datum, sizeof s->datum, "%s", value);
        return true;
    case OPT_DEPTH_GATES: return take_gates(line, value, s);
    }
    return false;
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
        case OPT_DRAFT:
            options->draft_given = true;
            taken = cmdline_decimal(line, line->value, "metres", 0.0, DRAFT_MAX_M,
                                    &options->reduction.settings.draft_m);
            break;
        case OPT_SOUND_SPEED:
        case OPT_SOUND_SPEED_PROFILE:
        case OPT_WATER_LEVEL:
        case OPT_DATUM:
        case OPT_DEPTH_GATES: taken = take_reduction(line, options); break;
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
    reduction_settings_default(&options->reduction.settings);
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    take_listen(&line, DEFAULT_LISTEN, options);
    WebParse parsed = take_options(&line, options);
    if (parsed == WEB_PARSE_BAD) snprintf(message, CMDLINE_MESSAGE_SIZE, "%s", line.message);
    return parsed;
}
