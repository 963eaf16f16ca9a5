// headsim's seabed end to end: the truth it writes of the pings it serves agrees
// with the track it sends (pandas and gpsbabel read them, in check_truth.py)
// and with the pings the program recorded, as the bottom picker finds them;
// its options refuse bad values by naming the good ones.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "depth/picker.h"
#include "store/record.h"
#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const std::string CHECKER = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/check_truth.py";

// A UDP socket on 127.0.0.1:port that keeps what headsim's track sends.
int track_listener(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

std::string received(int fd)
{
    std::string sentences;
    char datagram[512];
    ssize_t got;
    while ((got = recv(fd, datagram, sizeof datagram, 0)) > 0) sentences.append(datagram, static_cast<size_t>(got));
    return sentences;
}

// The depth_m field of each line of a truth file after its header; NAN where it is empty.
std::vector<double> truth_depths(const std::string& text)
{
    std::vector<double> depths;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 6; ++i) std::getline(fields, field, ',');
        depths.push_back(field.empty() ? NAN : atof(field.c_str()));
    }
    return depths;
}

}  // namespace

// At a head's pace, on survey lines short enough to turn within the run: each ping's truth lies on the track sent
// at its time, and the bottom picked in the recording is where the truth puts it (within 0.2% of the range), or
// is not picked at all where the truth has none.
TEST(Seabed, TruthAgreesWithTheTrackAndTheRecording)
{
    const int pings = 20, range = 20;
    TempDir dir;
    int track = track_listener(47140);
    ASSERT_GE(track, 0);
    HeadSim head("127.77.30.1", {"--ping-rate", "10", "--truth", dir.file("truth.csv"), "--nmea-udp", "47140",
                                 "--nmea-rate", "10", "--knots", "20", "--line-length", "20", "--fault",
                                 "close@" + std::to_string(8 * pings + 1)});
    ASSERT_TRUE(head.ready());
    write_settings(dir, "127.77.30.1", "Range=" + std::to_string(range) + "\n");
    ClientOptions recording;
    recording.program = PROGRAM_STORE_ON;
    recording.with_terminal = false;
    recording.stdout_path = dir.file(SCREEN);
    Client client(dir.path(), recording);
    EXPECT_EQ(1, client.wait_exit(20000).status) << "ended by the head's close";
    usleep(300000);  // a fix after the last ping
    head.stop();
    write_file(dir.file("track.nmea"), received(track));
    close(track);
    std::string said;
    EXPECT_EQ(0, run_command("/usr/bin/python3 '" + CHECKER + "' '" + dir.file("truth.csv") + "' '" +
                             dir.file("track.nmea") + "' " + std::to_string(pings) + " 10", &said)) << said;
    EXPECT_EQ(0u, said.find("ok 20 pings")) << said;

    std::vector<double> depths = truth_depths(read_file(dir.file("truth.csv")));
    std::string data = read_file(dir.file(data_files(dir.path()).at(0)));
    ASSERT_EQ(static_cast<size_t>(pings), depths.size());
    ASSERT_EQ(pings * RECORD, data.size());
    DepthSettings settings;
    depth_settings_default(&settings);
    DepthTracker tracker;
    depth_tracker_start(&tracker, &settings);
    std::vector<DepthResult> results;
    DepthResult result;
    for (int ping = 0; ping < pings; ++ping) {
        RecordView view;
        ASSERT_EQ(RECORD_OK, record_parse(reinterpret_cast<const uint8_t*>(data.data()) + ping * RECORD, &view));
        if (depth_tracker_offer_record(&tracker, &view, ping, &result)) results.push_back(result);
    }
    while (depth_tracker_flush(&tracker, &result)) results.push_back(result);
    for (int ping = 0; ping < pings; ++ping) {
        EXPECT_EQ(!std::isnan(depths[ping]), results[ping].has_depth) << "ping " << ping + 1;
        if (results[ping].has_depth) {
            EXPECT_NEAR(depths[ping], results[ping].depth_m, 0.002 * range) << "ping " << ping + 1;
        }
    }
}

struct BadOption {
    std::vector<std::string> words;
    const char* said;
    int status = 2;
};

// Each refusal names what is allowed, with status 2 and before listening; a truth file that cannot be written, status 1.
TEST(Seabed, BadOptionsNameTheValuesAllowed)
{
    const BadOption rows[] = {
        {{"--ping-rate", "101"},
         "headsim: --ping-rate must be a number from 0 (as fast as asked) to 100, not \"101\"\n"},
        {{"--ping-rate"}, "headsim: --ping-rate needs a value\n"},
        {{"--start", "51.1"},
         "--start must be LAT,LON in decimal degrees, LAT -80 to 80, LON -180 to 180, not \"51.1\""},
        {{"--heading", "nan"}, "--heading must be degrees from 0 to 360, not \"nan\""},
        {{"--knots", "31"}, "--knots must be knots from 0 to 30, not \"31\""},
        {{"--line-length", "10"}, "--line-length must be 0 (one straight run) or 20 to 100000 metres, not \"10\""},
        {{"--seed", "-1"}, "--seed must be a number from 0 to 4294967295, not \"-1\""},
        {{"--nmea-rate=20"}, "--nmea-rate must be a number from 1 to 10, not \"20\""},
        {{"--fault", "stall@3"}, "KIND one of bad-header, bad-end, wrong-number, short, long, double, garbage, close, "
                                 "reset, truncate, truncate-reset, silent or stall:MS (MS from 0 to 86400000), not \"stall@3\""},
        {{"--", "--once"}, "headsim: unexpected argument \"--once\"\nusage: headsim ["},
        {{"--truth", "t.csv", "--replay", "x.QKV"},
         "headsim: --truth goes without --replay: it is for the synthetic echoes"},
        {{"--truth", "08dec2026.nav"}, "headsim: --truth 08dec2026.nav is a navigation log"},
        {{"--truth", "/nonexistent/t.csv"},
         "headsim: cannot write the truth file /nonexistent/t.csv: No such file or directory\n", 1},
    };
    for (const BadOption& row : rows) {
        std::string command = "timeout 10 " + std::string(HEADSIM) + " --address 127.77.30.2";
        for (const std::string& word : row.words) command += " '" + word + "'";
        std::string said;
        EXPECT_EQ(row.status, run_command(command, &said)) << command;
        EXPECT_NE(std::string::npos, said.find(row.said)) << said;
        EXPECT_EQ(std::string::npos, said.find("listening")) << said;
    }
}
