// Checking a data file: that it is a whole number of well-formed ping
// records, with one line per record and a summary. The file's bytes come
// through a read function, so this knows nothing of where they are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "store/record.h"

// Reads up to count bytes; fewer only at the end of the data; -1 on a read error.
typedef long (*InspectRead)(void* source, uint8_t* bytes, size_t count);

enum InspectFormat { INSPECT_TEXT, INSPECT_CSV };

struct InspectTally {
    long records;     // whole records read
    long malformed;   // of those, the ones that failed record_parse
    long tail_bytes;  // bytes after the last whole record
    bool read_failed;
};

struct Inspector {
    InspectFormat format;
    FILE* out;       // record lines (and the summary in text format)
    FILE* messages;  // faults, and the summary in CSV format
    uint8_t record[RECORD_SIZE];  // one record at a time, whatever the file's size
};

void inspect_csv_header(const Inspector* inspector);
// Lists the file's records; true when it is a whole number of well-formed records.
bool inspect_file(Inspector* inspector, const char* name, InspectRead read, void* source, InspectTally* tally);
