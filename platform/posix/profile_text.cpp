// Profile text: one scanner finds the section and key both for reading and
// for editing, so the two always agree on what a line means.
#include "platform/posix/profile_text.h"

#include <cstring>

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
const size_t BYTE_ORDER_MARK_LENGTH = 3;
const char CTRL_Z = 0x1A;
const size_t LINE_END_MAX = 2;  // CRLF

// A run of bytes inside the text (not zero-terminated).
struct Span {
    const char* bytes;
    size_t length;
};

struct TextLine {
    size_t start;  // first byte of the line
    size_t end;    // one past its last byte, before the line end
    size_t next;   // first byte after the line end (== end at the end of text)
};

enum LineKind { LINE_BLANK, LINE_SECTION, LINE_ENTRY };

struct ParsedLine {
    LineKind kind;
    Span name;       // section name or key, trimmed
    bool has_value;  // an entry with "="
    Span value;      // trimmed, quotes not yet removed
};

// Where a section/key was found, or where it would go.
struct Lookup {
    bool section_found;
    bool key_found;
    TextLine key_line;
    ParsedLine key_entry;
    TextLine last_filled;  // the section's last non-blank line (its header at least)
};

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

Span trim(const char* bytes, size_t length)
{
    while (length > 0 && is_trimmed(bytes[0])) {
        ++bytes;
        --length;
    }
    while (length > 0 && is_trimmed(bytes[length - 1])) --length;
    return Span{bytes, length};
}

bool same_name(Span name, const char* wanted)
{
    size_t length = strlen(wanted);
    if (name.length != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (lower_ascii(name.bytes[i]) != lower_ascii(wanted[i])) return false;
    }
    return true;
}

size_t content_start(const char* text, size_t length)
{
    bool has_mark = length >= BYTE_ORDER_MARK_LENGTH && memcmp(text, BYTE_ORDER_MARK, BYTE_ORDER_MARK_LENGTH) == 0;
    return has_mark ? BYTE_ORDER_MARK_LENGTH : 0;
}

// Reads the line at *position; false when the text is used up.
bool next_line(const char* text, size_t length, size_t* position, TextLine* line)
{
    size_t at = *position;
    if (at >= length) return false;
    line->start = at;
    while (at < length && !is_line_break(text[at])) ++at;
    line->end = at;
    if (at < length) {
        bool crlf = text[at] == '\r' && at + 1 < length && text[at + 1] == '\n';
        at += crlf ? 2 : 1;
    }
    line->next = at;
    *position = at;
    return true;
}

const char* last_of(const char* bytes, size_t length, char wanted)
{
    for (size_t i = length; i > 0; --i) {
        if (bytes[i - 1] == wanted) return bytes + i - 1;
    }
    return nullptr;
}

Span without_quotes(Span value)
{
    if (value.length < 2) return value;
    char first = value.bytes[0];
    if ((first != '"' && first != '\'') || value.bytes[value.length - 1] != first) return value;
    return Span{value.bytes + 1, value.length - 2};
}

ParsedLine parse_line(const char* text, const TextLine& line)
{
    ParsedLine parsed = {LINE_BLANK, {text, 0}, false, {text, 0}};
    Span content = trim(text + line.start, line.end - line.start);
    if (content.length == 0) return parsed;
    // A header runs to the line's last "]"; a "[" with no "]" after it is no
    // header, and the line counts as an entry of the section it is in.
    const char* close = content.bytes[0] == '[' ? last_of(content.bytes + 1, content.length - 1, ']') : nullptr;
    if (close != nullptr) {
        const char* name = content.bytes + 1;
        parsed.kind = LINE_SECTION;
        parsed.name = trim(name, static_cast<size_t>(close - name));
        return parsed;
    }
    parsed.kind = LINE_ENTRY;
    const char* equals = static_cast<const char*>(memchr(content.bytes, '=', content.length));
    if (equals == nullptr) {
        parsed.name = content;
        return parsed;
    }
    size_t key_length = static_cast<size_t>(equals - content.bytes);
    parsed.name = trim(content.bytes, key_length);
    parsed.has_value = true;
    parsed.value = trim(equals + 1, content.length - key_length - 1);
    return parsed;
}

Lookup find_entry(const char* text, size_t length, const char* section, const char* key)
{
    Lookup found = {};
    bool inside = false;
    size_t position = content_start(text, length);
    TextLine line;
    while (next_line(text, length, &position, &line)) {
        ParsedLine parsed = parse_line(text, line);
        if (parsed.kind == LINE_BLANK) continue;
        if (parsed.kind == LINE_SECTION) {
            if (inside) break;  // the first section of that name ends here
            inside = same_name(parsed.name, section);
            found.section_found = inside;
            if (inside) found.last_filled = line;
            continue;
        }
        if (!inside) continue;
        found.last_filled = line;
        if (same_name(parsed.name, key)) {
            found.key_found = true;
            found.key_line = line;
            found.key_entry = parsed;
            break;
        }
    }
    return found;
}

// The text's own line end: the first one in it, LF when there is none.
Span line_end_of(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') return Span{"\n", 1};
        if (text[i] == '\r') return i + 1 < length && text[i + 1] == '\n' ? Span{"\r\n", 2} : Span{"\r", 1};
    }
    return Span{"\n", 1};
}

const char* skip_leading_blanks(const char* value)
{
    while (*value != 0 && is_trimmed(*value)) ++value;
    return value;
}

// Appends to an output buffer that profile_text_set_capacity has sized.
struct Output {
    char* bytes;
    size_t length;
};

void put(Output* out, const char* bytes, size_t length)
{
    if (length == 0) return;
    memcpy(out->bytes + out->length, bytes, length);
    out->length += length;
}

void put_text(Output* out, const char* text)
{
    put(out, text, strlen(text));
}

void put_entry(Output* out, Span key, const char* value)
{
    put(out, key.bytes, key.length);
    put(out, "=", 1);
    put_text(out, value);
}

}  // namespace

void profile_text_get(const char* text, size_t length, const char* section, const char* key,
                      const char* fallback, char* value, size_t size)
{
    if (size == 0) return;
    Lookup found = find_entry(text, length, section, key);
    Span result = Span{fallback, strlen(fallback)};
    if (found.key_found && found.key_entry.has_value) result = without_quotes(found.key_entry.value);
    size_t copied = result.length < size - 1 ? result.length : size - 1;
    memcpy(value, result.bytes, copied);
    value[copied] = 0;
}

size_t profile_text_set_capacity(size_t length, const char* section, const char* key, const char* value)
{
    // The largest edit appends a line end, "[section]", a line end, "key=value" and a line end.
    return length + strlen(section) + strlen(key) + strlen(value) + 3 * LINE_END_MAX + 3;
}

size_t profile_text_set(const char* text, size_t length, const char* section, const char* key,
                        const char* value, char* edited)
{
    Lookup found = find_entry(text, length, section, key);
    Span line_end = line_end_of(text, length);
    const char* new_value = skip_leading_blanks(value);
    Output out = {edited, 0};
    if (found.key_found) {
        // The key keeps its spelling in the file; the line keeps its own line end.
        put(&out, text, found.key_line.start);
        put_entry(&out, found.key_entry.name, new_value);
        put(&out, text + found.key_line.end, length - found.key_line.end);
        return out.length;
    }
    Span new_key = Span{key, strlen(key)};
    if (found.section_found) {
        // After the section's last filled line, so blank lines before the next section stay put.
        const TextLine& after = found.last_filled;
        put(&out, text, after.next);
        if (after.next == after.end) put(&out, line_end.bytes, line_end.length);
        put_entry(&out, new_key, new_value);
        put(&out, line_end.bytes, line_end.length);
        put(&out, text + after.next, length - after.next);
        return out.length;
    }
    put(&out, text, length);
    bool has_content = length > content_start(text, length);
    if (has_content && !is_line_break(text[length - 1])) put(&out, line_end.bytes, line_end.length);
    put(&out, "[", 1);
    put_text(&out, section);
    put(&out, "]", 1);
    put(&out, line_end.bytes, line_end.length);
    put_entry(&out, new_key, new_value);
    put(&out, line_end.bytes, line_end.length);
    return out.length;
}
