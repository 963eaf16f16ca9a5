// The fault matrix: every way the head, the link, the disk and the operator
// can fail, each with its exact outcome: screen, exit status, settings file
// and, with the store on, a data file of whole records holding every ping
// completed before the fault.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const char SETTINGS[] = "Halvex_StoreData.INI";
const char SETTINGS_TEXT[] = "[Settings]\nIPAddress=%s\nRange=20\n";
const size_t RECORD = 8192;
const int SILENCE_LIMIT_MS = 10000;  // a head silent this long fails the receive
const int PACKET_LIMIT_MS = 30000;   // so does a packet not whole this long after its command

std::string settings_for(const std::string& address)
{
    char text[128];
    snprintf(text, sizeof text, SETTINGS_TEXT, address.c_str());
    return text;
}

// The screen after the settings lines up to the failure, with the writing line after each ping.
struct Screen {
    Expected text;
    std::string data_file;
    int pings = 0;
    explicit Screen(const std::string& address) : text(address, 20, 3) {}
    Screen& packets(std::initializer_list<int> numbers)
    {
        for (int number : numbers) text.pass().packet(number);
        return *this;
    }
    Screen& ping()
    {
        ++pings;
        text.ping(pings).text("\nWriting to file: " + data_file + " - " + std::to_string(8 * pings) + " kbytes");
        return *this;
    }
    Screen& whole_ping() { return packets({0, 1, 2, 3, 4, 5, 6, 7}).ping(); }
    Screen& dropped() { return text.pass(), *this; }
    std::string failed(const char* message) { return text.pass().text(message).prompt().str(); }
};

struct LinkFault {
    int host;  // of its own loopback address 127.0.4.host
    const char* name;
    std::vector<std::string> head_options;
    std::function<std::string(Screen&)> screen;
    int pings;
    int limit_ms;  // the time limit that ends the run; 0: it ends at once
};

class HeadFault : public testing::TestWithParam<LinkFault> {};

}  // namespace

// Each head fault ends the run as expected, with the settings untouched and every completed ping on disk; a
// run that completed no ping leaves no data file.
TEST_P(HeadFault, OutcomeIsExact)
{
    const LinkFault& fault = GetParam();
    std::string address = "127.0.4." + std::to_string(fault.host);
    TempDir dir, out;
    write_file(dir.file(SETTINGS), settings_for(address));
    std::vector<std::string> options = {"--once"};
    options.insert(options.end(), fault.head_options.begin(), fault.head_options.end());
    HeadSim head(address, options);
    ASSERT_TRUE(head.ready());

    ClientOptions client_options;
    client_options.program = PROGRAM_STORE_ON;
    client_options.with_terminal = false;
    client_options.stdout_path = out.file("screen.txt");
    long long started = now_ms();
    Client client(dir.path(), client_options);
    ExitInfo exit = client.wait_exit(fault.limit_ms + 10000);
    long long took = now_ms() - started;
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status);
    EXPECT_GE(took, fault.limit_ms - 1000);
    EXPECT_LT(took, fault.limit_ms + 5000);

    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(fault.pings > 0 ? 1u : 0u, files.size()) << "the data file of the run, kept when it holds a record";
    Screen screen(address);
    if (!files.empty()) screen.data_file = files[0];
    EXPECT_EQ(fault.screen(screen), read_file(client_options.stdout_path));
    EXPECT_EQ(settings_for(address), read_file(dir.file(SETTINGS)));
    if (files.empty()) return;
    EXPECT_EQ(fault.pings * RECORD, read_file(dir.file(files[0])).size());
    EXPECT_EQ(0, qkvdump(dir.file(files[0])));
}

INSTANTIATE_TEST_SUITE_P(
    Link, HeadFault,
    testing::Values(
        LinkFault{21, "close_before_first_packet", {"--fault", "close@1"},
                  [](Screen& s) { return s.failed("recv() failed!\n"); }, 0, 0},
        LinkFault{22, "reset_before_first_packet", {"--fault", "reset@1"},
                  [](Screen& s) { return s.failed("recv() failed!\n"); }, 0, 0},
        LinkFault{23, "close_mid_ping", {"--fault", "close@12"},
                  [](Screen& s) { return s.whole_ping().packets({0, 1, 2}).failed("recv() failed!\n"); }, 1, 0},
        LinkFault{24, "reset_mid_ping", {"--fault", "reset@12"},
                  [](Screen& s) { return s.whole_ping().packets({0, 1, 2}).failed("recv() failed!\n"); }, 1, 0},
        LinkFault{25, "close_at_ping_boundary", {"--fault", "close@17"},
                  [](Screen& s) { return s.whole_ping().whole_ping().failed("recv() failed!\n"); }, 2, 0},
        LinkFault{26, "reset_at_ping_boundary", {"--fault", "reset@17"},
                  [](Screen& s) { return s.whole_ping().whole_ping().failed("recv() failed!\n"); }, 2, 0},
        LinkFault{27, "close_with_part_of_a_packet_sent", {"--fault", "truncate@12"},
                  [](Screen& s) { return s.whole_ping().packets({0, 1, 2}).failed("recv() failed!\n"); }, 1, 0},
        LinkFault{35, "silent_from_the_start", {"--fault", "silent@1"},
                  [](Screen& s) { return s.failed("recv() failed!\n"); }, 0, SILENCE_LIMIT_MS},
        LinkFault{28, "stops_answering", {"--fault", "silent@10"},
                  [](Screen& s) { return s.whole_ping().packets({0}).failed("recv() failed!\n"); }, 1,
                  SILENCE_LIMIT_MS},
        LinkFault{29, "short_reply", {"--fault", "short@10"},
                  [](Screen& s) { return s.whole_ping().packets({0}).failed("recv() failed!\n"); }, 1,
                  SILENCE_LIMIT_MS},
        LinkFault{30, "garbage_reply_is_dropped", {"--fault", "garbage@3", "--fault", "close@12"},
                  [](Screen& s) {
                      return s.packets({0, 1}).dropped().packets({2, 3, 4, 5, 6, 7}).ping().packets({0, 1})
                          .failed("recv() failed!\n");
                  },
                  1, 0},
        // The seven extra bytes put the next reply out of step; it fails the check and the rest is dropped.
        LinkFault{31, "long_reply_costs_one_pass", {"--fault", "long@3", "--fault", "close@13"},
                  [](Screen& s) {
                      return s.packets({0, 1, 2}).dropped().packets({3, 4, 5, 6, 7}).ping().packets({0, 1, 2})
                          .failed("recv() failed!\n");
                  },
                  1, 0},
        // A second reply keeps the program one reply behind: every packet arrives twice, the ping still completes.
        LinkFault{32, "double_reply_is_read_as_wrong_numbers", {"--fault", "double@3", "--fault", "close@15"},
                  [](Screen& s) {
                      return s.packets({0, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7}).ping().packets({7, 0})
                          .failed("recv() failed!\n");
                  },
                  1, 0},
        LinkFault{33, "many_small_pieces", {"--split", "100", "--split-gap-ms", "1", "--fault", "close@9"},
                  [](Screen& s) { return s.whole_ping().failed("recv() failed!\n"); }, 1, 0},
        // 52 bytes every 2 s: never silent for long, but no packet is whole within the limit.
        LinkFault{34, "drips_bytes", {"--split", "20", "--split-gap-ms", "2000"},
                  [](Screen& s) { return s.failed("recv() failed!\n"); }, 0, PACKET_LIMIT_MS}),
    [](const testing::TestParamInfo<LinkFault>& info) { return std::string(info.param.name); });

// poll may call the socket readable with only part of a packet queued: the read after it never blocks, pieces
// still make whole packets, and a head stopping mid-packet still ends the run through the silence limit.
TEST(ReadAfterWait, ReadableBelowTheMarkNeverBlocks)
{
    TempDir dir, out;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.6"));
    HeadSim head("127.0.4.6", {"--once", "--split", "5", "--split-gap-ms", "15", "--fault", "short@10"});
    ClientOptions options;
    options.with_terminal = false;
    options.stdout_path = out.file("screen.txt");
    const char* sanitizer_options = getenv("ASAN_OPTIONS");
    options.environment = {std::string("LD_PRELOAD=") + READABLE_BELOW_MARK,
                           std::string("ASAN_OPTIONS=") + (sanitizer_options ? sanitizer_options : "") +
                               ":verify_asan_link_order=0"};
    Client client(dir.path(), options);
    ExitInfo exit = client.wait_exit(SILENCE_LIMIT_MS + 10000);
    ASSERT_TRUE(exit.ended) << "the read after the wait blocked";
    EXPECT_EQ(1, exit.status);
    Expected expected("127.0.4.6", 20, 3);
    expected.pings(1, 1).pass().packet(0).pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), read_file(options.stdout_path));
}

// A head that answers only once a second is slow, not silent: the run goes on until the key.
TEST(SlowHead, OneSecondPerPacketIsNotAFailure)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.1"));
    HeadSim head("127.0.4.1", {"--once", "--delay-ms", "1000"});
    Client client(dir.path());
    // The key goes in while packet 2 is awaited, so it is seen when that pass ends.
    ASSERT_TRUE(client.wait_for(AWAITING_PACKET_2, 5000));
    client.type("q");
    ASSERT_TRUE(client.wait_for("Press any key to exit.", 5000));
    client.type("x");
    EXPECT_EQ(0, client.wait_exit().status);
    Expected expected("127.0.4.1", 20, 3);
    expected.pass().packet(0).pass().packet(1).pass().packet(2).prompt();
    EXPECT_EQ(expected.str(), client.screen());
    EXPECT_EQ("[Settings]\nIPAddress=127.0.4.1\nRange=20\nGain=3\n", read_file(dir.file(SETTINGS)));
}

// With nothing listening and the store on, no data file is made.
TEST(ConnectFault, NothingListeningMakesNoDataFile)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.2"));
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    EXPECT_TRUE(data_files(dir.path()).empty());
    EXPECT_EQ(settings_for("127.0.4.2"), read_file(dir.file(SETTINGS)));
}

// A directory the program may not write to: the run goes on silently without storing.
TEST(DiskFault, ReadOnlyDirectoryRunsWithoutStoring)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    TempDir dir, out;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.3"));
    chmod(dir.path().c_str(), 0555);
    chmod(out.path().c_str(), 0777);
    HeadSim head("127.0.4.3", {"--once", "--fault", "close@17"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    options.as_nobody = true;
    options.stdout_path = out.file("screen.txt");
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    chmod(dir.path().c_str(), 0700);
    EXPECT_TRUE(data_files(dir.path()).empty());
    Expected expected("127.0.4.3", 20, 3);
    expected.pings(1, 2).pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), read_file(options.stdout_path));
}

// Under a file size limit, with the signal for it at its default, the write-back fails without harm: the
// program ends normally, the settings file stays as it was and no temporary file is left.
TEST(DiskFault, FileSizeLimitKeepsOldSettings)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.80"));
    HeadSim head("127.0.4.80", {"--once"});
    ClientOptions options;
    options.file_size_limit = 16;
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for(" --> Ping 1\n"));
    client.type("q");
    ExitInfo exit = client.answer_prompt();
    EXPECT_EQ(0, exit.status) << "signal " << exit.signal;
    EXPECT_EQ(settings_for("127.0.4.80"), read_file(dir.file(SETTINGS)));
    EXPECT_EQ(std::vector<std::string>{SETTINGS}, list_dir(dir.path()));
}

// All 9999 numbers of the day taken: none is replaced and the run goes on without storing.
TEST(DiskFault, NoFreeNumberLeftReplacesNothing)
{
    TempDir dir, out;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.4"));
    // Name the files after today as the program sees it: learn the stem from a first run's file.
    {
        HeadSim head("127.0.4.4", {"--once", "--fault", "close@9"});
        ClientOptions options;
        options.program = PROGRAM_STORE_ON;
        options.with_terminal = false;
        Client(dir.path(), options).wait_exit(5000);
    }
    std::vector<std::string> first = data_files(dir.path());
    ASSERT_EQ(1u, first.size());
    std::string stem = first[0].substr(0, 10);
    for (int number = 2; number <= 9999; ++number) {
        char name[32];
        snprintf(name, sizeof name, "%s%04d.QKV", stem.c_str(), number);
        close(open(dir.file(name).c_str(), O_WRONLY | O_CREAT, 0644));
    }
    write_file(dir.file(stem + "9999.QKV"), "last of the day");

    HeadSim head("127.0.4.4", {"--once", "--fault", "close@9"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    options.stdout_path = out.file("screen.txt");
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    EXPECT_EQ(9999u, data_files(dir.path()).size());
    EXPECT_EQ("last of the day", read_file(dir.file(stem + "9999.QKV")));
    std::string screen = read_file(options.stdout_path);
    EXPECT_NE(std::string::npos, screen.find(" --> Ping 1\n"));
    EXPECT_EQ(std::string::npos, screen.find("Writing"));
}

// Two runs started in one directory in the same second get a file each, and neither loses a record.
TEST(DiskFault, TwoRunsInTheSameSecond)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.5"));
    HeadSim head("127.0.4.5", {"--max-connections", "2", "--fault", "close@9"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    Client first(dir.path(), options);
    Client second(dir.path(), options);
    EXPECT_EQ(1, first.wait_exit(5000).status);
    EXPECT_EQ(1, second.wait_exit(5000).status);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(RECORD, read_file(dir.file(files[0])).size());
    EXPECT_EQ(RECORD, read_file(dir.file(files[1])).size());
}
