// qkvweb: the survey of its directory live in a web browser, and its health
// for monitoring. It follows the recording (the newest data file written
// today, whatever its day) and today's .NAV file,
// as qkvdump --follow does, and serves a page that draws the waterfall, the
// depth, the track and the status, updated as pings come, with /status,
// /health and /metrics beside it. It only reads.
#include <cstdio>

#include "tools/qkvweb/serve.h"

namespace {

// Where this build cannot serve (Windows), its help and version say so.
int print_saying_limits(const char* text)
{
    fputs(text, stdout);
    if (WEB_SERVE_CANNOT[0] != '\0') printf("This qkvweb cannot serve: %s.\n", WEB_SERVE_CANNOT);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    WebOptions options;
    char message[CMDLINE_MESSAGE_SIZE] = "";
    char version[64];
    snprintf(version, sizeof version, "qkvweb %s\n", HALVEX_VERSION);
    switch (web_parse(argc, argv, &options, message)) {
    case WEB_PARSE_HELP: return print_saying_limits(QKVWEB_USAGE);
    case WEB_PARSE_VERSION: return print_saying_limits(version);
    case WEB_PARSE_BAD: return cmdline_complain(stderr, "qkvweb", message, QKVWEB_USAGE);
    case WEB_PARSE_RUN: break;
    }
    return web_serve(&options);
}
