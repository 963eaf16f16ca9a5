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

const char TRUTH_HEADER[] = "ping,time_utc,latitude,longitude,range_m,depth_m,school_top_m,school_bottom_m\n";

// The ping being served: made at its first packet, made again only if a packet asks for another range or gain.
struct EchoPing {
    long number;  // within the connection, from 1
    bool made;
    int range;
    int gain;
    int64_t survey_ms;  // its time on the survey's clock
    VesselFix fix;
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

void write_truth()
{
    if (truth == nullptr || !truth_kept) return;
    PlatPreciseTime now;
    plat_precise_time(&now);
    CivilTime utc;
    timestamp_civil_of_ms(now.seconds * 1000 + now.milliseconds, &utc);
    const SeabedPing* seabed = &ping.seabed;
    bool school = seabed->fish_count > 0;
    char depth[24], top[24], bottom[24];
    metres_field(seabed->has_bottom, seabed->depth_m, depth, sizeof depth);
    metres_field(school, seabed->school_top_m, top, sizeof top);
    metres_field(school, seabed->school_bottom_m, bottom, sizeof bottom);
    int written = fprintf(truth, "%ld,%04d-%02d-%02dT%02d:%02d:%02d.%03dZ,%.7f,%.7f,%d,%s,%s,%s\n", ping.number,
                          utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, utc.millisecond,
                          ping.fix.latitude, ping.fix.longitude, ping.range, depth, top, bottom);
    if (written < 0 || fflush(truth) != 0) truth_failed();
}

// The ping's samples for the range and gain a command asks; its truth once, with its first packet.
void make_ping(const SwitchCommand* command)
{
    if (ping.made && ping.range == command->range && ping.gain == command->gain) return;
    bool first = !ping.made;
    if (first) {
        ping.survey_ms = plan.ping_rate > 0 ? plat_monotonic_ms() - plan.epoch_ms : (ping.number - 1) * UNPACED_PING_MS;
        vessel_at(&plan.vessel, static_cast<double>(ping.survey_ms) / 1000.0, &ping.fix);
    }
    ping.range = command->range;
    ping.gain = command->gain;
    seabed_ping(plan.seed, &ping.fix, ping.survey_ms, ping.range, &ping.seabed);
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

}  // namespace

int echo_open(const EchoPlan* given)
{
    plan = *given;
    if (plan.truth_path == nullptr) return 0;
    const char* raw = raw_data_kind(plan.truth_path);
    if (raw != nullptr) {
        fprintf(stderr, "headsim: --truth %s is %s (a name ending in .QKV or .NAV, or a file starting as a record "
                        "or a stamped line does); not writing over it\n", plan.truth_path, raw);
        return 2;
    }
    truth = fopen(plan.truth_path, "w");
    if (truth == nullptr) {
        fprintf(stderr, "headsim: cannot write the truth file %s: %s\n", plan.truth_path, strerror(errno));
        return 1;
    }
    if (fputs(TRUTH_HEADER, truth) < 0 || fflush(truth) != 0) truth_failed();
    return truth_kept ? 0 : 1;
}

bool echo_truth_kept() { return truth_kept; }

void echo_close()
{
    if (truth != nullptr && fclose(truth) != 0) truth_failed();
    truth = nullptr;
}

const ReplySource ECHO_SOURCE = {echo_rewind, echo_next_ping, echo_build};
