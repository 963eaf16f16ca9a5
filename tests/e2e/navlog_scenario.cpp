#include "tests/e2e/navlog_scenario.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "navfile/nmea.h"

namespace e2e {

namespace {

const char* const MONTHS[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

const char* const STATUS_IN_TICKS = "on Windows the status goes to a file (Wine's console redraws only what changed), "
                                    "a plain line every 10 s: a passing message is not seen there";
const char* const WINE_PORT_HANGS =
    "under Wine a read of a COM port whose pseudo-terminal has hung up never returns (Wine's serial read loops on "
    "it), where Windows' port of an unplugged receiver reads as empty: there the receiver goes silent instead (SWAP)";
const char* const WINE_DIES_OF_SIGNALS = "Wine's loader dies of SIGTERM, SIGHUP and a closed terminal itself, where "
                                         "Windows has no such signals (q, Esc, Ctrl+C, Ctrl+Break or the console "
                                         "window closed end a Windows program)";

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

// The time at the start of a log line as milliseconds since 1970, UTC; -1 when it is not in the form. A
// zone's offset that is not whole minutes comes with its seconds (+01:00:07).
long long line_time_ms(const std::string& line)
{
    struct tm fields = {};
    int millisecond = 0, hours = 0, minutes = 0, seconds = 0, end = 0;
    char sign = 0;
    if (sscanf(line.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d%n", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
               &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &millisecond, &sign, &hours, &minutes, &end) != 10 ||
        end != 29 || (sign != '+' && sign != '-')) {
        return -1;
    }
    if (line.compare(29, 1, ":") == 0 && sscanf(line.c_str() + 29, ":%2d%n", &seconds, &end) == 1) end += 29;
    if (line.compare(static_cast<size_t>(end), 1, " ") != 0) return -1;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    long long offset = (hours * 3600 + minutes * 60 + seconds) * (sign == '-' ? -1 : 1);
    return (static_cast<long long>(timegm(&fields)) - offset) * 1000 + millisecond;
}

// The log file's name for a local day, as navlog names it.
std::string day_file(const struct tm& local)
{
    char name[32];
    snprintf(name, sizeof name, "%02d%s%04d.NAV", local.tm_mday, MONTHS[local.tm_mon], local.tm_year + 1900);
    return name;
}

// What gpsbabel, a reader not ours, makes of the sentences: its CSV track, or its complaints.
std::string gpsbabel_track(const std::vector<std::string>& sentences)
{
    TempDir scratch;
    std::string text, output;
    for (const std::string& s : sentences) text += s + "\r\n";
    write_file(scratch.file("in.nmea"), text);
    std::string files = "-f '" + scratch.file("in.nmea") + "' -o unicsv -F '" + scratch.file("out.csv") + "'";
    run_command("gpsbabel -t -i nmea " + files, &output);
    return output + read_file(scratch.file("out.csv"));
}

std::function<void(const NavlogOutcome&)> track_holds(const std::vector<std::string>& points)
{
    return [points](const NavlogOutcome& outcome) {
        std::string track = gpsbabel_track(outcome.sentences);
        EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
        for (const std::string& point : points) EXPECT_NE(std::string::npos, track.find(point)) << track;
    };
}

// Of 20,000 sentences sent while navlog is stopped, more are kept than a default queue holds (256); Linux counts
// the rest as dropped, Windows does not tell. With output not a terminal the status is a plain line every 10 s.
void burst_kept(const NavlogOutcome& outcome)
{
    const size_t kept = outcome.sentences.size();
    ASSERT_GT(kept, 1000u + 256u);
    EXPECT_EQ(0u, outcome.shown.find(outcome.day_files[0] + "  0.0 sentences/s  0 bad  no fix\n")) << outcome.shown;
    EXPECT_EQ(std::string::npos, outcome.shown.find('\r')) << outcome.shown;
    std::vector<std::string> status = lines_of(outcome.shown);
    ASSERT_GE(status.size(), 2u) << outcome.shown;
    EXPECT_LE(status.size(), 2 + static_cast<size_t>(outcome.ran_ms / 10000)) << outcome.shown;
    EXPECT_NE(std::string::npos, status.back().find("  GPS  9 satellites  51 06.0499 N")) << outcome.shown;
    size_t dropped = status.back().find(" dropped");  // shown once there are any
    dropped = dropped == std::string::npos ? 0 : stoul(status.back().substr(status.back().rfind("  ", dropped)));
    const bool told = outcome.system == NAVLOG_LINUX;
    EXPECT_EQ(told ? 20000u : 0u, told ? kept - 1000 + dropped : dropped) << outcome.shown;
    std::string track = gpsbabel_track(outcome.sentences);
    EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
    EXPECT_EQ(501u, lines_of(track).size()) << track;  // the header and a point a second
}

// Each day's file holds the lines of its own day.
void days_split_at_midnight(const NavlogOutcome& outcome)
{
    const char* const times[] = {"T23:59:5", "T00:00:0"};
    for (size_t day = 0; day < 2; ++day) {
        std::vector<std::string> lines = lines_of(read_file(outcome.directory + "/" + outcome.day_files[day]));
        EXPECT_FALSE(lines.empty()) << outcome.day_files[day];
        for (const std::string& line : lines) EXPECT_EQ(0u, line.find(outcome.day_text(day) + times[day])) << line;
    }
}

// headsim's track at its highest rate: GGA and RMC in turn, a vessel under way to the north-east.
void headsim_under_way(const NavlogOutcome& outcome)
{
    for (size_t i = 0; i + 1 < outcome.sentences.size(); i += 2) {
        EXPECT_EQ(0u, outcome.sentences[i].find("$GPGGA,")) << outcome.sentences[i];
        EXPECT_EQ(0u, outcome.sentences[i + 1].find("$GPRMC,")) << outcome.sentences[i + 1];
    }
    std::string track = gpsbabel_track(outcome.sentences);
    EXPECT_EQ(std::string::npos, track.find("Invalid")) << track;
    std::vector<std::string> points = lines_of(track);
    ASSERT_GE(points.size(), 10u) << track;
    double first_latitude = 0, last_latitude = 0;
    ASSERT_EQ(1, sscanf(points[1].c_str(), "%*d,%lf", &first_latitude)) << points[1];
    ASSERT_EQ(1, sscanf(points.back().c_str(), "%*d,%lf", &last_latitude)) << points.back();
    EXPECT_NEAR(51.1164, first_latitude, 0.0001);
    EXPECT_GT(last_latitude, first_latitude);
}

// A burst of 1000 sentences, 10 to a datagram, then 20,000 while navlog is stopped; SIGTERM ends it.
NavlogScenario burst_row()
{
    NavlogScenario row("udp_burst_kept_whole_and_in_order");
    row.source(SOURCE_UDP).output_to_file();
    std::vector<std::string> sent;
    for (int datagram = 0; datagram < 100; ++datagram) {
        std::string bytes;
        for (int n = datagram * 5; n < datagram * 5 + 5; ++n) {
            sent.insert(sent.end(), {rmc(n), gga(n)});
            bytes += rmc(n) + "\r\n" + gga(n) + "\r\n";
        }
        row.send(bytes);
        if (datagram % 10 == 9) row.pause(10);
    }
    return row.lines(1000, 10000).signal(SIGSTOP).step(BURST, "", 20000).signal(SIGCONT).step(QUIET)
        .signal(SIGTERM).only_on(NAVLOG_LINUX, WINE_DIES_OF_SIGNALS)
        .key("q").only_on(NAVLOG_WINDOWS, WINE_DIES_OF_SIGNALS)
        .logs(sent, false).check(burst_kept);
}

// A file size limit reached (as a full disk): the file keeps whole lines only, the rest are counted as not
// written, and navlog goes on. A line another writer appended meanwhile is kept: only what the failed write
// added is cut off. A second navlog on the day's file is refused.
NavlogScenario full_disk_row()
{
    const long limit = 1000;
    const std::string other = "appended-by-another-writer";
    const size_t line_size = 29 + 1 + gga(0).size() + 1;
    const size_t fitting = (limit - other.size() - 1) / line_size;
    NavlogScenario row("full_disk_leaves_whole_lines");
    row.source(SOURCE_UDP).file_size_limit(limit);
    row.step(SECOND, "navlog: cannot open $F: held by another navlog or program\n", 2, {"--udp", "$Q", "--bind", "$A"});
    std::vector<std::string> sent;
    for (int n = 0; n < 15; ++n) {
        if (n == 5) row.lines(5).step(APPEND, other), sent.push_back(other);
        row.send(gga(n) + "\r\n").pause(20);
        sent.push_back(gga(n));
    }
    sent.resize(fitting + 1);
    return row.shown(std::to_string(15 - fitting) + " not written").key("q").logs(sent)
        .check([=](const NavlogOutcome& o) {
            size_t bytes = 0;
            for (const std::string& line : o.lines) bytes += line.size() + 1;
            EXPECT_EQ(fitting * line_size + other.size() + 1, bytes) << "whole lines";
        });
}

// Local midnight, a few seconds away in the time zone navlog is given: the lines after it go to the new day's
// file; Esc ends it.
NavlogScenario midnight_row()
{
    NavlogScenario row("midnight_starts_the_next_days_file");
    row.source(SOURCE_UDP).midnight_soon();
    std::vector<std::string> sent;
    for (int n = 0; n < 16; ++n) row.send(gga(n) + "\r\n").pause(250), sent.push_back(gga(n));
    return row.key("\x1b").logs(sent).check(days_split_at_midnight);
}

std::vector<NavlogScenario> make_navlog_scenarios()
{
    const std::string first = gga(1);
    return {
        // Sentences in pieces and together are logged as received, after the local time their last byte came;
        // garbage is skipped; wrong and missing checksums and over-long lines are counted, not written.
        NavlogScenario("udp_pieces_together_and_bad").source(SOURCE_UDP)
            .send(first.substr(0, 11)).send(first.substr(11) + "\r").pause(200).step(SEND_TIMED, "\n")
            .send(rmc(2) + "\r\n" + gga(2) + "\n")
            .send("garbage \x01\x02 between sentences\r\n")
            .send(gga(3).substr(0, gga(3).size() - 2) + "00\r\n")
            .send(gga(4).substr(0, gga(4).size() - 3) + "\r\n")
            .send(sentence("GPTXT," + std::string(NMEA_TEXT_MAX - 9, 'X')) + "\r\n")
            .send(rmc(5) + "\r\n").lines(4)
            .shown("  3 bad  GPS  9 satellites  51 06.0005 N  001 23.4567 E  0 s old")
            .only_on(NAVLOG_LINUX, STATUS_IN_TICKS)
            .key("q")
            .logs({first, rmc(2), gga(2), rmc(5)}).timed_line(0)
            .shows("  3 bad  GPS  9 satellites  51 06.0005 N  001 23.4567 E")
            .check(track_holds({"51.100002,1.390945", "51.100003,1.390945"})),
        burst_row(),
        // A serial receiver unplugged and plugged in again under the same name: navlog says so meanwhile, opens
        // it again and logs on, also when the line is merely silent for 10 s; Ctrl+C ends it.
        NavlogScenario("serial_line_unplugged_and_back").source(SOURCE_SERIAL).arguments({"--baud", "9600"})
            .send(first.substr(0, 20)).pause(50).send(first.substr(20) + "\r\n" + rmc(1) + "\r\n").lines(2)
            .step(UNPLUG).only_on(NAVLOG_LINUX, WINE_PORT_HANGS)
            .shown("$D: No such file or directory, trying again in 1 s").only_on(NAVLOG_LINUX, WINE_PORT_HANGS)
            .step(PLUG).only_on(NAVLOG_LINUX, WINE_PORT_HANGS)
            .send(gga(2) + "\r\n").lines(3)
            .step(SWAP)
            .shown("no data for 10 s", 15000).only_on(NAVLOG_LINUX, STATUS_IN_TICKS)
            .send(gga(3) + "\r\n").lines(4, 15000)
            .key("\x03")
            .logs({first, rmc(1), gga(2), gga(3)}),
        // A TCP source that restarts is connected to again, after a pause that grows; a sentence cut short by
        // the loss is dropped.
        NavlogScenario("tcp_source_restarting").source(SOURCE_TCP)
            .send(first + "\r\n" + rmc(1) + "\r\n" + gga(2).substr(0, 30)).lines(2)
            .step(UNPLUG)
            .shown("tcp $A:$P: closed by the other end, trying again in").only_on(NAVLOG_LINUX, STATUS_IN_TICKS)
            .shown("tcp $A:$P: Connection refused, trying again in 2 s").only_on(NAVLOG_LINUX, STATUS_IN_TICKS)
            .step(PLUG)
            .send(gga(3) + "\r\n").lines(3)
            .signal(SIGHUP).only_on(NAVLOG_LINUX, WINE_DIES_OF_SIGNALS)
            .signal(SIGINT).only_on(NAVLOG_WINDOWS, "Wine makes SIGINT the console's Ctrl+C")
            .logs({first, rmc(1), gga(3)}).shows("  0 bad"),
        midnight_row(),
        full_disk_row(),
        // The day's file deleted while navlog logs to it, then another moved over it: each time navlog says so and
        // opens the day's file anew, and the lines go on into the file of that name.
        NavlogScenario("day_file_deleted_or_replaced_is_opened_anew").source(SOURCE_UDP)
            .send(first + "\r\n").lines(1).step(REMOVE)
            .send(gga(2) + "\r\n").lines(1).shown("navlog: $F was deleted or replaced; opening it anew")
            .step(REPLACE, "put-in-its-place")
            .send(gga(3) + "\r\n").lines(2)
            .key("q")
            .logs({"put-in-its-place", gga(3)}),
        // A day's file ending in part of a line (a power cut): the first line logged starts on a line of its own.
        // A recording put at its name (it starts as a data file's ping record): nothing is written into it.
        NavlogScenario("day_file_torn_then_a_recording_put_at_its_name").source(SOURCE_UDP)
            .existing("$F", "$GPGGA,torn")
            .send(first + "\r\n").lines(2)
            .step(REPLACE, "QKV")
            .send(gga(2) + "\r\n").shown("$F: a data file (it starts as a ping record): nothing is written into it")
            .key("q")
            .logs({"QKV"}),
        // headsim's simulated track, at its highest rate, is logged as a vessel under way.
        NavlogScenario("headsim_track_is_logged").arguments({"--udp", "$P", "--bind", "127.0.0.1"})
            .step(START_HEADSIM, "", 0, {"--nmea-udp", "$P", "--nmea-rate", "10"}).lines(20).step(STOP_HEADSIM)
            .key("q")
            .check(headsim_under_way),
        // The terminal window closed: navlog ends with status 0 and its file complete. Started to ignore the
        // hang-up (nohup), it logs on without its terminal, idle, until SIGTERM.
        NavlogScenario("terminal_closed_ends_it").source(SOURCE_UDP)
            .send(first + "\r\n").lines(1).step(HANG_UP)
            .logs({first})
            .builds(NAVLOG_LINUX, WINE_DIES_OF_SIGNALS),
        NavlogScenario("nohup_logs_on_without_its_terminal").source(SOURCE_UDP).hangup_ignored()
            .send(first + "\r\n").lines(1).step(HANG_UP).step(IDLE, "", 50).send(gga(2) + "\r\n").lines(2)
            .signal(SIGTERM)
            .logs({first, gga(2)})
            .builds(NAVLOG_LINUX, "a program started to ignore SIGHUP is Linux's (nohup)"),

        // A source that can never be used as asked is refused at once with status 2, and no file is made; a
        // day's file that is not a regular file (a FIFO, which would hold the open for ever) at once with status 1.
        NavlogScenario("null_device_is_no_serial_line").arguments({"--serial", "$N"})
            .ends_at_once(2, "navlog: $N: not a serial device\n"),
        NavlogScenario("plain_file_is_no_serial_line").existing("plain-file", "not a device")
            .arguments({"--serial", "plain-file"})
            .ends_at_once(2, "navlog: plain-file: not a serial device\n")
            .builds(NAVLOG_LINUX, "Windows names a serial line in the device namespace (\\\\.\\COMn), without files"),
        NavlogScenario("udp_port_held_elsewhere").source(SOURCE_UDP).port_taken()
            .ends_at_once(2, "navlog: udp $A:$P: Address already in use\n")
            .on_windows_ends_at_once(2, "navlog: udp $A:$P: ", "Wine has no words for Winsock's errors (error 10048)"),
        NavlogScenario("address_not_ipv4").arguments({"--udp", "$P", "--bind", "127.77.1.256"})
            .ends_at_once(2, "navlog: udp 127.77.1.256:$P: not an IPv4 address\n"),
        NavlogScenario("baud_rate_not_allowed").arguments({"--serial", "$N", "--baud", "4801"})
            .ends_at_once(2, "navlog: --baud must be one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
                             "230400, not \"4801\"\nusage: navlog --serial DEVICE [--baud N]\n"),
        NavlogScenario("day_file_not_regular").source(SOURCE_UDP).existing_fifo("$F")
            .ends_at_once(1, "navlog: cannot open $F: not a regular file\n"),
        // Nor a symbolic link, which would have the lines appended to the file it names: here a recording.
        NavlogScenario("day_file_a_link").source(SOURCE_UDP).existing("rec.QKV", "QKV\n").existing_link("$F", "rec.QKV")
            .ends_at_once(1, "navlog: cannot open $F: a symbolic link\n")
            .builds(NAVLOG_LINUX, "Wine shows a link of the host's file system as the file it names"),
        NavlogScenario("version").arguments({"--version"}).ends_at_once(0, "navlog 1.0.0\n"),
    };
}

// A socket bound to the address (a TCP one listening there, again as soon as it closed); -1 when another
// holds it.
int bound_socket(int type, const std::string& address, int port)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0), on = 1;
    if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && (type != SOCK_STREAM || listen(fd, 1) == 0))
        return fd;
    close(fd);
    return -1;
}

int accept_within(int listener, int timeout_ms)
{
    struct pollfd ready = {listener, POLLIN, 0};
    return listener >= 0 && poll(&ready, 1, timeout_ms) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

// One row run on one build: navlog, its source, and what it left.
struct NavlogRun {
    const NavlogScenario& row;
    const NavlogBuild& build;
    const size_t index;
    const bool windows = build.system == NAVLOG_WINDOWS;
    // Rows and systems never share an address or a port.
    const std::string address = "127.77." + std::to_string(windows ? 3 : 1) + "." + std::to_string(index + 10);
    const int port = 47300 + (windows ? 50 : 0) + static_cast<int>(index);
    TempDir dir, aside;  // navlog's directory; its status file and its serial line's name
    std::vector<std::string> day_files = {today() + ".NAV"};
    std::string zone, device, link;
    std::vector<std::unique_ptr<SerialReceiver>> receivers;
    std::unique_ptr<UdpSender> udp;
    int listener = -1, connection = -1, taken = -1;
    std::unique_ptr<Client> client;
    std::unique_ptr<ShownText> shown;
    std::unique_ptr<HeadSim> head;
    long long timed_from = 0, timed_until = 0, started_wall = 0, started = 0;

    NavlogRun(const NavlogScenario& scenario, const NavlogBuild& on, size_t row_index)
        : row(scenario), build(on), index(row_index)
    {
    }
    ~NavlogRun()
    {
        client.reset();  // navlog ends before its source
        for (int fd : {listener, connection, taken}) {
            if (fd >= 0) close(fd);
        }
        if (!link.empty()) unlink(link.c_str());
    }

    // A zone where it is 23:59:58 now, and the files of that day and the next.
    void set_midnight_soon()
    {
        time_t now = time(nullptr);
        long long offset = ((86400 - now % 86400 - 2) % 86400 + 86400) % 86400;
        if (offset > 12 * 3600) offset -= 86400;
        long long west = offset > 0 ? offset : -offset;  // TZ counts west of Greenwich: the sign turns
        char text[64];
        snprintf(text, sizeof text, "TZ=NAV%c%02lld:%02lld:%02lld", offset > 0 ? '-' : '+', west / 3600,
                 west / 60 % 60, west % 60);
        zone = text;
        time_t local[2] = {static_cast<time_t>(now + offset), static_cast<time_t>(now + offset + 10)};
        struct tm days[2];
        for (int day = 0; day < 2; ++day) gmtime_r(&local[day], &days[day]);
        day_files = {day_file(days[0]), day_file(days[1])};
    }

    std::string filled(const std::string& text) const
    {
        std::string with = replaced(replaced(text, "$A", address), "$P", std::to_string(port));
        with = replaced(replaced(with, "$Q", std::to_string(port + 200)), "$D", device);
        return replaced(replaced(with, "$F", day_files[0]), "$N", build.null_device);
    }

    std::vector<std::string> filled(const std::vector<std::string>& words) const
    {
        std::vector<std::string> with;
        for (const std::string& word : words) with.push_back(filled(word));
        return with;
    }

    std::vector<std::string> arguments() const
    {
        std::vector<std::string> words;
        if (row.from == SOURCE_UDP) words = {"--udp", "$P", "--bind", "$A"};
        if (row.from == SOURCE_TCP) words = {"--tcp", "$A:$P"};
        if (row.from == SOURCE_SERIAL) words = {"--serial", "$D"};
        words.insert(words.end(), row.extra.begin(), row.extra.end());
        return filled(words);
    }

    void prepare()
    {
        if (row.midnight) set_midnight_soon();
        for (const auto& file : row.present) write_file(dir.file(filled(file.first)), file.second);
        for (const std::string& fifo : row.fifos) EXPECT_EQ(0, mkfifo(dir.file(filled(fifo)).c_str(), 0600));
        for (const auto& link : row.links) EXPECT_EQ(0, symlink(link.second.c_str(), dir.file(filled(link.first)).c_str()));
        if (row.port_held) taken = bound_socket(SOCK_DGRAM, address, port);
        if (row.from == SOURCE_UDP) udp.reset(new UdpSender(address, port));
        if (row.from == SOURCE_TCP) listener = bound_socket(SOCK_STREAM, address, port);
        ASSERT_TRUE(taken >= 0 || !row.port_held) << "another test holds " << address;
        ASSERT_TRUE(listener >= 0 || row.from != SOURCE_TCP) << "another test listens on " << address;
        if (row.from == SOURCE_SERIAL) {
            device = build.serial(index, aside.path(), &link);
            unlink(link.c_str());
            plug();
        }
    }

    void run()
    {
        prepare();
        if (testing::Test::HasFatalFailure()) return;
        if (row.at_once) return run_at_once();
        ClientOptions options = build.start;
        options.arguments = arguments();
        options.columns = 200;  // the whole status line
        if (!zone.empty()) options.environment.push_back(zone);
        options.file_size_limit = row.size_limit;
        // A program under a file size limit must not be the one that starts the system's own server (Wine's
        // wineserver, which would take on the limit): one without it runs first.
        if (row.size_limit > 0) run_command(build.command + " --version");
        options.hangup_ignored = row.nohup;
        if (windows || row.to_file) options.stdout_path = aside.file(SCREEN);
        started_wall = wall_ms();
        started = now_ms();
        client.reset(new Client(dir.path(), options));
        shown.reset(new ShownText(*client, options.stdout_path, windows));
        // The status is shown once navlog is listening.
        std::string drawn = (options.stdout_path.empty() ? "\r" : "") + day_files[0];
        ASSERT_TRUE(shown->wait_for(drawn, 5000 + build.slack_ms)) << shown->now();
        if (row.from == SOURCE_TCP) connection = accept_within(listener, 5000 + build.slack_ms);
        ASSERT_TRUE(connection >= 0 || row.from != SOURCE_TCP) << "navlog did not connect";
        for (const NavlogStep& step : row.steps) {
            if (step.systems & build.system) act(step);
            if (testing::Test::HasFatalFailure()) return;
        }
        ExitInfo exit = client->wait_exit(10000 + build.slack_ms);
        ASSERT_TRUE(exit.ended) << shown->now();
        check_outcome(exit);
    }

    void run_at_once()
    {
        ends_at_once(arguments(), windows ? row.windows_status : row.exit_status,
                     filled(windows ? row.windows_said : row.said));
        EXPECT_EQ(files_expected(), sorted(list_dir(dir.path()))) << "no file is made";
        for (const auto& file : row.present) EXPECT_EQ(file.second, read_file(dir.file(filled(file.first)))) << "changed";
    }

    void ends_at_once(const std::vector<std::string>& words, int status, const std::string& message)
    {
        std::string command = "cd '" + dir.path() + "' && " + build.command;
        for (const std::string& word : words) command += " '" + word + "'";
        std::string output;
        EXPECT_EQ(status, run_command(command + " < /dev/null", &output)) << command << "\n" << output;
        int bare = 0;
        if (windows) output = fold_crlf(output, &bare);
        EXPECT_EQ(0u, output.find(message)) << output;
    }

    void act(const NavlogStep& step)
    {
        const int patience_ms = step.timeout_ms + build.slack_ms;
        switch (step.action) {
        case SEND: return send(step.text);
        case SEND_TIMED: timed_from = wall_ms(), send(step.text), timed_until = wall_ms(); return;
        case BURST:
            for (int n = 0; n < step.number; ++n) send(sentence("GPTXT,01,01,02,burst " + std::to_string(n)) + "\r\n");
            return;
        case PAUSE: usleep(static_cast<useconds_t>(step.number) * 1000); return;
        case LINES: ASSERT_TRUE(wait_for_lines(static_cast<size_t>(step.number), patience_ms)) << shown->now(); return;
        case QUIET:  // bounded by what was sent
            for (size_t lines = 0, now = 1; now != lines && now_ms() - started < 120000; usleep(300000))
                lines = now, now = line_count();
            return;
        case SHOWN: ASSERT_TRUE(shown->wait_for(filled(step.text), patience_ms)) << shown->now(); return;
        case UNPLUG: return unplug();
        case PLUG: return plug();
        case SWAP: unlink(link.c_str()); return plug();  // the line open stays open, and silent
        case KEY: return client->type(step.text);
        case SIGNAL: kill(client->pid(), step.number); return;
        case HANG_UP: return client->close_terminal();
        case IDLE: {
            usleep(200000);
            double before = client->cpu_seconds();
            usleep(1000000);
            EXPECT_LT(client->cpu_seconds() - before, step.number / 1000.0) << "spins without its terminal";
            return;
        }
        case APPEND: std::ofstream(dir.file(day_files[0]), std::ios::app) << step.text << "\n"; return;
        case REMOVE: unlink(dir.file(day_files[0]).c_str()); return;
        case REPLACE:
            write_file(dir.file("replacement"), step.text + "\n");
            rename(dir.file("replacement").c_str(), dir.file(day_files[0]).c_str());
            return;
        case SECOND: return ends_at_once(filled(step.words), step.number, filled(step.text));
        case START_HEADSIM:
            head.reset(new HeadSim(address, filled(step.words)));
            ASSERT_TRUE(head->ready()) << "another test listens on " << address;
            return;
        case STOP_HEADSIM: head->stop(); return;
        }
    }

    void send(const std::string& bytes)
    {
        if (row.from == SOURCE_UDP) return udp->send(bytes);
        int fd = row.from == SOURCE_TCP ? connection : receivers.back()->master;
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
    }

    void unplug()
    {
        if (row.from == SOURCE_SERIAL) receivers.back()->unplug();
        if (row.from == SOURCE_SERIAL) unlink(link.c_str());
        for (int* fd : {&connection, &listener}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
    }

    void plug()
    {
        if (row.from == SOURCE_SERIAL) {
            receivers.emplace_back(new SerialReceiver);
            ASSERT_EQ(0, symlink(receivers.back()->path().c_str(), link.c_str()));
            return;
        }
        listener = bound_socket(SOCK_STREAM, address, port);
        connection = accept_within(listener, 8000 + build.slack_ms);
        ASSERT_LE(0, connection) << shown->now();
    }

    size_t line_count() const
    {
        size_t count = 0;
        for (const std::string& name : day_files) {
            std::string text = read_file(dir.file(name));
            count += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        }
        return count;
    }

    bool wait_for_lines(size_t count, int timeout_ms) const
    {
        for (long long deadline = now_ms() + timeout_ms; line_count() < count; usleep(20000)) {
            if (now_ms() > deadline) return false;
        }
        return true;
    }

    static std::vector<std::string> sorted(std::vector<std::string> names)
    {
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> files_expected() const
    {
        std::vector<std::string> files = filled(row.fifos);
        for (const auto& link : row.links) files.push_back(filled(link.first));
        for (const auto& file : row.present) files.push_back(filled(file.first));
        if (!row.at_once) files.insert(files.end(), day_files.begin(), day_files.end());
        files = sorted(files);
        files.erase(std::unique(files.begin(), files.end()), files.end());  // a day's file there before
        return files;
    }

    void check_outcome(const ExitInfo& exit)
    {
        NavlogOutcome outcome = {build.system, dir.path(), day_files, {}, {}, shown->now(), now_ms() - started};
        EXPECT_EQ(0, exit.signal);
        EXPECT_EQ(row.exit_status, exit.status) << outcome.shown;
        EXPECT_EQ(files_expected(), sorted(list_dir(dir.path()))) << "the files of navlog's directory afterwards";
        for (const std::string& name : day_files) {
            for (const std::string& line : lines_of(read_file(dir.file(name)))) outcome.lines.push_back(line);
        }
        // Every sentence carries the local time it came, with the offset in force.
        for (const std::string& line : outcome.lines) {
            size_t blank = line.find(' ');
            outcome.sentences.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
            if (blank == std::string::npos) continue;  // another writer's
            EXPECT_GE(line_time_ms(line), started_wall - 1000) << line;
            EXPECT_LE(line_time_ms(line), wall_ms() + 1000) << line;
        }
        std::vector<std::string> logged = outcome.sentences;
        if (!row.logged_whole) logged.resize(std::min(logged.size(), row.logged.size()));
        if (!row.logged.empty()) {
            EXPECT_EQ(row.logged, logged);
        }
        if (row.timed >= 0) {
            long long arrived = line_time_ms(outcome.lines.at(static_cast<size_t>(row.timed)));
            EXPECT_GE(arrived, timed_from) << "stamped before its last byte was sent";
            EXPECT_LE(arrived, timed_until + (windows ? 1000 : 100)) << "stamped late";
        }
        for (const std::string& text : row.shown_texts) {
            EXPECT_NE(std::string::npos, outcome.shown.find(filled(text))) << outcome.shown;
        }
        if (row.own_check) row.own_check(outcome);
    }
};

}  // namespace

std::string NavlogOutcome::day_text(size_t day) const
{
    const std::string& name = day_files.at(day);
    int month = static_cast<int>(std::find(MONTHS, MONTHS + 12, name.substr(2, 3)) - MONTHS) + 1;
    char text[16];
    snprintf(text, sizeof text, "%s-%02d-%s", name.substr(5, 4).c_str(), month, name.substr(0, 2).c_str());
    return text;
}

const std::vector<NavlogScenario>& navlog_scenarios()
{
    static const std::vector<NavlogScenario> rows = make_navlog_scenarios();
    return rows;
}

std::vector<NavlogCase> navlog_cases(const std::vector<NavlogBuild>& builds)
{
    std::vector<NavlogCase> cases;
    for (size_t row = 0; row < navlog_scenarios().size(); ++row) {
        for (const NavlogBuild& build : builds) {
            if (navlog_scenarios()[row].systems_run & build.system) cases.push_back({row, build});
        }
    }
    return cases;
}

std::string navlog_case_name(const testing::TestParamInfo<NavlogCase>& info)
{
    return navlog_scenarios()[info.param.row].name;
}

void PrintTo(const NavlogCase& which, std::ostream* out)
{
    *out << navlog_scenarios()[which.row].name << " on " << which.build.name;
}

void run_navlog_scenario(const NavlogCase& which)
{
    NavlogRun run(navlog_scenarios()[which.row], which.build, which.row);
    run.run();
}

}  // namespace e2e
