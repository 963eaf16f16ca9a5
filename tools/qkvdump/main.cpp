// qkvdump: checks data files, lists their ping records, exports and draws
// their pings (run.h), and follows a recording live in the terminal
// (follow.h).
//   qkvdump [--csv [--samples]] [--png OUT [--width N] [--height N] [--gray]] FILE...
//   qkvdump [--csv] [--nav NAVFILE... [--geojson OUT]] [--netcdf OUT [--utc-offset +HH:MM]] FILE...
//   qkvdump --follow [FILE]
// Exit status 2 for a bad command line; else the run's (run.h) or the follow's.
#include <cstdio>

#include "platform/platform.h"
#include "tools/qkvdump/follow.h"
#include "tools/qkvdump/run.h"

namespace {

DumpOptions options;
DumpRun run;
PingReduce follow_reduce;

int follow(const DumpOptions* o)
{
    FollowDepth depth = {};
    depth.on = o->depth;
    depth.settings = o->depth_settings;
    depth.draft_m = o->draft_m;
    depth.draft_known = o->draft_known;
    depth.dpt_offset_m = o->keel ? -o->keel_m : o->draft_m;
    depth.nmea_address = o->nmea_address[0] != 0 ? o->nmea_address : nullptr;
    depth.nmea_port = o->nmea_port;
    if (o->reduction.asked) {
        if (!dump_reduce_begin(&follow_reduce, o)) return 1;
        depth.reduce = &follow_reduce;
    }
    int status = follow_run(o->file_count > 0 ? o->files[0] : nullptr, &depth);
    if (depth.reduce != nullptr) ping_reduce_end(depth.reduce);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    plat_closed_pipe_fails();  // a listing cut short by its reader is a failure to say, status 1
    char message[CMDLINE_MESSAGE_SIZE] = "";
    switch (dump_parse(argc, argv, &options, message)) {
    case DUMP_PARSE_HELP: fputs(QKVDUMP_USAGE, stdout); return 0;
    case DUMP_PARSE_VERSION: printf("qkvdump %s\n", HALVEX_VERSION); return 0;
    case DUMP_PARSE_BAD: return cmdline_complain(stderr, "qkvdump", message, QKVDUMP_USAGE);
    case DUMP_PARSE_FOLLOW: return follow(&options);
    case DUMP_PARSE_RUN: break;
    }
    return dump_run(&run, &options);
}
