// The rows of a waterfall picture of a given height: each row the mean of
// consecutive pings, so that a day's recording fits a picture. With P pings
// and N rows, the first P mod N rows take one ping more than the others.
#pragma once

#include <cstdint>

#include "headlink/protocol.h"

struct WaterfallRows {
    long pings;      // the pings counted beforehand
    int height;      // rows asked for; 0: one row per ping
    int row;         // the row being gathered
    long in_row;     // pings added to it so far
    uint64_t sums[PING_SAMPLE_COUNT];  // per data byte, over the row's pings
};

// The pings that row (from 0) of height rows takes out of pings.
long waterfall_rows_pings_in(long pings, int height, int row);
void waterfall_rows_begin(WaterfallRows* rows, long pings, int height);
// Adds a ping's data bytes. True when that completes a row: means then holds
// its columns, each the mean of the row's pings' data bytes in the column's
// share, rounded to the nearest (halves up). A ping on its own gives the
// same means as waterfall_column_means. Pings beyond those counted (a file
// that grew in between) join the last row.
bool waterfall_rows_add(WaterfallRows* rows, const uint8_t samples[PING_SAMPLE_COUNT], int columns, uint8_t* means);
// At the end: true when a row is still open (the last one), its means given.
bool waterfall_rows_finish(WaterfallRows* rows, int columns, uint8_t* means);
