// The bottom picker on sequences of made-up pings, one table: each row a few
// pings, written as the bottom's depth and what else is in the water, and the
// depths the picker must give for them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "depth/picker.h"

namespace {

// One ping: "12" a bottom at 12 m; "-" none. After the depth, any of: "w" the
// bottom weak and soft, "c" its echo clipped to the end of the ping, "m" with a
// strong echo at twice its depth ("m3": and 3 m more, from a transducer 3 m deep; "M" stronger than the bottom's
// own), "r" the transducer ringing well past the
// blanking, "b" bubbles under the hull (a cloud fading from the transducer,
// wavering from sample to sample), "f6" a fish school at 6 m, "s6" a school at
// 6 m packed so densely that it echoes as one layer a metre thick, at 0.7 of
// the bottom's echo ("S6": as strong as the bottom's).
struct PingShape {
    bool bottom = false;
    double depth_m = 0;
    bool weak = false, clipped = false, multiple = false, ring = false, bubbles = false;
    double multiple_draft_m = 0;
    bool saturated_multiple = false;
    double fish_m = 0, school_m = 0, school_share = 0;
};

PingShape parse_ping(const std::string& word)
{
    PingShape shape;
    const char* at = word.c_str();
    if (*at == '-') {
        ++at;
    } else {
        char* end = nullptr;
        shape.bottom = true;
        shape.depth_m = strtod(at, &end);
        at = end;
    }
    for (; *at != 0; ++at) {
        if (*at == 'w') shape.weak = true;
        if (*at == 'c') shape.clipped = true;
        if (*at == 'm') shape.multiple = true;
        if (*at == 'm' || *at == 'M') shape.multiple_draft_m = strtod(at + 1, nullptr);
        if (*at == 'M') shape.multiple = shape.saturated_multiple = true;
        if (*at == 'r') shape.ring = true;
        if (*at == 'b') shape.bubbles = true;
        if (*at == 'f') shape.fish_m = strtod(at + 1, nullptr);
        if (*at == 's' || *at == 'S') {
            shape.school_m = strtod(at + 1, nullptr);
            shape.school_share = *at == 's' ? 0.7 : 1.0;
        }
    }
    return shape;
}

// An echo of a linear rise over `rise` samples from its onset, then a fade.
void add_echo(double* level, double onset, double height, int rise, double fade)
{
    for (int k = onset > 0 ? static_cast<int>(onset) : 0; k < PING_SAMPLE_COUNT; ++k) {
        double j = k - onset;
        level[k] += j < rise ? height * j / rise : height * std::exp(-(j - rise) / fade);
    }
}

int next_random(uint32_t* random)
{
    *random = *random * 1103515245U + 12345U;
    return static_cast<int>(*random >> 16);
}

// Fish closer together than the pulse is long, every third sample from `top`
// to `bottom`: an echo wavering about `height` from fish to fish.
void add_school(double* level, double top, double bottom, double height, uint32_t* random)
{
    for (int fish = static_cast<int>(top); fish < bottom; fish += 3) {
        double echo = height * (0.5 + next_random(random) % 100 / 100.0);
        for (int j = 0; j < 5 && fish + j < PING_SAMPLE_COUNT; ++j) level[fish + j] += echo * (j < 3 ? j : 4 - j) / 1.5;
    }
}

void make_ping(const PingShape& shape, double range_m, uint32_t* random, uint8_t* samples)
{
    std::vector<double> level(PING_SAMPLE_COUNT);
    double step = range_m / PING_SAMPLE_COUNT;
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        level[k] = 6 + next_random(random) % 7;
        if (shape.bubbles) level[k] += 250 * std::exp(-k * step / 2) * (0.4 + next_random(random) % 100 / 80.0);
    }
    double bottom_height = shape.weak ? 25 : 150;
    if (shape.bottom) {
        double onset = shape.depth_m / step;
        if (shape.clipped) {
            add_echo(level.data(), onset, 300, 8, 1e9);
        } else {
            add_echo(level.data(), onset, bottom_height, shape.weak ? 20 : 8, shape.weak ? 600 : 150);
        }
        double multiple = 2 * onset + shape.multiple_draft_m / step;
        if (shape.multiple) add_echo(level.data(), multiple, shape.saturated_multiple ? 170 : 140, 12, 200);
    }
    if (shape.school_m > 0) {
        add_school(level.data(), shape.school_m / step, (shape.school_m + 1) / step, shape.school_share * bottom_height,
                   random);
    }
    if (shape.fish_m > 0) {
        for (int fish = 0; fish < 6; ++fish) add_echo(level.data(), (shape.fish_m + fish * 0.25) / step, 120, 3, 3);
    }
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        if (shape.ring) level[k] += 230 * std::exp(-k * step / 0.25);
        samples[k] = static_cast<uint8_t>(level[k] > 255 ? 255 : level[k]);
    }
}

struct Case {
    const char* name;
    double range_m;
    double blanking_m;
    const char* pings;     // as PingShape reads them
    const char* expected;  // the depths given, "-" where none, "x7" where none and a dropped pick of 7
    double draft_m = 0;    // known to the picker
};

const Case CASES[] = {
    {"flat_bottom", 30, 0.5, "12 12 12 12 12 12", "12 12 12 12 12 12"},
    {"slope", 30, 0.5, "10 10.2 10.4 10.6 10.8 11 11.2", "10 10.2 10.4 10.6 10.8 11 11.2"},
    {"shoal", 30, 0.5, "14 13.6 13.2 12.8 12.8 13.2 13.6 14", "14 13.6 13.2 12.8 12.8 13.2 13.6 14"},
    {"fish_school_above_the_bottom", 30, 0.5, "20 20f8 20f8 20f8 20f8 20", "20 20 20 20 20 20"},
    {"no_bottom_ping", 30, 0.5, "15 15 15 - 15 15", "15 15 15 - 15 15"},
    {"fish_school_without_bottom", 30, 0.5, "15 15 -f6 -f6 -f6 15 15", "15 15 - - - 15 15"},
    {"dense_school_not_the_multiple_of_the_bottom", 30, 0.5, "20 20 20s9 20s9 20s9 20s9 20s9 20s9",
     "20 20 20 20 20 20 20 20"},
    {"dense_school_as_strong_at_half_the_depth", 30, 0.5, "20S10 20S10 20S10 20S10", "20 20 20 20"},
    {"dense_school_without_bottom", 30, 0.5, "-s9 -s9 -s9 -s9 -s9", "- - - - -"},
    {"bottom_clipped_to_the_end_of_the_ping", 30, 0.5, "8c 8c 8c 8c", "8 8 8 8"},
    {"aerated_water", 30, 0.5, "15 15 -b -b -b 15 15", "15 15 - - - 15 15"},
    {"aerated_water_short_range", 5, 0.5, "3 3 -b -b -b -b 3 3", "3 3 - - - - 3 3"},
    {"ring_near_the_transducer", 30, 0.5, "9r 9r 9r 9r", "9 9 9 9"},
    {"noise_only", 30, 0.5, "- - - - -", "- - - - -"},
    {"single_ping_jump", 30, 0.5, "16 16 16 7 16 16 16", "16 16 16 x7 16 16 16"},
    {"two_ping_jump", 30, 0.5, "16 16 16 7 7 16 16 16", "16 16 16 x7 x7 16 16 16"},
    {"real_step_the_next_pings_support", 30, 0.5, "16 16 16 9 9 9 9 9", "16 16 16 9 9 9 9 9"},
    {"range_5_m", 5, 0.5, "3.1 3.1 3.12 3.14", "3.1 3.1 3.12 3.14"},
    {"range_100_m", 100, 0.5, "61 61 61.5 62", "61 61 61.5 62"},
    {"weak_soft_bottom", 30, 0.5, "18w 18w 18w 18w", "18 18 18 18"},
    {"strong_echo_at_twice_the_depth", 30, 0.5, "11m 11m 11m 11m", "11 11 11 11"},
    {"stronger_echo_past_twice_the_depth_by_a_known_draft", 30, 0.5, "6M2.5 6M2.5 6M2.5 6M2.5", "6 6 6 6", 2.5},
    {"shallow_bottom_past_the_blanking", 5, 0.5, "0.8 0.8 0.8", "0.8 0.8 0.8"},
    {"bottom_inside_a_longer_blanking", 5, 1.0, "0.8 0.8 0.8", "- - -"},
    {"one_ping_alone", 30, 0.5, "12", "12"},
};

std::vector<std::string> words_of(const char* text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }

class Picker : public testing::TestWithParam<Case> {};

// Every ping gets its verdict, in order, DEPTH_LOOKAHEAD offers late and the rest at the flush; a depth within
// 0.2% of the range of the bottom, with a quality, or none, and a dropout's echo kept aside.
TEST_P(Picker, GivesTheDepthsOfTheRow)
{
    const Case& row = GetParam();
    std::vector<std::string> pings = words_of(row.pings), expected = words_of(row.expected);
    ASSERT_EQ(pings.size(), expected.size());
    DepthSettings settings = {row.blanking_m, row.draft_m};
    DepthTracker tracker;
    depth_tracker_start(&tracker, &settings);
    std::vector<DepthResult> results;
    uint32_t random = 7;
    uint8_t samples[PING_SAMPLE_COUNT];
    DepthResult result;
    for (size_t i = 0; i < pings.size(); ++i) {
        make_ping(parse_ping(pings[i]), row.range_m, &random, samples);
        bool decided = depth_tracker_offer(&tracker, samples, row.range_m, static_cast<int64_t>(i), &result);
        EXPECT_EQ(i >= DEPTH_LOOKAHEAD, decided) << "ping " << i;
        if (decided) results.push_back(result);
    }
    while (depth_tracker_flush(&tracker, &result)) results.push_back(result);
    ASSERT_EQ(expected.size(), results.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(static_cast<int64_t>(i), results[i].tag);
        bool dropped = expected[i][0] == 'x', wanted = expected[i] != "-" && !dropped;
        EXPECT_EQ(wanted, results[i].has_depth) << "ping " << i << " gave " << results[i].depth_m;
        EXPECT_EQ(dropped, results[i].dropped) << "ping " << i << " dropped " << results[i].dropped_m;
        EXPECT_NEAR(dropped ? atof(expected[i].c_str() + 1) : 0.0, results[i].dropped_m, 0.002 * row.range_m);
        double depth = wanted ? atof(expected[i].c_str()) : 0.0;
        EXPECT_NEAR(depth, results[i].depth_m, 0.002 * row.range_m) << "ping " << i;
        EXPECT_EQ(wanted, results[i].quality >= 1 && results[i].quality <= 100) << "ping " << i;
        EXPECT_EQ(wanted, results[i].quality != 0) << "ping " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Picker, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
