// headsim's command line.
#pragma once

#include <cstdint>

#include "tools/headsim/faults.h"
#include "tools/headsim/sea.h"
#include "tools/headsim/vessel.h"

constexpr int OPTIONS_ADDRESS_SIZE = 64;
constexpr int OPTIONS_FAULTS_MAX = 64;

struct Options {
    char address[OPTIONS_ADDRESS_SIZE];
    uint16_t port;
    long delay_ms;
    long split;
    long split_gap_ms;
    bool once;
    long max_connections;     // 0: unlimited
    const char* replay_path;  // null: synthetic echoes
    bool loop;
    double speed;             // recorded waits are divided by this
    bool as_fast_as_asked;    // recorded waits are skipped
    uint16_t nmea_port;       // 0: no simulated track
    long nmea_rate_hz;
    long motion_rate_hz;      // with the track, the motion sensor's and the gyro's sentences; 0: none
    long ping_rate;           // synthetic pings a second; 0: as fast as asked
    const char* truth_path;   // null: no truth file
    uint32_t seed;            // the seabed's
    double depth_at_m;        // --depth-at: the range to answer the true depths at; 0: serve pings
    VesselPlan vessel;
    SeaPlan sea;
    uint32_t spike_one_in;    // 0: no spikes
    bool truth_reduced;       // an option of the sea or the vessel's motion given: the truth says what they did
    const char* gauge_path;   // the tide's levels as a gauge records them; null: not written
    const char* cast_path;    // the speed of sound as a probe's cast; null: not written
    Fault faults[OPTIONS_FAULTS_MAX];
    int fault_count;
};

// 0: parsed; 1: help or version shown; 2: bad option (message already on stderr).
int options_parse(int argc, char** argv, Options* options);
