// navlog.exe under Wine: sentences over loopback UDP, and over a COM port
// that the Wine prefix maps onto a pseudo-terminal standing in for a receiver.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "navfile/nmea.h"
#include "tests/wine/wine_run.h"

namespace {

using e2e::Client;
using e2e::TempDir;

const char* const NAVLOG_EXE = NAVLOG_WINDOWS_EXE;

std::string gga(int second)
{
    char text[128];
    int length = snprintf(text, sizeof text, "$GPGGA,0905%02d.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,",
                          second);
    nmea_append_checksum(text, static_cast<size_t>(length));
    return text;
}

// The log's sentences, and whether every line starts with a time of the ISO 8601 form.
std::vector<std::string> logged(const std::string& path, bool* times_right)
{
    std::vector<std::string> sentences;
    std::string text = e2e::read_file(path);
    *times_right = !text.empty();
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
        std::string line = text.substr(start, end - start);
        int fields[9] = {};
        char sign = 0;
        *times_right = *times_right && line.size() > 30 && line[29] == ' ' &&
                       sscanf(line.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d", &fields[0], &fields[1],
                              &fields[2], &fields[3], &fields[4], &fields[5], &fields[6], &sign, &fields[7],
                              &fields[8]) == 10;
        sentences.push_back(line.substr(line.find(' ') + 1));
    }
    return sentences;
}

bool wait_for_lines(const std::string& path, size_t count)
{
    long long deadline = e2e::now_ms() + 20000;
    for (;;) {
        std::string text = e2e::read_file(path);
        size_t lines = 0;
        for (char c : text) lines += c == '\n';
        if (lines >= count) return true;
        if (e2e::now_ms() > deadline) return false;
        usleep(50000);
    }
}

}  // namespace

// Sentences in pieces, together and bad, by Winsock's UDP, then a burst of 2000 of which more are
// kept than a default queue holds (256); q ends it with status 0.
TEST(WineNavlog, UdpSource)
{
    REQUIRE_WINE(NAVLOG_EXE);
    TempDir dir;
    e2e::ClientOptions options = wine::options(NAVLOG_EXE);
    options.stdout_path = dir.file(e2e::SCREEN);
    options.arguments = {"--udp", "47301", "--bind", "127.77.3.1"};
    Client client(dir.path(), options);
    ASSERT_TRUE(wine::wait_for_output(dir.file(e2e::SCREEN), "  0 bad  no fix")) << e2e::read_file(dir.file(e2e::SCREEN));
    int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(47301);
    inet_pton(AF_INET, "127.77.3.1", &to.sin_addr);
    std::string bad = gga(3).substr(0, gga(3).size() - 2) + "00";
    const std::string datagrams[] = {gga(1).substr(0, 25), gga(1).substr(25) + "\r\n", gga(2) + "\r\n" + bad + "\r\n" + gga(4) + "\n"};
    for (const std::string& datagram : datagrams) {
        sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        usleep(100000);
    }
    std::string day_file = dir.file(e2e::today() + ".NAV");
    ASSERT_TRUE(wait_for_lines(day_file, 3)) << e2e::read_file(dir.file(e2e::SCREEN));
    std::string burst = gga(5) + "\r\n";
    for (int n = 0; n < 2000; ++n)
        sendto(sender, burst.data(), burst.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(sender);
    EXPECT_TRUE(wait_for_lines(day_file, 3 + 257)) << e2e::read_file(dir.file(e2e::SCREEN));
    client.type("q");
    e2e::ExitInfo exit = client.wait_exit(20000);
    EXPECT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    // The last status line, written as it ends.
    EXPECT_NE(std::string::npos,
              e2e::read_file(dir.file(e2e::SCREEN)).find("  1 bad  GPS  9 satellites  51 06.9848 N  001 23.4567 E"))
        << e2e::read_file(dir.file(e2e::SCREEN));
    bool times_right = false;
    std::vector<std::string> sentences = logged(day_file, &times_right);
    sentences.resize(3);  // the burst's follow
    EXPECT_EQ((std::vector<std::string>{gga(1), gga(2), gga(4)}), sentences);
    EXPECT_TRUE(times_right) << e2e::read_file(day_file);
}

// Wine maps COMn onto the device its dosdevices link names: here a pseudo-terminal. COM31, named
// in the device namespace form, as COM ports from 10 on must be. Unplugged, it reads as empty: it
// is opened again after 10 s of silence, and logs the receiver plugged in again.
TEST(WineNavlog, ComPortOnAPseudoTerminal)
{
    REQUIRE_WINE(NAVLOG_EXE);
    struct termios raw = {};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, &raw, nullptr));
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    std::string link = std::string(WINE_PREFIX) + "/dosdevices/com31";
    unlink(link.c_str());
    ASSERT_EQ(0, symlink(ptsname(master), link.c_str()));
    TempDir dir;
    e2e::ClientOptions options = wine::options(NAVLOG_EXE);
    options.stdout_path = dir.file(e2e::SCREEN);
    options.arguments = {"--serial", "\\\\.\\COM31", "--baud", "4800"};
    Client client(dir.path(), options);
    ASSERT_TRUE(wine::wait_for_output(dir.file(e2e::SCREEN), "  0 bad  no fix")) << e2e::read_file(dir.file(e2e::SCREEN));
    std::string bytes = gga(1) + "\r\n" + gga(2) + "\r\n";
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(master, bytes.data(), bytes.size()));
    std::string day_file = dir.file(e2e::today() + ".NAV");
    bool arrived = wait_for_lines(day_file, 2);
    close(master);
    close(slave);
    unlink(link.c_str());
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, &raw, nullptr));
    ASSERT_EQ(0, symlink(ptsname(master), link.c_str()));
    bytes = gga(3) + "\r\n";
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(master, bytes.data(), bytes.size()));
    arrived = arrived && wait_for_lines(day_file, 3);
    client.type("q");
    e2e::ExitInfo exit = client.wait_exit(20000);
    unlink(link.c_str());
    close(master);
    close(slave);
    ASSERT_TRUE(arrived) << e2e::read_file(dir.file(e2e::SCREEN));
    EXPECT_EQ(0, exit.status);
    bool times_right = false;
    EXPECT_EQ((std::vector<std::string>{gga(1), gga(2), gga(3)}), logged(day_file, &times_right));
    EXPECT_TRUE(times_right);
}
