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
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "depth/picker.h"
#include "store/record.h"
#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const std::string HERE = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/'));
const std::string CHECKER = HERE + "/check_truth.py";

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
    EXPECT_EQ(1, record_from(dir, "127.77.30.1", "Range=" + std::to_string(range) + "\n", 20000).status)
        << "ended by the head's close";
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
        {{"--tide", "1.8,11,0"}, "--tide must be MEAN,AMPLITUDE,PHASE[,AMPLITUDE,PHASE]: a mean level of -20 to 20 m, "
                                 "amplitudes of 0 to 10 m and phases of 0 to 360 degrees, not \"1.8,11,0\""},
        {{"--sound-speed-profile", "0:1500,0:1490"}, "depths of 0 to 12000 m each deeper than the one before"},
        {{"--antenna-offset", "3"}, "--antenna-offset must be FORWARD,STARBOARD in metres, each -100 to 100"},
        {{"--datum", "MLLW", "--tide-gauge", "g.csv"}, "headsim: --datum needs --tide\n"},
        {{"--sound-speed", "1450", "--sound-speed-profile", "0:1500"},
         "headsim: --sound-speed goes without --sound-speed-profile\n"},
        {{"--cast", "c.csv"}, "headsim: --cast needs --sound-speed or --sound-speed-profile\n"},
        {{"--motion-rate", "25"}, "headsim: --motion-rate needs --nmea-udp\n"},
        {{"--replay", "x.QKV", "--heave", "0.4"}, "headsim: --heave goes without --replay"},
        {{"--tide", "1,0,0", "--tide-gauge", "08dec2026.nav"},
         "headsim: --tide-gauge 08dec2026.nav is a navigation log"},
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

struct Written {
    std::vector<std::string> options;
    const char* file;
    std::vector<std::string> holds;  // parts of its text
    size_t lines;
};

// The gauge's and the cast's files as a reduction reads them, and the truth of the ping at 0 s (the transducer 3 m
// ahead of the antenna heading 045), 2 s and 6 s (the swell's crest and trough) against figures worked by hand; in
// every line the depths below the reference, the surface and the transducer, and the echo, agree.
TEST(Seabed, WritesTheSeaAndItsTruth)
{
    const Written rows[] = {
        {{"--sound-speed-profile", "0:1530,8:1495.5,25:1480", "--cast", "cast.csv"}, "cast.csv",
         {"depth_m,sound_speed_m_s\n0.000,1530.000\n8.000,1495.500\n25.000,1480.000\n"}, 4},
        {{"--sound-speed", "1450", "--cast", "cast.csv"}, "cast.csv", {"depth_m,sound_speed_m_s\n0.000,1450.000\n"}, 2},
        {{"--tide", "1.25,0,0", "--tide-gauge", "gauge.csv"}, "gauge.csv",
         {"time,level_m\n", ":00:00Z,1.250\n", ":06:00Z,1.250\n", ":54:00Z,1.250\n"}, 252},
        {{"--draft", "0.5", "--sound-speed", "1450", "--tide", "1.25,0,0", "--datum", "MLLW", "--heave", "0.4,8",
          "--antenna-offset", "3,0"}, "truth.csv",
         {",school_bottom_m,reduced_depth_m,reference,surface_depth_m,level_m,heave_m,heading,transducer_latitude,"
          "transducer_longitude,echo_m,spike\n", ",MLLW,", ",1.250,0.000,45.00,51.1164324,1.3909754,",
          ",1.250,0.400,45.00,", ",1.250,-0.400,45.00,"}, 62},
    };
    for (const Written& row : rows) {
        TempDir dir;
        std::vector<std::string> options = {"--truth", dir.file("truth.csv"), "--fault", "close@489"};
        for (const std::string& word : row.options) {
            options.push_back(word.find(".csv") == std::string::npos ? word : dir.file(word));
        }
        HeadSim head("127.77.30.4", options);
        ASSERT_TRUE(head.ready());
        EXPECT_TRUE(record_from(dir, "127.77.30.4", "Range=30\n", 20000, PROGRAM).ended);
        head.stop();
        std::string text = read_file(dir.file(row.file));
        for (const std::string& part : row.holds) EXPECT_NE(std::string::npos, text.find(part)) << part << text;
        EXPECT_EQ(row.lines, lines_in(dir.file(row.file))) << row.file;
        std::vector<std::string> truth = lines_of(read_file(dir.file("truth.csv")));
        for (size_t k = 1; row.file == std::string("truth.csv") && k < truth.size(); ++k) {
            double f[18] = {};  // the line's numbers by column
            std::istringstream fields(truth[k]);
            std::string field;
            for (int i = 0; i < 18 && std::getline(fields, field, ','); ++i) f[i] = atof(field.c_str());
            EXPECT_NEAR(f[8] + 1.25, f[10], 0.0015) << truth[k];        // below the surface: the level more
            EXPECT_NEAR(f[10] - 0.5 + f[12], f[5], 0.002) << truth[k];  // below the transducer: less its draft, heaved
            EXPECT_NEAR(f[5] * 1500 / 1450, f[16], 0.002) << truth[k];  // heard at 1450 m/s, placed as at 1500
        }
    }
}

// A survey with every correction: a tide above a named datum, water whose speed of sound changes with depth, a
// swell with a motion sensor's and a gyro's sentences, a transducer 0.6 m deep and off the antenna, and spikes.
// navlog logs the track and the motion while the program records; qkvdump picks, locates and reduces the pings;
// check_reduction.py reduces them by the formulas of docs/formats.md with the gauge's file, the cast and the .NAV
// lines, and measures both against the truth: at least 99% of the pings with a bottom within 0.2% of the range +
// 5 cm, no depth where there is no bottom, every spike kept and flagged, each sounding where its transducer was.
TEST(Seabed, ReducedDepthsMeetTheTruth)
{
    const int pings = 300;
    TempDir dir;
    std::string why, gauge = dir.file("gauge.csv"), cast = dir.file("cast.csv");
    std::string nav = survey_with_navlog(
        dir, "127.77.30.3", 47141,
        {"--ping-rate", "20", "--truth", dir.file("truth.csv"), "--nmea-rate", "10", "--motion-rate", "25", "--knots",
         "8", "--line-length", "40", "--draft", "0.6", "--antenna-offset", "2.5,-0.8", "--heave", "0.4,6", "--tide",
         "1.8,1.2,40,0.4,100", "--datum", "LAT", "--tide-gauge", gauge, "--sound-speed-profile",
         "0:1530,8:1495,25:1480", "--cast", cast, "--spikes", "15", "--seed", "3", "--fault",
         "close@" + std::to_string(8 * pings + 1)},
        "Range=40\n", 20, 60000, &why);
    ASSERT_EQ("", why);

    std::string pings_csv = dir.file("pings.csv"), said;
    ASSERT_EQ(0, run_command("(" + std::string(QKVDUMP) + " --csv --nav " + in_quotes(nav) + " --depth --draft 0.6 --heave "
                             "--antenna-offset 2.5,-0.8 --sound-speed-profile " + in_quotes(cast) + " --water-level " +
                             in_quotes(gauge) + " --datum LAT " + in_quotes(dir.file(data_files(dir.path()).at(0))) +
                             " > " + in_quotes(pings_csv) + ")", &said)) << said;
    EXPECT_EQ(0, run_command("/usr/bin/python3 " + in_quotes(HERE + "/check_reduction.py") + " " +
                             in_quotes(dir.file("truth.csv")) + " " + in_quotes(pings_csv) + " " + in_quotes(nav) +
                             " " + in_quotes(gauge) + " " + in_quotes(cast) + " 0.6 2.5,-0.8", &said)) << said;
    std::cout << said;
}
