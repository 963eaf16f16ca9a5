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

// Whether the pixel at column x (0 to FONT_WIDTH - 1) of row y of character c's
// glyph is set; a character outside printable ASCII is drawn as '?'.
inline bool font_pixel(char c, int x, int y)
{
    int code = static_cast<unsigned char>(c);
    if (code < FONT_FIRST || code >= FONT_FIRST + FONT_GLYPH_COUNT) code = '?';
    return (FONT_GLYPHS[code - FONT_FIRST][y] >> (FONT_WIDTH - 1 - x) & 1) != 0;
}
