// Runs the real program under a pseudo-terminal (the test is its controlling
// terminal: it types the keys and reads the screen) against headsim. Every
// wait is bounded.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <climits>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/constants.h"

namespace e2e {

const char* const PROGRAM = HALVEX_STORE_OFF;
const char* const PROGRAM_STORE_ON = HALVEX_STORE_ON;

// On screen once the program is inside pass 17, past that pass's key test:
// a key typed now ends the loop after pass 17, never before it.
const char* const IN_PASS_17_SHOWN = " --> Ping 2\n\n\nSend Switches...";
// Pass 3 has sent its command: with a slow head the program now waits for packet 2.
const char* const AWAITING_PACKET_2_SHOWN = "Packet Number     = 1\nser_buf_tcp[1032] = 0xFC\n\nSend Switches...";

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
// The lines of a text, each without its LF; a last one without LF is left out.
std::vector<std::string> lines_of(const std::string& text);
// The text with every from replaced by to.
std::string replaced(std::string text, const std::string& from, const std::string& to);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);
void write_settings(const TempDir& dir, const std::string& address, const std::string& extra = "");

// Today's data file name stem as the program makes it, e.g. 08DEC2026.
std::string today();
// The data files (DDMMMYYYY-NNNN.QKV) in a directory, sorted by name.
std::vector<std::string> data_files(const std::string& directory);
// The first record of a data file whose time (date, time and hundredths
// texts) is earlier than the one before it, or not readable as a time, as
// "record 50 at 02:20:34.00 after 02:20:34.59"; empty when the times never go back.
std::string first_time_step_back(const std::string& data);
// A path in single quotes, for a shell command line.
std::string in_quotes(const std::string& path);
// The lines of a file; false when it has not count of them within timeout_ms.
size_t lines_in(const std::string& path);
bool wait_for_more_lines(const std::string& path, size_t count, int timeout_ms);
// Runs a shell command line and returns its exit status; what it printed, on stdout and stderr,
// goes to output when given.
int run_command(const std::string& command, std::string* output = nullptr);
// Runs qkvdump on a file and returns its exit status; what it printed goes to output when given.
int qkvdump(const std::string& path, std::string* output = nullptr);
// The same with any arguments (options and files).
int qkvdump_with(const std::vector<std::string>& arguments, std::string* output = nullptr);

// headsim listening on its own loopback address until stopped; its synthetic
// pings as fast as asked (--ping-rate 0) unless the options set a pace.
class HeadSim {
public:
    // program: the headsim to start, when not this tree's.
    HeadSim(const std::string& address, const std::vector<std::string>& options = {},
            const std::string& program = HEADSIM);
    ~HeadSim();
    bool ready() const { return ready_; }
    // Stops it (if still running) and returns what it logged.
    std::string stop();

private:
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string log_path_;
};

struct ExitInfo {
    bool ended = false;  // false: it did not end in time
    int status = -1;     // exit status when it exited
    int signal = 0;      // the signal that killed it, if one did
    double cpu_s = 0;    // the CPU time it took, user and system, when it ended
    long peak_kib = 0;   // its largest resident memory, when it ended
};

struct ClientOptions {
    std::string program = PROGRAM;
    std::string stdout_path;  // empty: the terminal
    std::string stderr_path;  // empty: the terminal, or without one the test's own
    bool with_terminal = true;
    bool stdout_to_closed_pipe = false;
    bool without_standard_output = false;  // stdout and stderr closed (>&- 2>&-)
    // Bytes; 0: none. SIGXFSZ is at its default, as a user's shell leaves it:
    // the program must ignore it itself for a write past the limit to fail as
    // on a full disk.
    long file_size_limit = 0;
    // Windows has no such signal: a Windows program under Wine runs with it ignored.
    bool file_size_signal_ignored = false;
    bool as_nobody = false;    // run without root's right to write anywhere
    bool under_job_control = false;  // started as a shell starts a foreground job
    bool keep_terminal = false;  // the test holds the terminal open too, so unread_keys() sees what is left
    bool hangup_ignored = false;  // started as nohup starts it: closing the terminal does not end it
    // Words put before the program, e.g. a loader such as {"/usr/bin/wine"}.
    std::vector<std::string> command_prefix;
    std::vector<std::string> arguments;  // words after the program
    unsigned short rows = 24;            // the terminal's size
    unsigned short columns = 80;
    std::vector<std::string> environment;  // "NAME=value" set for the program only
};

// navlog with these arguments, on a terminal wide enough for its whole status line.
ClientOptions navlog_options(const std::vector<std::string>& arguments);

// The program started in a directory, its terminal held by the test.
class Client {
public:
    Client(const std::string& directory, const ClientOptions& options = {});
    ~Client();
    // Reads the screen until text has appeared; false after timeout_ms.
    bool wait_for(const std::string& text, int timeout_ms = 10000);
    // Reads the screen until done(screen) holds; false after timeout_ms.
    bool wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms = 10000);
    // Reads the screen for ms, so that the program never waits on a full terminal.
    void read_for(int ms);
    // Reads the screen until text has appeared count times.
    bool wait_for_count(const std::string& text, int count, int timeout_ms = 10000);
    void type(const std::string& keys);
    // Gives the terminal a new size, as a window resized does (the program gets SIGWINCH).
    void resize(unsigned short rows, unsigned short columns);
    // Waits for the program to end; after timeout_ms it is left running (ended false).
    ExitInfo wait_exit(int timeout_ms = 15000);
    // Waits for the exit prompt, answers it with a key and waits for the end.
    ExitInfo answer_prompt(int timeout_ms = 10000);
    // Waits until a key read has the terminal in raw mode (Ctrl+C is then a key).
    bool wait_key_read(int timeout_ms = 5000);
    // Closes the terminal, as closing a terminal window does: the program gets SIGHUP.
    void close_terminal();
    // The CPU time the program has taken so far, in seconds; -1 when it cannot be told.
    double cpu_seconds() const;
    // Waits until the program is stopped (by Ctrl+Z); false after timeout_ms.
    bool wait_stopped(int timeout_ms);
    const std::string& screen() const { return screen_; }
    pid_t pid() const { return pid_; }
    // The program itself: under job control, the child of the process started.
    pid_t job_pid() const;
    // The terminal modes now (readable after exit too).
    bool terminal_modes(struct termios* modes) const;
    // Keys typed but never read by the program: what the shell would get after it (keep_terminal only).
    std::string unread_keys();
    const struct termios& initial_modes() const { return initial_; }

private:
    void pump(int wait_ms);
    pid_t pid_ = -1;
    int master_ = -1;
    int terminal_ = -1;  // the terminal's own side, when kept open
    std::string screen_;
    struct termios initial_ = {};
};

// The program recording from headsim on address, settings written for it with extra lines, without a terminal
// (its screen goes to SCREEN in the directory), until it ends, as when the head closes; how it ended.
ExitInfo record_from(const TempDir& dir, const std::string& address, const std::string& extra, int timeout_ms,
                     const std::string& program = PROGRAM_STORE_ON);
// A survey on loopback: navlog logs headsim's sentences (headsim on address with head_options, sending to the UDP
// port) while the program records headsim's pings until the head closes, waiting for `sentences` more lines of the
// day's .NAV file before the first ping and after the last. That file's path; empty, with why, when a step fails.
std::string survey_with_navlog(const TempDir& dir, const std::string& address, int port,
                               std::vector<std::string> head_options, const std::string& settings, size_t sentences,
                               int timeout_ms, std::string* why);

// Datagrams to a loopback address and port.
class UdpSender {
public:
    UdpSender(const std::string& address, int port);
    ~UdpSender();
    void send(const std::string& bytes) const;

private:
    int fd_;
    std::string to_;  // a sockaddr_in's bytes
};

// A pseudo-terminal in raw mode standing in for a receiver on a serial line:
// the program opens path(), the test writes to master. Neither end is passed
// on to a program started after it.
struct SerialReceiver {
    int master = -1;
    int slave = -1;
    SerialReceiver();
    ~SerialReceiver();
    std::string path() const;
    void unplug();  // both ends closed: the line hangs up
};

// Milliseconds since some fixed point, for measuring how long something took.
long long now_ms();
// The wall clock in milliseconds since 1970, UTC.
long long wall_ms();

// What a program has shown: its terminal's screen, or the file its output
// goes to (with the CR LF line ends of a Windows program folded to LF).
class ShownText {
public:
    ShownText(Client& client, const std::string& file, bool windows) : client_(client), file_(file), windows_(windows) {}
    // bare counts line ends that were not CR LF, for a Windows program's file.
    std::string now(int* bare = nullptr) const;
    bool wait_for(const std::string& text, int timeout_ms) const;

private:
    Client& client_;
    std::string file_;
    bool windows_;
};

// The console text the program prints, built piece by piece.
class Expected {
public:
    Expected(const std::string& address, int range, int gain);
    Expected& pass();                    // the send line
    Expected& packet(int number);        // a traced packet
    // With the store on: each ping's writing line names the file and the kbytes in it, which stop
    // growing once records_that_fit are written; the first ping that does not fit shows write_failure.
    Expected& storing(const std::string& data_file, int records_that_fit = INT_MAX,
                      const std::string& write_failure = "");
    Expected& ping(int count);           // ends the trace of the eighth packet
    Expected& pings(int first, int last);  // whole pings, each eight passes
    Expected& packets(std::initializer_list<int> numbers);  // a pass and its traced packet, for each
    Expected& fails_with(const std::string& message);       // a pass that fails, and the prompt
    Expected& text(const std::string& raw);
    Expected& only(const std::string& raw) { return text_ = raw, *this; }  // not even the settings lines
    Expected& prompt();
    const std::string& str() const { return text_; }

private:
    std::string send_line_;
    std::string text_;
    std::string data_file_;  // empty: the store is off
    int records_that_fit_ = INT_MAX;
    std::string write_failure_;
};

// Redirected output with CR LF folded to LF; bare counts line ends that were
// not CR LF and CRs that ended no line.
std::string fold_crlf(const std::string& raw, int* bare);

// The values of every section, section and key names in lower case, as a
// settings file reader sees them (blanks around names and values trimmed; a
// header runs to the line's last "]", a "[" without one opens no section; the
// first of a key counts). Entries under a header with a blank name are left
// out: Wine's rewrite of a file drops such a header, where Windows keeps it.
typedef std::map<std::string, std::string> Values;  // "section/key" -> value
Values profile_values(const std::string& text);

}  // namespace e2e
