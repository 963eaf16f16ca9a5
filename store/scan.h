// Checking a data file: that it is a whole number of well-formed ping
// records, with one line per record and a summary. The file's bytes come
// through a read function, so this knows nothing of where they are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "store/record.h"

// Reads up to count bytes; fewer only at the end of the data; -1 on a read error.
typedef long (*ScanRead)(void* source, uint8_t* bytes, size_t count);

// A ScanRead for a stdio stream opened for reading (source is the FILE*).
long scan_read_stream(void* source, uint8_t* bytes, size_t count);

// SCAN_SUMMARY: no record lines, only the faults and the summaries.
// SCAN_QUIET only checks: faults still go to messages, nothing else is printed.
enum ScanFormat { SCAN_TEXT, SCAN_CSV, SCAN_SUMMARY, SCAN_QUIET };

// Called with every well-formed record, after its line.
typedef void (*ScanEach)(void* context, const RecordView* view);

struct ScanTally {
    long records;     // whole records read
    long malformed;   // of those, the ones that failed record_parse
    long tail_bytes;  // bytes after the last whole record
    bool read_failed;
};

struct Scanner {
    ScanFormat format;
    FILE* out;       // record lines (and the summary in text format)
    FILE* messages;  // faults, and the summary in CSV format; null with SCAN_QUIET: faults only counted
    bool samples;    // CSV: each row ends in the record's data bytes, columns s0 to s7999
    ScanEach each;   // null for none
    void* each_context;
    uint8_t record[RECORD_SIZE];  // one record at a time, whatever the file's size
};

// What reading the next record gave.
enum ScanStep { SCAN_WELL_FORMED, SCAN_MALFORMED, SCAN_FILE_END };

// The CSV header, its names after end_byte (and the samples') given by more, each after a comma (null: none).
void scan_csv_header(const Scanner* scanner, const char* more);
// Lists the file's records; true when it is a whole number of well-formed records. A write to out that fails
// ends the listing there, without the summary, with false. In CSV every text field that holds a comma, a quote or
// a line break is quoted.
bool scan_file(Scanner* scanner, const char* name, ScanRead read, void* source, ScanTally* tally);

// scan_file in its steps, for a caller that holds records back or adds to their lines.
// The next record into bytes (RECORD_SIZE), counted in tally, which starts zeroed: a well-formed one parsed into
// view (its image in bytes); a malformed one, a torn tail or a read error said on messages.
ScanStep scan_next_record(const Scanner* scanner, const char* name, ScanRead read, void* source, uint8_t* bytes,
                          ScanTally* tally, RecordView* view);
// A well-formed record's line without its end (its texts made printable), in the text and CSV formats; false, with
// nothing written, in the others. What the caller adds after it: CSV columns, each starting with a comma, or
// fields of the text listing, each starting with two spaces; then the line's end.
bool scan_record_line(const Scanner* scanner, const char* name, long number, RecordView* view);
// After a file's last record: its summary, unless out failed (out_failed, or now); true when the file is a whole
// number of well-formed records and out took everything.
bool scan_file_end(const Scanner* scanner, const char* name, const ScanTally* tally, bool out_failed);
