#!/usr/bin/python3
"""Writes waterfall/font_6x13.cpp, the glyphs of printable ASCII of the X11
misc-fixed 6x13 font (public domain: "Public domain font. Share and enjoy."),
from its PCF file in Debian's xfonts-base:
  font_table.py /usr/share/fonts/X11/misc/6x13.pcf.gz > waterfall/font_6x13.cpp"""
import gzip
import sys

from PIL import PcfFontFile

font = PcfFontFile.PcfFontFile(gzip.open(sys.argv[1]))
print("// The glyphs of printable ASCII (32 to 126) of the X11 misc-fixed 6x13 font,")
print("// \"Public domain font. Share and enjoy.\", from Debian's xfonts-base, written")
print("// by scripts/font_table.py: 13 rows of 6 pixels each, the leftmost pixel in")
print("// bit 5 of its row's byte.")
print('#include "waterfall/font.h"')
print()
print("const uint8_t FONT_GLYPHS[FONT_GLYPH_COUNT][FONT_HEIGHT] = {")
for code in range(32, 127):
    image = font.glyph[code][3]
    rows = []
    for y in range(13):
        bits = 0
        for x in range(6):
            if image.getpixel((x, y)):
                bits |= 1 << (5 - x)
        rows.append("0x%02X" % bits)
    print("    {%s},  // %s" % (", ".join(rows), repr(chr(code))))
print("};")
