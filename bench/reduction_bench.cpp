// Benchmark: the reduction's cost per ping, with nothing asked for and with
// every correction on (a cast of 200 points through which the sound goes, a
// water-level series of ten days at six minutes, heave and heading joined from
// motion tracks at 50 Hz, the transducer's offset, gates, an edit list of 220
// edits, the spike stream). Prints pings per second of the process's own
// CPU time; asserts nothing.
//   reduction_bench [PINGS]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "reduction/motion.h"
#include "reduction/reduction.h"
#include "reduction/spike.h"

namespace {

SoundSpeedProfile profile;
WaterLevelSeries series;
EditList edits;
MotionTrack heave, heading;

const int64_t START_MS = 1796720400000LL;  // 2026-12-08T09:00:00Z
constexpr int PING_MS = 100;
constexpr int MOTION_MS = 20;

void say(void*, const FieldsProblem* problem) { fprintf(stderr, "%s\n", problem->text); }

void make_sources()
{
    double depths[200], speeds[200];
    for (int i = 0; i < 200; ++i) {
        depths[i] = i * 0.5;
        speeds[i] = 1490 - 0.2 * i + 3 * std::sin(i * 0.1);
    }
    sound_speed_profile_of(&profile, depths, speeds, 200);
    std::string text = "time,level_m\n";
    char line[80];
    for (int i = 0; i < 2400; ++i) {
        char time[FIELDS_TIME_TEXT_SIZE];
        fields_utc_text(START_MS - 86400000LL + i * 360000LL, time);
        snprintf(line, sizeof line, "%s,%.3f\n", time, 2.0 + 1.5 * std::sin(i * 0.0843));
        text += line;
    }
    water_level_read(&series, text.data(), text.size(), say, nullptr);
    text = "edit-list 1\n";
    for (int i = 0; i < 200; ++i) {
        snprintf(line, sizeof line, "reject 08DEC2026-%04d.QKV %d-%d wake\n", i % 4 + 1, i * 500 + 1, i * 500 + 20);
        text += line;
    }
    for (int i = 0; i < 20; ++i) {
        char from[FIELDS_TIME_TEXT_SIZE], to[FIELDS_TIME_TEXT_SIZE];
        fields_utc_text(START_MS + i * 3600000LL, from);
        fields_utc_text(START_MS + i * 3600000LL + 30000, to);
        snprintf(line, sizeof line, "accept %s %s checked\n", from, to);
        text += line;
    }
    edits_read(&edits, text.data(), text.size(), say, nullptr);
}

void settings_all(ReductionSettings* s)
{
    reduction_settings_default(s);
    s->speed = REDUCTION_SPEED_PROFILE;
    s->profile = &profile;
    s->draft_m = 0.6;
    s->heave = true;
    s->level = REDUCTION_LEVEL_SERIES;
    s->series = &series;
    snprintf(s->datum, sizeof s->datum, "LAT");
    s->forward_m = 1.2;
    s->starboard_m = -0.4;
    s->gates = true;
    s->gate_min_m = 1;
    s->gate_max_m = 90;
    s->edits = &edits;
}

// The pings per second of a run, and a checksum of the depths so nothing is left out.
double run(const ReductionSettings* settings, bool joined, long pings, double* checksum)
{
    SpikeSettings spike_settings;
    spike_settings_default(&spike_settings);
    static SpikeStream stream;
    spike_start(&stream, &spike_settings);
    motion_track_start(&heave, false);
    motion_track_start(&heading, true);
    ReductionPing ping = {};
    ping.file_name = "/survey/08DEC2026-0001.QKV";
    ping.time_known = ping.has_bottom = ping.has_position = ping.has_course = true;
    ping.quality = 80;
    ping.speed_knots = 4;
    ReductionResult reduced, out;
    std::clock_t start = std::clock();  // the process's own time: other programs on the cores do not count
    for (long n = 0; n < pings; ++n) {
        ping.tag = n;
        ping.record = n % 100000 + 1;
        ping.utc_ms = START_MS + n * PING_MS;
        ping.distance_m = 20 + (n % 4000) * 0.001 + (n % 997 == 0 ? 6 : 0);
        ping.latitude = 51 + n * 1e-7;
        ping.longitude = 1.5 + n * 1e-7;
        ping.course_degrees = 45;
        if (joined) {
            for (int m = 0; m < PING_MS / MOTION_MS; ++m) {
                int64_t t = ping.utc_ms + m * MOTION_MS;
                double swell = (n * PING_MS + m * MOTION_MS) % 8000 / 8000.0;  // an 8 s swell, as a triangle
                motion_track_add(&heave, t, 0.3 * (swell < 0.5 ? 4 * swell - 1 : 3 - 4 * swell));
                motion_track_add(&heading, t, 45 + (n % 100) * 0.01);
            }
            ping.has_heave = motion_track_at(&heave, ping.utc_ms, &ping.heave_m);
            ping.has_heading = motion_track_at(&heading, ping.utc_ms, &ping.heading_degrees);
        }
        reduction_reduce(settings, &ping, &reduced);
        if (spike_offer(&stream, &reduced, &out)) *checksum += out.has_depth ? out.depth_m : 0;
    }
    while (spike_flush(&stream, &out)) *checksum += out.has_depth ? out.depth_m : 0;
    double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return pings / seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    long pings = argc > 1 ? atol(argv[1]) : 2000000;
    make_sources();
    ReductionSettings nothing, all;
    reduction_settings_default(&nothing);
    settings_all(&all);
    char why[200];
    if (!reduction_settings_check(&all, why, sizeof why)) {
        fprintf(stderr, "reduction_bench: %s\n", why);
        return 1;
    }
    double checksum = 0;
    printf("reduction of %ld pings, one core\n", pings);
    double bare = run(&nothing, false, pings, &checksum);
    printf("nothing asked for (the spike stream alone)   %12.0f pings/s  %7.1f ns a ping\n", bare, 1e9 / bare);
    double every = run(&all, true, pings, &checksum);
    printf("every correction, motion joined at 50 Hz    %12.0f pings/s  %7.1f ns a ping\n", every, 1e9 / every);
    printf("(checksum %.3f)\n", checksum);
    return 0;
}
