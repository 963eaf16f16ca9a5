#include "store/printable.h"

#include <cstdio>

void printable_text(char* text)
{
    for (; *text; ++text) {
        if (*text < 0x20 || *text > 0x7E) *text = '?';
    }
}

void printable_note(char* text, size_t size, const char* format, va_list values)
{
    vsnprintf(text, size, format, values);
    printable_text(text);
}
