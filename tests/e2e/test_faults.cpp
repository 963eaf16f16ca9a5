// Faults the scenario table cannot stage: a poll that wakes too early, a
// directory the program may not write, a day with every number taken, and two
// runs in one directory at once. The head's faults are rows of the table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const char SETTINGS_TEXT[] = "[Settings]\nIPAddress=%s\nRange=20\n";

std::string settings_for(const std::string& address)
{
    char text[128];
    snprintf(text, sizeof text, SETTINGS_TEXT, address.c_str());
    return text;
}

}  // namespace

// poll may call the socket readable with only part of a packet queued: the read after it never blocks, pieces
// still make whole packets, and a head stopping mid-packet still ends the run through the silence limit.
TEST(ReadAfterWait, ReadableBelowTheMarkNeverBlocks)
{
    TempDir dir, out;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.6"));
    HeadSim head("127.0.4.6", {"--once", "--split", "5", "--split-gap-ms", "15", "--fault", "short@10"});
    ClientOptions options;
    options.with_terminal = false;
    options.stdout_path = out.file(SCREEN);
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
    options.stdout_path = out.file(SCREEN);
    options.stderr_path = out.file("errors.txt");
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    chmod(dir.path().c_str(), 0700);
    EXPECT_TRUE(data_files(dir.path()).empty());
    EXPECT_NE(std::string::npos, read_file(options.stderr_path).find(".QKV: cannot create: Permission denied; this run "
                                                                     "records nothing\n"));
    Expected expected("127.0.4.3", 20, 3);
    expected.pings(1, 2).pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), read_file(options.stdout_path));
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
    options.stdout_path = out.file(SCREEN);
    options.stderr_path = out.file("errors.txt");
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    EXPECT_EQ(9999u, data_files(dir.path()).size());
    EXPECT_NE(std::string::npos, read_file(options.stderr_path).find("every number of the day is taken (" + stem));
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

// Started without standard output and error, the program writes neither into the next files it opens: the
// connection to the head and the data file.
TEST(DiskFault, ClosedStandardStreamsAreNoFiles)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), settings_for("127.0.4.9"));
    HeadSim head("127.0.4.9", {"--once", "--fault", "close@17"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    options.without_standard_output = true;
    EXPECT_EQ(1, Client(dir.path(), options).wait_exit(5000).status);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(2 * RECORD, read_file(dir.file(files[0])).size());
}

// A run's empty data file moved aside, and its name taken by a second run: however the first run ends, the
// second run's file keeps its name, and the file moved aside stays. Alone, a run takes its empty file with it.
TEST(DiskFault, EmptyFileRemovedOnlyUnderItsOwnName)
{
    // The signal that ends each run (0: its head goes away, a failure exit), and whether it has a terminal.
    for (std::pair<int, bool> ending : {std::make_pair(0, false), {SIGTERM, false}, {SIGHUP, true}}) {
        SCOPED_TRACE(ending.first);
        TempDir dir;
        ClientOptions options;
        options.program = PROGRAM_STORE_ON;
        options.with_terminal = ending.second;
        options.stderr_path = ending.second ? "" : "/dev/null";
        std::unique_ptr<HeadSim> heads[2];
        std::unique_ptr<Client> runs[2];
        std::vector<std::string> files;
        for (int run = 0; run < 2; ++run) {  // each reads the settings at its start, and has a head of its own
            std::string address = "127.0.4." + std::to_string(7 + run);
            write_file(dir.file(SETTINGS), settings_for(address));
            heads[run].reset(new HeadSim(address, {"--once", "--fault", "silent@1"}));
            runs[run].reset(new Client(dir.path(), options));
            long long deadline = now_ms() + 5000;
            while ((files = data_files(dir.path())).empty() && now_ms() < deadline) usleep(20000);
            ASSERT_EQ(1u, files.size()) << "run " << run + 1 << " made its data file";
            if (run == 0) {
                ASSERT_EQ(0, rename(dir.file(files[0]).c_str(), dir.file("aside.QKV").c_str()));
            }
        }
        std::vector<std::string> left = {files[0], SETTINGS, "aside.QKV"};  // sorted
        for (int run = 0; run < 2; ++run) {
            if (ending.first == 0) heads[run]->stop();
            if (ending.first != 0) kill(runs[run]->pid(), ending.first);
            ExitInfo exit = runs[run]->wait_exit(5000);
            EXPECT_TRUE(exit.ended && exit.signal == ending.first) << "run " << run + 1 << " ended by " << exit.signal;
            if (run == 1) left.erase(left.begin());  // the second run's file goes with it
            std::vector<std::string> found = list_dir(dir.path());
            std::sort(found.begin(), found.end());
            EXPECT_EQ(left, found) << "after run " << run + 1 << " ended";
        }
    }
}
