#include "tools/headsim/nmea_track.h"

#include <atomic>
#include <cstdint>
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

int64_t utc_now_ms()
{
    PlatPreciseTime now;
    plat_precise_time(&now);
    return now.seconds * 1000 + now.milliseconds;
}

void send(const char* text, size_t length)
{
    if (length > 0) wire_loopback_udp_send(track_socket, track_port, text, length);
}

// The GGA and RMC of the vessel at a time of the survey, stamped with UTC now:
// a GPS fix of nine satellites, the antenna 12.3 m above the geoid.
void send_fix(double seconds)
{
    VesselFix at;
    vessel_at(&track_plan, seconds, &at);
    NmeaFixOut fix = {{}, at.latitude, at.longitude, 1, 9, 0.9, 12.3, 47.0, at.knots, at.course};
    timestamp_civil_of_ms(utc_now_ms(), &fix.utc);
    char text[NMEA_SENTENCE_MAX + 1];
    send(text, nmea_gga(&fix, text, sizeof text));
    send(text, nmea_rmc(&fix, text, sizeof text));
}

// The motion sensor's attitude and the gyro's heading: the vessel's heading is its course.
void send_motion(double seconds)
{
    VesselFix at;
    vessel_at(&track_plan, seconds, &at);
    VesselMotion motion;
    vessel_motion_at(&track_plan, seconds, &motion);
    const int64_t MS_A_DAY = 86400000;
    NmeaAttitude attitude = {static_cast<long>(utc_now_ms() % MS_A_DAY), true, at.course, true, motion.roll_degrees,
                             true, motion.pitch_degrees, true, motion.heave_m};
    char text[NMEA_SENTENCE_MAX + 1];
    send(text, nmea_pashr(&attitude, text, sizeof text));
    send(text, nmea_hdt(at.course, text, sizeof text));
}

// The fixes and the motion, each at its own rate from the start, until headsim stops.
void send_track(TrackRates rates)
{
    long fix_period_ms = 1000 / rates.fix_hz;
    int64_t started_ms = plat_monotonic_ms();
    long fixes = 0, motions = 0;
    while (!stopping && !wire_stop_requested()) {
        int64_t fix_due_ms = started_ms + fixes * fix_period_ms;
        int64_t motion_due_ms = rates.motion_hz > 0 ? started_ms + motions * 1000 / rates.motion_hz : INT64_MAX;
        int64_t due_ms = fix_due_ms < motion_due_ms ? fix_due_ms : motion_due_ms;
        if (!wire_sleep_ms(static_cast<long>(due_ms - plat_monotonic_ms()))) break;
        double seconds = static_cast<double>(plat_monotonic_ms() - track_epoch_ms) / 1000.0;
        if (due_ms == fix_due_ms) {
            send_fix(seconds);
            ++fixes;
        }
        if (due_ms == motion_due_ms) {
            send_motion(seconds);
            ++motions;
        }
    }
}

}  // namespace

bool track_start(uint16_t port, const TrackRates* rates, const VesselPlan* plan, int64_t epoch_ms)
{
    track_socket = wire_loopback_udp_open();
    if (track_socket < 0) return false;
    track_port = port;
    track_plan = *plan;
    track_epoch_ms = epoch_ms;
    long fix_hz = rates->fix_hz < 1 ? 1 : rates->fix_hz > TRACK_RATE_MAX_HZ ? TRACK_RATE_MAX_HZ : rates->fix_hz;
    sender = std::thread(send_track, TrackRates{fix_hz, rates->motion_hz});
    return true;
}

void track_stop()
{
    stopping = true;
    if (sender.joinable()) sender.join();
    if (track_socket >= 0) wire_close(track_socket);
    track_socket = -1;
}
