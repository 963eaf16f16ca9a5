// headsim's simulated track: a vessel under way, its position sent as NMEA
// GGA and RMC sentences over UDP to loopback while headsim serves the head.
#pragma once

#include <cstdint>

constexpr long TRACK_RATE_MAX_HZ = 10;

// Starts sending rate_hz fixes a second to 127.0.0.1:port; false, with the reason on stderr, when it cannot.
bool track_start(uint16_t port, long rate_hz);
// Stops sending (headsim ending).
void track_stop();
