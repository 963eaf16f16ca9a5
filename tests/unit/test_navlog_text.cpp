// navlog's texts: the status line, the keys that end it and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/navlog/navlog_options.h"
#include "tools/navlog/navlog_text.h"

namespace {

const char GGA[] = "$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*5C";

}  // namespace

TEST(NavlogText, StatusLine)
{
    NmeaFix fix;
    nmea_fix_clear(&fix);
    NmeaFix none = fix;
    ASSERT_TRUE(nmea_take_fix(GGA, &fix));
    NmeaFix lost = fix;
    lost.valid = false;
    struct Case {
        NavStatus status;
        const char* expected;
    };
    const Case cases[] = {
        {{"08DEC2026.NAV", nullptr, nullptr, 10.0, 100, 0, 0, 0, &fix, 1500},
         "08DEC2026.NAV  10.0 sentences/s  0 bad  GPS  9 satellites  51 06.9848 N  001 23.4567 E  1 s old"},
        {{"08DEC2026.NAV", nullptr, nullptr, 0.0, 12999, 3, 0, 0, &none, 0},
         "08DEC2026.NAV  no data for 12 s  3 bad  no fix"},
        {{"08DEC2026.NAV", nullptr, nullptr, 1.0, 2999, 0, 0, 0, &lost, 0},
         "08DEC2026.NAV  1.0 sentences/s  0 bad  no fix"},
        {{"08DEC2026.NAV", nullptr, "/dev/ttyUSB0: gone, trying again in 1 s", 0.0, 5000, 1, 4, 0, &fix, 61000},
         "08DEC2026.NAV  /dev/ttyUSB0: gone, trying again in 1 s  1 bad  4 not written  GPS  9 satellites  "
         "51 06.9848 N  001 23.4567 E  61 s old"},
    };
    for (const Case& c : cases) {
        char text[NAVLOG_STATUS_SIZE];
        size_t length = navlog_status_text(&c.status, text);
        EXPECT_EQ(std::string(c.expected), std::string(text, length));
    }
}

// The rate over whole windows: steady pairs of sentences each second, then a stop a quarter of a second after a
// status with a pair just in (over that quarter alone, 8.7). Before a whole window the time so far counts as one.
TEST(NavlogText, RateOverWholeWindows)
{
    const struct { int64_t at_ms; long came; double shown; } steps[] = {
        {0, 0, 0.0}, {250, 3, 3.0}, {1000, 0, 3.0}, {2001, 2, 2.0}, {3002, 2, 2.0}, {3232, 2, 2.0}, {4002, 0, 2.0}};
    NavRate rate;
    navlog_rate_start(&rate, 0);
    for (const auto& step : steps) {
        rate.counted += step.came;
        EXPECT_NEAR(step.shown, navlog_rate_at(&rate, step.at_ms), 0.01) << step.at_ms;
    }
}

// Redrawn in place: cut or padded to one column less than the terminal's width.
TEST(NavlogText, StatusRedrawFitsTheWidth)
{
    char out[NAVLOG_STATUS_SIZE + 2];
    size_t length = navlog_status_redraw("0123456789", 6, out);
    EXPECT_EQ("\r01234", std::string(out, length));
    length = navlog_status_redraw("0123", 8, out);
    EXPECT_EQ("\r0123   ", std::string(out, length));
    std::string wide(400, 'x');
    length = navlog_status_redraw(wide.c_str(), 1000, out);
    EXPECT_EQ(static_cast<size_t>(NAVLOG_STATUS_SIZE), length);
}

// Every value refused names the values allowed.
TEST(NavlogOptions, CommandLines)
{
    const std::string baud = "--baud must be one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400, ";
    const std::string host_port = "--tcp must be HOST:PORT with a port from 1 to 65535, not ";
    struct Case {
        std::vector<const char*> arguments;
        NavParse expected;
        std::string message;
    };
    const Case cases[] = {
        {{"--serial", "/dev/ttyUSB0"}, NAV_PARSE_RUN, ""},
        {{"--serial", "COM10", "--baud", "115200"}, NAV_PARSE_RUN, ""},
        {{"--udp", "10110", "--bind", "127.0.0.1"}, NAV_PARSE_RUN, ""},
        {{"--tcp", "mux.local:10110"}, NAV_PARSE_RUN, ""},
        {{"--version"}, NAV_PARSE_VERSION, ""},
        {{"--udp", "1", "--help"}, NAV_PARSE_HELP, ""},
        {{"--bind=127.0.0.1", "--udp=10110"}, NAV_PARSE_RUN, ""},
        {{}, NAV_PARSE_BAD, "give one source: --serial, --udp or --tcp"},
        {{"--serial", "/dev/ttyS0", "--udp", "10110"}, NAV_PARSE_BAD, "give one source: --serial, --udp or --tcp"},
        {{"--serial"}, NAV_PARSE_BAD, "--serial needs a value"},
        {{"--serial", "/dev/ttyS0", "--baud", "4801"}, NAV_PARSE_BAD, baud + "not \"4801\""},
        {{"--serial", "/dev/ttyS0", "--baud", "96OO"}, NAV_PARSE_BAD, baud + "not \"96OO\""},
        {{"--udp", "10110", "--baud", "9600"}, NAV_PARSE_BAD, "--baud goes with --serial"},
        {{"--tcp", "h:1", "--bind", "127.0.0.1"}, NAV_PARSE_BAD, "--bind goes with --udp"},
        {{"--udp", "65536"}, NAV_PARSE_BAD, "--udp must be a port from 1 to 65535, not \"65536\""},
        {{"--udp", "-5"}, NAV_PARSE_BAD, "--udp must be a port from 1 to 65535, not \"-5\""},
        {{"--tcp", "10110"}, NAV_PARSE_BAD, host_port + "\"10110\""},
        {{"--tcp", ":10110"}, NAV_PARSE_BAD, host_port + "\":10110\""},
        {{"--tcp", "host:"}, NAV_PARSE_BAD, host_port + "\"host:\""},
        {{"--fast"}, NAV_PARSE_BAD, "unknown option \"--fast\""},
        {{"/dev/ttyS0"}, NAV_PARSE_BAD, "unexpected argument \"/dev/ttyS0\""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"navlog"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        NavOptions options;
        char message[NAVLOG_MESSAGE_SIZE] = "";
        EXPECT_EQ(c.expected, navlog_parse(static_cast<int>(argv.size()), argv.data(), &options, message))
            << (argv.size() > 1 ? argv[1] : "");
        EXPECT_EQ(c.message, message);
    }
    NavOptions options;
    char message[NAVLOG_MESSAGE_SIZE];
    const char* tcp[] = {"navlog", "--tcp", "127.0.0.1:2947"};
    ASSERT_EQ(NAV_PARSE_RUN, navlog_parse(3, tcp, &options, message));
    EXPECT_STREQ("127.0.0.1", options.host);
    EXPECT_EQ(2947, options.port);
    const char* serial[] = {"navlog", "--serial", "/dev/ttyS0"};
    ASSERT_EQ(NAV_PARSE_RUN, navlog_parse(3, serial, &options, message));
    EXPECT_EQ(4800, options.baud);
}
