// Faults the scenario table cannot stage: a poll that wakes too early, a
// directory the program may not write, a day with every number taken, and two
// runs in one directory at once. The head's faults are rows of the table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(5000).status);
    chmod(dir.path().c_str(), 0700);
    EXPECT_TRUE(data_files(dir.path()).empty());
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
