// qkvdump's exports: the picture's row filters and rows.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/qkvdump/picture_filter.h"
#include "tools/qkvdump/waterfall_rows.h"

namespace {

// Each filter wins on the row it predicts exactly; a tie goes to the lower filter number.
TEST(PictureFilter, ChoosesTheSmallestSumOfMagnitudes)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> row, previous;
        PictureFilter want;
    } cases[] = {
        {"zeros: every filter ties", {0, 0, 0, 0}, {0, 0, 0, 0}, FILTER_NONE},
        {"small numbers as they are", {1, 0, 2, 1}, {90, 10, 200, 50}, FILTER_NONE},
        {"a ramp", {100, 101, 102, 103}, {0, 0, 0, 0}, FILTER_SUB},
        {"the row above again", {9, 200, 30, 180}, {9, 200, 30, 180}, FILTER_UP},
        {"between left and above", {100, 150, 175, 188}, {200, 200, 200, 200}, FILTER_AVERAGE},
        {"a step down the rows", {50, 80, 110, 140}, {40, 70, 100, 130}, FILTER_UP},
        {"a gradient both ways: Sub and Up tie", {10, 20, 30, 40}, {0, 10, 20, 30}, FILTER_SUB},
        {"255 read as -1, 254 as -2", {255, 1, 254, 2}, {0, 0, 0, 0}, FILTER_NONE},
        {"the upper left's step", {90, 70, 60, 50}, {90, 60, 50, 40}, FILTER_PAETH},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, picture_filter_choose(c.row.data(), c.previous.data(), c.row.size())) << c.what;
    }
    // Paeth's bytes: each the row's less the nearest of left, above and upper left to left + above - upper left.
    std::vector<uint8_t> previous = {90, 60, 50, 40}, row = {90, 70, 60, 50};
    uint8_t out[4];
    picture_filter_apply(FILTER_PAETH, row.data(), previous.data(), row.size(), out);
    EXPECT_EQ(std::vector<uint8_t>({0, 10, 0, 0}), std::vector<uint8_t>(out, out + 4));
}

// Rows share out the pings with the first rows taking one more; all pings are taken once.
TEST(WaterfallRows, SharesOutPingsAndRoundsTheirMeans)
{
    struct Case {
        long pings;
        int height;
        std::vector<long> want;
    } cases[] = {{10, 4, {3, 3, 2, 2}}, {8, 4, {2, 2, 2, 2}}, {3, 5, {1, 1, 1, 0, 0}}, {131072, 1, {131072}}};
    for (const Case& c : cases) {
        std::vector<long> got;
        for (int row = 0; row < c.height; ++row) got.push_back(waterfall_rows_pings_in(c.pings, c.height, row));
        EXPECT_EQ(c.want, got) << c.pings << " pings, " << c.height << " rows";
    }

    static WaterfallRows rows;
    static uint8_t ping[PING_SAMPLE_COUNT];
    uint8_t means[PING_SAMPLE_COUNT];
    waterfall_rows_begin(&rows, 3, 2);
    memset(ping, 1, sizeof ping);
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means));
    memset(ping, 2, sizeof ping);
    ASSERT_TRUE(waterfall_rows_add(&rows, ping, 1, means)) << "the first row takes two of three pings";
    EXPECT_EQ(2, means[0]) << "1.5 rounds up";
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means));
    EXPECT_FALSE(waterfall_rows_add(&rows, ping, 1, means)) << "a ping more than counted joins the last row";
    ASSERT_TRUE(waterfall_rows_finish(&rows, 1, means));
    EXPECT_EQ(2, means[0]);
    EXPECT_FALSE(waterfall_rows_finish(&rows, 1, means));
}

}  // namespace
