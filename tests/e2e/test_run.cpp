// The program end to end on Linux where the scenario table cannot say it: the
// terminal's modes after signals and job control, a settings file past the path
// limit, and redirected output. Each test on its own loopback address.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

// headsim holds the reply to command 17 for 1.5 s, so a key typed once ping 2
// shows arrives while the program waits in that pass.
const std::vector<std::string> HOLD_PASS_17 = {"--once", "--fault", "stall:1500@17"};

}  // namespace

// Ctrl+C kills the process and the terminal is left as it was found.
TEST(Run, CtrlCKillsAndRestoresTerminal)
{
    TempDir dir;
    write_settings(dir, "127.0.2.5");
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
    ASSERT_TRUE(client.wait_for(IN_PASS_17_SHOWN));
    EXPECT_EQ(0u, client.screen().find(Expected("127.0.2.80", 40, 3).str()));
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);
    EXPECT_EQ("[Settings]\nIPAddress=127.0.2.80\nRange=40\nGain=3\n", read_file(settings));
    EXPECT_EQ(std::vector<std::string>{SETTINGS}, list_dir(deep));
    unlink(settings.c_str());
    close(deep_fd);
}

// With stdout redirected, keys still come from the terminal and the file gets the whole text at exit (its blocks:
// the scenario no_terminal_never_waits_for_a_key).
TEST(Run, RedirectedOutputIsBlockBuffered)
{
    TempDir dir;
    write_settings(dir, "127.0.2.15");
    HeadSim head("127.0.2.15", {"--once", "--delay-ms", "5"});
    ClientOptions options;
    options.stdout_path = dir.file(SCREEN);
    Client client(dir.path(), options);
    for (long long deadline = now_ms() + 10000; read_file(options.stdout_path).size() < 2048; usleep(30000)) {
        ASSERT_LT(now_ms(), deadline) << "no blocks written";
    }
    client.type("qx");
    ExitInfo exit = client.wait_exit();
    EXPECT_EQ(0, exit.status);
    std::string screen = read_file(options.stdout_path);
    EXPECT_EQ(0u, screen.find(Expected("127.0.2.15", 30, 3).pass().str()));
    EXPECT_EQ(std::string::npos, screen.find('\r'));
    EXPECT_EQ(screen.size() - strlen(PROMPT) - 2, screen.rfind(std::string("\n\n") + PROMPT));
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
