#include "tools/qkvdump/ping_locate.h"

namespace {

PingBottom bottom_of(const PingDepth* depth, double draft_m)
{
    bool known = depth->known;
    return PingBottom{known, depth->distance_m, known, known ? depth->distance_m + draft_m : 0.0,
                      known ? depth->quality : 0, depth->dropped, depth->dropped ? depth->quality : 0};
}

// The ping's UTC time by the basis, and by the .NAV lines its position; none where its texts are no time.
void locate_in_time(PingLocator* l, ExportPing* ping)
{
    int64_t local_ms = 0;
    ping->time_known = pingtime_from_record(ping->view, &local_ms);
    if (!ping->time_known) return;
    if (l->basis == PING_BASIS_OFFSET) {
        ping->utc_ms = local_ms - l->offset_seconds * 1000LL;
    } else {
        // Without any line to give the offset, the computer's zone stands in.
        ping->utc_ms = pingtime_machine_utc(local_ms, l->any_time ? &l->previous_utc_ms : nullptr, &l->zone_minute);
    }
    if (l->basis == PING_BASIS_NAV) {
        nav_join_locate(l->join, local_ms, &ping->utc_ms, &ping->position);
        if (l->motion != nullptr) nav_motion_at(l->motion, ping->utc_ms, &ping->motion);
        ++l->nav_pings;
        l->placed += ping->position.known;
    }
    l->any_time = true;
    l->previous_utc_ms = ping->utc_ms;
}

}  // namespace

void ping_locate_begin(PingLocator* locator)
{
    locator->any_time = false;
    locator->previous_utc_ms = 0;
    locator->zone_minute = PingTimeZoneMinute{};
    locator->nav_pings = 0;
    locator->placed = 0;
}

void ping_locate(PingLocator* locator, const PingDepth* depth, ExportPing* ping)
{
    ping->time_known = false;
    ping->utc_ms = 0;
    ping->position = PingPosition{};
    ping->motion = PingMotion{};
    ping->with_depth = locator->with_depth;
    ping->bottom = locator->with_depth ? bottom_of(depth, locator->draft_m) : PingBottom{};
    if (locator->timed) locate_in_time(locator, ping);
}

void ping_locate_basis_text(const PingLocator* locator, char text[PING_BASIS_TEXT_SIZE])
{
    char offset[PINGTIME_OFFSET_SIZE];
    char zone[64];
    const char* local = "record times are the acquisition computer's local time, made UTC";
    // Navigation files without a single fix give no offset: the computer's zone stands in, and is named.
    bool nav_offset = locator->basis == PING_BASIS_NAV && locator->join->after.present;
    switch (nav_offset || locator->basis != PING_BASIS_NAV ? locator->basis : PING_BASIS_MACHINE) {
    case PING_BASIS_NAV:
        snprintf(text, PING_BASIS_TEXT_SIZE, "%s with the UTC offsets of the navigation log's lines", local);
        break;
    case PING_BASIS_OFFSET:
        pingtime_offset_text(locator->offset_seconds, offset);
        snprintf(text, PING_BASIS_TEXT_SIZE, "%s with the UTC offset %s given (--utc-offset)", local, offset);
        break;
    default:
        plat_zone_names(zone, sizeof zone);
        snprintf(text, PING_BASIS_TEXT_SIZE, "%s with the time zone of the computer that ran qkvdump (%s)", local,
                 zone);
        break;
    }
}

bool ping_locate_none_placed(const PingLocator* locator)
{
    return locator->nav_pings > 0 && locator->placed == 0;
}

void ping_locate_tell(const PingLocator* locator, FILE* messages)
{
    const NavJoin* join = locator->join;
    for (int reason = 0; reason < NAV_SKIP_COUNT; ++reason) {
        long lines = join->skipped[reason];
        if (lines > 0) {
            fprintf(messages, "qkvdump: --nav: %ld line%s skipped: %s\n", lines, lines == 1 ? "" : "s",
                    NAV_SKIP_REASONS[reason]);
        }
    }
    if (ping_locate_none_placed(locator)) {
        fprintf(messages,
                "qkvdump: --nav: no ping has a position: no fix of the .NAV files lies within %lld s of one (the "
                "day's .NAV file?)\n",
                static_cast<long long>(NAV_FIX_REACH_MS / 1000));
    }
    if (join->jumps > 0) {
        // The stamp of the fix after the first jump, as its line shows it.
        const NavClockJump* jump = &join->first_jump;
        NavTime at;
        timestamp_civil_of_ms(jump->utc_ms + jump->offset_seconds * 1000LL, &at);
        at.utc_offset_seconds = jump->offset_seconds;
        char stamp[NAVFILE_TIME_TEXT_SIZE];
        navfile_time_text(&at, stamp);
        long long size = jump->size_ms < 0 ? -jump->size_ms : jump->size_ms;
        if (jump->at_first_fix) {
            fprintf(messages,
                    "qkvdump: --nav: the receiver's time is %lld.%03lld s %s the computer's stamps from the first fix "
                    "on, stamped %s (a replayed log, a simulator, a clock set wrong?)",
                    size / 1000, size % 1000, jump->size_ms < 0 ? "behind" : "ahead of", stamp);
        } else {
            fprintf(messages,
                    "qkvdump: --nav: the receiver's time jumped %lld.%03lld s %s against the computer's stamps at the "
                    "line stamped %s",
                    size / 1000, size % 1000, jump->size_ms < 0 ? "back" : "ahead", stamp);
        }
        if (join->jumps > 1) fprintf(messages, " (and %ld times more)", join->jumps - 1);
        fputs("; positions are joined by the stamps\n", messages);
    }
    if (join->unplaced > 0) {
        fprintf(messages,
                "qkvdump: --nav: %ld ping%s without a position: the records' clock went back with no such step "
                "in the .NAV lines (UTC times from the offset of the lines before)\n",
                join->unplaced, join->unplaced == 1 ? "" : "s");
    }
    long beyond_fixes = locator->nav_pings - locator->placed - join->unplaced;
    if (beyond_fixes > 0 && !ping_locate_none_placed(locator)) {
        fprintf(messages,
                "qkvdump: --nav: %ld of %ld pings without a position: no measured fix within %lld s before and "
                "after them\n",
                beyond_fixes, locator->nav_pings, static_cast<long long>(NAV_FIX_REACH_MS / 1000));
    }
}
