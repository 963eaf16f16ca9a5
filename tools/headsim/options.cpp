#include "tools/headsim/options.h"

#include "cmdline/cmdline.h"
#include "tools/headsim/nmea_track.h"
#include "tools/headsim/wire.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr long MS_MAX = 86400000L;
constexpr long PORT_MAX = 65535;
constexpr long SEED_MAX = 4294967295L;
constexpr long CONNECTIONS_MAX = 1000000000L;
constexpr double SPEED_MAX = 1000.0;
constexpr long PING_RATE_DEFAULT = 10;  // a head's usual pace
constexpr long PING_RATE_MAX = 100;     // beyond any head's
constexpr double LATITUDE_MAX = 80.0;   // the flat chart the vessel is steered on fails nearer the poles
constexpr double LONGITUDE_MAX = 180.0;
constexpr double HEADING_MAX = 360.0;
constexpr double LINE_LENGTH_MAX_M = 100000.0;
constexpr double DEPTH_AT_RANGE_MAX_M = 1000.0;
constexpr int COORDINATE_TEXT_SIZE = 32;
constexpr double DRAFT_MAX_M = 10.0;
constexpr double OFFSET_MAX_M = 100.0;
constexpr double MEAN_LEVEL_MAX_M = 20.0;
constexpr double AMPLITUDE_MAX_M = 10.0;  // over any tide's
constexpr double PHASE_MAX = 360.0;
constexpr double SOUND_SPEED_LEAST_M_S = 1400.0;  // water's, fresh and near freezing to the warmest, saltiest sea
constexpr double SOUND_SPEED_MOST_M_S = 1600.0;
constexpr double PROFILE_DEPTH_MAX_M = 12000.0;   // deeper than any sea
constexpr double HEAVE_MAX_M = 5.0;
constexpr double HEAVE_PERIOD_LEAST_S = 2.0;
constexpr double HEAVE_PERIOD_MOST_S = 30.0;
constexpr long MOTION_RATE_LEAST_HZ = 10;         // a motion sensor's rates
constexpr long MOTION_RATE_MOST_HZ = 50;
constexpr long SPIKES_ONE_IN_LEAST = 2;
constexpr long SPIKES_ONE_IN_MOST = 1000000;
const char DEFAULT_DATUM[] = "chart datum";

const char USAGE_HEAD[] =
    "usage: headsim [--ping-rate N] [--truth FILE] [--seed N] [OPTION]...\n"
    "       headsim --replay FILE [--loop] [--speed X | --as-fast-as-asked] [OPTION]...\n"
    "A simulated sonar head: answers each 27-byte switch command with one\n"
    "1033-byte return packet, of synthetic echo data (the seabed under a\n"
    "simulated survey vessel) or, with --replay, of a survey the program\n"
    "recorded. OPTION: any of the others below.\n"
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
    "                       (depth_m empty where the ping has no bottom); with\n"
    "                       any option from --draft to --spikes also\n"
    "                       reduced_depth_m,reference,surface_depth_m,level_m,\n"
    "                       heave_m,heading,transducer_latitude,\n"
    "                       transducer_longitude,echo_m,spike\n"
    "  --seed N             the seabed, its fish and its bubbles, 0 to\n"
    "                       4294967295 (default 1)\n"
    "  --depth-at RANGE     print the seabed's depth below the datum (the still\n"
    "                       surface without --tide) under pings of RANGE metres\n"
    "                       (1 to 1000) at each \"LON LAT\" line of standard\n"
    "                       input (an empty line for one that is no position)\n"
    "                       and exit\n"
    "  --start LAT,LON      the vessel's start in decimal degrees (default\n"
    "                       51.1164133,1.3909450)\n"
    "  --heading DEG        the course of its first line, 0 to 360 (default 45)\n"
    "  --knots KN           its speed, 0 to 30 (default 4)\n"
    "  --line-length M      its survey lines, 20 to 100000 m, each 20 m to\n"
    "                       starboard of the last and run the other way\n"
    "                       (default 500); 0: one straight run\n"
    "  --draft M            the transducer below the waterline, 0 to 10 m\n"
    "  --antenna-offset FORWARD,STARBOARD\n"
    "                       the transducer from the GNSS antenna whose position\n"
    "                       the track gives, in metres, each -100 to 100\n"
    "  --heave M[,S]        a swell heaving the vessel M metres up and down\n"
    "                       (0 to 5) over S seconds (2 to 30, default 8), and\n"
    "                       rolling and pitching it\n"
    "  --tide MEAN,AMPLITUDE,PHASE[,AMPLITUDE,PHASE]\n"
    "                       the surface above a datum: the mean level (-20 to\n"
    "                       20 m), the 12.42-hour tide's amplitude (0 to 10 m)\n"
    "                       and phase (0 to 360 degrees); then the 12-hour one's\n"
    "  --datum NAME         with --tide: the datum's name (default chart datum)\n"
    "  --tide-gauge FILE    with --tide: write the level every 6 minutes for 25\n"
    "                       hours as CSV, time,level_m\n"
    "  --sound-speed M/S    the water's speed of sound, 1400 to 1600 (default\n"
    "                       1500, the speed the head's ranges assume)\n"
    "  --sound-speed-profile DEPTH:SPEED,...\n"
    "                       or a speed changing with depth, linearly between\n"
    "                       1 to 16 points (depths 0 to 12000 m, each deeper)\n"
    "  --cast FILE          with either: write the speeds as CSV,\n"
    "                       depth_m,sound_speed_m_s\n"
    "  --spikes N           about one ping in N (2 to 1000000) with a bottom\n"
    "                       echoes at a false distance instead\n"
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
    "  --motion-rate HZ     with --nmea-udp: also a motion sensor's $PASHR and a\n"
    "                       gyro's $HEHDT, 10 to 50 a second\n"
    "  --once               exit after the first connection ends\n"
    "  --max-connections N  exit after N connections (default unlimited)\n"
    "  --help, -h           show this text\n"
    "  --version            show the name and version\n"
    "Prints \"headsim: listening on A:P\" once listening, and one line per\n"
    "connection on stderr when it ends, with the pings served. SIGINT or\n"
    "SIGTERM stop it (status 0). Status 1: it cannot listen or write the truth\n"
    "file; 2: a bad option (the message names the values allowed) or a data\n"
    "file it refuses.\n";

enum OptionId {
    OPT_HELP, OPT_VERSION, OPT_ADDRESS, OPT_PORT, OPT_REPLAY, OPT_LOOP, OPT_SPEED, OPT_AS_FAST_AS_ASKED,
    OPT_PING_RATE, OPT_TRUTH, OPT_SEED, OPT_START, OPT_HEADING, OPT_KNOTS, OPT_LINE_LENGTH, OPT_DELAY_MS,
    OPT_SPLIT, OPT_SPLIT_GAP_MS, OPT_FAULT, OPT_NMEA_UDP, OPT_NMEA_RATE, OPT_ONCE, OPT_MAX_CONNECTIONS,
    OPT_DRAFT, OPT_ANTENNA_OFFSET, OPT_HEAVE, OPT_TIDE, OPT_DATUM, OPT_TIDE_GAUGE, OPT_SOUND_SPEED,
    OPT_SOUND_SPEED_PROFILE, OPT_CAST, OPT_SPIKES, OPT_MOTION_RATE, OPT_DEPTH_AT,
};
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},
    {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},
    {OPT_ADDRESS, "--address", CMDLINE_VALUE},
    {OPT_PORT, "--port", CMDLINE_VALUE},
    {OPT_REPLAY, "--replay", CMDLINE_VALUE},
    {OPT_LOOP, "--loop", CMDLINE_FLAG},
    {OPT_SPEED, "--speed", CMDLINE_VALUE},
    {OPT_AS_FAST_AS_ASKED, "--as-fast-as-asked", CMDLINE_FLAG},
    {OPT_PING_RATE, "--ping-rate", CMDLINE_VALUE},
    {OPT_TRUTH, "--truth", CMDLINE_VALUE},
    {OPT_SEED, "--seed", CMDLINE_VALUE},
    {OPT_START, "--start", CMDLINE_VALUE},
    {OPT_HEADING, "--heading", CMDLINE_VALUE},
    {OPT_KNOTS, "--knots", CMDLINE_VALUE},
    {OPT_LINE_LENGTH, "--line-length", CMDLINE_VALUE},
    {OPT_DELAY_MS, "--delay-ms", CMDLINE_VALUE},
    {OPT_SPLIT, "--split", CMDLINE_VALUE},
    {OPT_SPLIT_GAP_MS, "--split-gap-ms", CMDLINE_VALUE},
    {OPT_FAULT, "--fault", CMDLINE_VALUE},
    {OPT_NMEA_UDP, "--nmea-udp", CMDLINE_VALUE},
    {OPT_NMEA_RATE, "--nmea-rate", CMDLINE_VALUE},
    {OPT_ONCE, "--once", CMDLINE_FLAG},
    {OPT_MAX_CONNECTIONS, "--max-connections", CMDLINE_VALUE},
    {OPT_DRAFT, "--draft", CMDLINE_VALUE},
    {OPT_ANTENNA_OFFSET, "--antenna-offset", CMDLINE_VALUE},
    {OPT_HEAVE, "--heave", CMDLINE_VALUE},
    {OPT_TIDE, "--tide", CMDLINE_VALUE},
    {OPT_DATUM, "--datum", CMDLINE_VALUE},
    {OPT_TIDE_GAUGE, "--tide-gauge", CMDLINE_VALUE},
    {OPT_SOUND_SPEED, "--sound-speed", CMDLINE_VALUE},
    {OPT_SOUND_SPEED_PROFILE, "--sound-speed-profile", CMDLINE_VALUE},
    {OPT_CAST, "--cast", CMDLINE_VALUE},
    {OPT_SPIKES, "--spikes", CMDLINE_VALUE},
    {OPT_MOTION_RATE, "--motion-rate", CMDLINE_VALUE},
    {OPT_DEPTH_AT, "--depth-at", CMDLINE_VALUE},
};

// What was given of the options that go together, each the first given of its kind.
struct Given {
    const char* pacing;     // --loop, --speed or --as-fast-as-asked
    const char* synthetic;  // --ping-rate, --truth, --seed, or one of the sea and the vessel's motion
    bool speed;
    bool tide;
    const char* needs_tide;  // --datum or --tide-gauge
    int sound_speeds;        // --sound-speed and --sound-speed-profile given
    bool cast;
};

void print_usage()
{
    fputs(USAGE_HEAD, stdout);
    quirk_print_help(stdout);
    fputs(USAGE_TAIL, stdout);
}

// A decimal number that may be negative ("-33.5"), within -limit to limit.
bool take_signed(Cmdline* line, const char* text, double limit, double* value)
{
    bool negative = text[0] == '-';
    if (!cmdline_decimal(line, text + (negative ? 1 : 0), "", 0.0, limit, value)) return false;
    if (negative) *value = -*value;
    return true;
}

// Signed decimals ("1.5,-0.3,90"), at most max, each followed by the next of
// the separators in turn (",": a list; ":,": pairs); how many, 0 when the
// text is not such a list.
int take_decimals(Cmdline* line, const char* text, const char* separators, double* values, int max)
{
    size_t kinds = strlen(separators);
    for (int count = 0; count < max;) {
        size_t length = strcspn(text, ",:");
        char piece[COORDINATE_TEXT_SIZE];
        if (length >= sizeof piece) return 0;
        memcpy(piece, text, length);
        piece[length] = 0;
        if (!take_signed(line, piece, PROFILE_DEPTH_MAX_M, &values[count])) return 0;
        if (text[length] == 0) return count + 1;
        if (text[length] != separators[count++ % kinds]) return 0;
        text += length + 1;
    }
    return 0;
}

bool within(double value, double low, double high) { return value >= low && value <= high; }

// A,B: two signed decimals, A within -a_limit to a_limit and B within -b_limit to b_limit.
bool take_pair(Cmdline* line, const char* text, double a_limit, double b_limit, const char* allowed, double* a,
               double* b)
{
    double values[2];
    if (take_decimals(line, text, ",", values, 2) != 2 || !within(values[0], -a_limit, a_limit) ||
        !within(values[1], -b_limit, b_limit)) {
        return cmdline_refuse(line, allowed, text);
    }
    *a = values[0];
    *b = values[1];
    return true;
}

// M or M,S: the heave's amplitude and period.
bool take_heave(Cmdline* line, const char* text, VesselPlan* plan)
{
    double values[2] = {0, VESSEL_HEAVE_PERIOD_S};
    int count = take_decimals(line, text, ",", values, 2);
    if (count == 0 || !within(values[0], 0, HEAVE_MAX_M) ||
        !within(values[1], HEAVE_PERIOD_LEAST_S, HEAVE_PERIOD_MOST_S)) {
        return cmdline_refuse(line, "M or M,S: up to 5 metres, over 2 to 30 seconds", text);
    }
    plan->heave_m = values[0];
    plan->heave_period_s = values[1];
    return true;
}

// MEAN,AMPLITUDE,PHASE and optionally the second harmonic's AMPLITUDE,PHASE.
bool take_tide(Cmdline* line, const char* text, SeaPlan* sea)
{
    double values[1 + 2 * SEA_HARMONICS] = {};
    int count = take_decimals(line, text, ",", values, 1 + 2 * SEA_HARMONICS);
    bool good = (count == 3 || count == 5) && within(values[0], -MEAN_LEVEL_MAX_M, MEAN_LEVEL_MAX_M);
    for (int i = 0; i < SEA_HARMONICS; ++i) {
        good = good && within(values[1 + 2 * i], 0, AMPLITUDE_MAX_M) && within(values[2 + 2 * i], 0, PHASE_MAX);
        sea->amplitude_m[i] = values[1 + 2 * i];
        sea->phase_degrees[i] = values[2 + 2 * i];
    }
    if (!good) {
        return cmdline_refuse(line, "MEAN,AMPLITUDE,PHASE[,AMPLITUDE,PHASE]: a mean level of -20 to 20 m, "
                                    "amplitudes of 0 to 10 m and phases of 0 to 360 degrees", text);
    }
    sea->tide = true;
    sea->mean_level_m = values[0];
    return true;
}

// A name written in the truth's CSV as it is: printable, and no comma or quote to need quoting.
bool take_datum(Cmdline* line, const char* text, SeaPlan* sea)
{
    size_t length = strlen(text);
    bool good = length > 0 && length < sizeof sea->datum && strpbrk(text, ",\"") == nullptr;
    for (size_t i = 0; good && i < length; ++i) good = text[i] >= ' ' && text[i] <= '~';
    if (!good) return cmdline_refuse(line, "a name of 1 to 31 printable characters, no comma or quote", text);
    snprintf(sea->datum, sizeof sea->datum, "%s", text);
    return true;
}

bool take_sound_speed(Cmdline* line, const char* text, SeaPlan* sea)
{
    if (!cmdline_decimal(line, text, "metres a second", SOUND_SPEED_LEAST_M_S, SOUND_SPEED_MOST_M_S,
                         &sea->speed_m_s[0])) {
        return false;
    }
    sea->speed_depth_m[0] = 0;
    sea->speed_points = 1;
    return true;
}

// DEPTH:SPEED,DEPTH:SPEED,...: each point deeper than the one before.
bool take_profile(Cmdline* line, const char* text, SeaPlan* sea)
{
    double values[2 * SEA_PROFILE_POINTS_MAX];
    int count = take_decimals(line, text, ":,", values, 2 * SEA_PROFILE_POINTS_MAX);
    bool good = count % 2 == 0 && count > 0;
    for (int i = 0; good && i < count / 2; ++i) {
        sea->speed_depth_m[i] = values[2 * i];
        sea->speed_m_s[i] = values[2 * i + 1];
        good = within(values[2 * i], i == 0 ? 0 : values[2 * i - 2] + 1e-9, PROFILE_DEPTH_MAX_M) &&
               within(values[2 * i + 1], SOUND_SPEED_LEAST_M_S, SOUND_SPEED_MOST_M_S);
    }
    if (!good) {
        return cmdline_refuse(line, "DEPTH:SPEED,... of 1 to 16 points, depths of 0 to 12000 m each deeper than "
                                    "the one before, speeds of 1400 to 1600 m/s", text);
    }
    sea->speed_points = count / 2;
    return true;
}

bool take_path(Cmdline* line, const char* text, const char** path)
{
    *path = text;
    return *text != 0 || cmdline_refuse(line, "a file name", text);
}

bool take_line_length(Cmdline* line, const char* text, double* metres)
{
    double length = 0;
    if (!cmdline_decimal(line, text, "", 0.0, LINE_LENGTH_MAX_M, &length) ||
        (length != 0.0 && length < VESSEL_LINE_MIN_M)) {
        return cmdline_refuse(line, "0 (one straight run) or 20 to 100000 metres", text);
    }
    *metres = length;
    return true;
}

bool take_speed(Cmdline* line, const char* text, double* speed)
{
    double factor = 0;
    if (!cmdline_decimal(line, text, "", 0.0, SPEED_MAX, &factor) || factor == 0.0) {
        return cmdline_refuse(line, "a number above 0, at most 1000", text);
    }
    *speed = factor;
    return true;
}

bool take_fault(Cmdline* line, const char* text, Options* options)
{
    if (options->fault_count == OPTIONS_FAULTS_MAX) {
        return cmdline_fail(line, "--fault may be given %d times at most", OPTIONS_FAULTS_MAX);
    }
    if (!quirk_parse(text, &options->faults[options->fault_count])) {
        char allowed[CMDLINE_MESSAGE_SIZE / 2];
        quirk_describe_allowed(allowed, sizeof allowed);
        return cmdline_refuse(line, allowed, text);
    }
    ++options->fault_count;
    return true;
}

bool take_address(Cmdline* line, const char* text, Options* options)
{
    if (!wire_is_ipv4_address(text) || strlen(text) >= sizeof options->address) {
        return cmdline_refuse(line, "an IPv4 address such as 127.0.0.1", text);
    }
    snprintf(options->address, sizeof options->address, "%s", text);
    return true;
}

// A number from low to high into a field of another width.
template <typename Field>
bool take_number(Cmdline* line, const char* what, long low, long high, Field* field)
{
    long number = 0;
    if (!cmdline_number(line, line->value, what, low, high, &number)) return false;
    *field = static_cast<Field>(number);
    return true;
}

// The options of the sea and the vessel's motion.
bool take_sea(Cmdline* line, Options* options)
{
    const char* value = line->value;
    switch (line->option->id) {
    case OPT_DRAFT: return cmdline_decimal(line, value, "metres", 0.0, DRAFT_MAX_M, &options->vessel.draft_m);
    case OPT_ANTENNA_OFFSET:
        return take_pair(line, value, OFFSET_MAX_M, OFFSET_MAX_M, "FORWARD,STARBOARD in metres, each -100 to 100",
                         &options->vessel.forward_m, &options->vessel.starboard_m);
    case OPT_HEAVE: return take_heave(line, value, &options->vessel);
    case OPT_TIDE: return take_tide(line, value, &options->sea);
    case OPT_DATUM: return take_datum(line, value, &options->sea);
    case OPT_TIDE_GAUGE: return take_path(line, value, &options->gauge_path);
    case OPT_SOUND_SPEED: return take_sound_speed(line, value, &options->sea);
    case OPT_SOUND_SPEED_PROFILE: return take_profile(line, value, &options->sea);
    case OPT_CAST: return take_path(line, value, &options->cast_path);
    case OPT_SPIKES: return take_number(line, "a number", SPIKES_ONE_IN_LEAST, SPIKES_ONE_IN_MOST,
                                        &options->spike_one_in);
    case OPT_MOTION_RATE:
        return take_number(line, "a number", MOTION_RATE_LEAST_HZ, MOTION_RATE_MOST_HZ, &options->motion_rate_hz);
    }
    return false;
}

// Takes the value of the option read; false when it is refused (said in the line's message).
bool take(Cmdline* line, Options* options)
{
    const char* value = line->value;
    switch (line->option->id) {
    case OPT_ADDRESS: return take_address(line, value, options);
    case OPT_PORT: return take_number(line, "a port", 1, PORT_MAX, &options->port);
    case OPT_REPLAY:
        options->replay_path = value;
        return *value != 0 || cmdline_refuse(line, "a data file's name", value);
    case OPT_LOOP: options->loop = true; return true;
    case OPT_SPEED: return take_speed(line, value, &options->speed);
    case OPT_AS_FAST_AS_ASKED: options->as_fast_as_asked = true; return true;
    case OPT_PING_RATE:
        return take_number(line, "", 0, PING_RATE_MAX, &options->ping_rate) ||
               cmdline_refuse(line, "a number from 0 (as fast as asked) to 100", value);
    case OPT_TRUTH: return take_path(line, value, &options->truth_path);
    case OPT_SEED: return take_number(line, "a number", 0, SEED_MAX, &options->seed);
    case OPT_START:
        return take_pair(line, value, LATITUDE_MAX, LONGITUDE_MAX,
                         "LAT,LON in decimal degrees, LAT -80 to 80, LON -180 to 180", &options->vessel.start_latitude,
                         &options->vessel.start_longitude);
    case OPT_HEADING: return cmdline_decimal(line, value, "degrees", 0.0, HEADING_MAX, &options->vessel.heading);
    case OPT_KNOTS: return cmdline_decimal(line, value, "knots", 0.0, VESSEL_KNOTS_MAX, &options->vessel.knots);
    case OPT_LINE_LENGTH: return take_line_length(line, value, &options->vessel.line_length_m);
    case OPT_DELAY_MS: return take_number(line, "a number of ms", 0, MS_MAX, &options->delay_ms);
    case OPT_SPLIT: return take_number(line, "a number", 1, FAULT_OUTGOING_SIZE, &options->split);
    case OPT_SPLIT_GAP_MS: return take_number(line, "a number of ms", 0, MS_MAX, &options->split_gap_ms);
    case OPT_FAULT: return take_fault(line, value, options);
    case OPT_NMEA_UDP: return take_number(line, "a port", 1, PORT_MAX, &options->nmea_port);
    case OPT_NMEA_RATE: return take_number(line, "a number", 1, TRACK_RATE_MAX_HZ, &options->nmea_rate_hz);
    case OPT_ONCE: options->once = true; return true;
    case OPT_MAX_CONNECTIONS: return take_number(line, "a number", 1, CONNECTIONS_MAX, &options->max_connections);
    case OPT_DEPTH_AT: return cmdline_decimal(line, value, "metres", 1.0, DEPTH_AT_RANGE_MAX_M, &options->depth_at_m);
    default: return take_sea(line, options);
    }
}

void note_given(const CmdlineOption* option, Given* given, Options* options)
{
    int id = option->id;
    bool pacing = id == OPT_LOOP || id == OPT_SPEED || id == OPT_AS_FAST_AS_ASKED;
    bool sea = id >= OPT_DRAFT && id <= OPT_SPIKES;
    bool synthetic = id == OPT_PING_RATE || id == OPT_TRUTH || id == OPT_SEED || sea || id == OPT_DEPTH_AT;
    if (pacing && given->pacing == nullptr) given->pacing = option->name;
    if (synthetic && given->synthetic == nullptr) given->synthetic = option->name;
    if ((id == OPT_DATUM || id == OPT_TIDE_GAUGE) && given->needs_tide == nullptr) given->needs_tide = option->name;
    given->speed = given->speed || id == OPT_SPEED;
    given->tide = given->tide || id == OPT_TIDE;
    given->sound_speeds |= id == OPT_SOUND_SPEED ? 1 : id == OPT_SOUND_SPEED_PROFILE ? 2 : 0;
    given->cast = given->cast || id == OPT_CAST;
    options->truth_reduced = options->truth_reduced || sea;
}

// The sea's options that need another, or go without one.
bool sea_goes_together(Cmdline* line, const Options* options, const Given* given)
{
    if (given->needs_tide && !given->tide) return cmdline_fail(line, "%s needs --tide", given->needs_tide);
    if (given->sound_speeds == 3) return cmdline_fail(line, "--sound-speed goes without --sound-speed-profile");
    if (given->cast && given->sound_speeds == 0) {
        return cmdline_fail(line, "--cast needs --sound-speed or --sound-speed-profile");
    }
    if (options->motion_rate_hz > 0 && options->nmea_port == 0) {
        return cmdline_fail(line, "--motion-rate needs --nmea-udp");
    }
    return true;
}

// The pacing options mean something for a recording only, and one pace at a
// time; the synthetic echoes' own options mean nothing for one.
bool go_together(Cmdline* line, const Options* options, const Given* given)
{
    bool replay = options->replay_path != nullptr;
    if (!replay && given->pacing) return cmdline_fail(line, "%s needs --replay", given->pacing);
    if (given->speed && options->as_fast_as_asked) return cmdline_fail(line, "--speed goes without --as-fast-as-asked");
    if (replay && given->synthetic) {
        return cmdline_fail(line, "%s goes without --replay: it is for the synthetic echoes, and --speed or "
                                  "--as-fast-as-asked sets a recording's pace", given->synthetic);
    }
    return sea_goes_together(line, options, given);
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
    snprintf(options->sea.datum, sizeof options->sea.datum, "%s", DEFAULT_DATUM);
}

}  // namespace

int options_parse(int argc, char** argv, Options* options)
{
    set_defaults(options);
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    Given given = {};
    for (CmdlineRead read = cmdline_next_option(&line); read != CMDLINE_END; read = cmdline_next_option(&line)) {
        if (read == CMDLINE_BAD) return cmdline_complain(stderr, "headsim", line.message, USAGE_HEAD);
        if (line.option->id == OPT_HELP) {
            print_usage();
            return 1;
        }
        if (line.option->id == OPT_VERSION) {
            printf("headsim %s\n", HALVEX_VERSION);
            return 1;
        }
        if (!take(&line, options)) return cmdline_complain(stderr, "headsim", line.message, USAGE_HEAD);
        note_given(line.option, &given, options);
    }
    if (!go_together(&line, options, &given)) return cmdline_complain(stderr, "headsim", line.message, USAGE_HEAD);
    return 0;
}
