// The default head address, 192.168.0.2, inside a private network namespace
// that holds only loopback: nothing sent here can leave the machine.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {


// Refuses to run anywhere but in a namespace whose only interface is lo
// (/proc/net/dev lists the interfaces of the caller's own namespace).
bool in_private_namespace()
{
    std::string devices = read_file("/proc/net/dev");
    size_t interfaces = 0;
    for (size_t colon = devices.find(':'); colon != std::string::npos; colon = devices.find(':', colon + 1)) {
        ++interfaces;
    }
    return getenv("HALVEX_NETNS") != nullptr && interfaces == 1 && devices.find(" lo:") != std::string::npos;
}

void clean_run(Client& client)
{
    ASSERT_TRUE(client.wait_for(IN_PASS_17_SHOWN));
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);
}

class DefaultAddress : public testing::Test {
protected:
    void SetUp() override
    {
        if (!in_private_namespace()) GTEST_SKIP() << "needs a private network namespace";
    }
};

}  // namespace

// Without a settings file the defaults are used and a clean run creates the file with them.
TEST_F(DefaultAddress, MissingFileGivesDefaultsAndIsCreated)
{
    TempDir dir;
    HeadSim head("192.168.0.2", {"--once", "--fault", "stall:1500@17"});
    ASSERT_TRUE(head.ready());
    Client client(dir.path());
    clean_run(client);
    EXPECT_EQ(0u, client.screen().find(Expected("192.168.0.2", 30, 3).pass().str()));
    EXPECT_EQ("[Settings]\nIPAddress=192.168.0.2\nRange=30\nGain=3\n", read_file(dir.file(SETTINGS)));
}

// An empty address value is replaced by the default, and the default is written back.
TEST_F(DefaultAddress, EmptyAddressValueGivesDefault)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), "[Settings]\nIPAddress=\nRange=100\nGain=20\n");
    HeadSim head("192.168.0.2", {"--once", "--fault", "stall:1500@17"});
    ASSERT_TRUE(head.ready());
    Client client(dir.path());
    clean_run(client);
    EXPECT_EQ(0u, client.screen().find(Expected("192.168.0.2", 100, 20).pass().str()));
    EXPECT_EQ("[Settings]\nIPAddress=192.168.0.2\nRange=100\nGain=20\n", read_file(dir.file(SETTINGS)));
}
