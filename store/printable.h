// Text that came from a file or a directory, which may hold any byte, made
// fit to show on a terminal or in a message.
#pragma once

#include <cstdarg>
#include <cstddef>

// Leaves printable ASCII as it is; every other byte becomes '?'.
void printable_text(char* text);
// vsnprintf into text, made printable: a note that names a file found in a directory.
void printable_note(char* text, size_t size, const char* format, va_list values);
