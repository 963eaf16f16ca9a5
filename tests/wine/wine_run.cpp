#include "tests/wine/wine_run.h"

#include <sys/wait.h>

#include <cstdio>

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
