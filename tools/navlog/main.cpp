// navlog: logs the position of a survey beside the program's pings. A small
// logger run on the same computer as the program: it takes the NMEA 0183
// sentences of the vessel's GNSS receiver from a serial line, UDP or TCP and
// writes each, stamped with the same computer clock the data files are
// stamped with, to a file of the day, so pings and fixes can be joined later.
#include <cstdio>

#include "tools/navlog/navlog_options.h"
#include "tools/navlog/run.h"

int main(int argc, char** argv)
{
    NavOptions options;
    char message[NAVLOG_MESSAGE_SIZE] = "";
    switch (navlog_parse(argc, argv, &options, message)) {
    case NAV_PARSE_HELP: fputs(NAVLOG_USAGE, stdout); return 0;
    case NAV_PARSE_VERSION: printf("navlog %s\n", HALVEX_VERSION); return 0;
    case NAV_PARSE_BAD: return cmdline_complain(stderr, "navlog", message, NAVLOG_USAGE);
    case NAV_PARSE_RUN: break;
    }
    return navlog_run(&options);
}
