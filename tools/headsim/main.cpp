// headsim: a simulated sonar head for trials without hardware. It listens on
// TCP and answers every switch command with one return packet, of the echo of
// a simulated seabed under a survey vessel or of a survey the program
// recorded, and can be told to misbehave on chosen commands so the program's
// recovery paths can be exercised. It can also send the vessel's track as
// NMEA over UDP to loopback, for navlog, with a motion sensor's and a gyro's
// sentences, and write the truth of each ping it serves: its depth below the
// transducer, and below a datum through a tide, a speed of sound, the
// vessel's heave and its transducer's offset. Linux only.

#include <cstdio>

#include "platform/platform.h"
#include "tools/headsim/nmea_track.h"
#include "tools/headsim/options.h"
#include "tools/headsim/reply_source.h"
#include "tools/headsim/seabed.h"
#include "tools/headsim/server.h"

namespace {

// --depth-at: the seabed's depth below the datum at each "LON LAT" line of standard input, for a test's truth.
int answer_depths(const Options* options)
{
    char line[256];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        double longitude = 0, latitude = 0, east = 0, north = 0;
        if (sscanf(line, "%lf %lf", &longitude, &latitude) != 2) {
            putchar('\n');
            continue;
        }
        vessel_place(&options->vessel, latitude, longitude, &east, &north);
        printf("%.4f\n", seabed_depth(options->seed, east, north, options->depth_at_m));
    }
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    int parsed = options_parse(argc, argv, &options);
    if (parsed == 1) return 0;
    if (parsed != 0) return 2;
    if (options.depth_at_m > 0) return answer_depths(&options);
    // The survey starts now, for the seabed and the track alike.
    int64_t epoch_ms = plat_monotonic_ms();
    const ReplySource* source = &ECHO_SOURCE;
    if (options.replay_path != nullptr) {
        if (!replay_open(options.replay_path, options.loop)) return 2;
        source = &REPLAY_SOURCE;
    } else {
        EchoPlan plan = {options.seed,       options.ping_rate,     options.vessel,
                         options.sea,        options.spike_one_in,  options.truth_path,
                         options.truth_reduced, options.gauge_path, options.cast_path, epoch_ms};
        int refused = echo_open(&plan);
        if (refused != 0) return refused;
    }
    TrackRates rates = {options.nmea_rate_hz, options.motion_rate_hz};
    if (options.nmea_port != 0 && !track_start(options.nmea_port, &rates, &options.vessel, epoch_ms)) return 1;
    int status = server_run(&options, source);
    track_stop();
    echo_close();
    return echo_truth_kept() ? status : 1;
}
