// The Windows build end to end under Wine against the Linux headsim, each test
// on its own loopback address 127.0.6.x: the redirected output (every line
// end CR LF, then compared exactly), exit status, settings values and data
// files. Under Wine the C runtime writes the redirected output at every line
// end (Windows itself writes it in 512-byte blocks), so the tests may wait
// for a line in the file before typing a key.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/wine/wine_run.h"

using namespace e2e;
using namespace wine;

namespace {

// headsim holds the reply to command 17 so a key typed once ping 2 shows
// arrives while the program waits in that pass; longer than on Linux, since
// the key goes through Wine's console first.
const std::vector<std::string> HOLD_PASS_17 = {"--once", "--fault", "stall:2500@17"};

// The output file checked for CR LF line ends and folded to LF.
std::string screen_of(const TempDir& dir)
{
    int bare = 0;
    std::string folded = fold_crlf(read_file(dir.file(SCREEN)), &bare);
    EXPECT_EQ(0, bare) << "line ends that are not CR LF";
    return folded;
}

// Starts exe in dir against a head on address and answers the exit prompt.
ExitInfo run_to_prompt(const char* exe, const TempDir& dir, const std::string& address,
                       const std::vector<std::string>& head_options)
{
    HeadSim head(address, head_options);
    EXPECT_TRUE(head.ready());
    unlink(dir.file(SCREEN).c_str());  // a run before this one may have left its output
    Client client(dir.path(), options(exe, dir));
    return answer_prompt(client, dir.file(SCREEN));
}

}  // namespace

// A clean run: a key inside pass 17, the prompt, a second key: status 0 and the settings written back.
TEST(Wine, CleanRunOutputIsExact)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_file(dir.file(SETTINGS), "[Settings]\r\nIPAddress=127.0.6.1\r\nRange=40\r\nGain=7\r\n");
    HeadSim head("127.0.6.1", HOLD_PASS_17);
    ASSERT_TRUE(head.ready());
    Client client(dir.path(), options(EXE, dir));
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), IN_PASS_17));
    client.type("q");
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), "Press any key to exit."));
    EXPECT_FALSE(client.wait_exit(700).ended) << "ended without the second key";
    client.type("x");
    ExitInfo exit = client.wait_exit();
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    Expected expected("127.0.6.1", 40, 7);
    expected.pings(1, 2).pass().packet(0).prompt();
    EXPECT_EQ(expected.str(), screen_of(dir));
    Values values = profile_values(read_file(dir.file(SETTINGS)));
    EXPECT_EQ("127.0.6.1", values["settings/ipaddress"]);
    EXPECT_EQ("40", values["settings/range"]);
    EXPECT_EQ("7", values["settings/gain"]);
    EXPECT_EQ(3u, values.size());
}

// Out-of-range settings are shown replaced and written back replaced; other sections stay.
TEST(Wine, SettingsReplacedAndWrittenBack)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_file(dir.file(SETTINGS), "; survey laptop\r\n[Settings]\r\nipaddress = 127.0.6.2\r\nRange=25\r\n"
                                   "Gain=7dB\r\n\r\n[Display]\r\nColour=amber\r\n");
    HeadSim head("127.0.6.2", HOLD_PASS_17);
    Client client(dir.path(), options(EXE, dir));
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), IN_PASS_17));
    client.type("q");
    ExitInfo exit = answer_prompt(client, dir.file(SCREEN));
    EXPECT_EQ(0, exit.status);
    EXPECT_EQ(0u, screen_of(dir).find(Expected("127.0.6.2", 30, 7).str()));
    std::string written = read_file(dir.file(SETTINGS));
    Values values = profile_values(written);
    EXPECT_EQ("127.0.6.2", values["settings/ipaddress"]);
    EXPECT_EQ("30", values["settings/range"]);
    EXPECT_EQ("7", values["settings/gain"]);
    EXPECT_EQ("amber", values["display/colour"]);
    EXPECT_EQ(0u, written.find("; survey laptop\r\n")) << "the comment stays";
}

// Arrow, function and navigation keys (typed as their terminal sequences, which Wine's console turns into
// the keys) leave a second code that answers the prompt: one key press ends the run.
TEST(Wine, KeysWithSecondCodeEndRunAlone)
{
    REQUIRE_WINE(EXE);
    const char* const keys[] = {"\x1b[A", "\x1bOP", "\x1b[6~", "\x1b[H"};
    int host = 10;
    for (const char* key : keys) {
        TempDir dir;
        std::string address = "127.0.6." + std::to_string(host++);
        write_settings(dir, address);
        HeadSim head(address, HOLD_PASS_17);
        Client client(dir.path(), options(EXE, dir));
        ASSERT_TRUE(wait_for_output(dir.file(SCREEN), IN_PASS_17));
        client.type(key);
        ExitInfo exit = client.wait_exit(8000);
        ASSERT_TRUE(exit.ended) << "still waiting for a second key after " << key + 1;
        EXPECT_EQ(0, exit.status);
        Expected expected(address, 30, 3);
        expected.pings(1, 2).pass().packet(0).prompt();
        EXPECT_EQ(expected.str(), screen_of(dir)) << key + 1;
        EXPECT_EQ("30", profile_values(read_file(dir.file(SETTINGS)))["settings/range"]);
    }
}

// Esc alone is not run here: Windows gives the Esc key its character 27, so it is read whole and the prompt
// waits for a second key, but Wine's console turns an ESC typed on the terminal into an Esc key event with
// no character, which any key read takes for a key with a second code.

// Nothing listening: the connect fails, status 1, the settings file untouched, no data file made.
TEST(Wine, ConnectRefused)
{
    REQUIRE_WINE(EXE_STORE_ON);
    TempDir dir;
    write_settings(dir, "127.0.6.4", "Gain=99\n");
    std::string before = read_file(dir.file(SETTINGS));
    Client client(dir.path(), options(EXE_STORE_ON, dir));
    EXPECT_EQ(1, answer_prompt(client, dir.file(SCREEN)).status);
    EXPECT_EQ(Expected("127.0.6.4", 30, 3).text("\nconnect() failed!\n").prompt().str(), screen_of(dir));
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
    EXPECT_TRUE(e2e::data_files(dir.path()).empty());
}

// A zero-padded address is read as decimal, as shown: 127.000.006.089 is 127.0.6.89 (as octal it converts to nothing).
TEST(Wine, ZeroPaddedAddressIsDecimal)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_settings(dir, "127.000.006.089");
    EXPECT_EQ(1, run_to_prompt(EXE, dir, "127.0.6.89", {"--once", "--fault", "close@9"}).status);
    EXPECT_EQ(Expected("127.000.006.089", 30, 3).pings(1, 1).pass().text("recv() failed!\n").prompt().str(),
              screen_of(dir));
}

// A head that answers only once a second is slow, not silent: the run goes on until the key.
TEST(Wine, SlowHeadIsNotAFailure)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_settings(dir, "127.0.6.7", "Range=20\n");
    HeadSim head("127.0.6.7", {"--once", "--delay-ms", "1000"});
    Client client(dir.path(), options(EXE, dir));
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), AWAITING_PACKET_2));
    client.type("q");
    EXPECT_EQ(0, answer_prompt(client, dir.file(SCREEN)).status);
    Expected expected("127.0.6.7", 20, 3);
    expected.pass().packet(0).pass().packet(1).pass().packet(2).prompt();
    EXPECT_EQ(expected.str(), screen_of(dir));
    EXPECT_EQ("20", profile_values(read_file(dir.file(SETTINGS)))["settings/range"]);
}

// Dropped packets give no trace and the packet is asked for again; a wrong number is traced, not counted.
TEST(Wine, DroppedAndWrongNumberedPackets)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_settings(dir, "127.0.6.5");
    ExitInfo exit = run_to_prompt(EXE, dir, "127.0.6.5",
                                  {"--once", "--fault", "bad-header@2", "--fault", "bad-end@3", "--fault",
                                   "wrong-number@5", "--fault", "close@12"});
    EXPECT_EQ(1, exit.status);
    Expected expected("127.0.6.5", 30, 3);
    expected.pass().packet(0).pass().pass().pass().packet(1).pass().packet(3);
    for (int number = 2; number < 7; ++number) expected.pass().packet(number);
    expected.pass().packet(7).ping(1).pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), screen_of(dir));
}

// A packet arriving in pieces is taken whole.
TEST(Wine, SplitPacketsAreTakenWhole)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_settings(dir, "127.0.6.6");
    ExitInfo exit = run_to_prompt(EXE, dir, "127.0.6.6",
                                  {"--once", "--split", "5", "--split-gap-ms", "15", "--fault", "close@17"});
    EXPECT_EQ(1, exit.status);
    EXPECT_EQ(Expected("127.0.6.6", 30, 3).pings(1, 2).pass().text("recv() failed!\n").prompt().str(),
              screen_of(dir));
}

namespace {

struct WineFault {
    int host;  // of its own loopback address 127.0.6.host
    const char* name;
    std::vector<std::string> head_options;
    int pings;                  // completed before the fault
    std::vector<int> trailing;  // packets traced after the last ping
    std::vector<int> first;     // packets traced in the first ping, when not 0 to 7
    int limit_ms;               // the time limit that ends the run; 0: it ends at once
};

const int SILENCE_LIMIT_MS = 10000;  // a head silent this long fails the receive
const int PACKET_LIMIT_MS = 30000;   // so does a packet not whole this long after its command

class WineHeadFault : public testing::TestWithParam<WineFault> {};

}  // namespace

// Each head fault ends the run with status 1, the exact output, the settings untouched and every completed ping
// stored; a run that completed no ping leaves no data file.
TEST_P(WineHeadFault, OutcomeIsExact)
{
    REQUIRE_WINE(EXE_STORE_ON);
    const WineFault& fault = GetParam();
    std::string address = "127.0.6." + std::to_string(fault.host);
    TempDir dir;
    write_settings(dir, address, "Range=20\n");
    std::string before = read_file(dir.file(SETTINGS));
    std::vector<std::string> head_options = {"--once"};
    head_options.insert(head_options.end(), fault.head_options.begin(), fault.head_options.end());
    HeadSim head(address, head_options);
    ASSERT_TRUE(head.ready());
    Client client(dir.path(), options(EXE_STORE_ON, dir));
    long long started = now_ms();
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), "Press any key to exit.", fault.limit_ms + 15000));
    long long took = now_ms() - started;
    client.type("x");
    ExitInfo exit = client.wait_exit();
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status);
    EXPECT_GE(took, fault.limit_ms - 500);
    EXPECT_LT(took, fault.limit_ms + 8000);

    std::vector<std::string> files = e2e::data_files(dir.path());
    ASSERT_EQ(fault.pings > 0 ? 1u : 0u, files.size()) << "the data file of the run, kept when it holds a record";
    if (!files.empty()) {
        EXPECT_EQ(e2e::today() + "-0001.QKV", files[0]);
    }
    Expected expected(address, 20, 3);
    for (int ping = 1; ping <= fault.pings; ++ping) {
        std::vector<int> packets = {0, 1, 2, 3, 4, 5, 6, 7};
        if (ping == 1 && !fault.first.empty()) packets = fault.first;
        for (int number : packets) number < 0 ? expected.pass() : expected.pass().packet(number);
        expected.ping(ping).text("\nWriting to file: " + files[0] + " - " + std::to_string(8 * ping) + " kbytes");
    }
    for (int number : fault.trailing) expected.pass().packet(number);
    expected.pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), screen_of(dir));
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
    if (files.empty()) return;
    EXPECT_EQ(fault.pings * RECORD, read_file(dir.file(files[0])).size());
    EXPECT_EQ(0, e2e::qkvdump(dir.file(files[0])));
}

// -1 in `first` is a pass whose reply was dropped (no trace).
INSTANTIATE_TEST_SUITE_P(
    Link, WineHeadFault,
    testing::Values(
        WineFault{20, "close_before_first_packet", {"--fault", "close@1"}, 0, {}, {}, 0},
        WineFault{21, "reset_before_first_packet", {"--fault", "reset@1"}, 0, {}, {}, 0},
        WineFault{22, "close_mid_ping", {"--fault", "close@12"}, 1, {0, 1, 2}, {}, 0},
        WineFault{23, "reset_mid_ping", {"--fault", "reset@12"}, 1, {0, 1, 2}, {}, 0},
        WineFault{24, "close_at_ping_boundary", {"--fault", "close@17"}, 2, {}, {}, 0},
        WineFault{25, "reset_at_ping_boundary", {"--fault", "reset@17"}, 2, {}, {}, 0},
        // Windows cannot tell a close with part of a packet queued until the silence limit.
        WineFault{26, "close_with_part_of_a_packet_sent", {"--fault", "truncate@12"}, 1, {0, 1, 2}, {},
                  SILENCE_LIMIT_MS},
        WineFault{34, "silent_from_the_start", {"--fault", "silent@1"}, 0, {}, {}, SILENCE_LIMIT_MS},
        WineFault{27, "stops_answering", {"--fault", "silent@10"}, 1, {0}, {}, SILENCE_LIMIT_MS},
        WineFault{32, "short_reply", {"--fault", "short@10"}, 1, {0}, {}, SILENCE_LIMIT_MS},
        WineFault{28, "garbage_reply_is_dropped", {"--fault", "garbage@3", "--fault", "close@12"}, 1, {0, 1},
                  {0, 1, -1, 2, 3, 4, 5, 6, 7}, 0},
        WineFault{29, "long_reply_costs_one_pass", {"--fault", "long@3", "--fault", "close@13"}, 1, {0, 1, 2},
                  {0, 1, 2, -1, 3, 4, 5, 6, 7}, 0},
        WineFault{30, "double_reply_is_read_as_wrong_numbers", {"--fault", "double@3", "--fault", "close@15"}, 1,
                  {7, 0}, {0, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7}, 0},
        WineFault{31, "many_small_pieces", {"--split", "100", "--split-gap-ms", "1", "--fault", "close@9"}, 1, {},
                  {}, 0},
        // 52 bytes every 2 s: never silent for long, but no packet is whole within the limit.
        WineFault{33, "drips_bytes", {"--split", "20", "--split-gap-ms", "2000"}, 0, {}, {}, PACKET_LIMIT_MS}),
    [](const testing::TestParamInfo<WineFault>& info) { return std::string(info.param.name); });

// A clean run with the store on: today's first file, one 8192-byte record per ping, qkvdump accepts it.
TEST(WineStore, CleanRunWritesOneRecordPerPing)
{
    REQUIRE_WINE(EXE_STORE_ON);
    TempDir dir;
    write_settings(dir, "127.0.6.40", "Range=40\nGain=7\n");
    HeadSim head("127.0.6.40", HOLD_PASS_17);
    Client client(dir.path(), options(EXE_STORE_ON, dir));
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), " - 16 kbytes\n\nSend Switches"));
    client.type("q");
    EXPECT_EQ(0, answer_prompt(client, dir.file(SCREEN)).status);
    std::vector<std::string> files = e2e::data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(e2e::today() + "-0001.QKV", files[0]);
    Expected expected("127.0.6.40", 40, 7);
    expected.pings(1, 1).text("\nWriting to file: " + files[0] + " - 8 kbytes");
    expected.pings(2, 2).text("\nWriting to file: " + files[0] + " - 16 kbytes");
    expected.pass().packet(0).prompt();
    EXPECT_EQ(expected.str(), screen_of(dir));
    EXPECT_EQ(2 * RECORD, read_file(dir.file(files[0])).size());
    EXPECT_EQ(0, e2e::qkvdump(dir.file(files[0])));
}

// Runs in one directory take the next numbers; files already there are kept and gaps are not filled.
TEST(WineStore, SeveralRunsTakeTheNextNumbers)
{
    REQUIRE_WINE(EXE_STORE_ON);
    TempDir dir;
    write_file(dir.file(e2e::today() + "-0007.QKV"), "survey of yesterday evening");
    write_file(dir.file("01JAN2020-0042.QKV"), "another day");
    write_settings(dir, "127.0.6.41");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(1, run_to_prompt(EXE_STORE_ON, dir, "127.0.6.41", {"--once", "--fault", "close@9"}).status);
    }
    std::vector<std::string> files = e2e::data_files(dir.path());
    ASSERT_EQ(4u, files.size());
    EXPECT_EQ(e2e::today() + "-0008.QKV", files[2]);
    EXPECT_EQ(e2e::today() + "-0009.QKV", files[3]);
    EXPECT_EQ("survey of yesterday evening", read_file(dir.file(e2e::today() + "-0007.QKV")));
    EXPECT_EQ(RECORD, read_file(dir.file(files[2])).size());
    EXPECT_EQ(RECORD, read_file(dir.file(files[3])).size());
}

// A file size limit reached mid-run leaves whole records only, and the total shown stops growing.
TEST(WineStore, FileSizeLimitKeepsWholeRecords)
{
    REQUIRE_WINE(EXE_STORE_ON);
    TempDir dir;
    write_settings(dir, "127.0.6.42");
    HeadSim head("127.0.6.42", {"--once", "--fault", "close@41"});
    ClientOptions client_options = options(EXE_STORE_ON, dir);
    client_options.file_size_limit = 3 * RECORD + RECORD / 2;
    Client client(dir.path(), client_options);
    EXPECT_EQ(1, answer_prompt(client, dir.file(SCREEN)).status);
    std::vector<std::string> files = e2e::data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(3 * RECORD, read_file(dir.file(files[0])).size());
    EXPECT_EQ(0, e2e::qkvdump(dir.file(files[0])));
    std::string screen = screen_of(dir);
    EXPECT_NE(std::string::npos, screen.find(" --> Ping 5\n\nWriting to file: " + files[0] + " - 24 kbytes"));
}

// A head answering as fast as it can: thousands of records over several seconds, their times never going back.
TEST(WineStore, RecordTimesNeverGoBack)
{
    REQUIRE_WINE(EXE_STORE_ON);
    const size_t pings = 2000;
    TempDir dir;
    write_settings(dir, "127.0.6.43");
    HeadSim head("127.0.6.43", {"--once", "--fault", "close@" + std::to_string(8 * pings + 1)});
    Client client(dir.path(), options(EXE_STORE_ON, dir));
    // Under Wine this takes tens of seconds: watch the data file's size, not the growing output.
    std::string data_file = dir.file(e2e::today() + "-0001.QKV");
    struct stat status = {};
    for (long long deadline = now_ms() + 90000; now_ms() < deadline; usleep(200000)) {
        if (stat(data_file.c_str(), &status) == 0 && static_cast<size_t>(status.st_size) >= pings * RECORD) break;
    }
    EXPECT_EQ(1, answer_prompt(client, dir.file(SCREEN)).status);
    std::string data = read_file(data_file);
    EXPECT_EQ(pings * RECORD, data.size());
    EXPECT_EQ("", e2e::first_time_step_back(data));
}

// Ctrl+C ends the run at once, before the prompt, and leaves the settings file untouched. Windows reports
// STATUS_CONTROL_C_EXIT (0xC000013A, seen as 0x3A here); Wine exits with 0, so the status is not asserted.
TEST(Wine, CtrlCEndsRunSettingsUntouched)
{
    REQUIRE_WINE(EXE);
    TempDir dir;
    write_settings(dir, "127.0.6.8", "Range=25\n");
    std::string before = read_file(dir.file(SETTINGS));
    HeadSim head("127.0.6.8", {"--once", "--delay-ms", "20"});
    Client client(dir.path(), options(EXE, dir));
    ASSERT_TRUE(wait_for_output(dir.file(SCREEN), " --> Ping 1\n")) << screen_of(dir) << head.stop();
    client.type("\x03");
    ExitInfo exit = client.wait_exit(5000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(std::string::npos, screen_of(dir).find("Press any key")) << "status " << exit.status;
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
}

// qkvdump.exe --follow with its output redirected draws nothing and refuses with status 2, as on Linux. (Wine's
// console takes escape sequences for text and wraps them, so what --follow draws there is looked at by hand.)
TEST(Wine, FollowRefusesOutputThatIsNotAConsole)
{
    REQUIRE_WINE(QKVDUMP_EXE);
    TempDir dir;
    write_file(dir.file("F.QKV"), "");
    std::string ignored;
    int status = run_captured("(cd '" + dir.path() + "' && timeout 60 " + wine_environment() + " '" + QKVDUMP_EXE +
                                  "' --follow F.QKV > out.txt 2> errors.txt)",
                              &ignored);
    EXPECT_EQ(2, status);
    EXPECT_EQ("", read_file(dir.file("out.txt")));
    EXPECT_EQ("qkvdump: --follow draws on a terminal: standard output is not a console\r\n",
              read_file(dir.file("errors.txt")));
}
