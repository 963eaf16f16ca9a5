#include "tools/headsim/nmea_track.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "navfile/nmea.h"
#include "platform/platform.h"
#include "tools/headsim/wire.h"

namespace {

// Off the coast, steaming north-east at 4 knots: a knot is a minute of latitude an hour.
const double START_LATITUDE_MINUTES = 51 * 60 + 6.9848;
const double START_LONGITUDE_MINUTES = 1 * 60 + 23.4567;
const double SPEED_KNOTS = 4.0;
const double COURSE_DEGREES = 45.0;
const double PI = 3.14159265358979323846;
const char LOOPBACK[] = "127.0.0.1";  // the track never goes anywhere else

std::thread sender;
std::atomic<bool> stopping{false};
int track_socket = -1;
sockaddr_in destination;

// ddmm.mmmm (latitude) or dddmm.mmmm (longitude) of a value in minutes.
void angle_text(double minutes, int degree_digits, char* text, size_t size)
{
    int degrees = static_cast<int>(minutes / 60);
    snprintf(text, size, "%0*d%07.4f", degree_digits, degrees, minutes - degrees * 60.0);
}

void send_sentence(char* text, int length)
{
    size_t whole = nmea_append_checksum(text, static_cast<size_t>(length));
    memcpy(text + whole, "\r\n", 3);
    sendto(track_socket, text, whole + 2, 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

// The GGA and RMC of the vessel hours after the start, stamped with UTC now.
void send_fix(double hours)
{
    double course = COURSE_DEGREES * PI / 180.0;
    double latitude = START_LATITUDE_MINUTES + SPEED_KNOTS * hours * cos(course);
    double longitude = START_LONGITUDE_MINUTES +
                       SPEED_KNOTS * hours * sin(course) / cos(latitude / 60.0 * PI / 180.0);
    char lat[16], lon[16], clock[24], date[8];
    angle_text(latitude, 2, lat, sizeof lat);
    angle_text(longitude, 3, lon, sizeof lon);
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc = {};
    gmtime_r(&now.tv_sec, &utc);
    snprintf(clock, sizeof clock, "%02d%02d%02d.%02ld", utc.tm_hour, utc.tm_min, utc.tm_sec, now.tv_nsec / 10000000);
    strftime(date, sizeof date, "%d%m%y", &utc);
    char text[NMEA_SENTENCE_MAX + 8];
    int length = snprintf(text, sizeof text, "$GPGGA,%s,%s,N,%s,E,1,09,0.9,12.3,M,47.0,M,,", clock, lat, lon);
    send_sentence(text, length);
    length = snprintf(text, sizeof text, "$GPRMC,%s,A,%s,N,%s,E,%.1f,%.1f,%s,,,A", clock, lat, lon, SPEED_KNOTS,
                      COURSE_DEGREES, date);
    send_sentence(text, length);
}

void send_track(long rate_hz)
{
    long period_ms = 1000 / rate_hz;
    int64_t started_ms = plat_monotonic_ms();
    for (long fix = 0; !stopping && !wire_stop_requested(); ++fix) {
        send_fix(static_cast<double>(fix * period_ms) / 3600000.0);
        int64_t due_ms = started_ms + (fix + 1) * period_ms;
        if (!wire_sleep_ms(static_cast<long>(due_ms - plat_monotonic_ms()))) break;
    }
}

}  // namespace

bool track_start(uint16_t port, long rate_hz)
{
    track_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (track_socket < 0) {
        perror("headsim: track socket");
        return false;
    }
    destination = {};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    inet_pton(AF_INET, LOOPBACK, &destination.sin_addr);
    sender = std::thread(send_track, rate_hz < 1 ? 1 : rate_hz > TRACK_RATE_MAX_HZ ? TRACK_RATE_MAX_HZ : rate_hz);
    return true;
}

void track_stop()
{
    stopping = true;
    if (sender.joinable()) sender.join();
    if (track_socket >= 0) close(track_socket);
    track_socket = -1;
}
