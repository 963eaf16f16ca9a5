// The synthetic source: the echo of the seabed under the simulated vessel, a
// ping at the head's pace, and the truth of each ping served written down so
// that a bottom picker can be measured against it.
#include "tools/headsim/reply_source.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "navfile/nav_line.h"
#include "platform/platform.h"
#include "store/naming.h"
#include "store/record.h"
#include "store/timestamp.h"
#include "tools/headsim/seabed.h"
#include "tools/headsim/wire.h"

namespace {

constexpr uint8_t HEAD_ID = 0x10;
constexpr uint8_t HEAD_STATUS_READY = 0x80;
// Without a pace the survey's clock moves on this much with each ping, as at
// the default pace of ten a second: the seabed passes by as it would, and every
// connection gets the same pings however fast it asks.
constexpr int64_t UNPACED_PING_MS = 100;

const char TRUTH_HEADER[] = "ping,time_utc,latitude,longitude,range_m,depth_m,school_top_m,school_bottom_m";
// What a reduction of the ping must find, after the columns above.
const char TRUTH_REDUCED_HEADER[] = ",reduced_depth_m,reference,surface_depth_m,level_m,heave_m,heading,"
                                    "transducer_latitude,transducer_longitude,echo_m,spike";
// Where there is no tide the depths are below the water surface.
const char SURFACE_REFERENCE[] = "water surface";
// The files of the instruments a surveyor brings, with the headers they export, written here from the formats
// as documented rather than by the code that reads them, so that the reading is tried by them.
const char GAUGE_HEADER[] = "time,level_m\n";
const char CAST_HEADER[] = "depth_m,sound_speed_m_s\n";
// The gauge's record: from its mark at or before the start, over two tides a day and a margin.
constexpr int64_t GAUGE_SPAN_MS = 25 * 3600 * 1000LL;

// The ping being served: made at its first packet, made again only if a packet asks for another range or gain.
struct EchoPing {
    long number;  // within the connection, from 1
    bool made;
    int range;
    int gain;
    int64_t survey_ms;  // its time on the survey's clock
    int64_t utc_ms;     // and UTC, on the computer's clock
    VesselFix fix;      // of the antenna
    VesselFix transducer;
    VesselMotion motion;
    double level_m;
    SeabedPing seabed;
    uint8_t samples[PING_SAMPLE_COUNT];
};

EchoPlan plan;
FILE* truth = nullptr;
bool truth_kept = true;
EchoPing ping;
uint16_t head_reply_counter = 0;  // running across connections, like a real head's

void truth_failed()
{
    if (!truth_kept) return;
    fprintf(stderr, "headsim: cannot write the truth file %s: %s; stopping\n", plan.truth_path, strerror(errno));
    truth_kept = false;
    wire_request_stop();
}

// "12.345" or, where there is none, nothing: an empty CSV field.
void metres_field(bool present, double metres, char* text, size_t size)
{
    if (present) {
        snprintf(text, size, "%.3f", metres);
    } else {
        text[0] = '\0';
    }
}

// The columns after the first eight: the depths below the reference and the surface, what moved the
// transducer and the surface, and the echo as the head heard it.
int write_truth_reduced()
{
    const SeabedPing* seabed = &ping.seabed;
    char reduced[24], surface[24], echo[24];
    metres_field(seabed->has_bottom, seabed->reduced_m, reduced, sizeof reduced);
    metres_field(seabed->has_bottom, seabed->reduced_m + ping.level_m, surface, sizeof surface);
    metres_field(seabed->has_bottom, seabed->echo_m, echo, sizeof echo);
    return fprintf(truth, ",%s,%s,%s,%.3f,%.3f,%.2f,%.7f,%.7f,%s,%d", reduced,
                   plan.sea.tide ? plan.sea.datum : SURFACE_REFERENCE, surface, ping.level_m, ping.motion.heave_m,
                   ping.fix.course, ping.transducer.latitude, ping.transducer.longitude, echo, seabed->spike ? 1 : 0);
}

void write_truth()
{
    if (truth == nullptr || !truth_kept) return;
    CivilTime utc;
    timestamp_civil_of_ms(ping.utc_ms, &utc);
    const SeabedPing* seabed = &ping.seabed;
    bool school = seabed->fish_count > 0;
    char depth[24], top[24], bottom[24];
    metres_field(seabed->has_bottom, seabed->depth_m, depth, sizeof depth);
    metres_field(school, seabed->school_top_m, top, sizeof top);
    metres_field(school, seabed->school_bottom_m, bottom, sizeof bottom);
    int written = fprintf(truth, "%ld,%04d-%02d-%02dT%02d:%02d:%02d.%03dZ,%.7f,%.7f,%d,%s,%s,%s", ping.number,
                          utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, utc.millisecond,
                          ping.fix.latitude, ping.fix.longitude, ping.range, depth, top, bottom);
    if (written >= 0 && plan.truth_reduced) written = write_truth_reduced();
    if (written < 0 || fputc('\n', truth) == EOF || fflush(truth) != 0) truth_failed();
}

// Where the vessel, its transducer and the sea's surface are at the ping's first packet.
void place_ping()
{
    ping.survey_ms = plan.ping_rate > 0 ? plat_monotonic_ms() - plan.epoch_ms : (ping.number - 1) * UNPACED_PING_MS;
    PlatPreciseTime now;
    plat_precise_time(&now);
    ping.utc_ms = now.seconds * 1000 + now.milliseconds;
    double seconds = static_cast<double>(ping.survey_ms) / 1000.0;
    vessel_at(&plan.vessel, seconds, &ping.fix);
    vessel_transducer_at(&plan.vessel, &ping.fix, &ping.transducer);
    vessel_motion_at(&plan.vessel, seconds, &ping.motion);
    ping.level_m = sea_level_at(&plan.sea, ping.utc_ms);
}

// The ping's samples for the range and gain a command asks; its truth once, with its first packet.
void make_ping(const SwitchCommand* command)
{
    if (ping.made && ping.range == command->range && ping.gain == command->gain) return;
    bool first = !ping.made;
    if (first) place_ping();
    ping.range = command->range;
    ping.gain = command->gain;
    SeabedWater water = {&plan.sea, ping.level_m, plan.vessel.draft_m - ping.motion.heave_m, plan.spike_one_in};
    seabed_ping(plan.seed, &ping.transducer, ping.survey_ms, ping.range, &water, &ping.seabed);
    seabed_samples(&ping.seabed, plan.seed, ping.survey_ms, ping.gain, ping.samples);
    ping.made = true;
    if (first) write_truth();
}

// Head status: identity, a running reply counter, the range and gain echoed,
// the packet number asked for and the data size in hundreds of bytes.
void echo_status_fill(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command)
{
    ++head_reply_counter;
    packet[3] = HEAD_ID;
    packet[4] = HEAD_STATUS_READY;
    return_packet_set_number(packet, static_cast<uint8_t>((head_reply_counter & 0x1F) << 3),
                             return_packet_number(packet));
    packet[6] = static_cast<uint8_t>(head_reply_counter & 0xFF);
    packet[7] = static_cast<uint8_t>(head_reply_counter >> 8);
    packet[8] = static_cast<uint8_t>(command->range);
    packet[9] = static_cast<uint8_t>(command->gain);
    packet[10] = static_cast<uint8_t>(command->packet_number);
    packet[11] = RETURN_DATA_SIZE / 100;
}

void echo_rewind()
{
    ping.number = 0;
    ping.made = false;
}

bool echo_next_ping(long* wait_ms)
{
    ++ping.number;
    ping.made = false;
    *wait_ms = plan.ping_rate > 0 ? 1000 / plan.ping_rate : 0;
    return true;
}

void echo_build(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand* command, int packet_number)
{
    make_ping(command);
    // The data of the packet asked for, whatever number the header is given (a fault may give another).
    return_packet_build(packet, packet_number, ping.samples + (command->packet_number & 7) * RETURN_DATA_SIZE);
    echo_status_fill(packet, command);
}

// Whether path ends in suffix (in capitals), letter case ignored.
bool has_suffix(const char* path, const char* suffix)
{
    size_t length = strlen(path), suffix_length = strlen(suffix);
    if (length < suffix_length) return false;
    const char* tail = path + length - suffix_length;
    for (size_t i = 0; i < suffix_length; ++i) {
        if (toupper(static_cast<unsigned char>(tail[i])) != suffix[i]) return false;
    }
    return true;
}

// Raw survey data, a data file or a navigation log, by its name (ending in .QKV or .NAV, letter case ignored) or
// by its first bytes (a record's, a stamped line's): never written over, so a truth file named by mistake cannot
// cost a recording or a day's positions. What it is, or null.
const char* raw_data_kind(const char* path)
{
    if (has_suffix(path, DATA_FILE_SUFFIX)) return "a data file";
    if (has_suffix(path, NAVFILE_FILE_SUFFIX)) return "a navigation log";
    FILE* file = wire_is_regular_file(path) ? fopen(path, "rb") : nullptr;  // a pipe is read by nobody yet
    if (file == nullptr) return nullptr;
    char first[NAVFILE_LINE_SIZE] = {};
    size_t got = fread(first, 1, sizeof first - 1, file);
    fclose(file);
    if (record_starts_file(reinterpret_cast<const uint8_t*>(first), got)) return "a data file";
    NavTime stamp;
    const char* end = nullptr;
    return navfile_time_parse(first, &stamp, &end) && *end == ' ' ? "a navigation log" : nullptr;
}

// A file of headsim's opened for writing: 0, or the exit status with the reason on stderr.
int open_output(const char* option, const char* what, const char* path, FILE** file)
{
    const char* raw = raw_data_kind(path);
    if (raw != nullptr) {
        fprintf(stderr, "headsim: %s %s is %s (a name ending in .QKV or .NAV, or a file starting as a record "
                        "or a stamped line does); not writing over it\n", option, path, raw);
        return 2;
    }
    *file = fopen(path, "w");
    if (*file != nullptr) return 0;
    fprintf(stderr, "headsim: cannot write the %s %s: %s\n", what, path, strerror(errno));
    return 1;
}

// The tide's level every six minutes, as a gauge records it: UTC times, the surface above the datum, positive up.
bool write_gauge_lines(FILE* file)
{
    PlatPreciseTime now;
    plat_precise_time(&now);
    int64_t start_ms = now.seconds * 1000 + now.milliseconds;
    int64_t first_ms = start_ms / SEA_GAUGE_INTERVAL_MS * SEA_GAUGE_INTERVAL_MS;
    bool written = fputs(GAUGE_HEADER, file) >= 0;
    for (int64_t at = first_ms; written && at <= first_ms + GAUGE_SPAN_MS; at += SEA_GAUGE_INTERVAL_MS) {
        CivilTime utc;
        timestamp_civil_of_ms(at, &utc);
        written = fprintf(file, "%04d-%02d-%02dT%02d:%02d:%02dZ,%.3f\n", utc.year, utc.month, utc.day, utc.hour,
                          utc.minute, utc.second, sea_level_at(&plan.sea, at)) > 0;
    }
    return written;
}

// The speed of sound at the sea's points, as a probe exports its cast on the way down.
bool write_cast_lines(FILE* file)
{
    bool written = fputs(CAST_HEADER, file) >= 0;
    for (int i = 0; written && i < plan.sea.speed_points; ++i) {
        written = fprintf(file, "%.3f,%.3f\n", plan.sea.speed_depth_m[i], plan.sea.speed_m_s[i]) > 0;
    }
    return written;
}

// Writes a whole file of the instruments' (null path: none): 0, or the exit status with the reason on stderr.
int write_instrument(const char* option, const char* what, const char* path, bool (*lines)(FILE*))
{
    FILE* file = nullptr;
    int refused = path == nullptr ? 0 : open_output(option, what, path, &file);
    if (file == nullptr) return refused;
    bool written = lines(file);
    if (fclose(file) == 0 && written) return 0;
    fprintf(stderr, "headsim: cannot write the %s %s: %s\n", what, path, strerror(errno));
    return 1;
}

}  // namespace

int echo_open(const EchoPlan* given)
{
    plan = *given;
    int refused = write_instrument("--tide-gauge", "tide gauge's file", plan.gauge_path, write_gauge_lines);
    if (refused == 0) refused = write_instrument("--cast", "cast", plan.cast_path, write_cast_lines);
    if (refused != 0 || plan.truth_path == nullptr) return refused;
    refused = open_output("--truth", "truth file", plan.truth_path, &truth);
    if (refused != 0) return refused;
    if (fputs(TRUTH_HEADER, truth) < 0 || (plan.truth_reduced && fputs(TRUTH_REDUCED_HEADER, truth) < 0) ||
        fputc('\n', truth) == EOF || fflush(truth) != 0) {
        truth_failed();
    }
    return truth_kept ? 0 : 1;
}

bool echo_truth_kept() { return truth_kept; }

void echo_close()
{
    if (truth != nullptr && fclose(truth) != 0) truth_failed();
    truth = nullptr;
}

const ReplySource ECHO_SOURCE = {echo_rewind, echo_next_ping, echo_build};
