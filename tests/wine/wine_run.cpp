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

std::string find_in_path(const std::string& name)
{
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

std::string trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string missing(const char* exe)
{
    if (find_in_path("wine").empty()) return "wine is not installed";
    if (!e2e::file_exists(std::string(WINE_PREFIX) + "/system.reg"))
        return std::string("no Wine prefix at ") + WINE_PREFIX + " (the wine.prefix test makes it)";
    if (exe && !e2e::file_exists(exe))
        return std::string("no Windows program at ") + exe + " (the windows.builds test makes it)";
    return "";
}

std::string wine_environment()
{
    return "env WINEPREFIX='" + std::string(WINE_PREFIX) + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
           find_in_path("wine");
}

e2e::ClientOptions options(const char* exe, const e2e::TempDir& dir)
{
    e2e::ClientOptions client;
    client.program = exe;
    client.command_prefix = {find_in_path("wine")};
    client.environment = {std::string("WINEPREFIX=") + WINE_PREFIX, "WINEDEBUG=-all",
                          "WINEDLLOVERRIDES=mscoree,mshtml="};
    client.stdout_path = dir.file(SCREEN);
    client.file_size_signal_ignored = true;
    return client;
}

std::string fold_crlf(const std::string& raw, int* bare)
{
    std::string folded;
    *bare = 0;
    for (size_t at = 0; at < raw.size(); ++at) {
        if (raw[at] == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n') continue;
        if (raw[at] == '\r' || (raw[at] == '\n' && (at == 0 || raw[at - 1] != '\r'))) ++*bare;
        folded += raw[at];
    }
    return folded;
}

bool wait_for_output(const std::string& path, const std::string& text, int timeout_ms)
{
    long long deadline = e2e::now_ms() + timeout_ms;
    int bare = 0;
    while (fold_crlf(e2e::read_file(path), &bare).find(text) == std::string::npos) {
        if (e2e::now_ms() > deadline) return false;
        usleep(20000);
    }
    return true;
}

e2e::ExitInfo answer_prompt(e2e::Client& client, const std::string& path)
{
    if (wait_for_output(path, "Press any key to exit.")) client.type("x");
    return client.wait_exit(15000);
}

Values profile_values(const std::string& text)
{
    Values values;
    std::string section;
    bool blank_header = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        size_t close = line.rfind(']');
        if (line[0] == '[' && close != std::string::npos && close > 0) {
            section = lower(trim(line.substr(1, close - 1)));
            blank_header = section.empty();
        } else if (line.find('=') != std::string::npos && !blank_header) {
            size_t equals = line.find('=');
            values.emplace(section + "/" + lower(trim(line.substr(0, equals))), trim(line.substr(equals + 1)));
        }
    }
    return values;
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
