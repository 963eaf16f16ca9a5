// Running the Windows build under Wine from the end-to-end harness: the .exe
// of the Windows build this machine runs (32-bit, or 64-bit where no 32-bit
// program runs: tests/wine/windows_under_wine.cmake) started by its Wine
// loader in the shared prefix that the test fixture made, its
// standard output redirected to a file (the console under Wine is wrapped in
// escape codes), keys typed on the pseudo-terminal. Every wait is bounded.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace wine {

const char* const EXE = HALVEX_WINDOWS_EXE;              // store switch off
const char* const EXE_STORE_ON = HALVEX_WINDOWS_STORE_EXE;  // store switch on
const char* const QKVDUMP_EXE = QKVDUMP_WINDOWS_EXE;
const char* const NAVLOG_EXE = NAVLOG_WINDOWS_EXE;
const char* const QKVWEB_EXE = QKVWEB_WINDOWS_EXE;

// Empty when wine, the prefix and the program are there; else why not.
std::string missing(const char* exe);

// Fails the test, never skips it, when the Windows program or Wine is not
// there: the test command builds the one and installs the other.
#define REQUIRE_WINE(exe)                                       \
    do {                                                        \
        std::string why = wine::missing(exe);                   \
        if (!why.empty()) GTEST_FAIL() << why;                  \
    } while (0)

// Options that start exe under wine; the test names where its output goes.
e2e::ClientOptions options(const char* exe);

// Runs a shell command line (bound its time with timeout(1)); returns its exit
// status and fills what it printed.
int run_captured(const std::string& command, std::string* output);
// "env WINEPREFIX=... LOADER": put before a Windows program on a command line.
std::string wine_environment();

}  // namespace wine
