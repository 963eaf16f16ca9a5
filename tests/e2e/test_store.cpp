// The data store end to end: the program built with the store switch on
// writes one record per ping to a fresh data file; built with it off, none.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const int RECORD = 8192;

// A run with no terminal that ends by itself when the head closes after `commands` replies.
void run_until_head_closes(const TempDir& dir, const std::string& address, int commands,
                           ClientOptions options = {})
{
    write_settings(dir, address, "Range=40\nGain=7\n");
    HeadSim head(address, {"--once", "--fault", "close@" + std::to_string(commands + 1)});
    ASSERT_TRUE(head.ready());
    options.with_terminal = false;
    if (options.program == PROGRAM) options.program = PROGRAM_STORE_ON;
    Client client(dir.path(), options);
    ExitInfo exit = client.wait_exit(10000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status) << "signal " << exit.signal;
}

}  // namespace

// A clean run with the store on: one file of today, one record per ping, the writing line after each ping.
TEST(Store, CleanRunWritesOneRecordPerPing)
{
    TempDir dir;
    write_settings(dir, "127.0.3.1", "Range=40\nGain=7\n");
    HeadSim head("127.0.3.1", {"--once", "--fault", "stall:1500@17"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for(" - 16 kbytes\n\nSend Switches"));
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);

    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(today() + "-0001.QKV", files[0]);
    Expected expected("127.0.3.1", 40, 7);
    expected.pings(1, 1).text("\nWriting to file: " + files[0] + " - 8 kbytes");
    expected.pings(2, 2).text("\nWriting to file: " + files[0] + " - 16 kbytes");
    expected.pass().packet(0).prompt();
    EXPECT_EQ(expected.str(), client.screen());

    std::string data = read_file(dir.file(files[0]));
    ASSERT_EQ(2u * RECORD, data.size());
    for (int record = 0; record < 2; ++record) {
        const char* bytes = data.data() + record * RECORD;
        EXPECT_EQ(0, memcmp(bytes, "QKV\x0A\x20\x00\x1F\x4D", 8));
        EXPECT_EQ(7, bytes[38]) << "gain";
        EXPECT_EQ(24, bytes[44]) << "range code of 40 m";
        EXPECT_EQ(0, memcmp(bytes + 100, "IUX", 3));
        EXPECT_EQ(7, bytes[105] & 7) << "the header kept is packet 7's";
        EXPECT_EQ('\xFC', bytes[8112]);
        EXPECT_EQ(0, bytes[88] | bytes[89]) << "no interval before the tenth ping";
    }
    std::string listing;
    EXPECT_EQ(0, qkvdump(dir.file(files[0]), &listing)) << listing;
}

// The data slots of a record hold the data bytes of packets 0 to 7 as the head sent them.
TEST(Store, RecordsMatchBetweenRunsOfTheSameHead)
{
    TempDir first, second;
    run_until_head_closes(first, "127.0.3.2", 16);
    run_until_head_closes(second, "127.0.3.3", 16);
    std::string a = read_file(first.file(data_files(first.path()).at(0)));
    std::string b = read_file(second.file(data_files(second.path()).at(0)));
    ASSERT_EQ(2u * RECORD, a.size());
    // Everything but the time fields (8 to 31) is the same for the same head and settings.
    for (int record = 0; record < 2; ++record) {
        size_t at = static_cast<size_t>(record) * RECORD;
        EXPECT_EQ(a.substr(at, 8), b.substr(at, 8));
        EXPECT_EQ(a.substr(at + 32, 68), b.substr(at + 32, 68));
        EXPECT_EQ(a.substr(at + 112, RECORD - 112), b.substr(at + 112, RECORD - 112)) << "record " << record;
    }
}

// A failure exit loses no completed ping: the records reach the file as they are written.
TEST(Store, FailureExitKeepsCompletedPings)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.3.4", 20);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(2u * RECORD, read_file(dir.file(files[0])).size());
}

// Runs in one directory get the next numbers; existing files are kept and gaps are not filled.
TEST(Store, SeveralRunsTakeTheNextNumbers)
{
    TempDir dir;
    write_file(dir.file(today() + "-0007.QKV"), "survey of yesterday evening");
    write_file(dir.file("01JAN2020-0042.QKV"), "another day");
    for (int run = 0; run < 2; ++run) run_until_head_closes(dir, "127.0.3.5", 8);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(4u, files.size());
    EXPECT_EQ(today() + "-0008.QKV", files[2]);
    EXPECT_EQ(today() + "-0009.QKV", files[3]);
    EXPECT_EQ("survey of yesterday evening", read_file(dir.file(today() + "-0007.QKV")));
    EXPECT_EQ(static_cast<size_t>(RECORD), read_file(dir.file(files[3])).size());
}

// A file size limit hit mid-run leaves whole records only, and the total stops growing.
TEST(Store, FileSizeLimitKeepsWholeRecords)
{
    TempDir dir;
    ClientOptions options;
    options.file_size_limit = 3 * RECORD + RECORD / 2;
    options.stdout_path = dir.file("screen.txt");
    run_until_head_closes(dir, "127.0.3.6", 40, options);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(3u * RECORD, read_file(dir.file(files[0])).size());
    std::string listing;
    EXPECT_EQ(0, qkvdump(dir.file(files[0]), &listing)) << listing;
    std::string screen = read_file(options.stdout_path);
    EXPECT_NE(std::string::npos, screen.find(" - 24 kbytes\n\nSend Switches"));
    EXPECT_NE(std::string::npos, screen.find(" --> Ping 5\n\nWriting to file: " + files[0] + " - 24 kbytes"));
}

// With the store switch off nothing is written: no data file, no writing line.
TEST(Store, SwitchOffWritesNothing)
{
    TempDir dir;
    ClientOptions options;
    options.program = PROGRAM;
    options.stdout_path = dir.file("screen.txt");
    write_settings(dir, "127.0.3.7");
    HeadSim head("127.0.3.7", {"--once", "--fault", "close@25"});
    options.with_terminal = false;
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(10000).status);
    EXPECT_TRUE(data_files(dir.path()).empty());
    std::string screen = read_file(options.stdout_path);
    EXPECT_NE(std::string::npos, screen.find(" --> Ping 3\n"));
    EXPECT_EQ(std::string::npos, screen.find("Writing"));
}

// The program this tree builds has the store switch its configuration asked for.
TEST(BuiltProgram, StoreSwitchAsConfigured)
{
    TempDir dir;
    ClientOptions options;
    options.program = HALVEX_BUILT;
    run_until_head_closes(dir, "127.0.3.8", 8, options);
    EXPECT_EQ(HALVEX_BUILT_STORES ? 1u : 0u, data_files(dir.path()).size());
}
