#include "tools/headsim/options.h"

#include "tools/headsim/nmea_track.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long MS_MAX = 86400000L;
constexpr double SPEED_MAX = 1000.0;
constexpr long PING_RATE_DEFAULT = 10;  // a head's usual pace
constexpr long PING_RATE_MAX = 100;     // beyond any head's
constexpr double LATITUDE_MAX = 80.0;   // the flat chart the vessel is steered on fails nearer the poles
constexpr double LINE_LENGTH_MAX_M = 100000.0;

const char USAGE_HEAD[] =
    "Usage: headsim [options]\n"
    "A simulated sonar head: answers each 27-byte switch command with one\n"
    "1033-byte return packet, of synthetic echo data (the seabed under a\n"
    "simulated survey vessel) or, with --replay, of a survey the program\n"
    "recorded.\n"
    "\n"
    "Options:\n"
    "  --address A          listen address (default 127.0.0.1)\n"
    "  --port P             listen port (default 4040)\n"
    "  --replay FILE        serve the pings of the data file FILE in order: the\n"
    "                       reply for packet k is the ping record's header and\n"
    "                       data slot k, whatever range and gain are asked for.\n"
    "                       A ping ends once its packet 7 is served; a command\n"
    "                       for packet 0 then starts the next. Each connection\n"
    "                       starts at the first ping and is closed after the\n"
    "                       last. FILE is checked first: a torn or malformed\n"
    "                       file is refused (status 2), and so is one that is\n"
    "                       not a regular file (a pipe): it is read again for\n"
    "                       every connection.\n"
    "  --loop               with --replay: after the last ping, start again at\n"
    "                       the first instead of closing\n"
    "  --speed X            with --replay: divide the waits between pings by X\n"
    "                       (default 1: the recorded pace, each ping due its\n"
    "                       record's ping interval after the previous one, or\n"
    "                       where that is 0 the time between the two records;\n"
    "                       never more than 10 s)\n"
    "  --as-fast-as-asked   with --replay: never wait between pings\n"
    "  --ping-rate N        synthetic pings a second, 0 to 100 (default 10, a\n"
    "                       head's pace; 0: each ping as soon as asked, the\n"
    "                       survey moving on a tenth of a second per ping)\n"
    "  --truth FILE         write the truth of each synthetic ping served to\n"
    "                       FILE, as CSV: ping,time_utc,latitude,longitude,\n"
    "                       range_m,depth_m,school_top_m,school_bottom_m\n"
    "                       (depth_m empty where the ping has no bottom)\n"
    "  --seed N             the seabed, its fish and its bubbles, 0 to\n"
    "                       4294967295 (default 1)\n"
    "  --start LAT,LON      the vessel's start in decimal degrees (default\n"
    "                       51.1164133,1.3909450)\n"
    "  --heading DEG        the course of its first line, 0 to 360 (default 45)\n"
    "  --knots KN           its speed, 0 to 30 (default 4)\n"
    "  --line-length M      its survey lines, 20 to 100000 m, each 20 m to\n"
    "                       starboard of the last and run the other way\n"
    "                       (default 500); 0: one straight run\n"
    "  --delay-ms N         wait N ms before each reply\n"
    "  --split K            send each reply in K pieces\n"
    "  --split-gap-ms N     wait N ms between pieces (default 20)\n"
    "  --fault KIND@N       misbehave on the reply to the Nth command of a\n"
    "                       connection (1-based); repeatable. KIND is one of:\n";

const char USAGE_TAIL[] =
    "  --nmea-udp PORT      also send the vessel's track, the position the\n"
    "                       seabed is taken at, as NMEA GGA and RMC sentences\n"
    "                       in UDP datagrams to 127.0.0.1:PORT\n"
    "  --nmea-rate HZ       with --nmea-udp: fixes a second, 1 to 10 (default 1)\n"
    "  --once               exit after the first connection ends\n"
    "  --max-connections N  exit after N connections (default unlimited)\n"
    "  --help               show this text\n"
    "  --version            show the name and version\n"
    "\n"
    "Prints \"headsim: listening on A:P\" once listening, and one line per\n"
    "connection on stderr when it ends, with the pings served. SIGINT or\n"
    "SIGTERM stop it (status 0). Status 1: it cannot listen or write the truth\n"
    "file; 2: a bad option (the message names the values allowed) or a data\n"
    "file it refuses.\n";

void print_usage()
{
    fputs(USAGE_HEAD, stdout);
    quirk_print_help(stdout);
    fputs(USAGE_TAIL, stdout);
}

bool parse_count(const char* text, long low, long high, long* value)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool parse_speed(const char* text, double* speed)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    double parsed = strtod(text, &end);
    if (*end != '\0' || !(parsed > 0.0 && parsed <= SPEED_MAX)) return false;
    *speed = parsed;
    return true;
}

bool parse_real(const char* text, double low, double high, double* value)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    double parsed = strtod(text, &end);
    if (*end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

// LAT,LON in decimal degrees.
bool parse_start(const char* text, VesselPlan* plan)
{
    const char* comma = text ? strchr(text, ',') : nullptr;
    if (comma == nullptr || comma - text >= 32) return false;
    char latitude[32];
    memcpy(latitude, text, static_cast<size_t>(comma - text));
    latitude[comma - text] = '\0';
    return parse_real(latitude, -LATITUDE_MAX, LATITUDE_MAX, &plan->start_latitude) &&
           parse_real(comma + 1, -180.0, 180.0, &plan->start_longitude);
}

bool parse_line_length(const char* text, double* metres)
{
    double parsed = 0;
    if (!parse_real(text, 0.0, LINE_LENGTH_MAX_M, &parsed)) return false;
    if (parsed != 0.0 && parsed < VESSEL_LINE_MIN_M) return false;
    *metres = parsed;
    return true;
}

void set_defaults(Options* options)
{
    memset(options, 0, sizeof *options);
    snprintf(options->address, sizeof options->address, "127.0.0.1");
    options->port = HEAD_PORT;
    options->split = 1;
    options->split_gap_ms = 20;
    options->speed = 1.0;
    options->nmea_rate_hz = 1;
    options->ping_rate = PING_RATE_DEFAULT;
    options->seed = 1;
    vessel_default_plan(&options->vessel);
}

// Options that take no value; false when name is none of them.
bool parse_flag(const char* name, Options* options)
{
    if (strcmp(name, "--once") == 0) {
        options->once = true;
    } else if (strcmp(name, "--loop") == 0) {
        options->loop = true;
    } else if (strcmp(name, "--as-fast-as-asked") == 0) {
        options->as_fast_as_asked = true;
    } else {
        return false;
    }
    return true;
}

// Options that take a value: 1 parsed, 0 bad or missing value (*allowed then
// says what is), -1 unknown option.
int parse_valued(const char* name, const char* value, Options* options, const char** allowed)
{
    bool good = value != nullptr;
    long number = 0;
    if (strcmp(name, "--address") == 0) {
        *allowed = "an IPv4 address such as 127.0.0.1";
        in_addr probe{};
        good = good && inet_pton(AF_INET, value, &probe) == 1;
        if (good) snprintf(options->address, sizeof options->address, "%s", value);
    } else if (strcmp(name, "--port") == 0) {
        *allowed = "1 to 65535";
        good = good && parse_count(value, 1, 65535, &number);
        options->port = static_cast<uint16_t>(number);
    } else if (strcmp(name, "--replay") == 0) {
        *allowed = "a data file's name";
        good = good && *value != '\0';
        options->replay_path = value;
    } else if (strcmp(name, "--speed") == 0) {
        *allowed = "a number above 0, at most 1000";
        good = good && parse_speed(value, &options->speed);
    } else if (strcmp(name, "--delay-ms") == 0) {
        *allowed = "0 to 86400000";
        good = good && parse_count(value, 0, MS_MAX, &options->delay_ms);
    } else if (strcmp(name, "--split") == 0) {
        *allowed = "1 to 2066";
        good = good && parse_count(value, 1, FAULT_OUTGOING_SIZE, &options->split);
    } else if (strcmp(name, "--split-gap-ms") == 0) {
        *allowed = "0 to 86400000";
        good = good && parse_count(value, 0, MS_MAX, &options->split_gap_ms);
    } else if (strcmp(name, "--max-connections") == 0) {
        *allowed = "1 to 1000000000";
        good = good && parse_count(value, 1, 1000000000L, &options->max_connections);
    } else if (strcmp(name, "--nmea-udp") == 0) {
        *allowed = "1 to 65535";
        good = good && parse_count(value, 1, 65535, &number);
        options->nmea_port = static_cast<uint16_t>(number);
    } else if (strcmp(name, "--nmea-rate") == 0) {
        *allowed = "1 to 10";
        good = good && parse_count(value, 1, TRACK_RATE_MAX_HZ, &options->nmea_rate_hz);
    } else if (strcmp(name, "--ping-rate") == 0) {
        *allowed = "0 (as fast as asked) to 100";
        good = good && parse_count(value, 0, PING_RATE_MAX, &options->ping_rate);
    } else if (strcmp(name, "--truth") == 0) {
        *allowed = "a file name";
        good = good && *value != '\0';
        options->truth_path = value;
    } else if (strcmp(name, "--seed") == 0) {
        *allowed = "0 to 4294967295";
        good = good && parse_count(value, 0, 4294967295L, &number);
        options->seed = static_cast<uint32_t>(number);
    } else if (strcmp(name, "--start") == 0) {
        *allowed = "LAT,LON in decimal degrees, LAT -80 to 80, LON -180 to 180";
        good = good && parse_start(value, &options->vessel);
    } else if (strcmp(name, "--heading") == 0) {
        *allowed = "0 to 360 degrees";
        good = good && parse_real(value, 0.0, 360.0, &options->vessel.heading);
    } else if (strcmp(name, "--knots") == 0) {
        *allowed = "0 to 30";
        good = good && parse_real(value, 0.0, VESSEL_KNOTS_MAX, &options->vessel.knots);
    } else if (strcmp(name, "--line-length") == 0) {
        *allowed = "0 (one straight run) or 20 to 100000 metres";
        good = good && parse_line_length(value, &options->vessel.line_length_m);
    } else if (strcmp(name, "--fault") == 0) {
        *allowed = options->fault_count < OPTIONS_FAULTS_MAX
                       ? "KIND@N or stall:MS@N, N from 1, KIND one of those --help lists"
                       : "at most 64 --fault options";
        good = good && options->fault_count < OPTIONS_FAULTS_MAX &&
               quirk_parse(value, &options->faults[options->fault_count]);
        if (good) ++options->fault_count;
    } else {
        return -1;
    }
    return good ? 1 : 0;
}

// The pacing options only mean something for a recording, and only one of them at a time.
bool check_pacing(const Options* options, bool speed_given)
{
    if (options->replay_path == nullptr && (options->loop || speed_given || options->as_fast_as_asked)) {
        fprintf(stderr, "headsim: --loop, --speed and --as-fast-as-asked need --replay (see --help)\n");
        return false;
    }
    if (speed_given && options->as_fast_as_asked) {
        fprintf(stderr, "headsim: --speed and --as-fast-as-asked exclude each other (see --help)\n");
        return false;
    }
    return true;
}

// The synthetic echoes' own options mean nothing for a recording.
bool check_synthetic(const Options* options, bool synthetic_given)
{
    if (options->replay_path != nullptr && synthetic_given) {
        fprintf(stderr, "headsim: --ping-rate, --truth and --seed are for the synthetic echoes, not --replay, "
                        "whose pace --speed and --as-fast-as-asked set (see --help)\n");
        return false;
    }
    return true;
}

}  // namespace

int options_parse(int argc, char** argv, Options* options)
{
    set_defaults(options);
    bool speed_given = false;
    bool synthetic_given = false;
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) {
            print_usage();
            return 1;
        }
        if (strcmp(name, "--version") == 0) {
            printf("headsim %s\n", HALVEX_VERSION);
            return 1;
        }
        if (parse_flag(name, options)) continue;
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const char* allowed = "";
        int parsed = parse_valued(name, value, options, &allowed);
        if (parsed < 0) {
            fprintf(stderr, "headsim: unknown option '%s' (see --help)\n", name);
            return 2;
        }
        if (parsed == 0) {
            fprintf(stderr, "headsim: bad or missing value for %s%s%s%s; allowed: %s (see --help)\n", name,
                    value ? ": '" : "", value ? value : "", value ? "'" : "", allowed);
            return 2;
        }
        speed_given = speed_given || strcmp(name, "--speed") == 0;
        synthetic_given = synthetic_given || strcmp(name, "--ping-rate") == 0 || strcmp(name, "--truth") == 0 ||
                          strcmp(name, "--seed") == 0;
        ++i;
    }
    return check_pacing(options, speed_given) && check_synthetic(options, synthetic_given) ? 0 : 2;
}
