// qkvdump's exports beside the listing, the CSV and the picture: position
// for every ping from navlog's .NAV files (--nav), the CSV columns that
// brings, the track for GIS (--geojson) and the netCDF file (--netcdf), with
// the pings' times made absolute (--utc-offset or the computer's zone).
#pragma once

#include "store/scan.h"
#include "tools/qkvdump/output_target.h"

// Takes argv[*i] when it is one of these options, and its values, leaving *i
// at the last argument taken: 1 taken, 0 not one of them, 2 refused (said).
int exports_option(int argc, char** argv, int* i);
// After the command line: 0 when the options go together, else 2 (said).
int exports_check(bool csv);
// Whether an output of the exports was asked for.
bool exports_write_files();
// The .NAV files given, into the inputs.
void exports_inputs(OutputInputs* inputs);
// Starts what was asked for over the inputs; sets the scanner's CSV columns
// when there are more. 0 when started; 2 for an OUT that may not be written
// (output_target.h); 1 when a .NAV file cannot be read or an output cannot
// be made, before any OUT is touched (said).
int exports_begin(const OutputInputs* inputs, Scanner* scanner);
void exports_file(int index, const char* name);
// Every well-formed record, after its line.
void exports_ping(const RecordView* view, long record);
// Ends what was written, moving each output over its OUT when keep and it
// is whole; false when any of it failed (said).
bool exports_finish(bool keep);
