// The Windows builds end to end under Wine against the Linux headsim: the
// program's scenario table on both, navlog's on its build, and what only
// Windows shows. The .exe's output is redirected to a file (under Wine the C
// runtime writes it at every line end; Windows itself writes it in 512-byte
// blocks), its lines ending in CR LF; keys are typed on the pseudo-terminal
// that Wine's console reads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/navlog_scenario.h"
#include "tests/e2e/scenario.h"
#include "tests/wine/wine_run.h"

using namespace e2e;
using namespace wine;

namespace {

// Longer than on Linux: a key goes through Wine's console first.
const int HOLD_PASS_17_MS = 2500;

class Scenarios : public testing::TestWithParam<ScenarioCase> {};

// Wine maps COMn onto the device its dosdevices link names: here a
// pseudo-terminal. From COM30 on, named in the device namespace form, as COM
// ports from 10 on must be.
std::string com_port(size_t row, const std::string&, std::string* link)
{
    std::string number = std::to_string(30 + row);
    *link = std::string(WINE_PREFIX) + "/dosdevices/com" + number;
    return "\\\\.\\COM" + number;
}

NavlogBuild windows_navlog()
{
    std::string command = "timeout 60 " + wine_environment() + " '" + NAVLOG_EXE + "'";
    return {"windows", NAVLOG_WINDOWS, options(NAVLOG_EXE), command, "NUL", 15000, com_port};
}

class Navlog : public testing::TestWithParam<NavlogCase> {};

}  // namespace

TEST_P(Scenarios, Row)
{
    REQUIRE_WINE(GetParam().build.start.program.c_str());
    run_scenario(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Windows, Scenarios,
                         testing::ValuesIn(scenario_cases({
                             {"store_off", WINDOWS_STORE_OFF, wine::options(EXE), HOLD_PASS_17_MS},
                             {"store_on", WINDOWS_STORE_ON, wine::options(EXE_STORE_ON), HOLD_PASS_17_MS},
                         })),
                         scenario_case_name);

TEST_P(Navlog, Row)
{
    REQUIRE_WINE(NAVLOG_EXE);
    run_navlog_scenario(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Windows, Navlog, testing::ValuesIn(navlog_cases({windows_navlog()})), navlog_case_name);

// A head answering as fast as it can: thousands of records over several seconds, their times never going back.
TEST(WineStore, RecordTimesNeverGoBack)
{
    REQUIRE_WINE(EXE_STORE_ON);
    const size_t pings = 2000;
    TempDir dir;
    write_settings(dir, "127.0.6.43");
    HeadSim head("127.0.6.43", {"--once", "--fault", "close@" + std::to_string(8 * pings + 1)});
    ClientOptions client_options = options(EXE_STORE_ON);
    client_options.stdout_path = dir.file(SCREEN);
    Client client(dir.path(), client_options);
    // Under Wine this takes tens of seconds: watch the data file's size, not the growing output.
    std::string data_file = dir.file(e2e::today() + "-0001.QKV");
    struct stat status = {};
    for (long long deadline = now_ms() + 90000; now_ms() < deadline; usleep(200000)) {
        if (stat(data_file.c_str(), &status) == 0 && static_cast<size_t>(status.st_size) >= pings * RECORD) break;
    }
    if (ShownText(client, dir.file(SCREEN), true).wait_for(PROMPT, 20000)) client.type("x");
    EXPECT_EQ(1, client.wait_exit(15000).status);
    std::string data = read_file(data_file);
    EXPECT_EQ(pings * RECORD, data.size());
    EXPECT_EQ("", e2e::first_time_step_back(data));
}

// What a survey cannot be watched with on Windows, refused with status 2 and a message: qkvdump.exe --follow with
// its output redirected (Wine's console takes escape sequences for text and wraps them, so what --follow draws
// there is looked at by hand), and qkvweb.exe, as the program lets no one read its data file while it records,
// which its help and version say too.
TEST(Wine, WatchingRefusedWhereItCannotBeDone)
{
    const std::string cannot = "on Windows the program keeps the data file it records to itself, so no other program "
                               "can read it while it records; qkvweb runs on Linux";
    struct Row {
        const char* exe;
        const char* arguments;
        int status;
        std::string out_ends;  // empty: nothing on standard output
        std::string said;
    };
    const Row rows[] = {
        {QKVDUMP_EXE, "--follow F.QKV", 2, "",
         "qkvdump: --follow draws on a terminal: standard output is not a console\r\n"},
        {QKVWEB_EXE, "--listen 127.77.27.9:8027", 2, "", "qkvweb: " + cannot + "\r\n"},
        {QKVWEB_EXE, "--help", 0, ").\r\nThis qkvweb cannot serve: " + cannot + ".\r\n", ""},
        {QKVWEB_EXE, "--version", 0, "\r\nThis qkvweb cannot serve: " + cannot + ".\r\n", ""},
    };
    for (const Row& row : rows) {
        REQUIRE_WINE(row.exe);
        TempDir dir;
        write_file(dir.file("F.QKV"), "");
        std::string ignored;
        int status = run_captured("(cd '" + dir.path() + "' && timeout 60 " + wine_environment() + " '" + row.exe +
                                      "' " + row.arguments + " > out.txt 2> errors.txt)",
                                  &ignored);
        EXPECT_EQ(row.status, status) << row.exe << " " << row.arguments;
        std::string out = read_file(dir.file("out.txt"));
        size_t ending = row.out_ends.empty() || out.size() < row.out_ends.size() ? 0 : out.size() - row.out_ends.size();
        EXPECT_EQ(row.out_ends, out.substr(ending)) << row.arguments;
        EXPECT_EQ(row.said, read_file(dir.file("errors.txt")));
    }
}
