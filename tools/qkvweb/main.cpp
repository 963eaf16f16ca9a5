// qkvweb: the survey of its directory live in a web browser, and its health
// for monitoring. It follows today's newest data file and today's .NAV file,
// as qkvdump --follow does, and serves a page that draws the waterfall, the
// depth, the track and the status, updated as pings come, with /status,
// /health and /metrics beside it. It only reads.
#include <cstdio>

#include "tools/qkvweb/serve.h"

int main(int argc, char** argv)
{
    WebOptions options;
    char message[CMDLINE_MESSAGE_SIZE] = "";
    switch (web_parse(argc, argv, &options, message)) {
    case WEB_PARSE_HELP: fputs(QKVWEB_USAGE, stdout); return 0;
    case WEB_PARSE_VERSION: printf("qkvweb %s\n", HALVEX_VERSION); return 0;
    case WEB_PARSE_BAD: return cmdline_complain(stderr, "qkvweb", message, QKVWEB_USAGE);
    case WEB_PARSE_RUN: break;
    }
    return web_serve(&options);
}
