// qkvdump's exports beside the listing, the CSV and the picture: position
// for every ping from navlog's .NAV files (--nav), the CSV columns that
// brings, the track for GIS (--geojson) and the netCDF file (--netcdf), with
// the pings' times made absolute (--utc-offset or the computer's zone).
#pragma once

#include "store/scan.h"

// Takes argv[*i] when it is one of these options, and its values, leaving *i
// at the last argument taken: 1 taken, 0 not one of them, 2 refused (said).
int exports_option(int argc, char** argv, int* i);
// After the command line: 0 when the options go together, else 2 (said).
int exports_check(bool csv);
// Starts what was asked for over the data files given; sets the scanner's
// CSV columns when there are more. 0 when started, 2 for an OUT that would
// overwrite a file to read or a data file, 1 when an output cannot be made
// (said).
int exports_begin(char** files, int count, Scanner* scanner);
void exports_file(int index, const char* name);
// Every well-formed record, after its line.
void exports_ping(const RecordView* view, long record);
// Ends what was written; false when any of it failed (said).
bool exports_finish();
