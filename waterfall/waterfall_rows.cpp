#include "waterfall/waterfall_rows.h"

#include <cstring>

#include "waterfall/waterfall.h"

namespace {

void row_means(WaterfallRows* rows, int columns, uint8_t* means)
{
    int start = 0;
    for (int column = 0; column < columns; ++column) {
        int end = (column + 1) * PING_SAMPLE_COUNT / columns;
        uint64_t sum = 0;
        for (int i = start; i < end; ++i) sum += rows->sums[i];
        uint64_t count = static_cast<uint64_t>(end - start) * static_cast<uint64_t>(rows->in_row);
        means[column] = static_cast<uint8_t>((sum + count / 2) / count);
        start = end;
    }
    memset(rows->sums, 0, sizeof rows->sums);
    rows->in_row = 0;
    ++rows->row;
}

}  // namespace

long waterfall_rows_pings_in(long pings, int height, int row)
{
    if (height <= 0 || row < 0 || row >= height) return 0;
    return pings / height + (row < pings % height ? 1 : 0);
}

void waterfall_rows_begin(WaterfallRows* rows, long pings, int height)
{
    rows->pings = pings;
    rows->height = height;
    rows->row = 0;
    rows->in_row = 0;
    memset(rows->sums, 0, sizeof rows->sums);
}

bool waterfall_rows_add(WaterfallRows* rows, const uint8_t samples[PING_SAMPLE_COUNT], int columns, uint8_t* means)
{
    if (rows->height <= 0) {
        waterfall_column_means(samples, columns, means);
        ++rows->row;
        return true;
    }
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) rows->sums[i] += samples[i];
    ++rows->in_row;
    if (rows->row == rows->height - 1) return false;  // the last row takes what comes
    long wanted = waterfall_rows_pings_in(rows->pings, rows->height, rows->row);
    if (rows->in_row < (wanted > 0 ? wanted : 1)) return false;
    row_means(rows, columns, means);
    return true;
}

bool waterfall_rows_finish(WaterfallRows* rows, int columns, uint8_t* means)
{
    if (rows->in_row == 0) return false;
    row_means(rows, columns, means);
    return true;
}
