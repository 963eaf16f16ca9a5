// Profile ("INI") text, read and edited in memory the way the Windows profile
// functions treat a file. No content, however malformed, makes either fail.
//
// Lines end at CR or LF in any mix and are trimmed of blanks, tabs, VT, FF and
// Ctrl-Z; a leading UTF-8 byte-order mark is skipped. "[name]" opens a
// section (up to the line's last "]", the rest of the line ignored; a "["
// without "]" opens none), "key=value" is an entry; names match ignoring
// ASCII letter case.
// Only the first section of a name counts, and the first matching key in it.
#pragma once

#include <cstddef>

// Looks up section/key in text; copies the value (or fallback) into value,
// at most size - 1 bytes and a terminating zero. A key line without "=" gives
// fallback; a present key with nothing after "=" gives "".
void profile_text_get(const char* text, size_t length, const char* section, const char* key,
                      const char* fallback, char* value, size_t size);

// The most bytes profile_text_set can produce from a text of length bytes.
size_t profile_text_set_capacity(size_t length, const char* section, const char* key, const char* value);

// Writes text with section/key set to value into edited (which holds
// profile_text_set_capacity bytes); returns the new length. Every byte of
// text outside the changed line is kept; added lines use the text's own
// line ends (LF when it has none).
size_t profile_text_set(const char* text, size_t length, const char* section, const char* key,
                        const char* value, char* edited);
