// headsim's simulated track: the survey vessel's position, sent as NMEA GGA
// and RMC sentences over UDP to loopback while headsim serves the head, and
// its heading, heave, roll and pitch as a motion sensor and a gyro send them.
#pragma once

#include <cstdint>

#include "tools/headsim/vessel.h"

constexpr long TRACK_RATE_MAX_HZ = 10;

struct TrackRates {
    long fix_hz;     // GGA and RMC, 1 to TRACK_RATE_MAX_HZ
    long motion_hz;  // $PASHR and $HEHDT; 0: none
};

// Starts sending the rates' fixes a second to 127.0.0.1:port, each the
// vessel's position on the survey's clock (epoch_ms on the monotonic clock is
// its start), and its motion sensor's and gyro's sentences; false, with the
// reason on stderr, when it cannot.
bool track_start(uint16_t port, const TrackRates* rates, const VesselPlan* plan, int64_t epoch_ms);
// Stops sending (headsim ending).
void track_stop();
