// Running the Windows build under Wine from the end-to-end harness: the .exe
// started by wine in the shared prefix that the test fixture made, its
// standard output redirected to a file (the console under Wine is wrapped in
// escape codes), keys typed on the pseudo-terminal. Every wait is bounded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace wine {

const char* const EXE = HALVEX_WIN32_EXE;              // store switch off
const char* const EXE_STORE_ON = HALVEX_WIN32_STORE_EXE;  // store switch on
const char* const QKVDUMP_EXE = QKVDUMP_WIN32_EXE;
const char SETTINGS[] = "Halvex_StoreData.INI";
const char SCREEN[] = "screen.txt";
const size_t RECORD = 8192;

// Empty when wine, the prefix and the program are there; else why not.
std::string missing(const char* exe);

// Fails the test, never skips it, when the Windows program or Wine is not
// there: the test command builds the one and installs the other.
#define REQUIRE_WINE(exe)                                       \
    do {                                                        \
        std::string why = wine::missing(exe);                   \
        if (!why.empty()) GTEST_FAIL() << why;                  \
    } while (0)

// Options that start exe under wine with its output in dir's screen file.
e2e::ClientOptions options(const char* exe, const e2e::TempDir& dir);

// The redirected output with CR LF folded to LF; bare counts line ends that
// were not CR LF and CRs that ended no line.
std::string fold_crlf(const std::string& raw, int* bare);

// Waits until the output file, folded, holds text.
bool wait_for_output(const std::string& path, const std::string& text, int timeout_ms = 20000);

// Waits for the exit prompt in the output file, answers it, waits for the end.
e2e::ExitInfo answer_prompt(e2e::Client& client, const std::string& path);

// The values of every section, section and key names in lower case, as a
// settings file reader sees them (blanks around names and values trimmed; a
// header runs to the line's last "]", a "[" without one opens no section; the
// first of a key counts). Entries under a header with a blank name are left
// out: Wine's rewrite of a file drops such a header, where Windows keeps it.
typedef std::map<std::string, std::string> Values;  // "section/key" -> value
Values profile_values(const std::string& text);


// Runs a shell command line (bound its time with timeout(1)); returns its exit
// status and fills what it printed.
int run_captured(const std::string& command, std::string* output);
// "env WINEPREFIX=... /usr/bin/wine": put before a Windows program on a command line.
std::string wine_environment();

}  // namespace wine
