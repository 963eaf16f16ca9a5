// PNG's row filters: each row of a picture may be stored as the difference
// from its left neighbour (Sub), the row above (Up), their mean (Average) or
// the Paeth predictor of the three, or as it is (None). A decoder undoes the
// filter, so the pixels are the same whichever is chosen; a good choice only
// leaves the compressor smaller numbers to work on. The left neighbour is the
// same byte of the pixel before: pixel_bytes back (1 for grey levels and
// palette indices, 3 for red, green and blue).
#pragma once

#include <cstddef>
#include <cstdint>

enum PictureFilter { FILTER_NONE, FILTER_SUB, FILTER_UP, FILTER_AVERAGE, FILTER_PAETH, FILTER_COUNT };

// Filters row (size bytes) against previous, the row above unfiltered (all
// zero for the first row), into out.
void picture_filter_apply(PictureFilter filter, const uint8_t* row, const uint8_t* previous, size_t size,
                          uint8_t* out, size_t pixel_bytes = 1);
// The filter PNG encoders choose by the usual heuristic: the one whose bytes,
// read as signed numbers, have the smallest sum of magnitudes; the lower
// filter number on a tie.
PictureFilter picture_filter_choose(const uint8_t* row, const uint8_t* previous, size_t size,
                                    size_t pixel_bytes = 1);
