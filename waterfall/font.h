// A font for the words and numbers drawn on pictures of the pings: the
// printable ASCII glyphs of the X11 misc-fixed 6x13 font, public domain,
// shipped as a table (waterfall/font_6x13.cpp) so that every build draws the
// same pixels with no font library or font file.
#pragma once

#include <cstdint>

constexpr int FONT_WIDTH = 6;
constexpr int FONT_HEIGHT = 13;
constexpr int FONT_FIRST = 32;  // ' '
constexpr int FONT_GLYPH_COUNT = 95;

extern const uint8_t FONT_GLYPHS[FONT_GLYPH_COUNT][FONT_HEIGHT];

// The length of the well-formed UTF-8 sequence at text (no overlong form, no
// surrogate, nothing past U+10FFFF); 0 when none starts there. A text is drawn
// a glyph a character: a sequence, or a byte that starts none.
inline int font_utf8_length(const unsigned char* text)
{
    unsigned char c = text[0];
    int length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0) return 0;
    // The second byte's range shuts out overlong forms (E0, F0), surrogates (ED) and code points past U+10FFFF (F4).
    unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (text[1] < low || text[1] > high) return 0;
    for (int i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    }
    return length;
}

// Whether the pixel at column x (0 to FONT_WIDTH - 1) of row y of character c's
// glyph is set; a character outside printable ASCII is drawn as '?'.
inline bool font_pixel(char c, int x, int y)
{
    int code = static_cast<unsigned char>(c);
    if (code < FONT_FIRST || code >= FONT_FIRST + FONT_GLYPH_COUNT) code = '?';
    return (FONT_GLYPHS[code - FONT_FIRST][y] >> (FONT_WIDTH - 1 - x) & 1) != 0;
}
