// One ping alone: past the blanking distance, the echo that rises highest above
// what comes before it, stays clear of the ping's noise for longer than a fish
// echoes and does not end as a school of fish does; its leading edge.
#include "depth/picker.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Samples summed into one block, the envelope the search works on: a block
// halves the noise's spread and quarters the work, and four samples are a
// third of the shortest echo to be told apart (about one pulse length, a dozen
// samples), so the leading edge is still found to the sample afterwards.
constexpr int BLOCK = 4;
constexpr int BLOCKS = PING_SAMPLE_COUNT / BLOCK;
// A block is the sum of its samples less the largest: a lone spike of
// interference (one sample) does not count, an echo (a dozen samples) does.
constexpr int KEPT = BLOCK - 1;
// An echo's level: the least block of the LEVEL_BLOCKS (32 samples, under three
// pulse lengths) from where it starts. A lone fish echoes for about one pulse
// length, so its level is the noise's; the bottom keeps echoing.
constexpr int LEVEL_BLOCKS = 8;
// The bottom must also stay clear of the noise for PERSIST_BLOCKS (64 samples,
// about five pulse lengths): the seabed echoes for far longer than the pulse
// (the beam's footprint widens on it and the sediment below its surface echoes
// too), where even fish close together end within a few pulse lengths.
constexpr int PERSIST_BLOCKS = 16;
// What an echo rises from: the least of the BEFORE_BLOCKS blocks that end
// BEFORE_GAP blocks before its level starts, the gap leaving room for its rise;
// the least, so a fish's tail there does not hide a bottom rising out of it.
// An echo is scored by its rise, its level above that, so the surface's
// reverberation, the ring or a bubble cloud fading out of the blanking, which
// never rise, are not the bottom, and a bottom under them still is.
constexpr int BEFORE_BLOCKS = 4;
constexpr int BEFORE_GAP = 4;
// And the rise must be at least RISE_TIMES what it rises from: a bottom echo is
// many times the water's, where the reverberation or a bubble cloud, fading,
// only wavers by a fraction of its own level.
constexpr int RISE_TIMES = 1;
// Walking back from the level to the leading edge stops where the blocks climb
// again by more than FALL_SLACK_SPREADS of the noise's spread: a rise falls all
// the way back to what it rises from, wavering by no more than its noise, where
// the tail of a fish just above the bottom, or the fish itself, climbs again.
constexpr int FALL_SLACK_SPREADS = 3;
// The ping's noise: its median sample past the blanking, and its spread the
// median difference between samples SPREAD_LAG apart, about 1.3 standard
// deviations of the noise. A difference, unlike the spread of the samples
// themselves, ignores slow trends such as the surface's reverberation fading
// over a short range; samples further apart than an echo is long are
// independent even where the head's samples are not. Every sixteenth sample
// (up to 500) serves nearly as well as all of them, at a quarter of the ping's
// whole cost less than every eighth (on the benchmark's harder pings 16 more
// dropouts in 23,550, no wrong depth), and the bottom and its tail fill far
// less than half of the ping, so they do not move either median.
constexpr int NOISE_STRIDE = 16;
constexpr int SPREAD_LAG = 16;
// The least spread assumed: a quiet ping's noise, a count or two in whole
// samples, would otherwise make any small wiggle stand clear.
constexpr int SPREAD_MIN = 2;
// An echo stands clear of the noise when its rise, and all of PERSIST_BLOCKS,
// are this many spreads above the median. In noise alone a block (whose own
// spread is half of the samples') gets that high once in 15; eight blocks in a
// row, once in thousands of millions.
constexpr int CLEAR_SPREADS = 3;
// A rise of this many spreads or more gets the full quality of 100; one just
// clear gets QUALITY_CLEAR.
constexpr int STRONG_SPREADS = 15;
constexpr int QUALITY_CLEAR = 20;
// The leading edge: where the echo first climbs this share of the way from what
// it rises from to its level. Half sits within a few samples of the onset of a
// sharp echo and well clear of the noise before it; taken of the level, not the
// peak, so a fish's brief spike at the bottom does not raise it.
constexpr double EDGE_SHARE = 0.5;
// A multiple: sound that went to the bottom twice echoes at twice its distance
// plus the transducer's draft (its second trip starts at the surface), and can
// look as strong as the first echo, or rise higher, where both saturate or the
// first is brief. So the chosen echo is taken for a multiple, and an echo
// nearer for the bottom, only where that one fits: bottom-like itself (no
// layer, below), its leading edge at half the chosen one's distance less half
// a draft of up to MULTIPLE_DRAFT_M (and up to MULTIPLE_DRAFT_SHARE of the
// chosen one's distance: the water under the transducer at least twice its
// draft), within MULTIPLE_SLACK samples either way (the two edges are measured
// on echoes of different shapes), its peak at least MULTIPLE_PEAK_SHARE of the
// chosen one's (a multiple is weaker, unless clipped or raised by the gain),
// and its rise at least MULTIPLE_SHARE as high. A school at about half the
// bottom's depth is no first echo: its own multiple is far too weak to show.
// Where the draft is known (DepthSettings), the multiple may lie that much
// further, however deep the transducer and shallow the water.
constexpr double MULTIPLE_DRAFT_M = 1.0;
constexpr double MULTIPLE_DRAFT_SHARE = 0.2;
constexpr int MULTIPLE_SLACK = 8;
constexpr double MULTIPLE_PEAK_SHARE = 0.5;
constexpr double MULTIPLE_SHARE = 0.5;
// A layer in the water (a school of fish dense enough to echo without a break)
// echoes for as long as it is thick, then ends: its echo falls from high to the
// noise within a pulse length, or within a short part of its thickness where
// its fish thin out. The bottom's does not: it fades over many pulse lengths as
// the beam's footprint widens on it and the sediment below echoes, a fade
// longer than the time it stays high, or it stays clipped to the end of the
// ping. So an echo that stays high (above half its level, and twice the clear
// margin), with gaps of no more than LAYER_GAP_BLOCKS, then within
// LAYER_FALL_PERCENT of that stretch, or LAYER_FALL_BLOCKS, falls to
// LAYER_QUIET_BLOCKS whose mean is within half the clear margin of the noise,
// is a layer and not the bottom, however strong. Up to LAYERS_MAX are set
// aside in a ping before it is taken to hold no bottom at all.
constexpr int LAYER_GAP_BLOCKS = 4;
constexpr int LAYER_FALL_PERCENT = 50;
constexpr int LAYER_FALL_BLOCKS = 3;
constexpr int LAYER_QUIET_BLOCKS = 8;
constexpr int LAYERS_MAX = 4;
// The head's samples top out here: a clipped sample says nothing of the noise,
// and a bottom that saturates to the end of the ping may fill most of it.
constexpr int SAMPLE_CLIPPED = 255;

// The ping's blocks past the blanking, relative to the noise, in block units,
// and what the search needs of them, one entry per block where a run starts.
struct Envelope {
    const uint8_t* samples;
    int first_sample;  // the first sample past the blanking: block 0 starts here
    int blocks;
    int noise;   // the median, times KEPT
    int spread;  // the spread, times KEPT
    int draft_samples;  // MULTIPLE_DRAFT_M in samples
    int known_draft_samples;  // the draft given, in samples; 0 where none was
    int16_t block[BLOCKS];  // worked out only near where the bottom may be: see block_at
    int16_t pairs[BLOCKS];  // the least of the 2 blocks from here
    int16_t fours[BLOCKS];  // of 4
    int16_t level[BLOCKS];  // of LEVEL_BLOCKS: the level of a run starting here
    int16_t rise[BLOCKS];   // the run's rise where it may be the bottom; -1 where not (within the spans)
    int spans;              // the runs worked out, spans of them next to each other; no other may be the bottom
    int16_t span_first[BLOCKS];
    int16_t span_last[BLOCKS];
};

struct Candidate {
    int run;        // where its level starts
    int rise;       // its level above what it rises from
    int threshold;  // the edge's level, above the noise
    int edge;       // the first block of the rise at the edge's level
};

int median_of(const int counts[256], int total)
{
    int seen = 0;
    for (int value = 0; value < 256; ++value) {
        seen += counts[value];
        if (2 * seen >= total) return value;
    }
    return 255;
}

void measure_noise(const uint8_t* samples, Envelope* envelope)
{
    int values[256] = {}, differences[256] = {};
    int total = 0;
    for (int k = envelope->first_sample; k + SPREAD_LAG < PING_SAMPLE_COUNT; k += NOISE_STRIDE) {
        ++values[samples[k]];
        int difference = samples[k + SPREAD_LAG] - samples[k];
        ++differences[difference < 0 ? -difference : difference];
        ++total;
    }
    int spread = median_of(differences, total);
    envelope->noise = median_of(values, total - values[SAMPLE_CLIPPED]) * KEPT;
    envelope->spread = (spread < SPREAD_MIN ? SPREAD_MIN : spread) * KEPT;
}

// The four samples from at, less the largest.
int kept_sum(const uint8_t* at)
{
    static_assert(BLOCK == 4, "a block is four samples here");
    int largest = at[0] > at[1] ? at[0] : at[1];
    int largest2 = at[2] > at[3] ? at[2] : at[3];
    return at[0] + at[1] + at[2] + at[3] - (largest > largest2 ? largest : largest2);
}

// A coarse look first: only a run near a window of COARSE_BLOCKS blocks whose
// sum could hold nothing but blocks clear of the noise can be the bottom, and
// the envelope is worked out there alone. A run stays clear for PERSIST_BLOCKS,
// twice a window, so it covers a whole window aligned to the grid, which is
// then hot: each of its blocks (three of four samples) is at least
// noise + clear, so the sum of its samples is at least 4/3 of that, times the
// window's blocks. The rest of the ping (water, where most of it is) costs one
// pass of plain sums.
constexpr int COARSE_BLOCKS = 8;

// Written as a sum of differences from nothing, which compilers turn into the
// processor's sum of absolute differences: a window in two instructions.
const uint8_t NOTHING[COARSE_BLOCKS * BLOCK] = {};

bool window_hot(const uint8_t* from, int window, int clear_kept)
{
    const uint8_t* at = from + window * COARSE_BLOCKS * BLOCK;
    int sum = 0;
    for (int i = 0; i < COARSE_BLOCKS * BLOCK; ++i) sum += std::abs(at[i] - NOTHING[i]);
    return 3 * sum >= 4 * COARSE_BLOCKS * clear_kept;
}

// What the run starting at run rises from: the least of the BEFORE_BLOCKS ending BEFORE_GAP before it, never
// below the noise.
int rises_from(const Envelope* envelope, int run)
{
    int before = envelope->fours[run - BEFORE_GAP - BEFORE_BLOCKS];
    return before > 0 ? before : 0;
}

// Blocks, their runs' levels by passes of pairwise minima (runs of 2, 4, then
// 8 blocks), and the rise of each run in [first, last] that may be the bottom.
// Plain passes over short arrays, which the compiler turns into vector
// instructions.
void build_span(const uint8_t* from, Envelope* e, int first, int last)
{
    static_assert(LEVEL_BLOCKS == 8 && PERSIST_BLOCKS == 2 * LEVEL_BLOCKS && BEFORE_BLOCKS == 4,
                  "runs double with each pass");
    int low = first - BEFORE_GAP - BEFORE_BLOCKS, high = last + PERSIST_BLOCKS;  // the blocks the runs look at
    for (int b = low; b < high; ++b) e->block[b] = static_cast<int16_t>(kept_sum(from + b * BLOCK) - e->noise);
    for (int b = low; b + 2 <= high; ++b) e->pairs[b] = e->block[b] < e->block[b + 1] ? e->block[b] : e->block[b + 1];
    for (int b = low; b + 4 <= high; ++b) e->fours[b] = e->pairs[b] < e->pairs[b + 2] ? e->pairs[b] : e->pairs[b + 2];
    for (int b = first; b + 8 <= high; ++b) e->level[b] = e->fours[b] < e->fours[b + 4] ? e->fours[b] : e->fours[b + 4];
    int clear = CLEAR_SPREADS * e->spread;
    for (int b = first; b <= last; ++b) {
        int before = rises_from(e, b);
        int rise = e->level[b] - before;
        int persist = e->level[b] < e->level[b + LEVEL_BLOCKS] ? e->level[b] : e->level[b + LEVEL_BLOCKS];
        bool bottom_like = rise >= clear && rise >= RISE_TIMES * before && persist >= clear;
        e->rise[b] = static_cast<int16_t>(bottom_like ? rise : -1);
    }
}

void add_span(const uint8_t* from, Envelope* e, int first, int last)
{
    build_span(from, e, first, last);
    e->span_first[e->spans] = static_cast<int16_t>(first);
    e->span_last[e->spans] = static_cast<int16_t>(last);
    ++e->spans;
}

void build_envelope(const uint8_t* samples, Envelope* envelope)
{
    Envelope* e = envelope;
    const uint8_t* from = samples + e->first_sample;
    int first_run = BEFORE_GAP + BEFORE_BLOCKS;
    int last_run = e->blocks - PERSIST_BLOCKS;
    int clear_kept = e->noise + CLEAR_SPREADS * e->spread;
    e->spans = 0;
    // The runs that may cover a hot window, gathered into spans of runs next to each other.
    int span_first = -1, span_last = -1;
    for (int w = 0; (w + 1) * COARSE_BLOCKS <= e->blocks; ++w) {
        if (!window_hot(from, w, clear_kept)) continue;
        int first = w * COARSE_BLOCKS - COARSE_BLOCKS, last = w * COARSE_BLOCKS;
        if (first < first_run) first = first_run;
        if (last > last_run) last = last_run;
        if (first > last) continue;
        if (span_first >= 0 && first <= span_last + 1) {
            span_last = last;
            continue;
        }
        if (span_first >= 0) add_span(from, e, span_first, span_last);
        span_first = first;
        span_last = last;
    }
    if (span_first >= 0) add_span(from, e, span_first, span_last);
}

// Any block, worked out again from its samples: the walk back to an echo's edge may leave the spans built.
int block_at(const Envelope* envelope, int b)
{
    return kept_sum(envelope->samples + envelope->first_sample + b * BLOCK) - envelope->noise;
}

// The run in [from, to) that rises highest and persists clear of the noise; false when none does.
bool highest_rise(const Envelope* envelope, int from, int to, Candidate* candidate)
{
    int16_t best_rise = 0;  // the highest rise first, then the first run that has it: two quick passes
    for (int s = 0; s < envelope->spans; ++s) {
        int low = envelope->span_first[s] > from ? envelope->span_first[s] : from;
        int high = envelope->span_last[s] + 1 < to ? envelope->span_last[s] + 1 : to;
        for (int b = low; b < high; ++b) best_rise = envelope->rise[b] > best_rise ? envelope->rise[b] : best_rise;
    }
    if (best_rise <= 0) return false;
    int best = -1;
    for (int s = 0; s < envelope->spans && best < 0; ++s) {
        int low = envelope->span_first[s] > from ? envelope->span_first[s] : from;
        int high = envelope->span_last[s] + 1 < to ? envelope->span_last[s] + 1 : to;
        for (int b = low; b < high && best < 0; ++b) best = envelope->rise[b] == best_rise ? b : -1;
    }
    int base = rises_from(envelope, best);
    candidate->run = best;
    candidate->rise = best_rise;
    candidate->threshold = base + static_cast<int>(EDGE_SHARE * best_rise);
    // Back from the run while the blocks stay at the edge's level and keep falling.
    int edge = best;
    int slack = FALL_SLACK_SPREADS * envelope->spread;
    while (edge > 0 && block_at(envelope, edge - 1) >= candidate->threshold &&
           block_at(envelope, edge - 1) <= block_at(envelope, edge) + slack) {
        --edge;
    }
    candidate->edge = edge;
    return true;
}

// The leading edge to the sample: the first window of a block's length, from
// the block before the edge block on, that reaches the edge's level; its middle.
double edge_sample(const Envelope* envelope, const Candidate* candidate)
{
    int start = envelope->first_sample + (candidate->edge - 1) * BLOCK;
    if (start < envelope->first_sample) start = envelope->first_sample;
    int end = envelope->first_sample + (candidate->edge + 1) * BLOCK;
    for (int k = start; k < end && k + BLOCK <= PING_SAMPLE_COUNT; ++k) {
        if (kept_sum(envelope->samples + k) - envelope->noise >= candidate->threshold) return k + (BLOCK - 1) / 2.0;
    }
    return envelope->first_sample + candidate->edge * BLOCK + (BLOCK - 1) / 2.0;
}

// A block of the span given, from those worked out where it lies among them.
int span_block(const Envelope* envelope, int span, int b)
{
    bool worked = b >= envelope->span_first[span] - BEFORE_GAP - BEFORE_BLOCKS &&
                  b < envelope->span_last[span] + PERSIST_BLOCKS;
    return worked ? envelope->block[b] : block_at(envelope, b);
}

// Where the candidate's echo ends as a layer's does (above), the first block
// past its fall; 0 where it fades instead, lasts to the end of the ping or never
// stands high.
int layer_end(const Envelope* envelope, const Candidate* candidate)
{
    int clear = CLEAR_SPREADS * envelope->spread;
    int half = (rises_from(envelope, candidate->run) + candidate->rise) / 2;
    int high = half > 2 * clear ? half : 2 * clear;
    // Most of the echo lies among its span's blocks, whose runs' levels pass a high stretch quickly.
    int span = 0;
    while (span + 1 < envelope->spans && envelope->span_last[span] < candidate->run) ++span;
    int levels_to = envelope->span_last[span] + PERSIST_BLOCKS - LEVEL_BLOCKS;
    int last_high = -1;
    for (int b = candidate->edge; b < envelope->blocks; ++b) {
        if (b >= envelope->span_first[span] && b < levels_to && envelope->level[b] >= high) {
            b += LEVEL_BLOCKS - 1;
            last_high = b;
        } else if (span_block(envelope, span, b) >= high) {
            last_high = b;
        } else if (last_high >= 0 ? b - last_high > LAYER_GAP_BLOCKS : b >= candidate->run + LEVEL_BLOCKS) {
            break;
        }
    }
    // The fall, from the last high block to the first quiet ones, short beside the high stretch for a layer.
    int first_fall = last_high + 1;
    int fall_most = (first_fall - candidate->edge) * LAYER_FALL_PERCENT / 100;
    if (fall_most < LAYER_FALL_BLOCKS) fall_most = LAYER_FALL_BLOCKS;
    if (last_high < 0 || first_fall + fall_most + LAYER_QUIET_BLOCKS > envelope->blocks) return 0;
    int quiet[LAYER_QUIET_BLOCKS], sum = 0;  // the last LAYER_QUIET_BLOCKS, in turn
    for (int k = 0; k < LAYER_QUIET_BLOCKS; ++k) {
        quiet[k] = span_block(envelope, span, first_fall + k);
        sum += quiet[k];
    }
    for (int b = first_fall;; ++b) {
        if (2 * sum < LAYER_QUIET_BLOCKS * clear) return b;
        if (b == first_fall + fall_most) return 0;
        int next = span_block(envelope, span, b + LAYER_QUIET_BLOCKS);
        sum += next - quiet[(b - first_fall) % LAYER_QUIET_BLOCKS];
        quiet[(b - first_fall) % LAYER_QUIET_BLOCKS] = next;
    }
}

// Runs in [from, to) may not be the bottom.
void set_aside(Envelope* envelope, int from, int to)
{
    for (int s = 0; s < envelope->spans; ++s) {
        int low = envelope->span_first[s] > from ? envelope->span_first[s] : from;
        int high = envelope->span_last[s] + 1 < to ? envelope->span_last[s] + 1 : to;
        for (int b = low; b < high; ++b) envelope->rise[b] = -1;
    }
}

// The run in [from, to) that rises highest and may be the bottom, layers set aside; false when none.
bool bottom_like_echo(Envelope* envelope, int from, int to, Candidate* candidate)
{
    for (int layers = 0; layers < LAYERS_MAX; ++layers) {
        if (!highest_rise(envelope, from, to, candidate)) return false;
        int end = layer_end(envelope, candidate);
        if (end == 0) return true;
        set_aside(envelope, candidate->edge - LEVEL_BLOCKS, end);  // with the runs whose level reaches into it
    }
    return false;
}

// The highest block of an echo's first LEVEL_BLOCKS.
int peak_of(const Envelope* envelope, const Candidate* candidate)
{
    int peak = 0;
    for (int b = candidate->edge; b < candidate->edge + LEVEL_BLOCKS && b < envelope->blocks; ++b) {
        int block = block_at(envelope, b);
        peak = block > peak ? block : peak;
    }
    return peak;
}

// Where the candidate is the multiple of a nearer echo that fits (above), that one is the bottom.
void prefer_first_of_multiple(Envelope* envelope, Candidate* candidate)
{
    double distance = edge_sample(envelope, candidate);
    double draft = envelope->draft_samples < MULTIPLE_DRAFT_SHARE * distance ? envelope->draft_samples
                                                                             : MULTIPLE_DRAFT_SHARE * distance;
    if (envelope->known_draft_samples > draft) draft = envelope->known_draft_samples;
    double nearest = (distance - draft - MULTIPLE_SLACK) / 2;
    double furthest = (distance + MULTIPLE_SLACK) / 2;
    // A run lies at or past its edge: within a level's length of it for an echo rising as fast as the bottom.
    int from = static_cast<int>((nearest - envelope->first_sample) / BLOCK);
    int to = static_cast<int>((furthest - envelope->first_sample) / BLOCK) + LEVEL_BLOCKS + 1;
    if (from < 0) from = 0;
    if (to > candidate->edge) to = candidate->edge;
    Candidate first;
    if (from >= to || !bottom_like_echo(envelope, from, to, &first) || first.rise < MULTIPLE_SHARE * candidate->rise) {
        return;
    }
    double beyond = distance - 2 * edge_sample(envelope, &first);
    if (beyond < -MULTIPLE_SLACK || beyond > draft + MULTIPLE_SLACK) return;
    if (peak_of(envelope, &first) >= MULTIPLE_PEAK_SHARE * peak_of(envelope, candidate)) *candidate = first;
}

int quality_of(int rise, int spread)
{
    double spreads = static_cast<double>(rise) / spread;
    double share = (spreads - CLEAR_SPREADS) / (STRONG_SPREADS - CLEAR_SPREADS);
    if (share > 1.0) share = 1.0;
    if (share < 0.0) share = 0.0;
    return QUALITY_CLEAR + static_cast<int>(share * (100 - QUALITY_CLEAR) + 0.5);
}

}  // namespace

void depth_settings_default(DepthSettings* settings)
{
    settings->blanking_m = DEPTH_BLANKING_DEFAULT_M;
    settings->draft_m = 0.0;
}

void depth_find_echo(const uint8_t samples[PING_SAMPLE_COUNT], double range_m, const DepthSettings* settings,
                     DepthEcho* echo)
{
    *echo = DepthEcho{false, 0.0, 0, 0};
    if (!(range_m > 0.0 && range_m < 1e6)) return;
    double blanking = settings->blanking_m > 0.0 ? settings->blanking_m : 0.0;
    double first = std::ceil(blanking / range_m * PING_SAMPLE_COUNT);
    if (!(first <= PING_SAMPLE_COUNT - BLOCK * (BEFORE_GAP + BEFORE_BLOCKS + PERSIST_BLOCKS))) return;
    Envelope envelope;
    envelope.samples = samples;
    envelope.first_sample = static_cast<int>(first);
    envelope.blocks = (PING_SAMPLE_COUNT - envelope.first_sample) / BLOCK;
    double draft = MULTIPLE_DRAFT_M / range_m * PING_SAMPLE_COUNT;
    envelope.draft_samples = draft < PING_SAMPLE_COUNT ? static_cast<int>(draft) : PING_SAMPLE_COUNT;
    double known = settings->draft_m > 0.0 ? settings->draft_m / range_m * PING_SAMPLE_COUNT : 0.0;
    envelope.known_draft_samples = known < PING_SAMPLE_COUNT ? static_cast<int>(known) : PING_SAMPLE_COUNT;
    measure_noise(samples, &envelope);
    build_envelope(samples, &envelope);
    Candidate candidate;
    if (!bottom_like_echo(&envelope, 0, envelope.blocks, &candidate)) return;
    prefer_first_of_multiple(&envelope, &candidate);
    echo->found = true;
    echo->distance_m = edge_sample(&envelope, &candidate) * range_m / PING_SAMPLE_COUNT;
    echo->level = candidate.rise / KEPT;
    echo->quality = quality_of(candidate.rise, envelope.spread);
}
