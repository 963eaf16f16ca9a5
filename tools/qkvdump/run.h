// qkvdump's run over the data files given: the outputs' OUTs checked
// (output_target.h), the reduction's files read (ping_reduce.h) and the
// outputs begun (dump_output.h), each file read once, each well-formed record
// held in the run's queue until the picker has decided its bottom, then
// located (ping_locate.h), reduced and held until the spike test has judged
// it, and handed to the listing and to every output in the order read, and
// the outputs finished. A file is
// read once more beforehand only where an output needs its pings counted or
// their range (the picture's rows, the echogram, the netCDF file's sample
// coordinate). Everything is in the run's record, made once.
#pragma once

#include <cstdint>
#include <cstdio>

#include "store/scan.h"
#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/dump_output.h"
#include "tools/qkvdump/export_reduce.h"
#include "tools/qkvdump/nav_join.h"
#include "tools/qkvdump/nav_motion.h"
#include "tools/qkvdump/ping_depth.h"
#include "tools/qkvdump/ping_grid.h"
#include "tools/qkvdump/ping_locate.h"

constexpr int DUMP_OUTPUTS_MAX = 8;
constexpr int PING_QUEUE_SIZE = PING_DEPTH_AHEAD_MAX + SPIKE_HALF_WINDOW_MAX + 1;

// A well-formed record in the run's queue, and once decided its ping.
struct PingSlot {
    uint8_t bytes[RECORD_SIZE];
    RecordView view;  // parsed from bytes
    long record;      // its number in its file, from 1
    ExportPing ping;  // once decided: its bottom, time and place
};

// The pings read and not yet handed on, all of the file being read, oldest first: those judged, those decided,
// then those waiting for the picker's verdict, which comes once ahead more pings have come (or the file has ended).
// Where the depths are reduced, the spike test judges a decided ping only with the pings after it: its verdict comes
// held pings later, and only a judged ping is handed on, the queue held slots longer.
struct PingQueue {
    PingSlot slots[PING_QUEUE_SIZE];
    int first;
    int count;
    int decided;  // the oldest of count
    int judged;   // the oldest of decided
    int ahead;
    int held;
};

struct DumpRun {
    const DumpOptions* options;
    Scanner scanner;   // the listing
    Scanner surveyor;  // reading ahead, quiet
    OutputInputs inputs;
    DumpOutput outputs[DUMP_OUTPUTS_MAX];  // those asked for, in the order of the run's table
    int output_count;
    DumpSurvey survey;
    NavLines lines;  // --nav
    NavMotion motion;  // the lines' sensors, where the reduction asks for them
    NavJoin join;
    PingLocator locator;
    char time_basis[PING_BASIS_TEXT_SIZE];
    PingDepthStage depth;  // --depth
    bool gridding;         // --grid or --contours
    PingGrid cells;
    bool reducing;         // the reduction asked for, its files read
    PingReduce reduce;
    int64_t offered;       // pings offered to the reduction
    PingQueue queue;
    long pings;     // handed on
    FILE* summary;  // the outputs' summaries go where the files' do
    int output_error;  // errno of the first write to standard output that failed
};

// Checks, lists, exports and draws the files the options give. The exit status: 0 when every file is a whole
// number of well-formed records and every output asked for was written; 1 when any file is malformed, torn or
// unreadable, a .NAV file cannot be read, an output could not be written, or standard output could not take the
// listing, or a file of the reduction cannot be read or gives nothing; 2 for an OUT that may not be written
// (output_target.h), an output this build cannot make, or pings to be counted in a file that can be read only once
// (a pipe).
int dump_run(DumpRun* run, const DumpOptions* options);
