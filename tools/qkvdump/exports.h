// qkvdump's exports beside the listing, the CSV and the picture: position
// for every ping from navlog's .NAV files (--nav), the CSV columns that
// brings, the track for GIS (--geojson) and the netCDF file (--netcdf), with
// the pings' times made absolute (--utc-offset or the computer's zone).
#pragma once

#include "cmdline/cmdline.h"
#include "store/scan.h"
#include "tools/qkvdump/output_target.h"
#include "tools/qkvdump/ping_export.h"

// Takes the option just read, one of --nav, --geojson, --netcdf, --xyz,
// --utc-offset, --depth, --draft and --blank, with its values; false when
// refused (said in line's message).
bool exports_option(Cmdline* line);
// After the command line: whether the options go together (else said in line's message).
bool exports_check(Cmdline* line, bool csv);
// Whether an output of the exports was asked for.
bool exports_write_files();
// The .NAV files given, into the inputs.
void exports_inputs(OutputInputs* inputs);
// Starts what was asked for over the inputs; sets the scanner's CSV columns
// when there are more. 0 when started; 2 for an OUT that may not be written
// (output_target.h) or an output this build cannot make; 1 when a .NAV file
// cannot be read or an output cannot be made, before any OUT is touched (said).
int exports_begin(const OutputInputs* inputs, Scanner* scanner);
void exports_file(int index, const char* name);
// Every well-formed record, after its line: the ping as exported (its bottom
// at least; its time and position when an output needed them).
const ExportPing* exports_ping(const RecordView* view, long record);
// Every ping's time and position is found, also when no output asks for them (a picture's axes).
void exports_locate_every_ping();
// Whether the pings' depths are picked (--depth, --xyz).
bool exports_depth();
// Whether the exports' options given are --depth, --draft and --blank alone (those --follow takes).
bool exports_only_depth();
// The transducer's draft in metres (--draft; 0 without).
double exports_draft_m();
// Whether --nmea-out was given.
bool exports_nmea_out();
// What --follow takes of them.
struct FollowDepth;
void exports_follow_depth(FollowDepth* depth);
// Before the command line: the picker's own defaults.
void exports_depth_defaults();
// Ends what was written, moving each output over its OUT when keep and it
// is whole; false when any of it failed (said).
bool exports_finish(bool keep);
