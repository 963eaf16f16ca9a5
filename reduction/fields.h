// The text of the files a surveyor brings to the reduction (a sound-speed
// cast, a water-level series, an edit list), read the same way whatever the
// computer's locale: a text cut into lines, a line into fields at one
// separator, numbers with a decimal point (or, in a file whose fields are not
// separated by commas, a decimal comma), and times in ISO 8601.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest line read; a longer one is a bad line.
constexpr int FIELDS_LINE_MAX = 512;
// The columns of a line looked at; those past them are not read.
constexpr int FIELDS_MAX = 32;
// What is said of a bad line: "line 12: ..." and why.
constexpr int FIELDS_PROBLEM_SIZE = 160;

// What a parser made of one line.
enum FieldsVerdict {
    FIELDS_TAKEN,    // a value taken
    FIELDS_NOTHING,  // blank, a comment, or the header
    FIELDS_BAD,      // said in the problem's text, and not used
};

struct FieldsProblem {
    long line;  // from 1
    char text[FIELDS_PROBLEM_SIZE];
};

// Called for each bad line of a buffer.
typedef void (*FieldsSay)(void* context, const FieldsProblem* problem);

// One line, cut: each field without the blanks around it and without the
// double quotes around the whole of it.
struct FieldsLine {
    char text[FIELDS_LINE_MAX + 1];
    int count;
    const char* field[FIELDS_MAX];  // NUL-ended, within text
};

// A line of a buffer, without its line end (LF, CR LF or a lone CR).
struct FieldsCursor {
    const char* text;
    size_t size;
    size_t at;
    long line;  // of the line last given, from 1
};

void fields_cursor_start(FieldsCursor* cursor, const char* text, size_t size);
// The next line, copied NUL-ended into line (FIELDS_LINE_MAX + 1 bytes);
// false after the last. *whole is false when it was longer than
// FIELDS_LINE_MAX or held a NUL byte: what is in line is then not the line.
bool fields_cursor_next(FieldsCursor* cursor, char* line, bool* whole);

// A UTF-8 byte order mark at the start of a text, as Windows programs write: its length (3), or 0.
size_t fields_bom_length(const char* text);
// Blank (nothing but blanks and tabs) or a comment ('#' first after any blanks).
bool fields_is_blank_or_comment(const char* line);

// The separator of a header line: of ',', ';' and a tab, the one it holds most often outside brackets and double
// quotes ("Date;Time;Level (m, LAT)" is cut at ';'), a tie going to ',' and then ';'; 0 for none of them.
char fields_separator_of(const char* header);
// Cuts a line at the separator. False when it has more than FIELDS_MAX
// fields (the first FIELDS_MAX are there) or is longer than FIELDS_LINE_MAX.
bool fields_split(const char* line, char separator, FieldsLine* cut);
// A header's name brought to its letters and digits in lower case:
// "Sound Velocity (m/s)" as "soundvelocityms".
void fields_name_key(const char* name, char* key, size_t size);
// The column of a header whose key is keys[0], else keys[1], ... (the first
// such column), else whose key without what brackets hold is ("Level (m, LAT)"
// as "level"); -1 for none.
int fields_find_column(const FieldsLine* header, const char* const* keys, int key_count);

// A decimal number: an optional sign, digits with one decimal point (or comma,
// where decimal_comma), an optional exponent; nothing else, finite. The
// C library's conversions follow the locale; this never does.
bool fields_number(const char* text, bool decimal_comma, double* value);

// An ISO 8601 date and time as milliseconds since 1970-01-01 00:00 UTC:
// "2026-12-08T09:00:00Z", a blank for the T, seconds and their decimals
// optional ("2026-12-08 09:00"), and a zone: Z, +hh:mm, +hhmm or +hh (the
// time less the offset is UTC). Without a zone, only where zone_optional:
// the time is then taken as UTC. Milliseconds rounded to the nearest.
bool fields_utc_time(const char* text, bool zone_optional, int64_t* utc_ms);
// "2026-12-08T09:00:00.000Z".
constexpr int FIELDS_TIME_TEXT_SIZE = 32;
void fields_utc_text(int64_t utc_ms, char text[FIELDS_TIME_TEXT_SIZE]);

// Each line of a text given to take, and each bad line said: those take
// finds bad, and those too long or holding a NUL byte, which take is not
// given. The count of bad lines.
typedef FieldsVerdict (*FieldsTake)(void* parser, const char* line, long number, FieldsProblem* problem);
long fields_read(const char* text, size_t size, FieldsTake take, void* parser, FieldsSay say, void* context);

// What a text that gave no point says at its end: no header line, the line of a header refused (nothing after it
// read), or no_point.
void fields_no_point(FieldsProblem* problem, bool header_read, long header_refused, const char* no_point);
// "line N: " and the reason, into problem; the reason alone for line 0, a
// problem of the whole text.
void fields_say(FieldsProblem* problem, long line, const char* format, ...) __attribute__((format(printf, 3, 4)));
