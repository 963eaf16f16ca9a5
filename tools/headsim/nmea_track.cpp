#include "tools/headsim/nmea_track.h"

#include <atomic>
#include <thread>

#include "navfile/nmea.h"
#include "platform/platform.h"
#include "store/timestamp.h"
#include "tools/headsim/wire.h"

namespace {

std::thread sender;
std::atomic<bool> stopping{false};
int track_socket = -1;
uint16_t track_port = 0;
VesselPlan track_plan;
int64_t track_epoch_ms = 0;

// The GGA and RMC of the vessel at a time of the survey, stamped with UTC now:
// a GPS fix of nine satellites, the antenna 12.3 m above the geoid.
void send_fix(double seconds)
{
    VesselFix at;
    vessel_at(&track_plan, seconds, &at);
    PlatPreciseTime now;
    plat_precise_time(&now);
    NmeaFixOut fix = {{}, at.latitude, at.longitude, 1, 9, 0.9, 12.3, 47.0, at.knots, at.course};
    timestamp_civil_of_ms(now.seconds * 1000 + now.milliseconds, &fix.utc);
    char text[NMEA_SENTENCE_MAX + 1];
    size_t length = nmea_gga(&fix, text, sizeof text);
    if (length > 0) wire_loopback_udp_send(track_socket, track_port, text, length);
    length = nmea_rmc(&fix, text, sizeof text);
    if (length > 0) wire_loopback_udp_send(track_socket, track_port, text, length);
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
