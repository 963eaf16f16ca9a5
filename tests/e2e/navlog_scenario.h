// navlog's behaviour end to end as a table of scenarios: a row names the
// source (UDP, TCP, or a serial line that a pseudo-terminal stands in for),
// what happens and when (bytes sent, the source gone and back, keys, signals,
// a second navlog), and what must come of it (exit status, the sentences
// logged, what the status line shows, the files left). Every row runs on each
// system it names; a small adapter per system says how navlog is started, how
// a serial line is named and where its status is read.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace e2e {

enum NavlogSystem : unsigned { NAVLOG_LINUX = 1, NAVLOG_WINDOWS = 2 };  // navlog has one build per system
const unsigned EVERY_SYSTEM = NAVLOG_LINUX | NAVLOG_WINDOWS;

enum NavlogSource {
    SOURCE_NONE,    // the row's arguments say everything
    SOURCE_UDP,     // --udp $P --bind $A, datagrams sent to it
    SOURCE_TCP,     // --tcp $A:$P, a listener there serving the bytes
    SOURCE_SERIAL,  // --serial $D, a pseudo-terminal under that name
};

enum NavlogAction {
    SEND,           // text through the source: a datagram, or written to the connection or the line
    SEND_TIMED,     // the same, remembering when: the row's timed line must carry a time from then
    BURST,          // number datagrams of a sentence each, back to back
    PAUSE,          // number ms
    LINES,          // wait until the days' files hold number lines
    QUIET,          // wait until they stop growing
    SHOWN,          // wait until the status shows text
    UNPLUG,         // the source goes: the line's device and name, or the connection and its listener
    PLUG,           // it comes back under the same name (TCP: listened on, the connection taken)
    SWAP,           // another line under the name without a word: the one open stays silent
    KEY,            // text typed on navlog's terminal
    SIGNAL,         // number sent to navlog
    HANG_UP,        // its terminal closed, as a terminal window closed
    IDLE,           // navlog takes under number ms of CPU in a second
    APPEND,         // another writer appends text as a line to the day's file
    REMOVE,         // the day's file deleted
    REPLACE,        // another file, holding text as a line, moved over the day's file
    SECOND,         // another navlog started with words ends at once with status number, showing text
    START_HEADSIM,  // headsim on the row's address with words (its NMEA to 127.0.0.1:$P)
    STOP_HEADSIM,
};

// One thing done. Texts and words may hold $A, the row's own loopback address,
// $P and $Q ports of its own, $D the serial line's name, $F the day's file
// and $N the system's null device.
struct NavlogStep {
    NavlogAction action;
    std::string text;
    int number;
    std::vector<std::string> words;
    int timeout_ms;    // a wait's, to which the system's slack is added
    unsigned systems;  // where it is done
    const char* why;   // why not elsewhere
};

// What a run left, for a row's own checks.
struct NavlogOutcome {
    NavlogSystem system;
    std::string directory;
    std::vector<std::string> day_files;  // the row's days, in order
    std::vector<std::string> lines;      // theirs, in order
    std::vector<std::string> sentences;  // each line's part after its time
    std::string shown;                   // the status, as navlog showed it
    long long ran_ms;
    std::string day_text(size_t day) const;  // "2026-12-08": the date of day_files[day]
};

struct NavlogScenario {
    explicit NavlogScenario(const char* row_name) : name(row_name) {}
    typedef NavlogScenario Row;

    Row& source(NavlogSource kind) { return from = kind, *this; }
    Row& arguments(const std::vector<std::string>& words) { return extra = words, *this; }  // after the source's
    Row& step(NavlogAction action, const std::string& text = "", int number = 0,
              const std::vector<std::string>& words = {})
    {
        return steps.push_back({action, text, number, words, 5000, EVERY_SYSTEM, ""}), *this;
    }
    Row& send(const std::string& bytes) { return step(SEND, bytes); }
    Row& pause(int ms) { return step(PAUSE, "", ms); }
    Row& lines(int count, int timeout_ms = 5000) { return step(LINES, "", count).waiting(timeout_ms); }
    Row& shown(const std::string& text, int timeout_ms = 5000) { return step(SHOWN, text).waiting(timeout_ms); }
    Row& waiting(int timeout_ms) { return steps.back().timeout_ms = timeout_ms, *this; }
    Row& key(const std::string& keys) { return step(KEY, keys); }
    Row& signal(int number) { return step(SIGNAL, "", number); }
    // The step just added is done on these systems only.
    Row& only_on(unsigned systems, const char* why)
    {
        return steps.back().systems = systems, steps.back().why = why, *this;
    }
    // The status to a file (on Windows always: Wine's console redraws only what changed).
    Row& output_to_file() { return to_file = true, *this; }
    Row& file_size_limit(long bytes) { return size_limit = bytes, *this; }
    Row& hangup_ignored() { return nohup = true, *this; }
    Row& midnight_soon() { return midnight = true, *this; }  // two seconds after the start, in a zone of its own
    Row& existing(const std::string& file, const std::string& text) { return present.emplace_back(file, text), *this; }
    Row& existing_fifo(const std::string& file) { return fifos.push_back(file), *this; }
    Row& existing_link(const std::string& file, const std::string& to) { return links.emplace_back(file, to), *this; }
    Row& port_taken() { return port_held = true, *this; }  // by another program
    // navlog ends at once, by itself, with the status and its output starting with the message.
    Row& ends_at_once(int code, const std::string& message)
    {
        return at_once = true, exit_status = windows_status = code, said = windows_said = message, *this;
    }
    Row& on_windows_ends_at_once(int code, const std::string& message, const char* reason)
    {
        return windows_status = code, windows_said = message, windows_why = reason, *this;
    }
    // The sentences logged, in order over the days' files: all of them, or how they start.
    Row& logs(const std::vector<std::string>& sentences, bool whole = true)
    {
        return logged = sentences, logged_whole = whole, *this;
    }
    Row& timed_line(int line) { return timed = line, *this; }  // its sentence was completed by SEND_TIMED
    Row& shows(const std::string& text) { return shown_texts.push_back(text), *this; }  // by the end
    Row& check(const std::function<void(const NavlogOutcome&)>& own) { return own_check = own, *this; }
    Row& builds(unsigned systems, const char* reason) { return systems_run = systems, builds_why = reason, *this; }

    std::string name;
    NavlogSource from = SOURCE_NONE;
    std::vector<std::string> extra;
    std::vector<NavlogStep> steps;
    bool to_file = false, nohup = false, midnight = false, port_held = false, at_once = false;
    long size_limit = 0;
    std::vector<std::pair<std::string, std::string>> present;
    std::vector<std::string> fifos;
    std::vector<std::pair<std::string, std::string>> links;  // a symbolic link: its name, the name it points to
    int exit_status = 0, windows_status = 0;
    std::string said, windows_said;
    const char* windows_why = "";
    std::vector<std::string> logged;
    bool logged_whole = true;
    int timed = -1;
    std::vector<std::string> shown_texts;
    std::function<void(const NavlogOutcome&)> own_check;
    unsigned systems_run = EVERY_SYSTEM;
    const char* builds_why = "";
};

// How navlog is started on one system, and what differs there.
struct NavlogBuild {
    const char* name;
    NavlogSystem system;
    ClientOptions start;      // program, command prefix and environment
    std::string command;      // what starts it on a shell's command line, its time bounded
    std::string null_device;  // $N
    int slack_ms;             // added to every wait: a Windows program under Wine is slower
    // The serial line's name for a row ($D), and the file made a link to its pseudo-terminal.
    std::function<std::string(size_t row, const std::string& directory, std::string* link)> serial;
};

const std::vector<NavlogScenario>& navlog_scenarios();

struct NavlogCase {
    size_t row;
    NavlogBuild build;
};
std::vector<NavlogCase> navlog_cases(const std::vector<NavlogBuild>& builds);
std::string navlog_case_name(const testing::TestParamInfo<NavlogCase>& info);
void PrintTo(const NavlogCase& which, std::ostream* out);

// Runs the row on the build and checks everything it expects.
void run_navlog_scenario(const NavlogCase& which);

}  // namespace e2e
