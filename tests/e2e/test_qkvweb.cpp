// qkvweb as a person meets it: the program records headsim's pings while
// navlog logs headsim's track, and qkvweb's page is opened in headless
// Chromium (browser.py), its endpoints asked with curl and its metrics
// checked with promtool; the picture the page drew is compared with the one
// qkvdump --png draws of the same pings, read with libpng.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/picture.h"

using namespace e2e;

namespace {

const std::string HERE = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/'));
const int PAGE_COLUMNS = 400;

struct Answer {
    int code = 0;
    std::string body;
};

// One request by curl, the path sent as written: its status code and body.
Answer ask(const std::string& url, const std::string& curl_options = "")
{
    std::string said;
    run_command("curl -s --max-time 5 --path-as-is " + curl_options + " -w '\\n%{http_code}' '" + url + "'", &said);
    Answer answer;
    size_t last_line = said.rfind('\n');
    if (last_line == std::string::npos) return answer;
    answer.code = atoi(said.c_str() + last_line + 1);
    answer.body = said.substr(0, last_line);
    return answer;
}

bool wait_for_answer(const std::string& url, int code, const std::string& starting, int timeout_ms, Answer* answer)
{
    long long deadline = now_ms() + timeout_ms;
    do {
        *answer = ask(url);
        if (answer->code == code && answer->body.compare(0, starting.size(), starting) == 0) return true;
        usleep(100000);
    } while (now_ms() < deadline);
    return false;
}

// qkvweb serving the directory, as a service runs it: no terminal.
ClientOptions qkvweb_at(const std::string& listen, const std::vector<std::string>& more = {})
{
    ClientOptions options;
    options.program = QKVWEB;
    options.with_terminal = false;
    options.arguments = {"--listen", listen};
    options.arguments.insert(options.arguments.end(), more.begin(), more.end());
    return options;
}

// The page in headless Chromium, until wait holds; the value of each expression, one JSON line each.
std::string browse(const std::string& url, const std::string& wait, const std::vector<std::string>& expressions)
{
    std::string command =
        "/usr/bin/python3 '" + HERE + "/browser.py' '" + url + "' --timeout 30 --wait \"" + wait + "\"";
    for (const std::string& expression : expressions) command += " --eval \"" + expression + "\"";
    std::string said;
    int status = run_command(command, &said);
    return status == 0 ? said : "status " + std::to_string(status) + ": " + said;
}

// FNV-1a over the red, green and blue of every pixel, the picture's last row first: the waterfall as the page
// draws it, newest ping on top.
std::string checksum_newest_first(const Decoded& picture)
{
    uint32_t hash = 0x811c9dc5;
    for (int row = picture.height - 1; row >= 0; --row) {
        const uint8_t* pixel = picture.pixels.data() + static_cast<size_t>(row) * picture.width * picture.channels;
        for (int column = 0; column < picture.width; ++column, pixel += picture.channels) {
            for (int channel = 0; channel < 3; ++channel) hash = (hash ^ pixel[channel]) * 0x01000193u;
        }
    }
    char text[16];
    snprintf(text, sizeof text, "%08x", hash);
    return text;
}

// A connection to the address and port that has sent nothing yet, made within two seconds; -1 for none.
int connect_to(const char* address, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval bound = {2, 0};
    sockaddr_in to = {AF_INET, htons(static_cast<uint16_t>(port)), {inet_addr(address)}, {}};
    if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        return fd;
    }
    close(fd);
    return -1;
}

}  // namespace

// The page, opened while the program records, draws the pings of the data file as qkvdump --png draws them
// and names the file and its records; when the recorder stops, /health turns 503 and /metrics says so.
TEST(Qkvweb, PageShowsTheRecordingAndHealthFollowsTheRecorder)
{
    const int pings = 100;
    TempDir dir;
    Client logger(dir.path(), navlog_options({"--udp", "47127", "--bind", "127.0.0.1"}));
    ASSERT_TRUE(logger.wait_for("\r" + today() + ".NAV", 5000)) << logger.screen();
    HeadSim head("127.77.27.1", {"--ping-rate", "20", "--nmea-udp", "47127", "--nmea-rate", "10", "--fault",
                                 "close@" + std::to_string(8 * pings + 1)});
    ASSERT_TRUE(head.ready());
    Client server(dir.path(), qkvweb_at("127.77.27.1:8027", {"--stale-after", "2"}));
    const std::string url = "http://127.77.27.1:8027";
    Answer answer;
    EXPECT_TRUE(wait_for_answer(url + "/health", 503, "no data file: waiting for a data file of today, " + today() +
                                "-????.QKV", 5000, &answer)) << answer.code << " " << answer.body;

    write_settings(dir, "127.77.27.1");
    ClientOptions recording;
    recording.program = PROGRAM_STORE_ON;
    recording.with_terminal = false;
    recording.stdout_path = dir.file("screen.txt");
    Client recorder(dir.path(), recording);
    EXPECT_TRUE(wait_for_answer(url + "/health", 200, "recording: " + today() + "-0001.QKV, ", 5000, &answer))
        << answer.code << " " << answer.body;
    // Opened while the file still grows: what it shows at the end came as it was recorded.
    std::string shown = browse(url + "/",
                               "qkvwebDrawn().rows == " + std::to_string(pings) +
                                   " && document.getElementById('state').textContent == 'stale'",
                               {"qkvwebDrawn().checksum", "qkvwebDrawn().newest",
                                "document.getElementById('status-file').textContent",
                                "document.getElementById('status-records').textContent",
                                "document.getElementById('status-position').textContent.length > 20",
                                "qkvwebDrawn().depth_ticks.join(' ')", "qkvwebDrawn().time_ticks.join(' ')"});
    ASSERT_EQ(1, recorder.wait_exit(5000).status);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    ASSERT_EQ(pings * RECORD, read_file(dir.file(files[0])).size());
    std::string said;
    ASSERT_EQ(0, qkvdump_with({"--png", dir.file("pings.png"), "--width", std::to_string(PAGE_COLUMNS),
                               dir.file(files[0])}, &said)) << said;
    Decoded picture = decode_png(dir.file("pings.png"));
    ASSERT_EQ("", picture.fault);
    // Time across and depth down, as a sounder shows it: the depth scale at 5 m steps over the 30 m range, and a
    // tick at each whole second the records' own times (bytes 20 to 27) reach over the pings' five seconds.
    const std::string data = read_file(dir.file(files[0]));
    std::string ticks;
    for (int ping = 1; ping < pings; ++ping) {
        std::string second = data.substr(ping * RECORD + 20, 8);
        if (second != data.substr((ping - 1) * RECORD + 20, 8)) ticks += (ticks.empty() ? "" : " ") + second;
    }
    EXPECT_EQ("\"" + checksum_newest_first(picture) + "\"\n" + std::to_string(pings - 1) + "\n\"" + files[0] +
                  "\"\n\"" + std::to_string(pings) + "\"\ntrue\n\"0 m 5 m 10 m 15 m 20 m 25 m 30 m\"\n\"" + ticks +
                  "\"\n",
              shown);

    EXPECT_TRUE(wait_for_answer(url + "/health", 503, "stale: the last record of " + files[0] + " is ", 5000, &answer))
        << answer.code << " " << answer.body;
    ASSERT_EQ(0, run_command("curl -s --max-time 5 " + url + "/metrics > '" + dir.file("metrics.txt") + "'"));
    EXPECT_EQ(0, run_command("promtool check metrics < '" + dir.file("metrics.txt") + "'", &said)) << said;
    std::string metrics = read_file(dir.file("metrics.txt"));
    EXPECT_NE(std::string::npos, metrics.find("\nqkvweb_recording 0\n")) << metrics;
    EXPECT_NE(std::string::npos, metrics.find("\nqkvweb_data_file_records " + std::to_string(pings) + "\n"));
    kill(server.pid(), SIGTERM);
    EXPECT_EQ(0, server.wait_exit().status);
    logger.type("q");
    EXPECT_EQ(0, logger.wait_exit().status);
}

// Only the page's files and the endpoints, only to GET and HEAD, however the path is written; past the cap on
// clients the page is answered 503 while monitoring still gets its answers; a second qkvweb on the port is refused.
TEST(Qkvweb, ServesItsPageAndNothingElse)
{
    TempDir dir;
    write_file(dir.file("secret.txt"), "not to be served\n");
    write_settings(dir, "127.77.27.2");
    Client server(dir.path(), qkvweb_at("127.77.27.2:8027", {"--max-clients", "2"}));
    const std::string url = "http://127.77.27.2:8027";
    Answer answer;
    ASSERT_TRUE(wait_for_answer(url + "/health", 503, "no data file", 5000, &answer)) << answer.body;
    struct Row {
        const char* curl_options;
        const char* path;
        int code;
        const char* not_said = "[Settings]";  // with the headers, with -D -
    };
    const Row rows[] = {
        {"-D -", "/health", 503, "Retry-After"},  // the crowd's refusal alone asks to come back, and closes
        {"", "/", 200},
        {"-I", "/", 200},
        {"", "/qkvweb.js", 200},
        {"", "/status?refresh=1", 200},
        {"", "/secret.txt", 404},
        {"", "/../secret.txt", 404},
        {"", "/%2e%2e/secret.txt", 404},
        {"", "/%2E%2E%2Fsecret.txt", 404},
        {"", "//etc/passwd", 404},
        {"", "/status%00.json", 404},
        {"", "/qkvweb.js/../secret.txt", 404},
        {"", "/index.html", 404},
        {"--request-target http://127.77.27.2:8027/secret.txt", "/", 404},
        {"--request-target /etc/passwd", "/", 404},
        {"-X POST -d x=1", "/", 405},
        {"-X PUT -d x=1", "/status", 405},
        {"-X DELETE", "/health", 405},
        {"-X OPTIONS", "/", 405},
        {"-X TRACE", "/", 405},
        {"-X GET -d x=1", "/health", 503},  // a body is no harm: the answer of /health
    };
    for (const Row& row : rows) {
        Answer got = ask(url + row.path, row.curl_options);
        EXPECT_EQ(row.code, got.code) << row.curl_options << " " << row.path << ": " << got.body;
        EXPECT_EQ(std::string::npos, got.body.find("not to be served")) << row.path;
        EXPECT_EQ(std::string::npos, got.body.find(row.not_said)) << row.path << " " << got.body;
        EXPECT_EQ(std::string::npos, got.body.find("root:")) << row.path;
    }
    EXPECT_NE(std::string::npos, ask(url + "/", "-X POST -D - -o /dev/null").body.find("Allow: GET, HEAD\r\n"));

    // Two pages watching fill the cap. Nothing else is asked until both streams have begun: a request
    // open as the second page came would make it the one too many.
    run_command("for i in 1 2; do curl -s -N --max-time 20 " + url + "/events > '" + dir.file("events") +
                "'$i.txt 2>&1 & done");
    auto streaming = [&](const char* name) { return read_file(dir.file(name)).find("event: ") != std::string::npos; };
    long long deadline = now_ms() + 5000;
    while (!(streaming("events1.txt") && streaming("events2.txt")) && now_ms() < deadline) usleep(50000);
    ASSERT_TRUE(streaming("events1.txt") && streaming("events2.txt")) << read_file(dir.file("events1.txt"))
                                                                      << read_file(dir.file("events2.txt"));
    deadline = now_ms() + 5000;
    while (ask(url + "/metrics").body.find("\nqkvweb_clients 3\n") == std::string::npos && now_ms() < deadline) {
        usleep(50000);
    }
    answer = ask(url + "/", "-D -");
    EXPECT_EQ(503, answer.code);
    EXPECT_NE(std::string::npos, answer.body.find("\r\nRetry-After: 5\r\n")) << answer.body;
    EXPECT_NE(std::string::npos, answer.body.find("\r\n\r\ntoo many clients: 3 connections open, at most 2 are served"))
        << answer.body;
    answer = ask(url + "/health");
    EXPECT_EQ(0u, answer.body.find("no data file")) << answer.body;

    ClientOptions second = qkvweb_at("127.77.27.2:8027");
    second.stdout_path = dir.file("second.txt");
    second.with_terminal = true;
    Client another(dir.path(), second);
    EXPECT_EQ(2, another.wait_exit(5000).status);
    EXPECT_NE(std::string::npos, another.screen().find("qkvweb: cannot serve on 127.77.27.2:8027: "))
        << another.screen();
    kill(server.pid(), SIGTERM);
    EXPECT_EQ(0, server.wait_exit().status);
}

// Connections that say nothing, or trickle a header line every four seconds, take room but never a turn: with
// 300 of the one and 128 of the other open, /health, /status and /metrics are answered within a second all the
// while.
TEST(Qkvweb, MonitoringAnsweredBesideIdleAndTricklingConnections)
{
    TempDir dir;
    Client server(dir.path(), qkvweb_at("127.77.27.3:8027"));
    const std::string url = "http://127.77.27.3:8027";
    Answer answer;
    ASSERT_TRUE(wait_for_answer(url + "/health", 503, "no data file", 5000, &answer)) << answer.body;
    std::vector<int> idle, trickling;
    for (int i = 0; i < 300; ++i) idle.push_back(connect_to("127.77.27.3", 8027));
    for (int i = 0; i < 128; ++i) trickling.push_back(connect_to("127.77.27.3", 8027));
    EXPECT_EQ(0, std::count(idle.begin(), idle.end(), -1) + std::count(trickling.begin(), trickling.end(), -1));
    long slowest_ms = 0;
    for (long long start = now_ms(), line = 0; now_ms() - start < 12500; usleep(300000)) {
        for (; line * 4000 <= now_ms() - start; ++line) {
            const char* part = line == 0 ? "GET /health HTTP/1.1\r\n" : "X-Slow: 1\r\n";
            for (int fd : trickling) send(fd, part, strlen(part), MSG_NOSIGNAL);
        }
        for (const char* path : {"/health", "/status", "/metrics"}) {
            long long before = now_ms();
            EXPECT_EQ(path[1] == 'h' ? 503 : 200, ask(url + path, "--max-time 1").code) << path << " after "
                                                                                       << now_ms() - start << " ms";
            slowest_ms = std::max(slowest_ms, static_cast<long>(now_ms() - before));
        }
    }
    EXPECT_LT(slowest_ms, 1000);
    EXPECT_NE(std::string::npos, ask(url + "/metrics").body.find("\nqkvweb_clients 129\n"));  // the idle ones closed
    for (int fd : idle) close(fd);
    for (int fd : trickling) close(fd);
    kill(server.pid(), SIGTERM);
    EXPECT_EQ(0, server.wait_exit().status);
}
