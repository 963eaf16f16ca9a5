#include "tools/headsim/seabed.h"

#include <cmath>

#include "tools/headsim/reply_source.h"

namespace {

const double PI = 3.14159265358979323846;

// The bottom lies between SHALLOW_SHARE and DEEP_SHARE of the range asked for,
// but never shallower than SHALLOWEST_M, so every range shows it.
constexpr double SHALLOW_SHARE = 0.15;
constexpr double DEEP_SHARE = 0.85;
constexpr double SHALLOWEST_M = 1.0;
// The seabed's shape: waves of these lengths in metres and weights, each along a
// direction and at a phase of the seed's; their sum, squashed smoothly into the
// depths allowed, makes ridges, shoals and slopes (of up to about 35 degrees at a
// range of 30 m, as the depths are shares of the range).
constexpr int WAVES = 3;
const double WAVE_LENGTH_M[WAVES] = {90.0, 230.0, 600.0};
const double WAVE_WEIGHT[WAVES] = {0.6, 0.8, 1.0};
constexpr double SHOAL_LENGTH_M = 150.0;  // a grid of rounded shoals and hollows on top
constexpr double SHOAL_WEIGHT = 0.7;
constexpr double HARDNESS_LENGTH_M = 400.0;  // soft and hard patches

// Fish schools: one in SCHOOL_ONE_IN cells of SCHOOL_CELL_M, round, of radius
// SCHOOL_RADIUS_M plus up to as much again, in a band of mid-water well above
// the bottom, holding a few fish in each ping.
constexpr double SCHOOL_CELL_M = 40.0;
constexpr uint32_t SCHOOL_ONE_IN = 2;
constexpr double SCHOOL_RADIUS_M = 5.0;
constexpr double SCHOOL_TOP_SHARE = 0.2;     // of the depth, plus up to SCHOOL_TOP_SPAN
constexpr double SCHOOL_TOP_SPAN = 0.35;
constexpr double SCHOOL_THICK_SHARE = 0.06;  // plus up to as much again
constexpr int SCHOOL_FISH_LEAST = 3;
// Aerated water comes in bursts of AERATION_MS (three pings at ten a second), one burst in AERATION_ONE_IN.
constexpr int64_t AERATION_MS = 300;
constexpr uint32_t AERATION_ONE_IN = 60;
// A spike: the echo of something in the water, or of a side lobe on a slope,
// taken for the bottom, which is unheard in that ping. It lies off the
// bottom's distance, shallower or deeper, by a share of it, and at least by
// SPIKE_LEAST_M: from steps a sounder's tracking lets through to ones it
// cannot miss.
constexpr uint32_t SPIKE_KEY = 0x5B1CE000U;
constexpr double SPIKE_LEAST_SHARE = 0.08;
constexpr double SPIKE_SHARE_SPAN = 0.32;
constexpr double SPIKE_LEAST_M = 1.0;

// The echo, in counts before the gain: the head lengthens its pulse with the
// range, so an echo's shape is the same number of samples at every range.
constexpr double NOISE_LEAST = 3.0;
constexpr uint32_t NOISE_SPAN = 9;
constexpr double SURFACE_LEVEL = 40.0;
constexpr double SURFACE_FADE_M = 1.5;
constexpr double RING_LEVEL = 150.0;
constexpr double RING_FADE_M = 0.05;
constexpr double RING_PERIOD_M = 0.012;
constexpr double RING_END_M = 0.4;
constexpr double BOTTOM_SOFT = 60.0;   // the echo of soft mud, and what rock adds
constexpr double BOTTOM_HARD = 120.0;
constexpr double PULSE_SAMPLES = 12.0;  // the rise of an echo
constexpr double BOTTOM_FADE_SAMPLES = 50.0;
constexpr double BOTTOM_TAIL_SAMPLES = 600.0;  // the sediment's own echo below the surface
constexpr double BOTTOM_TAIL_SHARE = 0.3;
constexpr double MULTIPLE_SHARE = 0.3;  // the echo at twice the depth, sound that went down twice
constexpr double FISH_RISE_SAMPLES = 6.0;
constexpr double FISH_FADE_SAMPLES = 3.0;
constexpr double FISH_LEAST = 30.0;
constexpr double FISH_SPAN = 100.0;
constexpr double BUBBLES_LEVEL = 150.0;
constexpr double BUBBLES_FADE_LEAST_M = 0.5;  // plus up to 1.5 m

uint32_t mix(uint32_t seed, uint32_t a, uint32_t b)
{
    return headsim_hash(seed ^ headsim_hash(a ^ headsim_hash(b + 0x9E3779B9U)));
}

// 0 to 1 from a hash.
double unit(uint32_t hash) { return (hash >> 8) / 16777216.0; }

uint32_t low(int64_t value) { return static_cast<uint32_t>(value); }
uint32_t high(int64_t value) { return static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32); }

// A wave of the seed's along its own direction at its own phase.
double wave(uint32_t seed, uint32_t which, double length, double east, double north)
{
    double direction = 2 * PI * unit(mix(seed, which, 1));
    double phase = 2 * PI * unit(mix(seed, which, 2));
    double along = east * std::cos(direction) + north * std::sin(direction);
    return std::sin(2 * PI * along / length + phase);
}

// 0 (shallowest) to 1 (deepest), smooth everywhere.
double depth_share(uint32_t seed, double east, double north)
{
    double sum = 0.0;
    for (int i = 0; i < WAVES; ++i) sum += WAVE_WEIGHT[i] * wave(seed, i, WAVE_LENGTH_M[i], east, north);
    sum += SHOAL_WEIGHT * wave(seed, 10, SHOAL_LENGTH_M, east, north) * wave(seed, 11, SHOAL_LENGTH_M, east, north);
    return 0.5 + 0.5 * std::tanh(sum);
}

// The school whose disc holds the vessel, looking in its cell and the cells around.
bool school_at(uint32_t seed, double east, double north, double depth, SeabedPing* ping)
{
    int cell_east = static_cast<int>(std::floor(east / SCHOOL_CELL_M));
    int cell_north = static_cast<int>(std::floor(north / SCHOOL_CELL_M));
    for (int de = -1; de <= 1; ++de) {
        for (int dn = -1; dn <= 1; ++dn) {
            uint32_t cell = mix(seed, static_cast<uint32_t>(cell_east + de), static_cast<uint32_t>(cell_north + dn));
            if (cell % SCHOOL_ONE_IN != 0) continue;
            double centre_east = (cell_east + de + unit(mix(cell, 1, 0))) * SCHOOL_CELL_M;
            double centre_north = (cell_north + dn + unit(mix(cell, 2, 0))) * SCHOOL_CELL_M;
            double radius = SCHOOL_RADIUS_M * (1 + unit(mix(cell, 3, 0)));
            if (std::hypot(east - centre_east, north - centre_north) > radius) continue;
            ping->school_top_m = depth * (SCHOOL_TOP_SHARE + SCHOOL_TOP_SPAN * unit(mix(cell, 4, 0)));
            ping->school_bottom_m = ping->school_top_m + depth * SCHOOL_THICK_SHARE * (1 + unit(mix(cell, 5, 0)));
            return true;
        }
    }
    return false;
}

void scatter_fish(uint32_t seed, int64_t ping_ms, SeabedPing* ping)
{
    uint32_t key = mix(seed, low(ping_ms), high(ping_ms));
    ping->fish_count = SCHOOL_FISH_LEAST + static_cast<int>(mix(key, 20, 0) % (SEABED_FISH_MAX - SCHOOL_FISH_LEAST));
    double thickness = ping->school_bottom_m - ping->school_top_m;
    for (int i = 0; i < ping->fish_count; ++i) {
        ping->fish_m[i] = ping->school_top_m + thickness * unit(mix(key, 21, i));
        ping->fish_strength[i] = FISH_LEAST + FISH_SPAN * unit(mix(key, 22, i));
    }
}

// Moves the echo of one ping in spike_one_in, where it stays inside the ping.
void spike_echo(uint32_t seed, int64_t ping_ms, uint32_t spike_one_in, SeabedPing* ping)
{
    uint32_t spike = mix(seed ^ SPIKE_KEY, low(ping_ms), high(ping_ms));
    if (spike % spike_one_in != 0) return;
    double away = ping->echo_m * (SPIKE_LEAST_SHARE + SPIKE_SHARE_SPAN * unit(mix(spike, 1, 0)));
    if (away < SPIKE_LEAST_M) away = SPIKE_LEAST_M;
    bool deeper = (mix(spike, 2, 0) & 1) != 0;
    double moved = ping->echo_m + (deeper ? away : -away);
    if (moved <= 0 || moved >= ping->range_m) moved = ping->echo_m + (deeper ? -away : away);
    if (moved <= 0 || moved >= ping->range_m) return;
    ping->echo_m = moved;
    ping->spike = true;
}

double smoothstep(double x) { return x * x * (3 - 2 * x); }

// The surface's reverberation, the ring and the noise, everywhere in the ping.
void add_near_field_and_noise(const SeabedPing* ping, uint32_t key, float* level)
{
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        level[k] = static_cast<float>(NOISE_LEAST + headsim_hash(key + static_cast<uint32_t>(k)) % NOISE_SPAN);
    }
    if (ping->range_m <= 0) return;
    double step = ping->range_m / PING_SAMPLE_COUNT;
    double surface = SURFACE_LEVEL;
    double fade = std::exp(-step / SURFACE_FADE_M);
    for (int k = 0; k < PING_SAMPLE_COUNT && surface >= 0.05; ++k) {
        double z = k * step;
        double ring = 0.0;
        if (z < RING_END_M) {
            ring = RING_LEVEL * std::exp(-z / RING_FADE_M) * (0.6 + 0.4 * std::cos(2 * PI * z / RING_PERIOD_M));
        }
        level[k] += static_cast<float>(surface + ring);
        surface *= fade;
    }
}

// An echo starting at sample `onset`: a rise over `rise` samples, then a fade
// of `fade` samples and, for tail_share of its height, a longer one of `tail`.
void add_echo(float* level, double onset, double height, double rise, double fade, double tail, double tail_share)
{
    int k = onset > 0 ? static_cast<int>(std::ceil(onset)) : 0;
    for (; k < PING_SAMPLE_COUNT && k - onset < rise; ++k) {
        level[k] += static_cast<float>(height * smoothstep((k - onset) / rise));
    }
    double after = k - onset - rise;
    double near = height * (1 - tail_share) * std::exp(-after / fade);
    double far = height * tail_share * std::exp(-after / tail);
    double near_step = std::exp(-1 / fade), far_step = std::exp(-1 / tail);
    for (; k < PING_SAMPLE_COUNT && near + far >= 0.05; ++k) {
        level[k] += static_cast<float>(near + far);
        near *= near_step;
        far *= far_step;
    }
}

void add_bubbles(const SeabedPing* ping, uint32_t key, float* level)
{
    double step = ping->range_m / PING_SAMPLE_COUNT;
    double fade_m = BUBBLES_FADE_LEAST_M + 1.5 * unit(mix(key, 40, 0));
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        double wavering = 0.6 + 0.8 * unit(headsim_hash(key ^ (k + 1u) * 0x9E3779B9U));
        double value = BUBBLES_LEVEL * std::exp(-k * step / fade_m) * wavering;
        if (value < 0.05) break;
        level[k] += static_cast<float>(value);
    }
}

}  // namespace

double seabed_depth(uint32_t seed, double east_m, double north_m, double range_m)
{
    double shallowest = SHALLOW_SHARE * range_m < SHALLOWEST_M ? SHALLOWEST_M : SHALLOW_SHARE * range_m;
    double deepest = DEEP_SHARE * range_m;
    return shallowest + (deepest - shallowest) * depth_share(seed, east_m, north_m);
}

void seabed_ping(uint32_t seed, const VesselFix* fix, int64_t ping_ms, double range_m, const SeabedWater* water,
                 SeabedPing* ping)
{
    *ping = SeabedPing{};
    ping->range_m = range_m > 0 ? range_m : 0.0;
    if (range_m <= 0) return;
    bool aerated = mix(seed, low(ping_ms / AERATION_MS), high(ping_ms / AERATION_MS)) % AERATION_ONE_IN == 0;
    if (aerated) return;
    ping->reduced_m = seabed_depth(seed, fix->east_m, fix->north_m, range_m);
    double bottom_below_surface = ping->reduced_m + water->level_m;
    ping->depth_m = bottom_below_surface - water->transducer_m;
    ping->echo_m = sea_echo_m(water->sea, water->transducer_m, bottom_below_surface);
    ping->has_bottom = ping->echo_m > 0 && ping->echo_m < range_m;
    if (!ping->has_bottom) {
        *ping = SeabedPing{};
        ping->range_m = range_m;
        return;
    }
    if (water->spike_one_in > 0) spike_echo(seed, ping_ms, water->spike_one_in, ping);
    ping->hardness = 0.5 + 0.5 * wave(seed, 12, HARDNESS_LENGTH_M, fix->east_m, fix->north_m);
    if (school_at(seed, fix->east_m, fix->north_m, ping->depth_m, ping)) scatter_fish(seed, ping_ms, ping);
}

void seabed_samples(const SeabedPing* ping, uint32_t seed, int64_t ping_ms, int gain,
                    uint8_t samples[PING_SAMPLE_COUNT])
{
    static float level[PING_SAMPLE_COUNT];
    uint32_t key = mix(seed, low(ping_ms), high(ping_ms));
    add_near_field_and_noise(ping, key, level);
    double step = ping->range_m / PING_SAMPLE_COUNT;
    if (ping->has_bottom) {
        double onset = ping->echo_m / step;
        double heard = ping->echo_m / ping->depth_m;  // each echo's distance to its time, as near as fish need
        double height = BOTTOM_SOFT + BOTTOM_HARD * ping->hardness;
        add_echo(level, onset, height, PULSE_SAMPLES, BOTTOM_FADE_SAMPLES, BOTTOM_TAIL_SAMPLES, BOTTOM_TAIL_SHARE);
        add_echo(level, 2 * onset, MULTIPLE_SHARE * height, 2 * PULSE_SAMPLES, BOTTOM_FADE_SAMPLES,
                 BOTTOM_TAIL_SAMPLES, BOTTOM_TAIL_SHARE);
        for (int i = 0; i < ping->fish_count; ++i) {
            add_echo(level, ping->fish_m[i] * heard / step, ping->fish_strength[i], FISH_RISE_SAMPLES,
                     FISH_FADE_SAMPLES, 1.0, 0.0);
        }
    } else if (ping->range_m > 0) {
        add_bubbles(ping, key, level);
    }
    double scale = 1.0 + gain / 8.0;
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        double value = level[k] * scale;
        samples[k] = static_cast<uint8_t>(value > 255.0 ? 255.0 : value);
    }
}
