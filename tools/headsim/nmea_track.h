// headsim's simulated track: the survey vessel's position, sent as NMEA GGA
// and RMC sentences over UDP to loopback while headsim serves the head.
#pragma once

#include <cstdint>

#include "tools/headsim/vessel.h"

constexpr long TRACK_RATE_MAX_HZ = 10;

// Starts sending rate_hz fixes a second to 127.0.0.1:port, each the vessel's
// position on the survey's clock (epoch_ms on the monotonic clock is its start);
// false, with the reason on stderr, when it cannot.
bool track_start(uint16_t port, long rate_hz, const VesselPlan* plan, int64_t epoch_ms);
// Stops sending (headsim ending).
void track_stop();
