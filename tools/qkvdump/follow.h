// qkvdump --follow: a live waterfall in the terminal of a data file as the
// program records it.
#pragma once

#include <cstdint>

#include "depth/picker.h"
#include "reduction/ping_reduce.h"

struct FollowDepth {
    bool on;                 // --depth
    DepthSettings settings;  // --blank
    double draft_m;          // --draft: added to the depth shown
    bool draft_known;        // --draft given: DBS sent too
    double dpt_offset_m;     // DPT's offset: the draft, or the keel's negative
    PingReduce* reduce;      // the reduction asked for, its files read; null: none
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
// there as NMEA DPT and DBT sentences (and DBS where the draft is known), one
// datagram each, their depth fields empty for a ping with no bottom, and
// without a terminal (a service) nothing is drawn and they are only sent.
// With a reduction, the depth shown and sent is a ping's once the spike test
// has judged it, the half window of pings after the picker's verdict: the red
// line is drawn as soon as the bottom is picked; the status line gives the
// latest judged ping's depth below the reference, or its flags; a ping flagged
// for its depth (a spike, outside the gates, of low quality) is not sent.
int follow_run(const char* path, const FollowDepth* depth);
