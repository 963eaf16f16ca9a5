// Profile ("INI") text, read and edited the way the Windows profile functions
// treat a file. No content, however malformed, makes either fail.
//
// Lines end at CR or LF in any mix and are trimmed of blanks, tabs, VT, FF and
// Ctrl-Z; a leading UTF-8 byte-order mark is skipped. "[name]" opens a
// section (up to the line's last "]", the rest of the line ignored; a "["
// without "]" opens none), "key=value" is an entry; names match ignoring
// ASCII letter case.
// Only the first section of a name counts, and the first matching key in it.
//
// The text is scanned as a stream, fed in pieces of any size: what the scan
// keeps is fixed, whatever the size of the text or the length of its lines.
// An edit is then written by copying the old text with the changed lines
// spliced in, so it too needs no copy of the text in memory.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int PROFILE_KEYS_MAX = 4;

// A name being matched against a line's text one byte at a time.
struct ProfileNameMatch {
    const char* wanted;
    size_t length;
    int state;     // before, inside, after the wanted name, or no match
    size_t taken;  // bytes of the wanted name matched so far
};

// One key of a scan: what is wanted, and what the scan found of it in the
// first section of the wanted name.
struct ProfileKey {
    const char* name;
    char* value;  // for a lookup, the caller's buffer of size bytes; null when no value is wanted
    size_t size;
    bool found;
    bool has_value;       // the key's line has "="
    uint64_t line_start;  // offsets in the text: the key's line,
    uint64_t name_start;  // its name as spelled there,
    uint64_t line_end;    // and the end of the line before its line end
    // While the key's line is scanned:
    ProfileNameMatch match;
    size_t value_bytes;     // bytes of the value from its first non-blank one
    size_t value_filled;    // to the last non-blank one
    char value_last;        // the last non-blank byte
};

enum ProfileLineEnd { PROFILE_LF, PROFILE_CRLF, PROFILE_CR };

struct ProfileScan {
    const char* section;
    ProfileKey* keys;
    int key_count;
    // What the whole text says:
    uint64_t length;              // bytes fed
    bool has_content;             // bytes beyond the byte-order mark
    char last_byte;
    bool has_line_end;            // its first line end, used for the lines an edit adds
    ProfileLineEnd first_line_end;
    bool section_found;
    bool section_ended;           // past the section: nothing further changes the outcome
    uint64_t last_filled_end;     // the section's last non-blank line (its header at least):
    uint64_t last_filled_next;    // where it ends, and where the line after it starts
    // The line being scanned:
    bool inside;
    int mark_matched;             // bytes of a leading byte-order mark seen, -1 once past it
    bool after_cr;
    uint64_t line_start;
    uint64_t line_end;
    bool line_has_content;
    char line_first;
    bool line_has_equals;
    bool line_has_close;          // a "]" after a leading "["
    bool header_matches;          // the name up to the latest "]" is the section's
    ProfileNameMatch header;
    int value_key;                // the key whose value this line may hold, -1 for none
};

// Starts a scan for keys (at most PROFILE_KEYS_MAX) in the first section named section.
void profile_scan_start(ProfileScan* scan, const char* section, ProfileKey* keys, int key_count);
void profile_scan_feed(ProfileScan* scan, const char* bytes, size_t count);
// After the last piece. A key found with a value then holds it in its buffer
// (at most size - 1 bytes and a terminating zero).
void profile_scan_finish(ProfileScan* scan);
// True once more text can change nothing the scan finds.
inline bool profile_scan_done(const ProfileScan* scan) { return scan->section_ended; }
// A key's value as a lookup gives it: the value found, or fallback.
void profile_key_result(ProfileKey* key, const char* fallback);

// Where an edited text goes: copy takes the old text's bytes up to offset
// `to` (skipping any before `from`), put adds new bytes. Either returns false
// to stop the edit.
struct ProfileSink {
    void* context;
    bool (*copy)(void* context, uint64_t from, uint64_t to);
    bool (*put)(void* context, const char* bytes, size_t count);
};

// Writes the scanned text with each key set to values[k], as that many
// single edits one after the other would leave it: a key found keeps its
// spelling and its line's line end; missing keys go after the section's last
// filled line, or with a new section at the end, in the text's own line ends
// (LF when it has none). Every other byte is copied unchanged. False when
// the sink stopped it.
bool profile_edit(const ProfileScan* scan, const char* const* values, ProfileSink* sink);

// The same for a text in memory, one key at a time.
// Looks up section/key in text; copies the value (or fallback) into value,
// at most size - 1 bytes and a terminating zero. A key line without "=" gives
// fallback; a present key with nothing after "=" gives "".
void profile_text_get(const char* text, size_t length, const char* section, const char* key,
                      const char* fallback, char* value, size_t size);

// The most bytes profile_text_set can produce from a text of length bytes.
size_t profile_text_set_capacity(size_t length, const char* section, const char* key, const char* value);

// Writes text with section/key set to value into edited (which holds
// profile_text_set_capacity bytes); returns the new length.
size_t profile_text_set(const char* text, size_t length, const char* section, const char* key,
                        const char* value, char* edited);
