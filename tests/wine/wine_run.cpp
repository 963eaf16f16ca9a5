#include "tests/wine/wine_run.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace wine {

namespace {

// The loader's variables besides the prefix: on 64-bit Windows builds, which
// loader and server to take, since Debian's launcher would take the 32-bit one.
std::vector<std::string> loader_environment()
{
    std::vector<std::string> words = {"WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    std::string extra = HALVEX_WINE_ENVIRONMENT;
    size_t start = 0;
    while (start < extra.size()) {
        size_t end = extra.find(' ', start);
        if (end == std::string::npos) end = extra.size();
        if (end > start) words.push_back(extra.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace

std::string missing(const char* exe)
{
    if (std::string(HALVEX_WINE).empty()) return HALVEX_WINDOWS_WHY;
    if (!e2e::file_exists(HALVEX_WINE)) return std::string(HALVEX_WINE) + " is not installed";
    if (!e2e::file_exists(std::string(WINE_PREFIX) + "/system.reg"))
        return std::string("no Wine prefix at ") + WINE_PREFIX + " (the wine.prefix test makes it)";
    if (exe && !e2e::file_exists(exe))
        return std::string("no Windows program at ") + exe + " (the windows.builds test makes it)";
    return "";
}

std::string wine_environment()
{
    std::string words = "env WINEPREFIX='" + std::string(WINE_PREFIX) + "'";
    for (const std::string& word : loader_environment()) words += " '" + word + "'";
    return words + " " + HALVEX_WINE;
}

e2e::ClientOptions options(const char* exe)
{
    e2e::ClientOptions client;
    client.program = exe;
    client.command_prefix = {HALVEX_WINE};
    client.environment = loader_environment();
    client.environment.push_back(std::string("WINEPREFIX=") + WINE_PREFIX);
    client.file_size_signal_ignored = true;
    return client;
}

bool wait_for_output(const std::string& path, const std::string& text, int timeout_ms)
{
    long long deadline = e2e::now_ms() + timeout_ms;
    int bare = 0;
    while (e2e::fold_crlf(e2e::read_file(path), &bare).find(text) == std::string::npos) {
        if (e2e::now_ms() > deadline) return false;
        usleep(20000);
    }
    return true;
}

e2e::ExitInfo answer_prompt(e2e::Client& client, const std::string& path)
{
    if (wait_for_output(path, e2e::PROMPT)) client.type("x");
    return client.wait_exit(15000);
}

int run_captured(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " 2>/dev/null </dev/null").c_str(), "r");
    if (!pipe) return -1;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, got);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace wine
