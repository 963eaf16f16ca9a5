// The waterfall: each ping drawn as one row of columns, oldest ping first.
// A column is the mean of its share of the ping's 8000 samples, and a colour
// map shows a mean as a colour. Plain functions, shared by every picture of
// the pings, whatever it is drawn on.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"

constexpr int WATERFALL_LEVELS = 256;

// The colour map: a perceptually uniform sequential map (viridis), dark
// violet for 0 through blue and green to yellow for 255. Red, green, blue.
extern const uint8_t WATERFALL_COLOURS[WATERFALL_LEVELS][3];
extern const char WATERFALL_COLOURS_NAME[];

// Column c of columns (1 to PING_SAMPLE_COUNT) is the mean of samples
// c * 8000 / columns up to (c + 1) * 8000 / columns, rounded to the nearest
// whole number (halves up).
void waterfall_column_means(const uint8_t samples[PING_SAMPLE_COUNT], int columns, uint8_t* means);
