// qkvdump's side of the reduction's stage (reduction/ping_reduce.h): the
// stage begun from its options, and each exported ping handed to it and given
// its verdict.
#pragma once

#include <cstdint>

#include "reduction/ping_reduce.h"
#include "tools/qkvdump/dump_options.h"
#include "tools/qkvdump/ping_export.h"

// Reads the files of the reduction the options ask for and begins the stage; false, said, as ping_reduce_begin.
bool dump_reduce_begin(PingReduce* stage, const DumpOptions* options);
// What the reduction knows of an exported ping: its origin, time, bottom, position and sensors.
void export_reduction_of(const ExportPing* ping, int64_t tag, ReductionPing* reduced);
// A verdict into the ping: its depth below the reference and, where the offset moved it, the sounding's position.
void export_reduction_apply(const ReductionResult* judged, ExportPing* ping);
