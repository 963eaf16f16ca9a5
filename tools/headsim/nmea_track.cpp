#include "tools/headsim/nmea_track.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "navfile/nmea.h"
#include "platform/platform.h"
#include "tools/headsim/utc.h"
#include "tools/headsim/wire.h"

namespace {

const double METRES_PER_SECOND_PER_KNOT = 1852.0 / 3600.0;

std::thread sender;
std::atomic<bool> stopping{false};
int track_socket = -1;
uint16_t track_port = 0;
VesselPlan track_plan;
int64_t track_epoch_ms = 0;

void send_sentence(char* text, int length)
{
    size_t whole = nmea_append_checksum(text, static_cast<size_t>(length));
    memcpy(text + whole, "\r\n", 3);
    wire_loopback_udp_send(track_socket, track_port, text, whole + 2);
}

// The GGA and RMC of the vessel at a time of the survey, stamped with UTC now.
void send_fix(double seconds)
{
    VesselFix fix;
    vessel_at(&track_plan, seconds, &fix);
    char lat[NMEA_ANGLE_FIELDS_SIZE], lon[NMEA_ANGLE_FIELDS_SIZE], clock[24], date[8];
    nmea_angle_fields(fix.latitude, 2, "NS", lat, sizeof lat);
    nmea_angle_fields(fix.longitude, 3, "EW", lon, sizeof lon);
    PlatPreciseTime now;
    plat_precise_time(&now);
    UtcFields utc;
    headsim_utc_fields(now.seconds, &utc);
    snprintf(clock, sizeof clock, "%02d%02d%02d.%02d", utc.hour, utc.minute, utc.second, now.milliseconds / 10);
    snprintf(date, sizeof date, "%02d%02d%02d", utc.day, utc.month, utc.year % 100);
    char text[NMEA_SENTENCE_MAX + 8];
    int length = snprintf(text, sizeof text, "$GPGGA,%s,%s,%s,1,09,0.9,12.3,M,47.0,M,,", clock, lat, lon);
    send_sentence(text, length);
    length = snprintf(text, sizeof text, "$GPRMC,%s,A,%s,%s,%.1f,%.1f,%s,,,A", clock, lat, lon, fix.knots,
                      fix.course, date);
    send_sentence(text, length);
}

void send_track(long rate_hz)
{
    long period_ms = 1000 / rate_hz;
    int64_t started_ms = plat_monotonic_ms();
    for (long fix = 0; !stopping && !wire_stop_requested(); ++fix) {
        send_fix(static_cast<double>(plat_monotonic_ms() - track_epoch_ms) / 1000.0);
        int64_t due_ms = started_ms + (fix + 1) * period_ms;
        if (!wire_sleep_ms(static_cast<long>(due_ms - plat_monotonic_ms()))) break;
    }
}

}  // namespace

bool track_start(uint16_t port, long rate_hz, const VesselPlan* plan, int64_t epoch_ms)
{
    track_socket = wire_loopback_udp_open();
    if (track_socket < 0) return false;
    track_port = port;
    track_plan = *plan;
    track_epoch_ms = epoch_ms;
    sender = std::thread(send_track, rate_hz < 1 ? 1 : rate_hz > TRACK_RATE_MAX_HZ ? TRACK_RATE_MAX_HZ : rate_hz);
    return true;
}

void track_stop()
{
    stopping = true;
    if (sender.joinable()) sender.join();
    if (track_socket >= 0) wire_close(track_socket);
    track_socket = -1;
}
