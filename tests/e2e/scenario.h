// The program's behaviour end to end as a table of scenarios: a row holds the
// settings file, how the head behaves, the keys and when they are typed, and
// what must come of it (screen, exit status, settings file, records, time).
// Every row runs against each build it names; a small adapter per build kind
// hides how the program is started and its screen read.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace e2e {

// The four builds a row may run on.
enum BuildKind : unsigned {
    LINUX_STORE_OFF = 1,
    LINUX_STORE_ON = 2,
    WINDOWS_STORE_OFF = 4,
    WINDOWS_STORE_ON = 8,
};
const unsigned LINUX_BUILDS = LINUX_STORE_OFF | LINUX_STORE_ON;
const unsigned STORE_ON_BUILDS = LINUX_STORE_ON | WINDOWS_STORE_ON;
const unsigned EVERY_BUILD = LINUX_BUILDS | WINDOWS_STORE_OFF | WINDOWS_STORE_ON;

// When a row's key is typed.
enum KeyMoment {
    NO_KEY,             // the run ends by itself; the prompt is answered
    IN_PASS_17,         // inside pass 17, past its key test (the harness holds that reply)
    AWAITING_PACKET_2,  // pass 3 has sent its command (the row's head is slow)
    AFTER_PING_1,       // once ping 1 shows
};

// One row. Texts may hold $A, the row's own loopback address, $Z, the same
// with every part written as three digits, and $T, today's data file stem.
struct Scenario {
    explicit Scenario(const char* row_name) : name(row_name) {}

    Scenario& settings(const std::string& text) { return settings_text = text, *this; }
    Scenario& head(const std::vector<std::string>& options) { return head_options = options, *this; }
    Scenario& no_head() { return head_listens = false, *this; }
    Scenario& key(KeyMoment when, const std::string& keys) { return moment = when, typed = keys, *this; }
    Scenario& prompt_answered_with(const std::string& keys) { return prompt_key = windows_prompt_key = keys, *this; }
    Scenario& on_windows_prompt_answered_with(const std::string& keys, const char* reason)
    {
        return windows_prompt_key = keys, windows_why = reason, *this;
    }
    // The key typed answers the prompt by itself: the run ends without another.
    Scenario& ends_on_the_key_alone() { return prompt_key.clear(), windows_prompt_key.clear(), *this; }
    Scenario& shows(const std::string& address, int range, int gain)
    {
        return shown_address = address, shown_range = range, shown_gain = gain, *this;
    }
    // The whole screen, built on the settings lines; with the store on, each ping adds its writing line.
    Scenario& screen(const std::function<void(Expected&)>& build) { return screen_text = build, *this; }
    // Only how the screen starts is known.
    Scenario& screen_starts(const std::function<void(Expected&)>& build)
    {
        return screen_text = build, whole_screen = false, *this;
    }
    Scenario& status(int code) { return exit_status = code, *this; }
    // Linux: the program dies by the signal. Windows: it ends at once without the prompt.
    Scenario& killed_by(int signal_number) { return exit_signal = signal_number, *this; }
    Scenario& settings_after(const std::string& text) { return settings_written = text, written = true, *this; }
    Scenario& records(int count) { return record_count = count, *this; }
    // The run ends by itself this long after the start (0: at once).
    Scenario& ends_after(int ms) { return limit_ms = windows_limit_ms = ms, *this; }
    Scenario& on_windows_ends_after(int ms, const char* reason) { return windows_limit_ms = ms, windows_why = reason, *this; }
    Scenario& file_size_limit(long bytes) { return size_limit = bytes, *this; }
    Scenario& without_terminal() { return terminal = false, *this; }
    // Redirected output in whole 512-byte blocks until the end: while the head holds its reply to the pass
    // that `held` ends with, the file holds the whole blocks of what `held` builds.
    Scenario& output_in_blocks(const std::function<void(Expected&)>& held) { return held_text = held, *this; }
    // What standard error holds, where it is no terminal: $R is what the run records to.
    Scenario& errors(const std::string& text) { return errors_text = text, *this; }
    // The settings file is there, but the program may not read it.
    Scenario& settings_unreadable() { return unreadable = true, *this; }
    Scenario& existing(const std::string& file, const std::string& content)
    {
        return present.emplace_back(file, content), *this;
    }
    Scenario& first_data_file_number(int number) { return data_file_number = number, *this; }
    Scenario& builds(unsigned kinds, const char* reason) { return build_kinds = kinds, builds_why = reason, *this; }

    std::string name;
    std::string settings_text = "[Settings]\nIPAddress=$A\n";
    std::vector<std::string> head_options;
    bool head_listens = true;
    KeyMoment moment = NO_KEY;
    std::string typed;
    std::string prompt_key = "x";
    std::string windows_prompt_key = "x";
    std::string shown_address = "$A";
    int shown_range = 30;
    int shown_gain = 3;
    std::function<void(Expected&)> screen_text;
    bool whole_screen = true;
    int exit_status = 1;
    int exit_signal = 0;
    std::string settings_written;
    bool written = false;  // false: the settings file is left as it was
    int record_count = 0;
    int limit_ms = 0;
    int windows_limit_ms = 0;
    const char* windows_why = "";  // why a Windows build expects otherwise
    long size_limit = 0;
    bool terminal = true;
    std::function<void(Expected&)> held_text;
    std::string errors_text;
    bool unreadable = false;
    std::vector<std::pair<std::string, std::string>> present;
    int data_file_number = 1;
    unsigned build_kinds = EVERY_BUILD;
    const char* builds_why = "";
};

// How one build is started: the program and what goes before it.
struct Build {
    const char* name;
    BuildKind kind;
    ClientOptions start;      // program, command prefix and environment
    int hold_pass_17_ms;      // long enough for a key to arrive inside the held pass
};

// The rows of the table.
const std::vector<Scenario>& scenarios();

// One row on one build, as a test parameter.
struct ScenarioCase {
    size_t row;
    Build build;
};
std::vector<ScenarioCase> scenario_cases(const std::vector<Build>& builds);
std::string scenario_case_name(const testing::TestParamInfo<ScenarioCase>& info);

// Runs the row on the build and checks everything it expects.
void run_scenario(const ScenarioCase& which);

}  // namespace e2e
