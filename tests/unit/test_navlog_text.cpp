// navlog's texts: the log line, the day's file name, the status line and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/navlog/navlog_options.h"
#include "tools/navlog/navlog_text.h"

namespace {

const char GGA[] = "$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*5C";

}  // namespace

TEST(NavlogText, LineAndOffsets)
{
    struct Case {
        NavTime time;
        const char* expected;
    };
    const Case cases[] = {
        {{2026, 12, 8, 9, 5, 0, 123, 3600}, "2026-12-08T09:05:00.123+01:00"},
        {{2026, 1, 31, 23, 59, 59, 999, 0}, "2026-01-31T23:59:59.999+00:00"},
        {{2026, 7, 4, 0, 0, 0, 7, -(3 * 3600 + 30 * 60)}, "2026-07-04T00:00:00.007-03:30"},
        {{2026, 7, 4, 12, 0, 0, 0, 13 * 3600 + 45 * 60}, "2026-07-04T12:00:00.000+13:45"},
        {{1937, 6, 30, 12, 0, 0, 0, 19 * 60 + 32}, "1937-06-30T12:00:00.000+00:19:32"},
        {{2026, 12, 9, 1, 2, 3, 40, -(5 * 3600 + 1)}, "2026-12-09T01:02:03.040-05:00:01"},
    };
    for (const Case& c : cases) {
        char line[NAVLOG_LINE_SIZE];
        size_t length = navlog_line(&c.time, GGA, line);
        std::string expected = std::string(c.expected) + " " + GGA + "\n";
        EXPECT_EQ(expected, std::string(line, length));
    }
}

// The day's file changes at local midnight, named as the data files' day.
TEST(NavlogText, FileOfTheDay)
{
    NavTime before = {2026, 12, 8, 23, 59, 59, 999, 3600};
    NavTime after = {2026, 12, 9, 0, 0, 0, 0, 3600};
    NavTime new_year = {2027, 1, 1, 0, 0, 0, 0, 0};
    char name[NAVLOG_NAME_SIZE];
    navlog_file_name(&before, name);
    EXPECT_STREQ("08DEC2026.NAV", name);
    navlog_file_name(&after, name);
    EXPECT_STREQ("09DEC2026.NAV", name);
    navlog_file_name(&new_year, name);
    EXPECT_STREQ("01JAN2027.NAV", name);
    EXPECT_FALSE(navlog_same_day(&before, &after));
    EXPECT_TRUE(navlog_same_day(&after, &after));
}

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

TEST(NavlogOptions, CommandLines)
{
    struct Case {
        std::vector<const char*> arguments;
        NavParse expected;
        const char* message;
    };
    const Case cases[] = {
        {{"--serial", "/dev/ttyUSB0"}, NAV_PARSE_RUN, ""},
        {{"--serial", "COM10", "--baud", "115200"}, NAV_PARSE_RUN, ""},
        {{"--udp", "10110", "--bind", "127.0.0.1"}, NAV_PARSE_RUN, ""},
        {{"--tcp", "mux.local:10110"}, NAV_PARSE_RUN, ""},
        {{"--version"}, NAV_PARSE_VERSION, ""},
        {{"--udp", "1", "--help"}, NAV_PARSE_HELP, ""},
        {{}, NAV_PARSE_BAD, "give one source: --serial, --udp or --tcp"},
        {{"--serial", "/dev/ttyS0", "--udp", "10110"}, NAV_PARSE_BAD, "give one source: --serial, --udp or --tcp"},
        {{"--serial"}, NAV_PARSE_BAD, "--serial needs a value"},
        {{"--serial", "/dev/ttyS0", "--baud", "4801"}, NAV_PARSE_BAD, "--baud cannot be 4801"},
        {{"--serial", "/dev/ttyS0", "--baud", "96OO"}, NAV_PARSE_BAD, "--baud cannot be 96OO"},
        {{"--udp", "10110", "--baud", "9600"}, NAV_PARSE_BAD, "--baud goes with --serial"},
        {{"--tcp", "h:1", "--bind", "127.0.0.1"}, NAV_PARSE_BAD, "--bind goes with --udp"},
        {{"--udp", "65536"}, NAV_PARSE_BAD, "--udp needs a port 1 to 65535, not 65536"},
        {{"--udp", "-5"}, NAV_PARSE_BAD, "--udp needs a port 1 to 65535, not -5"},
        {{"--tcp", "10110"}, NAV_PARSE_BAD, "--tcp needs HOST:PORT, not 10110"},
        {{"--tcp", ":10110"}, NAV_PARSE_BAD, "--tcp needs HOST:PORT, not :10110"},
        {{"--tcp", "host:"}, NAV_PARSE_BAD, "--tcp needs HOST:PORT, not host:"},
        {{"--fast"}, NAV_PARSE_BAD, "unknown option --fast"},
        {{"/dev/ttyS0"}, NAV_PARSE_BAD, "unexpected argument /dev/ttyS0"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"navlog"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        NavOptions options;
        char message[NAVLOG_MESSAGE_SIZE] = "";
        EXPECT_EQ(c.expected, navlog_parse(static_cast<int>(argv.size()), argv.data(), &options, message))
            << (argv.size() > 1 ? argv[1] : "");
        EXPECT_STREQ(c.message, message);
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

TEST(NavlogText, KeysThatEndTheRun)
{
    struct Case {
        std::string keys;
        bool quits;
    };
    const Case cases[] = {
        {"q", true},        {"Q", true},          {"\x03", true},      {"\x1b", true},       {"x", false},
        {"\x1b[A", false},  {"\x1bOP", false},    {"\x1b[15~", false}, {"\x1bx", false},     {"\x1b[A\x1b", true},
        {"\x1b[1;5Cq", true}, {"ab\x1b[B", false}, {"\x1b[", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.quits, navlog_keys_quit(reinterpret_cast<const uint8_t*>(c.keys.data()), c.keys.size()))
            << testing::PrintToString(c.keys);
    }
}
