// Where and when a ping was, as every export gives it: its UTC time, from its
// record's local time by the run's time basis (navlog's .NAV lines, an offset
// given, or the computer's zone), its position from the .NAV lines and what
// their sensors said at its time, and its bottom below the surface from the
// picker's verdict and the transducer's draft. Pings are taken in the order
// read, one after the other.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/nav_motion.h"
#include "tools/qkvdump/ping_export.h"
#include "navfile/ping_time.h"

enum PingTimeBasis { PING_BASIS_MACHINE, PING_BASIS_OFFSET, PING_BASIS_NAV };
constexpr int PING_BASIS_TEXT_SIZE = 256;

struct PingLocator {
    PingTimeBasis basis;
    int offset_seconds;  // PING_BASIS_OFFSET: the record times' UTC offset
    NavJoin* join;       // PING_BASIS_NAV: the .NAV lines, begun
    NavMotion* motion;   // with join: the lines' sensors, read through by join; null: none asked for
    bool timed;          // times and positions are worked out; else the bottom alone (a listing, a plain picture)
    bool with_depth;     // the pings' bottoms are the picker's
    double draft_m;      // added to the picked distance
    // From ping to ping.
    bool any_time;            // a ping before had a time
    int64_t previous_utc_ms;  // its UTC time
    PingTimeZoneMinute zone_minute;
    long nav_pings;  // joined to the .NAV lines
    long placed;     // of them, those given a position
};

// Clears what is kept from ping to ping.
void ping_locate_begin(PingLocator* locator);
// The ping whose view and origin are given: its bottom from depth (the picker's verdict, with_depth), and when
// timed its time and position.
void ping_locate(PingLocator* locator, const PingDepth* depth, ExportPing* ping);
// How the record times were made UTC, in words, for the files that carry them.
void ping_locate_basis_text(const PingLocator* locator, char text[PING_BASIS_TEXT_SIZE]);
// Pings were joined to the .NAV lines, and not one was given a position (another day's file).
bool ping_locate_none_placed(const PingLocator* locator);
// After the last ping: what the .NAV lines lacked, on messages.
void ping_locate_tell(const PingLocator* locator, FILE* messages);
