// The program end to end on Linux: its screen, exit status and settings file
// against headsim, each test on its own loopback address.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <functional>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const char SETTINGS[] = "Halvex_StoreData.INI";

// headsim holds the reply to command 17 for 1.5 s, so a key typed once ping 2
// shows arrives while the program waits in that pass.
const std::vector<std::string> HOLD_PASS_17 = {"--once", "--fault", "stall:1500@17"};

// A run on its own address with keys typed in pass 17; check then looks at the client.
void type_in_pass_17(const std::string& address, const std::string& keys, const ClientOptions& options,
                     const std::function<void(Client&, const TempDir&)>& check)
{
    TempDir dir;
    write_settings(dir, address);
    HeadSim head(address, HOLD_PASS_17);
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    client.type(keys);
    check(client, dir);
}

}  // namespace

// A clean run: two pings, a key during pass 17, the exit prompt, a second key, status 0, settings written.
TEST(Run, CleanRunScreenIsExact)
{
    TempDir dir;
    write_settings(dir, "127.0.2.1", "Range=40\nGain=7\n");
    HeadSim head("127.0.2.1", HOLD_PASS_17);
    ASSERT_TRUE(head.ready());
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    client.type("q");
    ExitInfo exit = client.answer_prompt();
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    Expected expected("127.0.2.1", 40, 7);
    expected.pings(1, 2).pass().packet(0).prompt();
    EXPECT_EQ(expected.str(), client.screen());
    EXPECT_EQ("[Settings]\nIPAddress=127.0.2.1\nRange=40\nGain=7\n", read_file(dir.file(SETTINGS)));
}

// The key that ends the loop is consumed: the prompt waits for a second key.
TEST(Run, PromptWaitsForSecondKey)
{
    TempDir dir;
    write_settings(dir, "127.0.2.2");
    HeadSim head("127.0.2.2", HOLD_PASS_17);
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    client.type("q");
    ASSERT_TRUE(client.wait_for("Press any key to exit."));
    EXPECT_FALSE(client.wait_exit(700).ended) << "ended without the second key";
}

// Arrow, function and navigation keys (the Linux console's F1 to F5 too) leave a second code that answers
// the prompt: one key press ends the run, and no byte of it is left for the shell. So does Alt with a key,
// ESC and the key's character, also a character of several bytes (Alt+e acute).
TEST(Run, KeysWithSecondCodeEndRunAlone)
{
    const char* const keys[] = {"\x1b[A",  "\x1bOP",  "\x1b[15~", "\x1b[H",
                                "\x1b[6~", "\x1b[[A", "\x1b[[E",  "\x1b\xC3\xA9"};
    ClientOptions options;
    options.keep_terminal = true;
    int n = 0;
    for (const char* key : keys) {
        type_in_pass_17("127.0.2." + std::to_string(30 + n++), key, options, [key](Client& client, const TempDir& dir) {
            ExitInfo exit = client.wait_exit(5000);
            ASSERT_TRUE(exit.ended) << "key " << key + 1;
            EXPECT_EQ(0, exit.status);
            EXPECT_TRUE(file_exists(dir.file(SETTINGS)));
            EXPECT_EQ("", client.unread_keys()) << "key " << key + 1;
        });
    }
}

// A character typed as several UTF-8 bytes is one key: the prompt still waits for a second key.
TEST(Run, MultiByteCharacterIsOneKey)
{
    const char* const characters[] = {"\xC3\xA9", "\xF0\x9F\x99\x82"};  // e acute, a smiling face
    int n = 0;
    for (const char* character : characters) {
        type_in_pass_17("127.0.2." + std::to_string(40 + n++), character, {}, [](Client& client, const TempDir&) {
            ASSERT_TRUE(client.wait_for("Press any key to exit."));
            EXPECT_FALSE(client.wait_exit(700).ended) << "a byte of the character answered the prompt";
            client.type("x");
            EXPECT_EQ(0, client.wait_exit().status);
        });
    }
}

// Ctrl+S and Ctrl+Q are ordinary keys: Ctrl+S ends the loop instead of freezing the output, Ctrl+Q answers the prompt.
TEST(Run, CtrlSAndCtrlQAreKeys)
{
    type_in_pass_17("127.0.2.19", "\x13", {}, [](Client& client, const TempDir&) {
        ASSERT_TRUE(client.wait_for("Press any key to exit.", 5000)) << "the output froze";
        client.type("\x11");
        EXPECT_EQ(0, client.wait_exit().status);
    });
}

// Esc alone is a key with a character: the prompt still waits for a second key.
TEST(Run, EscapeAloneNeedsSecondKey)
{
    TempDir dir;
    write_settings(dir, "127.0.2.4");
    HeadSim head("127.0.2.4", HOLD_PASS_17);
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    client.type("\x1b");
    ASSERT_TRUE(client.wait_for("Press any key to exit."));
    EXPECT_FALSE(client.wait_exit(700).ended);
    client.type("x");
    EXPECT_EQ(0, client.wait_exit().status);
}

// Ctrl+C ends the process at once: terminal restored, settings file untouched.
TEST(Run, CtrlCKillsAndRestoresTerminal)
{
    TempDir dir;
    write_settings(dir, "127.0.2.5", "Range=25\n");
    std::string before = read_file(dir.file(SETTINGS));
    HeadSim head("127.0.2.5", {"--once", "--delay-ms", "20"});
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for(" --> Ping 1\n"));
    client.type("\x03");
    ExitInfo exit = client.wait_exit(5000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(SIGINT, exit.signal);
    struct termios after;
    ASSERT_TRUE(client.terminal_modes(&after));
    EXPECT_EQ(client.initial_modes().c_lflag, after.c_lflag);
    EXPECT_EQ(client.initial_modes().c_iflag, after.c_iflag);
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
}

// SIGTERM, SIGHUP, SIGQUIT and the other catchable ending signals, those of a program's own faults sent with
// kill too, also leave the terminal as it was found, and the process dies by that signal.
TEST(Run, TerminationSignalsRestoreTerminal)
{
    int n = 0;
    for (int signal_number :
         {SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN, SIGSTKFLT, SIGABRT, SIGSEGV, SIGSYS}) {
        TempDir dir;
        std::string address = "127.0.2." + std::to_string(60 + n++);
        write_settings(dir, address);
        HeadSim head(address, {"--once", "--delay-ms", "20"});
        Client client(dir.path());
        ASSERT_TRUE(client.wait_for("Send Switches"));
        struct termios running;
        ASSERT_TRUE(client.terminal_modes(&running));
        EXPECT_EQ(0u, running.c_lflag & (ICANON | ECHO)) << "run mode: no line input, no echo";
        EXPECT_NE(0u, running.c_lflag & ISIG) << "run mode keeps Ctrl+C";
        kill(client.pid(), signal_number);
        ExitInfo exit = client.wait_exit(5000);
        ASSERT_TRUE(exit.ended);
        EXPECT_EQ(signal_number, exit.signal);
        struct termios after;
        ASSERT_TRUE(client.terminal_modes(&after));
        EXPECT_EQ(client.initial_modes().c_lflag, after.c_lflag) << "signal " << signal_number;
    }
}

// Dropped packets give no trace and the same packet is asked for again; a wrong number is traced but not counted.
TEST(Run, DroppedAndWrongNumberedPackets)
{
    TempDir dir;
    write_settings(dir, "127.0.2.6");
    HeadSim head("127.0.2.6", {"--once", "--fault", "bad-header@2", "--fault", "bad-end@3", "--fault",
                               "wrong-number@5", "--fault", "close@12"});
    Client client(dir.path());
    ExitInfo exit = client.answer_prompt();
    EXPECT_EQ(1, exit.status);
    Expected expected("127.0.2.6", 30, 3);
    expected.pass().packet(0);
    expected.pass().pass();  // commands 2 and 3: dropped, packet 1 asked again
    expected.pass().packet(1);
    expected.pass().packet(3);  // asked for 2, got 3
    for (int number = 2; number < 7; ++number) expected.pass().packet(number);
    expected.pass().packet(7).ping(1);
    expected.pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), client.screen());
}

// Nothing listening: the connect fails, status 1, settings file untouched; Ctrl+C answers the prompt.
TEST(Run, ConnectRefused)
{
    TempDir dir;
    write_settings(dir, "127.0.2.7", "Gain=99\n");
    std::string before = read_file(dir.file(SETTINGS));
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for("Press any key to exit."));
    ASSERT_TRUE(client.wait_key_read());  // the prompt shows just before the key read begins
    client.type("\x03");  // at a key read Ctrl+C is an ordinary key
    ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.signal);
    EXPECT_EQ(1, exit.status);
    EXPECT_EQ(Expected("127.0.2.7", 30, 3).text("\nconnect() failed!\n").prompt().str(), client.screen());
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
}

// The head closing mid-ping is a receive failure at once; the ping in progress is lost.
TEST(Run, HeadClosesMidPing)
{
    TempDir dir;
    write_settings(dir, "127.0.2.8");
    std::string before = read_file(dir.file(SETTINGS));
    HeadSim head("127.0.2.8", {"--once", "--fault", "close@12"});
    Client client(dir.path());
    EXPECT_EQ(1, client.answer_prompt().status);
    Expected expected("127.0.2.8", 30, 3);
    expected.pings(1, 1);
    for (int number = 0; number < 3; ++number) expected.pass().packet(number);
    expected.pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), client.screen());
    EXPECT_EQ(before, read_file(dir.file(SETTINGS)));
}

// A head that closes with part of a packet queued fails the receive at once, not after the silence limit.
TEST(Run, HeadClosesWithPartOfAPacketQueued)
{
    TempDir dir;
    write_settings(dir, "127.0.2.9");
    HeadSim head("127.0.2.9", {"--once", "--fault", "truncate@3"});
    long long start = now_ms();
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for("recv() failed!\n", 5000));
    EXPECT_LT(now_ms() - start, 3000);
    client.type("x");
    EXPECT_EQ(1, client.wait_exit().status);
}

// A reset connection is a receive failure too.
TEST(Run, HeadResetsConnection)
{
    TempDir dir;
    write_settings(dir, "127.0.2.10");
    HeadSim head("127.0.2.10", {"--once", "--fault", "reset@9"});
    Client client(dir.path());
    EXPECT_EQ(1, client.answer_prompt().status);
    EXPECT_NE(std::string::npos, client.screen().find(" --> Ping 1\n\n\nSend Switches...    30m, 3dB\nrecv() failed!\n"));
}

// A head that stops answering ends the run after about ten silent seconds.
TEST(Run, SilentHeadEndsRunAfterTenSeconds)
{
    TempDir dir;
    write_settings(dir, "127.0.2.11");
    HeadSim head("127.0.2.11", {"--once", "--fault", "silent@4"});
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for("Packet Number     = 2\n"));
    long long start = now_ms();
    ASSERT_TRUE(client.wait_for("recv() failed!\n", 20000));
    long long waited = now_ms() - start;
    EXPECT_GE(waited, 9000);
    EXPECT_LE(waited, 13000);
    client.type("x");
    EXPECT_EQ(1, client.wait_exit().status);
}

// A packet arriving in pieces is taken whole: the screen is as for whole packets.
TEST(Run, SplitPacketsAreTakenWhole)
{
    TempDir dir;
    write_settings(dir, "127.0.2.12");
    HeadSim head("127.0.2.12", {"--once", "--split", "5", "--split-gap-ms", "15", "--fault", "close@17"});
    Client client(dir.path());
    EXPECT_EQ(1, client.answer_prompt().status);
    EXPECT_EQ(Expected("127.0.2.12", 30, 3).pings(1, 2).pass().text("recv() failed!\n").prompt().str(),
              client.screen());
}

// Out-of-range settings are replaced and written back replaced; other content of the file stays.
TEST(Run, SettingsReplacedAndWrittenBack)
{
    TempDir dir;
    write_file(dir.file(SETTINGS), "; survey laptop\r\n[Settings]\r\nipaddress = 127.0.2.13\r\nRange=25\r\n"
                                   "Gain=7dB\r\n\r\n[Display]\r\nColour=amber\r\n");
    HeadSim head("127.0.2.13", HOLD_PASS_17);
    Client client(dir.path());
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    EXPECT_EQ(0u, client.screen().find(Expected("127.0.2.13", 30, 7).str()));
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);
    EXPECT_EQ("; survey laptop\r\n[Settings]\r\nipaddress=127.0.2.13\r\nRange=30\r\nGain=7\r\n\r\n[Display]\r\n"
              "Colour=amber\r\n",
              read_file(dir.file(SETTINGS)));
}

// In a working directory so deep that its path and the file name pass the system's path limit, the settings
// file there is still the one read and written back. The test reaches it through its own descriptor of the
// directory, as the whole path is too long for the file calls.
TEST(Run, DeepWorkingDirectoryKeepsItsSettingsFile)
{
    TempDir top;
    std::string deep = top.path();
    const size_t DEPTH = 4090;  // the directory still fits a path; with the file name it does not
    while (deep.size() < DEPTH) {
        deep += "/" + std::string(std::min<size_t>(200, DEPTH - deep.size() - 1), 'd');
        ASSERT_EQ(0, mkdir(deep.c_str(), 0700)) << deep.size();
    }
    int deep_fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(deep_fd, 0);
    std::string settings = "/proc/self/fd/" + std::to_string(deep_fd) + "/" + SETTINGS;
    write_file(settings, "[Settings]\nIPAddress=127.0.2.80\nRange=40\n");
    HeadSim head("127.0.2.80", HOLD_PASS_17);
    Client client(deep);
    ASSERT_TRUE(client.wait_for(IN_PASS_17));
    EXPECT_EQ(0u, client.screen().find(Expected("127.0.2.80", 40, 3).str()));
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);
    EXPECT_EQ("[Settings]\nIPAddress=127.0.2.80\nRange=40\nGain=3\n", read_file(settings));
    EXPECT_EQ(std::vector<std::string>{SETTINGS}, list_dir(deep));
    unlink(settings.c_str());
    close(deep_fd);
}

// An address longer than 19 characters keeps its first 19 and fails to connect.
TEST(Run, LongAddressIsCut)
{
    TempDir dir;
    write_settings(dir, "127.0.2.14.1234567890123");
    Client client(dir.path());
    EXPECT_EQ(1, client.answer_prompt().status);
    EXPECT_EQ(Expected("127.0.2.14.12345678", 30, 3).text("\nconnect() failed!\n").prompt().str(),
              client.screen());
}

// A zero-padded address is read as decimal, as shown: 127.000.002.089 is 127.0.2.89 (as octal it converts to nothing).
TEST(Run, ZeroPaddedAddressIsDecimal)
{
    TempDir dir;
    write_settings(dir, "127.000.002.089");
    HeadSim head("127.0.2.89", {"--once", "--fault", "close@9"});
    Client client(dir.path());
    EXPECT_EQ(1, client.answer_prompt().status);
    EXPECT_EQ(Expected("127.000.002.089", 30, 3).pings(1, 1).pass().text("recv() failed!\n").prompt().str(),
              client.screen());
}

// With stdout redirected, keys still come from the terminal and the file gets whole 512-byte blocks, then the rest at exit.
TEST(Run, RedirectedOutputIsBlockBuffered)
{
    TempDir dir;
    write_settings(dir, "127.0.2.15");
    HeadSim head("127.0.2.15", {"--once", "--delay-ms", "5"});
    ClientOptions options;
    options.stdout_path = dir.file("screen.txt");
    Client client(dir.path(), options);
    long long deadline = now_ms() + 10000;
    int samples = 0;
    while (samples < 5 && now_ms() < deadline) {
        std::string so_far = read_file(options.stdout_path);
        if (!so_far.empty()) {
            EXPECT_EQ(0u, so_far.size() % 512) << "size " << so_far.size();
            ++samples;
        }
        usleep(30000);
    }
    EXPECT_EQ(5, samples);
    client.type("qx");
    ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.status);
    std::string screen = read_file(options.stdout_path);
    EXPECT_EQ(0u, screen.find(Expected("127.0.2.15", 30, 3).pass().str()));
    EXPECT_EQ(std::string::npos, screen.find('\r'));
    EXPECT_EQ(screen.size() - 24, screen.rfind("\n\nPress any key to exit."));
    EXPECT_EQ("", client.screen()) << "nothing is written to the terminal";
}

// An output pipe whose reader has gone does not end the run.
TEST(Run, ClosedOutputPipeDoesNotEndRun)
{
    TempDir dir;
    write_settings(dir, "127.0.2.16");
    HeadSim head("127.0.2.16", {"--once", "--delay-ms", "5"});
    ClientOptions options;
    options.stdout_to_closed_pipe = true;
    Client client(dir.path(), options);
    EXPECT_FALSE(client.wait_exit(1500).ended);
    client.type("qx");
    ExitInfo exit = client.wait_exit();
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(0, exit.status);
    EXPECT_NE(std::string::npos, read_file(dir.file(SETTINGS)).find("Range=30"));
}

// Without any terminal the prompt does not wait: a failure ends the run by itself.
TEST(Run, NoTerminalNeverWaitsForAKey)
{
    TempDir dir;
    write_settings(dir, "127.0.2.17");
    HeadSim head("127.0.2.17", {"--once", "--fault", "close@9"});
    ClientOptions options;
    options.with_terminal = false;
    options.stdout_path = dir.file("screen.txt");
    Client client(dir.path(), options);
    ExitInfo exit = client.wait_exit(5000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status);
    EXPECT_EQ(Expected("127.0.2.17", 30, 3).pings(1, 1).pass().text("recv() failed!\n").prompt().str(),
              read_file(options.stdout_path));
}

// Ctrl+Z hands the terminal back as it was found; continuing puts the run mode back and the run goes on.
TEST(Run, CtrlZRestoresTerminalUntilContinued)
{
    TempDir dir;
    write_settings(dir, "127.0.2.18");
    HeadSim head("127.0.2.18", {"--once", "--delay-ms", "20"});
    ClientOptions options;
    options.under_job_control = true;
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for(" --> Ping 1\n")) << client.screen();
    client.type("\x1a");
    ASSERT_TRUE(client.wait_stopped(5000));
    struct termios stopped;
    ASSERT_TRUE(client.terminal_modes(&stopped));
    EXPECT_EQ(client.initial_modes().c_lflag, stopped.c_lflag);
    kill(client.job_pid(), SIGCONT);
    client.wait_for_count("Send Switches", 12);
    struct termios running;
    ASSERT_TRUE(client.terminal_modes(&running));
    EXPECT_EQ(0u, running.c_lflag & (ICANON | ECHO));
    client.type("qx");
    EXPECT_EQ(0, client.wait_exit().status);
}
