// The surveyor's edits, kept apart from the data files, which they never
// touch: pings, or spans of UTC time, rejected or accepted, each with a
// reason. The text, line by line:
//
//   edit-list 1
//   # anything after a '#' that starts a line is a comment
//   reject 08DEC2026-0003.QKV 120 fish under the boat
//   reject 08DEC2026-0003.QKV 130-145 the wake's bubbles
//   accept 08DEC2026-0003.QKV 400 a wreck: the spike is real
//   reject 2026-12-08T09:05:00Z 2026-12-08T09:06:30Z engine stopped, drifting
//
// A ping edit names a data file (its name without the directories, compared
// without regard to case; in double quotes where it holds a blank) and its
// record, or first and last records, counted from 1 as the exports count
// them. A time edit names its first and last UTC instants (ISO 8601, with Z
// or an offset), both inside the span. The reason is the rest of the line.
// Where several edits name a ping, the last line decides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reduction/fields.h"

// The first line that is not blank or a comment: the format and its version.
extern const char EDITS_FIRST_LINE[];
// The edits held; the distinct data files they name; the longest file name and reason.
constexpr int EDITS_MAX = 2048;
constexpr int EDITS_FILES_MAX = 256;
constexpr int EDITS_NAME_SIZE = 64;
constexpr int EDITS_REASON_SIZE = 80;

enum EditAction { EDIT_NONE, EDIT_REJECT, EDIT_ACCEPT };

struct Edit {
    EditAction action;
    bool by_time;
    int file;                   // a ping edit's data file, in the list's files
    long first_record, last_record;
    int64_t from_ms, to_ms;     // a time edit's span, UTC, both inside
    long line;                  // of the edit list
    long pings;                 // pings it decided or was overruled on: 0 names nothing read
    char reason[EDITS_REASON_SIZE];
};

struct EditFile {
    char name[EDITS_NAME_SIZE];
    bool read;                  // a ping of it came
    long last_record;           // the highest of its records that came
};

struct EditList {
    bool header_read;
    int count;
    Edit edit[EDITS_MAX];       // in the order of their lines
    int file_count;
    EditFile file[EDITS_FILES_MAX];
    // Made by edits_finish: the edits by file and first record, then by time, and the widest span of each kind.
    int order[EDITS_MAX];
    int record_edits;
    long widest_records;
    int64_t widest_ms;
    // The file of the latest ping, so that its name is looked up once.
    char last_name[EDITS_NAME_SIZE];
    int last_file;
};

void edits_start(EditList* list);
FieldsVerdict edits_take_line(EditList* list, const char* line, long number, FieldsProblem* problem);
// After the last line: false, said, without the first line; makes the list ready for edits_apply.
bool edits_finish(EditList* list, FieldsProblem* problem);
// A whole text: each bad line said through say; false when no list can be had (said too).
bool edits_read(EditList* list, const char* text, size_t size, FieldsSay say, void* context);

// The edit that decides a ping (by its data file's name, as given, with any
// directories, and its record; and its UTC time where known), or null; each
// edit naming it counts it.
const Edit* edits_apply(EditList* list, const char* file_name, long record, bool time_known, int64_t utc_ms);
// After the pings: each edit that named no ping read, said with why (the file
// was not read: a list for another recording; it has no such record; no ping
// in the span), and first, when the list names files and none was read, that.
// The count of edits said.
int edits_report_unused(const EditList* list, FieldsSay say, void* context);
