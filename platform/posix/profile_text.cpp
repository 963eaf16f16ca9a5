// Profile text: one scanner finds the section and keys both for reading and
// for editing, so the two always agree on what a line means. It looks at one
// byte at a time and keeps only offsets, the state of the names being
// matched and the start of a value, so lines of any length cost nothing.
#include "platform/posix/profile_text.h"

#include <cstring>

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
const int BYTE_ORDER_MARK_LENGTH = 3;
const int PAST_MARK = -1;
const char CTRL_Z = 0x1A;
const size_t LINE_END_MAX = 2;  // CRLF
const int NO_KEY = -1;

enum MatchState { MATCH_BEFORE, MATCH_INSIDE, MATCH_AFTER, MATCH_NONE };

bool is_line_break(char c)
{
    return c == '\r' || c == '\n';
}

bool is_trimmed(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == CTRL_Z;
}

char lower_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ---- Names: the trimmed text of a line's part equals the wanted name ------

void match_start(ProfileNameMatch* match, const char* wanted)
{
    match->wanted = wanted;
    match->length = strlen(wanted);
    match->state = MATCH_BEFORE;
    match->taken = 0;
}

void match_feed(ProfileNameMatch* match, char c)
{
    switch (match->state) {
    case MATCH_BEFORE:
        if (is_trimmed(c)) return;
        match->state = MATCH_INSIDE;
        [[fallthrough]];  // c is the name's first byte
    case MATCH_INSIDE:
        if (match->taken < match->length && lower_ascii(c) == lower_ascii(match->wanted[match->taken])) {
            ++match->taken;
            return;
        }
        match->state = match->taken == match->length && is_trimmed(c) ? MATCH_AFTER : MATCH_NONE;
        return;
    case MATCH_AFTER:
        if (!is_trimmed(c)) match->state = MATCH_NONE;
        return;
    default: return;
    }
}

bool match_holds(const ProfileNameMatch* match)
{
    switch (match->state) {
    case MATCH_BEFORE: return match->length == 0;
    case MATCH_INSIDE: return match->taken == match->length;
    case MATCH_AFTER: return true;
    default: return false;
    }
}

// ---- Lines ------------------------------------------------------------------

void line_begin(ProfileScan* scan, uint64_t start)
{
    scan->line_start = start;
    scan->line_has_content = false;
    scan->line_has_equals = false;
    scan->line_has_close = false;
    scan->header_matches = false;
    scan->value_key = NO_KEY;
    match_start(&scan->header, scan->section);
    for (int k = 0; k < scan->key_count; ++k) match_start(&scan->keys[k].match, scan->keys[k].name);
}

void note_header(ProfileScan* scan, uint64_t end, uint64_t next)
{
    if (scan->inside) {
        // The first section of that name ends here.
        scan->inside = false;
        scan->section_ended = true;
        return;
    }
    if (scan->section_found || !scan->header_matches) return;
    scan->inside = true;
    scan->section_found = true;
    scan->last_filled_end = end;
    scan->last_filled_next = next;
}

bool key_is_on_line(const ProfileScan* scan, int k)
{
    return scan->line_has_equals ? k == scan->value_key : match_holds(&scan->keys[k].match);
}

void note_entry(ProfileScan* scan, uint64_t end, uint64_t next)
{
    scan->last_filled_end = end;
    scan->last_filled_next = next;
    for (int k = 0; k < scan->key_count; ++k) {
        ProfileKey* key = &scan->keys[k];
        if (key->found || !key_is_on_line(scan, k)) continue;
        key->found = true;
        key->has_value = scan->line_has_equals;
        key->line_start = scan->line_start;
        key->line_end = end;
    }
}

// The line that ends at end; the next starts at next.
void line_finish(ProfileScan* scan, uint64_t end, uint64_t next)
{
    if (scan->line_has_content && !scan->section_ended) {
        // A header runs to the line's last "]"; a "[" with no "]" after it is no
        // header, and the line counts as an entry of the section it is in.
        if (scan->line_first == '[' && scan->line_has_close) {
            note_header(scan, end, next);
        } else if (scan->inside) {
            note_entry(scan, end, next);
        }
    }
    line_begin(scan, next);
}

void note_line_end(ProfileScan* scan, ProfileLineEnd kind)
{
    if (scan->has_line_end) return;
    scan->has_line_end = true;
    scan->first_line_end = kind;
}

// ---- The bytes of a line ----------------------------------------------------

void take_value_byte(ProfileKey* key, char c)
{
    if (key->value_bytes == 0 && is_trimmed(c)) return;
    if (key->value != nullptr && key->value_bytes < key->size) key->value[key->value_bytes] = c;
    ++key->value_bytes;
    if (is_trimmed(c)) return;
    key->value_filled = key->value_bytes;
    key->value_last = c;
}

void take_equals(ProfileScan* scan)
{
    scan->line_has_equals = true;
    for (int k = 0; k < scan->key_count && scan->value_key == NO_KEY; ++k) {
        ProfileKey* key = &scan->keys[k];
        if (key->found || !match_holds(&key->match)) continue;
        scan->value_key = k;
        key->value_bytes = 0;
        key->value_filled = 0;
    }
}

void take_entry_byte(ProfileScan* scan, char c)
{
    if (scan->line_has_equals) {
        if (scan->value_key != NO_KEY) take_value_byte(&scan->keys[scan->value_key], c);
        return;
    }
    if (c == '=') {
        take_equals(scan);
        return;
    }
    for (int k = 0; k < scan->key_count; ++k) {
        if (!scan->keys[k].found) match_feed(&scan->keys[k].match, c);
    }
}

void take_content_byte(ProfileScan* scan, char c, uint64_t offset)
{
    bool first = !scan->line_has_content;
    if (first) {
        if (is_trimmed(c)) return;
        scan->line_has_content = true;
        scan->line_first = c;
        for (int k = 0; k < scan->key_count; ++k) {
            if (!scan->keys[k].found) scan->keys[k].name_start = offset;
        }
    }
    if (!first && scan->line_first == '[') {
        if (c == ']') {
            scan->line_has_close = true;
            scan->header_matches = match_holds(&scan->header);
        }
        match_feed(&scan->header, c);
    }
    if (scan->inside) take_entry_byte(scan, c);
}

// True when nothing but the line's end can matter for the rest of the line.
bool rest_of_line_is_idle(const ProfileScan* scan)
{
    if (!scan->line_has_content || scan->line_first == '[') return false;
    if (!scan->inside) return true;
    if (scan->line_has_equals) return scan->value_key == NO_KEY;
    for (int k = 0; k < scan->key_count; ++k) {
        if (!scan->keys[k].found && scan->keys[k].match.state != MATCH_NONE) return false;
    }
    return true;
}

void take_byte(ProfileScan* scan, char c, uint64_t offset)
{
    if (scan->after_cr) {
        scan->after_cr = false;
        note_line_end(scan, c == '\n' ? PROFILE_CRLF : PROFILE_CR);
        if (c == '\n') {
            line_finish(scan, scan->line_end, offset + 1);
            return;
        }
        line_finish(scan, scan->line_end, offset);
    }
    if (c == '\r') {
        scan->line_end = offset;
        scan->after_cr = true;
    } else if (c == '\n') {
        note_line_end(scan, PROFILE_LF);
        line_finish(scan, offset, offset + 1);
    } else {
        take_content_byte(scan, c, offset);
    }
}

// The first bytes may be a byte-order mark, which is no part of any line.
// Returns false when c was a byte of it.
bool take_mark_byte(ProfileScan* scan, char c)
{
    if (scan->mark_matched == PAST_MARK) return true;
    if (c == BYTE_ORDER_MARK[scan->mark_matched]) {
        if (++scan->mark_matched < BYTE_ORDER_MARK_LENGTH) return false;
        scan->mark_matched = PAST_MARK;
        line_begin(scan, BYTE_ORDER_MARK_LENGTH);
        return false;
    }
    // Not a mark after all: the bytes held back were text.
    int held = scan->mark_matched;
    scan->mark_matched = PAST_MARK;
    for (int i = 0; i < held; ++i) take_byte(scan, BYTE_ORDER_MARK[i], static_cast<uint64_t>(i));
    return true;
}

// ---- Writing an edit ----------------------------------------------------------

enum CutKind { CUT_DROP, CUT_VALUE, CUT_MISSING_KEYS, CUT_NEW_SECTION };

// The old bytes [from, to) give way to what kind says.
struct Cut {
    uint64_t from;
    uint64_t to;
    CutKind kind;
    int key;
};

struct Edit {
    const ProfileScan* scan;
    const char* const* values;
    ProfileSink* sink;
    Cut cuts[2 * PROFILE_KEYS_MAX + 1];
    int cut_count;
};

void add_cut(Edit* edit, uint64_t from, uint64_t to, CutKind kind, int key)
{
    Cut cut = {from, to, kind, key};
    int at = edit->cut_count++;
    for (; at > 0 && edit->cuts[at - 1].from > from; --at) edit->cuts[at] = edit->cuts[at - 1];
    edit->cuts[at] = cut;
}

const char* skip_leading_blanks(const char* value)
{
    while (*value != 0 && is_trimmed(*value)) ++value;
    return value;
}

bool put_text(Edit* edit, const char* text)
{
    size_t length = strlen(text);
    return length == 0 || edit->sink->put(edit->sink->context, text, length);
}

bool put_line_end(Edit* edit)
{
    const ProfileScan* scan = edit->scan;
    ProfileLineEnd kind = scan->has_line_end ? scan->first_line_end : PROFILE_LF;
    return put_text(edit, kind == PROFILE_CRLF ? "\r\n" : kind == PROFILE_CR ? "\r" : "\n");
}

bool put_value(Edit* edit, int k)
{
    return put_text(edit, "=") && put_text(edit, skip_leading_blanks(edit->values[k]));
}

// Each key not in the file, in the order given: "key=value" and a line end.
bool put_missing_keys(Edit* edit)
{
    const ProfileScan* scan = edit->scan;
    for (int k = 0; k < scan->key_count; ++k) {
        if (scan->keys[k].found) continue;
        if (!put_text(edit, scan->keys[k].name) || !put_value(edit, k) || !put_line_end(edit)) return false;
    }
    return true;
}

bool put_cut(Edit* edit, const Cut& cut)
{
    const ProfileScan* scan = edit->scan;
    switch (cut.kind) {
    case CUT_DROP: return true;
    case CUT_VALUE: return put_value(edit, cut.key);
    case CUT_MISSING_KEYS:
        // The section's last line may have no line end of its own: one is supplied.
        if (scan->last_filled_next == scan->last_filled_end && !put_line_end(edit)) return false;
        return put_missing_keys(edit);
    case CUT_NEW_SECTION:
        if (scan->has_content && !is_line_break(scan->last_byte) && !put_line_end(edit)) return false;
        return put_text(edit, "[") && put_text(edit, scan->section) && put_text(edit, "]") && put_line_end(edit) &&
               put_missing_keys(edit);
    }
    return false;
}

void plan_cuts(Edit* edit)
{
    const ProfileScan* scan = edit->scan;
    bool any_missing = false;
    for (int k = 0; k < scan->key_count; ++k) {
        const ProfileKey& key = scan->keys[k];
        if (!key.found) {
            any_missing = true;
            continue;
        }
        // The key keeps its spelling in the file; the line keeps its own line end.
        uint64_t name_end = key.name_start + strlen(key.name);
        add_cut(edit, key.line_start, key.name_start, CUT_DROP, k);
        add_cut(edit, name_end, key.line_end, CUT_VALUE, k);
    }
    if (!any_missing) return;
    if (scan->section_found) {
        // After the section's last filled line, so blank lines before the next section stay put.
        add_cut(edit, scan->last_filled_next, scan->last_filled_next, CUT_MISSING_KEYS, NO_KEY);
    } else {
        add_cut(edit, scan->length, scan->length, CUT_NEW_SECTION, NO_KEY);
    }
}

// ---- Texts in memory ----------------------------------------------------------

struct MemoryText {
    const char* text;
    char* edited;
    size_t length;
};

bool copy_from_memory(void* context, uint64_t from, uint64_t to)
{
    MemoryText* memory = static_cast<MemoryText*>(context);
    size_t count = static_cast<size_t>(to - from);
    if (count > 0) memcpy(memory->edited + memory->length, memory->text + from, count);
    memory->length += count;
    return true;
}

bool put_to_memory(void* context, const char* bytes, size_t count)
{
    MemoryText* memory = static_cast<MemoryText*>(context);
    memcpy(memory->edited + memory->length, bytes, count);
    memory->length += count;
    return true;
}

void scan_memory(ProfileScan* scan, const char* text, size_t length, const char* section, ProfileKey* key)
{
    profile_scan_start(scan, section, key, 1);
    profile_scan_feed(scan, text, length);
    profile_scan_finish(scan);
}

}  // namespace

void profile_scan_start(ProfileScan* scan, const char* section, ProfileKey* keys, int key_count)
{
    memset(scan, 0, sizeof *scan);
    scan->section = section;
    scan->keys = keys;
    scan->key_count = key_count < PROFILE_KEYS_MAX ? key_count : PROFILE_KEYS_MAX;
    for (int k = 0; k < scan->key_count; ++k) {
        keys[k].found = false;
        keys[k].has_value = false;
    }
    line_begin(scan, 0);
}

void profile_scan_feed(ProfileScan* scan, const char* bytes, size_t count)
{
    if (count == 0) return;
    uint64_t base = scan->length;
    scan->length += count;
    scan->last_byte = bytes[count - 1];
    for (size_t i = 0; i < count && !scan->section_ended; ++i) {
        if (!take_mark_byte(scan, bytes[i])) continue;
        scan->has_content = true;
        take_byte(scan, bytes[i], base + i);
        // Past what can matter in this line, only its end is looked for.
        if (!scan->after_cr && rest_of_line_is_idle(scan)) {
            while (i + 1 < count && !is_line_break(bytes[i + 1])) ++i;
        }
    }
}

void profile_scan_finish(ProfileScan* scan)
{
    if (scan->mark_matched > 0) {
        // The text ended inside what looked like a byte-order mark: it was text.
        int held = scan->mark_matched;
        scan->mark_matched = PAST_MARK;
        scan->has_content = true;
        for (int i = 0; i < held; ++i) take_byte(scan, BYTE_ORDER_MARK[i], static_cast<uint64_t>(i));
    }
    if (scan->after_cr) {
        scan->after_cr = false;
        note_line_end(scan, PROFILE_CR);
        line_finish(scan, scan->line_end, scan->length);
    } else {
        line_finish(scan, scan->length, scan->length);
    }
}

void profile_key_result(ProfileKey* key, const char* fallback)
{
    if (key->value == nullptr || key->size == 0) return;
    size_t length = 0;
    size_t start = 0;
    if (key->found && key->has_value) {
        // Matching quotes around a value of two or more characters are removed, once.
        length = key->value_filled;
        char first = length > 0 ? key->value[0] : 0;
        if (length >= 2 && (first == '"' || first == '\'') && key->value_last == first) {
            start = 1;
            length -= 2;
        }
    } else {
        length = strlen(fallback);
    }
    if (length > key->size - 1) length = key->size - 1;
    if (key->found && key->has_value) {
        memmove(key->value, key->value + start, length);
    } else {
        memcpy(key->value, fallback, length);
    }
    key->value[length] = 0;
}

bool profile_edit(const ProfileScan* scan, const char* const* values, ProfileSink* sink)
{
    Edit edit = {scan, values, sink, {}, 0};
    plan_cuts(&edit);
    uint64_t copied_to = 0;
    for (int i = 0; i < edit.cut_count; ++i) {
        const Cut& cut = edit.cuts[i];
        if (!sink->copy(sink->context, copied_to, cut.from) || !put_cut(&edit, cut)) return false;
        copied_to = cut.to;
    }
    return sink->copy(sink->context, copied_to, scan->length);
}

void profile_text_get(const char* text, size_t length, const char* section, const char* key,
                      const char* fallback, char* value, size_t size)
{
    ProfileKey wanted = {};
    wanted.name = key;
    wanted.value = value;
    wanted.size = size;
    ProfileScan scan;
    scan_memory(&scan, text, length, section, &wanted);
    profile_key_result(&wanted, fallback);
}

size_t profile_text_set_capacity(size_t length, const char* section, const char* key, const char* value)
{
    // The largest edit appends a line end, "[section]", a line end, "key=value" and a line end.
    return length + strlen(section) + strlen(key) + strlen(value) + 3 * LINE_END_MAX + 3;
}

size_t profile_text_set(const char* text, size_t length, const char* section, const char* key,
                        const char* value, char* edited)
{
    ProfileKey wanted = {};
    wanted.name = key;
    ProfileScan scan;
    scan_memory(&scan, text, length, section, &wanted);
    MemoryText memory = {text, edited, 0};
    ProfileSink sink = {&memory, copy_from_memory, put_to_memory};
    profile_edit(&scan, &value, &sink);
    return memory.length;
}
