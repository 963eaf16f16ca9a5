// navlog run for real under a pseudo-terminal: sentences sent to it over
// loopback UDP and TCP and through a pseudo-terminal standing in for a serial
// receiver, the log file read back byte for byte and with gpsbabel.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "navfile/nmea.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Client;
using e2e::ClientOptions;
using e2e::TempDir;
using e2e::navlog_options;

const char* const MONTHS[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// A sentence with its checksum, without the line end: "$" + body + "*hh".
std::string sentence(const std::string& body)
{
    char text[256];
    snprintf(text, sizeof text, "$%s", body.c_str());
    nmea_append_checksum(text, body.size() + 1);
    return text;
}

// A vessel's GGA and RMC of second n, a little further north each second.
std::string gga(int n)
{
    char body[128];
    snprintf(body, sizeof body, "GPGGA,09%02d%02d.00,51%02d.%04d,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,", n / 60 % 60,
             n % 60, 6 + n / 10000, n % 10000);
    return sentence(body);
}

std::string rmc(int n)
{
    char body[128];
    snprintf(body, sizeof body, "GPRMC,09%02d%02d.00,A,51%02d.%04d,N,00123.4567,E,4.2,0.0,081226,,,A", n / 60 % 60,
             n % 60, 6 + n / 10000, n % 10000);
    return sentence(body);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The sentences of a log file, each line's part after its time.
std::vector<std::string> logged_sentences(const std::string& path)
{
    std::vector<std::string> sentences;
    for (const std::string& line : lines_of(e2e::read_file(path))) {
        size_t blank = line.find(' ');
        sentences.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return sentences;
}

bool wait_for_lines(const std::string& path, size_t count, int timeout_ms)
{
    long long deadline = e2e::now_ms() + timeout_ms;
    while (lines_of(e2e::read_file(path)).size() < count) {
        if (e2e::now_ms() > deadline) return false;
        usleep(20000);
    }
    return true;
}

// The log file's name for a local day, as navlog names it.
std::string day_file(const struct tm& local)
{
    char name[32];
    snprintf(name, sizeof name, "%02d%s%04d.NAV", local.tm_mday, MONTHS[local.tm_mon], local.tm_year + 1900);
    return name;
}

std::string today_file() { return e2e::today() + ".NAV"; }

// The time at the start of a log line as milliseconds since 1970, UTC; -1 when it is not in the form.
long long line_time_ms(const std::string& line)
{
    struct tm fields = {};
    int millisecond = 0, offset_hours = 0, offset_minutes = 0, end = 0;
    char sign = 0;
    if (sscanf(line.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
               &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &millisecond, &sign, &offset_hours,
               &offset_minutes, &end) != 10 ||
        end != 29 || line[end] != ' ' || (sign != '+' && sign != '-')) {
        return -1;
    }
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    long long offset = (offset_hours * 3600 + offset_minutes * 60) * (sign == '-' ? -1 : 1);
    return (static_cast<long long>(timegm(&fields)) - offset) * 1000 + millisecond;
}

long long wall_ms()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What gpsbabel makes of the sentences of a log file: its CSV track, or its complaints.
std::string gpsbabel_track(const TempDir& dir, const std::string& log_name)
{
    std::string sentences;
    for (const std::string& s : logged_sentences(dir.file(log_name))) sentences += s + "\r\n";
    e2e::write_file(dir.file("sentences.nmea"), sentences);
    std::string output;
    e2e::run_command("gpsbabel -t -i nmea -f '" + dir.file("sentences.nmea") + "' -o unicsv -F '" +
                         dir.file("track.csv") + "'",
                     &output);
    return output + e2e::read_file(dir.file("track.csv"));
}

class UdpSender {
public:
    UdpSender(const char* address, uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(port);
        inet_pton(AF_INET, address, &to_.sin_addr);
    }
    ~UdpSender() { close(fd_); }
    void send(const std::string& bytes)
    {
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }

private:
    int fd_;
    sockaddr_in to_ = {};
};

// The status line is redrawn as navlog starts: it is then listening.
bool started(Client& client) { return client.wait_for("\r" + today_file(), 5000); }

// A pseudo-terminal in raw mode standing in for a receiver on a serial line.
struct FakeReceiver {
    int master = -1;
    int slave = -1;
    FakeReceiver()
    {
        struct termios raw = {};
        cfmakeraw(&raw);
        openpty(&master, &slave, nullptr, &raw, nullptr);
        fcntl(master, F_SETFD, FD_CLOEXEC);  // navlog, started after, must not hold it open
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    ~FakeReceiver() { unplug(); }
    std::string path() const { return ptsname(master); }
    void send(const std::string& bytes)
    {
        ssize_t written = write(master, bytes.data(), bytes.size());
        (void)written;
    }
    void unplug()
    {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
        master = slave = -1;
    }
};

}  // namespace

// Sentences in pieces and together are logged as received, after the local time their last byte
// came; garbage is skipped; wrong and missing checksums and over-long lines are counted, not written.
TEST(Navlog, UdpSentencesInPiecesTogetherAndBad)
{
    TempDir dir;
    Client client(dir.path(), navlog_options({"--udp", "47101", "--bind", "127.77.1.1"}));
    ASSERT_TRUE(started(client)) << client.screen();
    UdpSender receiver("127.77.1.1", 47101);
    std::string first = gga(1);
    receiver.send(first.substr(0, 11));
    receiver.send(first.substr(11) + "\r");
    usleep(200000);
    long long before_last_piece = wall_ms();
    receiver.send("\n");
    long long after_last_piece = wall_ms();
    receiver.send(rmc(2) + "\r\n" + gga(2) + "\n");
    receiver.send("garbage \x01\x02 between sentences\r\n");
    receiver.send(gga(3).substr(0, gga(3).size() - 2) + "00\r\n");
    receiver.send(gga(4).substr(0, gga(4).size() - 3) + "\r\n");
    receiver.send(sentence("GPTXT," + std::string(NMEA_TEXT_MAX - 9, 'X')) + "\r\n");
    receiver.send(rmc(5) + "\r\n");
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 4, 5000));
    ASSERT_TRUE(client.wait_for("  3 bad  GPS  9 satellites  51 06.0005 N  001 23.4567 E  0 s old", 3000))
        << client.screen();
    client.type("q");
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);

    std::vector<std::string> expected = {first, rmc(2), gga(2), rmc(5)};
    EXPECT_EQ(expected, logged_sentences(dir.file(today_file())));
    std::vector<std::string> lines = lines_of(e2e::read_file(dir.file(today_file())));
    ASSERT_EQ(4u, lines.size());
    long long arrived = line_time_ms(lines[0]);
    EXPECT_GE(arrived, before_last_piece) << lines[0];
    EXPECT_LE(arrived, after_last_piece + 100) << lines[0];
    for (const std::string& line : lines) EXPECT_NE(-1, line_time_ms(line)) << line;
    EXPECT_EQ(std::vector<std::string>{today_file()}, e2e::list_dir(dir.path()));

    std::string track = gpsbabel_track(dir, today_file());
    EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
    EXPECT_NE(std::string::npos, track.find("51.100002,1.390945")) << track;
    EXPECT_NE(std::string::npos, track.find("51.100003,1.390945")) << track;
}

// A burst of 1000 sentences is logged whole and in order; with output not a terminal the status
// is a plain line; SIGTERM ends navlog with status 0 and the file complete. Of 20,000 sent while
// it is stopped, more are kept than a default queue holds (256), and the rest counted as dropped.
TEST(Navlog, UdpBurstOfThousandPlainStatusSigterm)
{
    TempDir dir;
    ClientOptions options = navlog_options({"--udp", "47102", "--bind", "127.77.1.2"});
    options.stdout_path = dir.file("status.txt");
    Client client(dir.path(), options);
    long long deadline = e2e::now_ms() + 5000;
    while (!e2e::file_exists(dir.file("status.txt")) || e2e::read_file(dir.file("status.txt")).empty()) {
        ASSERT_LT(e2e::now_ms(), deadline);
        usleep(20000);
    }
    UdpSender receiver("127.77.1.2", 47102);
    std::vector<std::string> expected;
    for (int datagram = 0; datagram < 100; ++datagram) {
        std::string bytes;
        for (int i = 0; i < 5; ++i) {
            int n = datagram * 5 + i;
            expected.push_back(rmc(n));
            expected.push_back(gga(n));
            bytes += rmc(n) + "\r\n" + gga(n) + "\r\n";
        }
        receiver.send(bytes);
        if (datagram % 10 == 9) usleep(10000);
    }
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 1000, 10000));
    kill(client.pid(), SIGSTOP);
    for (int n = 0; n < 20000; ++n) receiver.send(sentence("GPTXT,01,01,02,burst " + std::to_string(n)) + "\r\n");
    kill(client.pid(), SIGCONT);
    for (size_t lines = 0, now = 1; now != lines; usleep(300000)) {  // until no more lines come (21,000 at most)
        lines = now;
        now = logged_sentences(dir.file(today_file())).size();
    }
    kill(client.pid(), SIGTERM);
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    std::vector<std::string> logged = logged_sentences(dir.file(today_file()));
    ASSERT_GT(logged.size(), 1000u + 256u);
    EXPECT_EQ(expected, std::vector<std::string>(logged.begin(), logged.begin() + 1000));

    std::string status = e2e::read_file(dir.file("status.txt"));
    EXPECT_EQ(0u, status.find(today_file() + "  0.0 sentences/s  0 bad  no fix\n")) << status;
    EXPECT_EQ(std::string::npos, status.find('\r')) << status;
    std::vector<std::string> status_lines = lines_of(status);
    ASSERT_EQ(2u, status_lines.size()) << status;
    EXPECT_NE(std::string::npos, status_lines[1].find("  GPS  9 satellites  51 06.0499 N")) << status;
    size_t dropped = status_lines[1].find(" dropped");  // shown once there are any
    dropped = dropped == std::string::npos ? 0 : stoul(status_lines[1].substr(status_lines[1].rfind("  ", dropped)));
    EXPECT_EQ(20000u, logged.size() - 1000 + dropped) << status;

    std::string track = gpsbabel_track(dir, today_file());
    EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
    EXPECT_EQ(501u, lines_of(track).size()) << track;  // the header and a point a second
}

// A serial receiver unplugged and plugged in again under the same name: navlog says so meanwhile,
// opens it again and logs on, also when the line is merely silent for 10 s; Ctrl+C ends it.
TEST(Navlog, SerialDeviceVanishesAndComesBack)
{
    TempDir dir;
    std::string device = dir.file("gnss0");
    FakeReceiver first;
    ASSERT_EQ(0, symlink(first.path().c_str(), device.c_str()));
    Client client(dir.path(), navlog_options({"--serial", device, "--baud", "9600"}));
    ASSERT_TRUE(started(client)) << client.screen();
    std::string one = gga(1);
    first.send(one.substr(0, 20));
    usleep(50000);
    first.send(one.substr(20) + "\r\n" + rmc(1) + "\r\n");
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 2, 5000));

    first.unplug();
    unlink(device.c_str());
    ASSERT_TRUE(client.wait_for(device + ": No such file or directory, trying again in 1 s", 5000)) << client.screen();
    FakeReceiver second;
    ASSERT_EQ(0, symlink(second.path().c_str(), device.c_str()));
    second.send(gga(2) + "\r\n");
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 3, 5000)) << client.screen();
    FakeReceiver third;  // swapped without a word: the old line stays open and silent
    ASSERT_EQ(0, unlink(device.c_str()));
    ASSERT_EQ(0, symlink(third.path().c_str(), device.c_str()));
    ASSERT_TRUE(client.wait_for("no data for 10 s", 15000)) << client.screen();
    third.send(gga(3) + "\r\n");
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 4, 5000)) << client.screen();
    client.type("\x03");
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.status);
    std::vector<std::string> expected = {one, rmc(1), gga(2), gga(3)};
    EXPECT_EQ(expected, logged_sentences(dir.file(today_file())));
}

// A TCP source that restarts is connected to again, after a pause that grows.
TEST(Navlog, TcpSourceRestarting)
{
    auto listen_on = [](uint16_t port) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        inet_pton(AF_INET, "127.77.1.4", &address.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) return -1;
        return fd;
    };
    auto accept_within = [](int listener, int timeout_ms) {
        struct pollfd ready = {listener, POLLIN, 0};
        return poll(&ready, 1, timeout_ms) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    };
    TempDir dir;
    int listener = listen_on(47104);
    ASSERT_GE(listener, 0);
    Client client(dir.path(), navlog_options({"--tcp", "127.77.1.4:47104"}));
    int connection = accept_within(listener, 5000);
    ASSERT_GE(connection, 0);
    std::string bytes = gga(1) + "\r\n" + rmc(1) + "\r\n" + gga(2).substr(0, 30);  // the last cut short
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(connection, bytes.data(), bytes.size()));
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 2, 5000));
    close(connection);
    close(listener);
    ASSERT_TRUE(client.wait_for("tcp 127.77.1.4:47104: closed by the other end, trying again in", 5000))
        << client.screen();
    ASSERT_TRUE(client.wait_for("tcp 127.77.1.4:47104: Connection refused, trying again in 2 s", 5000))
        << client.screen();
    listener = listen_on(47104);
    ASSERT_GE(listener, 0);
    connection = accept_within(listener, 8000);
    ASSERT_GE(connection, 0);
    bytes = gga(3) + "\r\n";
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(connection, bytes.data(), bytes.size()));
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 3, 5000));
    kill(client.pid(), SIGHUP);
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.status);
    close(connection);
    close(listener);
    std::vector<std::string> expected = {gga(1), rmc(1), gga(3)};
    EXPECT_EQ(expected, logged_sentences(dir.file(today_file())));
    EXPECT_NE(std::string::npos, client.screen().find("0 bad")) << client.screen();
}

// Local midnight, a few seconds away in the time zone navlog is given: the lines after it go to
// the new day's file, each file's lines of its own day.
TEST(Navlog, MidnightStartsTheNextDaysFile)
{
    time_t now = time(nullptr);
    long long into_day = now % 86400;
    long long offset = ((86400 - into_day - 2) % 86400 + 86400) % 86400;  // local 23:59:58 now
    if (offset > 12 * 3600) offset -= 86400;
    long long west = -offset;  // TZ counts west of Greenwich
    char zone[64];
    snprintf(zone, sizeof zone, "TZ=NAV%c%02lld:%02lld:%02lld", west < 0 ? '-' : '+', (west < 0 ? -west : west) / 3600,
             (west < 0 ? -west : west) / 60 % 60, (west < 0 ? -west : west) % 60);
    time_t before_local = now + offset;
    time_t after_local = now + offset + 10;
    struct tm day_before, day_after;
    gmtime_r(&before_local, &day_before);
    gmtime_r(&after_local, &day_after);

    TempDir dir;
    ClientOptions options = navlog_options({"--udp", "47105", "--bind", "127.77.1.5"});
    options.environment = {zone};
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for("\r" + day_file(day_before), 5000)) << client.screen();
    UdpSender receiver("127.77.1.5", 47105);
    for (int n = 0; n < 16; ++n) {
        receiver.send(gga(n) + "\r\n");
        usleep(250000);
    }
    client.type("\x1b");
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.status);

    std::vector<std::string> before = lines_of(e2e::read_file(dir.file(day_file(day_before))));
    std::vector<std::string> after = lines_of(e2e::read_file(dir.file(day_file(day_after))));
    ASSERT_FALSE(before.empty());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(16u, before.size() + after.size());
    char date[32];
    strftime(date, sizeof date, "%Y-%m-%dT23:59:5", &day_before);
    for (const std::string& line : before) EXPECT_EQ(0u, line.find(date)) << line;
    strftime(date, sizeof date, "%Y-%m-%dT00:00:0", &day_after);
    for (const std::string& line : after) EXPECT_EQ(0u, line.find(date)) << line;
    EXPECT_EQ(gga(0), logged_sentences(dir.file(day_file(day_before)))[0]);
    EXPECT_EQ(gga(15), logged_sentences(dir.file(day_file(day_after))).back());
}

// A file size limit reached (as a full disk): the file keeps whole lines only, the rest are
// counted as not written, and navlog goes on. A line another writer appended meanwhile is kept:
// only what the failed write added is cut off. A second navlog on the day's file is refused.
TEST(Navlog, FullDiskLeavesWholeLines)
{
    TempDir dir;
    ClientOptions options = navlog_options({"--udp", "47106", "--bind", "127.77.1.6"});
    options.file_size_limit = 1000;
    Client client(dir.path(), options);
    ASSERT_TRUE(started(client)) << client.screen();
    std::string second;
    EXPECT_EQ(2, e2e::run_command("cd '" + dir.path() + "' && timeout 5 " + NAVLOG + " --udp 47116 --bind 127.77.1.6",
                                  &second));
    EXPECT_EQ("navlog: cannot open " + today_file() + ": held by another navlog or program\n", second);
    UdpSender receiver("127.77.1.6", 47106);
    std::vector<std::string> sent;
    const std::string other = "appended-by-another-writer";
    for (int n = 0; n < 15; ++n) {
        if (n == 5) {
            ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 5, 5000));
            e2e::run_command("echo " + other + " >> '" + dir.file(today_file()) + "'");
            sent.push_back(other);
        }
        sent.push_back(gga(n));
        receiver.send(gga(n) + "\r\n");
        usleep(20000);
    }
    size_t line_size = 29 + 1 + gga(0).size() + 1;
    size_t fitting = (1000 - other.size() - 1) / line_size;
    ASSERT_TRUE(client.wait_for(std::to_string(15 - fitting) + " not written", 5000)) << client.screen();
    client.type("q");
    e2e::ExitInfo exit = client.wait_exit();
    EXPECT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    std::string log = e2e::read_file(dir.file(today_file()));
    EXPECT_EQ(fitting * line_size + other.size() + 1, log.size());
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + static_cast<long>(fitting) + 1),
              logged_sentences(dir.file(today_file())));
}

// A source that can never be used as asked is refused at once with status 2, and no file is made; a day's
// file that is not a regular file (a FIFO, which would hold the open for ever) at once with status 1.
TEST(Navlog, UnusableSourcesRefused)
{
    int taken = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(47107);
    inet_pton(AF_INET, "127.77.1.7", &address.sin_addr);
    ASSERT_EQ(0, bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address));
    TempDir dir;
    e2e::write_file(dir.file("plain-file"), "not a device");
    ASSERT_EQ(0, mkfifo(dir.file(today_file()).c_str(), 0600));
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        int status;
    };
    const Case cases[] = {
        {{"--serial", "/dev/null"}, "navlog: /dev/null: not a serial device\n", 2},
        {{"--serial", dir.file("plain-file")}, "navlog: " + dir.file("plain-file") + ": not a serial device\n", 2},
        {{"--udp", "47107", "--bind", "127.77.1.7"}, "navlog: udp 127.77.1.7:47107: Address already in use\n", 2},
        {{"--udp", "47107", "--bind", "127.77.1.256"}, "navlog: udp 127.77.1.256:47107: not an IPv4 address\n", 2},
        {{"--serial", "/dev/null", "--baud", "4801"},
         "navlog: --baud must be one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400, not \"4801\"\n"
         "usage: navlog --serial DEVICE [--baud N]\n", 2},
        {{"--udp", "47117", "--bind", "127.77.1.7"}, "navlog: cannot open " + today_file() + ": not a regular file\n", 1},
    };
    for (const Case& c : cases) {
        std::string command = std::string("cd '") + dir.path() + "' && timeout 5 " + NAVLOG;
        for (const std::string& argument : c.arguments) command += " '" + argument + "'";
        std::string output;
        EXPECT_EQ(c.status, e2e::run_command(command + " < /dev/null", &output)) << command;
        EXPECT_EQ(0u, output.find(c.message)) << output;
    }
    close(taken);
    EXPECT_EQ(0, unlink(dir.file(today_file()).c_str()));
    EXPECT_EQ(std::vector<std::string>{"plain-file"}, e2e::list_dir(dir.path()));
    std::string version;
    EXPECT_EQ(0, e2e::run_command(std::string(NAVLOG) + " --version", &version));
    EXPECT_EQ("navlog 1.0.0\n", version);
}

// headsim's simulated track, at its highest rate, is logged as a vessel under way.
TEST(Navlog, HeadsimTrackIsLogged)
{
    TempDir dir;
    Client client(dir.path(), navlog_options({"--udp", "47108", "--bind", "127.0.0.1"}));
    ASSERT_TRUE(started(client)) << client.screen();
    e2e::HeadSim head("127.77.1.8", {"--nmea-udp", "47108", "--nmea-rate", "10"});
    ASSERT_TRUE(head.ready());
    ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 20, 5000));
    head.stop();
    client.type("q");
    EXPECT_EQ(0, client.wait_exit().status);
    std::vector<std::string> sentences = logged_sentences(dir.file(today_file()));
    for (size_t i = 0; i + 1 < sentences.size(); i += 2) {
        EXPECT_EQ(0u, sentences[i].find("$GPGGA,")) << sentences[i];
        EXPECT_EQ(0u, sentences[i + 1].find("$GPRMC,")) << sentences[i + 1];
    }
    std::string track = gpsbabel_track(dir, today_file());
    EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
    std::vector<std::string> points = lines_of(track);
    ASSERT_GE(points.size(), 10u) << track;
    double first_latitude = 0, last_latitude = 0;
    ASSERT_EQ(1, sscanf(points[1].c_str(), "%*d,%lf", &first_latitude)) << points[1];
    ASSERT_EQ(1, sscanf(points.back().c_str(), "%*d,%lf", &last_latitude)) << points.back();
    EXPECT_NEAR(51.1164, first_latitude, 0.0001);
    EXPECT_GT(last_latitude, first_latitude);  // under way to the north-east
}

namespace {

// navlog started on a terminal of its own, as from a terminal window that can be closed.
struct OwnTerminal {
    pid_t pid = -1;
    int master = -1;
    OwnTerminal(const std::string& directory, const std::vector<std::string>& arguments, bool hangup_ignored)
    {
        int slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
        fcntl(master, F_SETFD, FD_CLOEXEC);
        pid = fork();
        if (pid == 0) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(slave, fd);
            if (chdir(directory.c_str()) != 0) _exit(126);
            if (hangup_ignored) signal(SIGHUP, SIG_IGN);  // as nohup starts it
            std::vector<char*> argv = {const_cast<char*>(NAVLOG)};
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(slave);
    }
    // The exit status; -1 when it had not ended after timeout_ms (it is then killed).
    int wait_exit(int timeout_ms)
    {
        long long deadline = e2e::now_ms() + timeout_ms;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (e2e::now_ms() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            usleep(10000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    double cpu_seconds() const
    {
        unsigned long long running_ns = 0;
        FILE* stat = fopen(("/proc/" + std::to_string(pid) + "/schedstat").c_str(), "r");
        if (stat != nullptr && fscanf(stat, "%llu", &running_ns) != 1) running_ns = 0;
        if (stat != nullptr) fclose(stat);
        return running_ns / 1e9;
    }
};

}  // namespace

// The terminal window closed: navlog ends with status 0 and its file complete; started to ignore
// the hang-up (nohup), it logs on without its terminal, idle, until SIGTERM.
TEST(Navlog, TerminalClosed)
{
    for (bool hangup_ignored : {false, true}) {
        TempDir dir;
        OwnTerminal navlog(dir.path(), {"--udp", "47109", "--bind", "127.77.1.9"}, hangup_ignored);
        ASSERT_GT(navlog.pid, 0);
        UdpSender receiver("127.77.1.9", 47109);
        ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 0, 100));
        usleep(300000);
        receiver.send(gga(1) + "\r\n");
        ASSERT_TRUE(wait_for_lines(dir.file(today_file()), 1, 5000));
        close(navlog.master);
        if (!hangup_ignored) {
            EXPECT_EQ(0, navlog.wait_exit(3000));
        } else {
            usleep(200000);
            double cpu_before = navlog.cpu_seconds();
            usleep(1000000);
            EXPECT_LT(navlog.cpu_seconds() - cpu_before, 0.05) << "spins on the closed terminal";
            receiver.send(gga(2) + "\r\n");
            EXPECT_TRUE(wait_for_lines(dir.file(today_file()), 2, 5000));
            kill(navlog.pid, SIGTERM);
            EXPECT_EQ(0, navlog.wait_exit(3000));
        }
        std::vector<std::string> expected = {gga(1)};
        if (hangup_ignored) expected.push_back(gga(2));
        EXPECT_EQ(expected, logged_sentences(dir.file(today_file()))) << hangup_ignored;
    }
}
