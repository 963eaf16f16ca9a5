// A disk that runs full mid-run, on a 96 KiB file system of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/e2e/harness.h"

using namespace e2e;

// The data file keeps whole records when the disk fills, and the settings file stays whole too.
TEST(SmallDisk, FullDiskKeepsWholeRecordsAndSettings)
{
    const char* disk = getenv("HALVEX_SMALL_DISK");
    if (disk == nullptr) GTEST_SKIP() << "needs the small file system of the isolated runner";
    std::string dir = std::string(disk) + "/run";
    ASSERT_EQ(0, system(("rm -rf " + dir + " && mkdir " + dir).c_str()));
    std::string old_settings = "[Settings]\r\nIPAddress=127.0.5.1\r\nRange=10\r\n";
    write_file(dir + "/" + SETTINGS, old_settings);
    HeadSim head("127.0.5.1", {"--once", "--delay-ms", "1", "--fault", "stall:1500@161"});
    ASSERT_TRUE(head.ready());
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    Client client(dir, options);
    ASSERT_TRUE(client.wait_for_count("Send Switches", 161, 20000)) << "inside the held pass 161";
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);

    std::vector<std::string> files = data_files(dir);
    ASSERT_EQ(1u, files.size());
    const std::string& data_file = files[0];
    size_t size = read_file(dir + "/" + data_file).size();
    EXPECT_EQ(0u, size % RECORD);
    EXPECT_GT(size, 0u);
    EXPECT_LT(size, 20 * RECORD) << "the disk filled before ping 20";
    EXPECT_EQ(0, qkvdump(dir + "/" + data_file));
    std::string kbytes = " - " + std::to_string(size / 1024) + " kbytes";
    EXPECT_NE(std::string::npos, client.screen().find(" --> Ping 20\n\nWriting to file: " + data_file + kbytes));
    // Standard error (here the terminal) is told once that the records stopped going.
    std::string stopped = data_file + ": cannot write: No space left on device; pings are not recorded until it can be "
                                      "written again\n\nWriting to file: " + data_file + kbytes;
    EXPECT_NE(std::string::npos, client.screen().find(stopped)) << client.screen().substr(0, 4000);
    EXPECT_EQ(client.screen().find(": cannot write: "), client.screen().rfind(": cannot write: "));

    std::string settings = read_file(dir + "/" + SETTINGS);
    EXPECT_TRUE(settings == old_settings || settings == old_settings + "Gain=3\r\n") << settings;
}
