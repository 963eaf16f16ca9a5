// Checking a data file: that it is a whole number of well-formed ping
// records, with one line per record and a summary. The file's bytes come
// through a read function, so this knows nothing of where they are kept.
#pragma once

#include <cstdarg>
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
// Called with every well-formed record's line before its end, to add to it: in CSV columns, each starting with a
// comma; in the text listing fields, each starting with two spaces.
typedef void (*ScanRowEnd)(void* context, const RecordView* view, FILE* out);
// Reading ahead: called with every well-formed record as soon as it is read (its number in the file from 1).
typedef void (*ScanArrive)(void* context, const RecordView* view, long record_number);
// Reading ahead: after the file's last record was read, before the records still waiting are listed.
typedef void (*ScanFileEnd)(void* context);

struct ScanTally {
    long records;     // whole records read
    long malformed;   // of those, the ones that failed record_parse
    long tail_bytes;  // bytes after the last whole record
    bool read_failed;
};

constexpr int SCAN_AHEAD_MAX = 256;

struct Scanner {
    ScanFormat format;
    FILE* out;       // record lines (and the summary in text format)
    FILE* messages;  // faults, and the summary in CSV format; null with SCAN_QUIET: faults only counted
    bool samples;    // CSV: each row ends in the record's data bytes, columns s0 to s7999
    ScanEach each;   // null for none
    void* each_context;
    ScanRowEnd row_end;        // null for none; called with each_context
    const char* extra_header;  // CSV: the names of row_end's columns, each after a comma; null for none
    long record_number;        // the record being listed, from 1, as the callbacks see it
    uint8_t record[RECORD_SIZE];  // one record at a time, whatever the file's size
    // Reading ahead, so that a record's line can carry what only the records
    // after it tell (a bottom that the next pings confirm): with ahead > 0,
    // each well-formed record goes to arrive when read, and is listed (its
    // line, row_end and each) only once ahead more well-formed records have
    // arrived, or at the file's end after file_end. The records waiting are
    // kept in ring, ahead + 1 records the caller provides, so memory stays the
    // same however long the file. A malformed record is said when read.
    int ahead;                               // 0 to SCAN_AHEAD_MAX
    uint8_t (*ring)[RECORD_SIZE];
    long ring_numbers[SCAN_AHEAD_MAX + 1];  // the waiting records' numbers
    ScanArrive arrive;  // called with each_context
    ScanFileEnd file_end;
};

// Record texts come from the file as they are: shows only printable characters, '?' for the rest.
void scan_make_printable(char* text);
// vsnprintf into text, made printable: a note that names a file found in a directory, which may hold any byte.
void scan_printable_note(char* text, size_t size, const char* format, va_list values);
void scan_csv_header(const Scanner* scanner);
// Lists the file's records; true when it is a whole number of well-formed records. A write to out that fails
// ends the listing there, without the summary, with false. In CSV every text field that holds a comma, a quote or
// a line break is quoted.
bool scan_file(Scanner* scanner, const char* name, ScanRead read, void* source, ScanTally* tally);
