// qkvdump --follow: a live waterfall in the terminal of a data file as the
// program records it.
#pragma once

#include <cstdint>

#include "depth/picker.h"

struct FollowDepth {
    bool on;                 // --depth
    DepthSettings settings;  // --blank
    double draft_m;          // --draft: added to the depth shown
    const char* nmea_address;  // --nmea-out: where the depth sentences go (IPv4); null: nowhere
    uint16_t nmea_port;
};

// Follows path as it grows, and a file moved over its name from its start;
// with path null, the most recently created data file of today in the current
// directory, moving on to a newer one when the next run starts.
// Returns the exit status: 0 when ended by a quit key or an end asked by the
// system (platform/terminal.h), 1 when path cannot be opened, 2 when there is
// no terminal it can draw on.
// With depth->on, each ping's bottom is picked (two pings late, as the picker
// decides) and drawn as a red line over the waterfall, and the latest depth
// is in the status line; with depth->nmea_address each ping's depth is sent
// there as NMEA DPT and DBT sentences, one datagram each, and without a
// terminal (a service) nothing is drawn and they are only sent.
int follow_run(const char* path, const FollowDepth* depth);
