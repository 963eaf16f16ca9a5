// Benchmark: how well and how fast the bottom picker finds the bottom. On
// headsim's seabed, pings fetched over loopback and compared with its --truth
// file, at several seeds, ranges and gains; then on harder pings made here with
// a known bottom, by a model of their own (a weak soft bottom, a strong second
// echo at twice the depth, fish close above the bottom), and with schools dense
// enough to echo as one layer. Prints figures; asserts nothing.
//   depth_bench HEADSIM [PINGS_PER_RUN]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "depth/picker.h"
#include "headlink/protocol.h"
#include "tests/e2e/harness.h"

namespace {

// A pick is right within this share of the range of the true depth.
constexpr double RIGHT_SHARE = 0.002;

struct Truth {
    bool has_bottom;
    double depth_m;
    double range_m;
    double school_top_m;  // both 0: no fish
    double school_bottom_m;
};

struct Tally {
    long pings = 0;
    long with_bottom = 0;
    long right = 0;       // a depth within RIGHT_SHARE of the range of the truth
    long dropped = 0;     // a bottom, but no depth given
    long without_bottom = 0;
    long given_anyway = 0;  // no bottom, yet a depth
    long with_fish = 0;     // fish in the beam
    long fish_taken = 0;    // a depth in the fish, away from the bottom
    double worst_m = 0;     // the largest error of a depth given on a bottom ping
};

void count(Tally* tally, const Truth* truth, const DepthResult* result)
{
    ++tally->pings;
    double tolerance = RIGHT_SHARE * truth->range_m;
    if (truth->school_bottom_m > 0) ++tally->with_fish;
    if (!truth->has_bottom) {
        ++tally->without_bottom;
        if (result->has_depth) ++tally->given_anyway;
        return;
    }
    ++tally->with_bottom;
    if (!result->has_depth) {
        ++tally->dropped;
        return;
    }
    double error = std::fabs(result->depth_m - truth->depth_m);
    if (error > tally->worst_m) tally->worst_m = error;
    if (error <= tolerance) ++tally->right;
    bool in_fish = truth->school_bottom_m > 0 && result->depth_m >= truth->school_top_m - tolerance &&
                   result->depth_m <= truth->school_bottom_m + tolerance;
    if (error > tolerance && in_fish) ++tally->fish_taken;
}

void add(Tally* total, const Tally* part)
{
    total->pings += part->pings;
    total->with_bottom += part->with_bottom;
    total->right += part->right;
    total->dropped += part->dropped;
    total->without_bottom += part->without_bottom;
    total->given_anyway += part->given_anyway;
    total->with_fish += part->with_fish;
    total->fish_taken += part->fish_taken;
    if (part->worst_m > total->worst_m) total->worst_m = part->worst_m;
}

double percent(long part, long whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

void print(const char* name, const Tally* tally)
{
    printf("  %-38s %6ld pings: %6.2f%% of %6ld with a bottom right (%ld without a depth, worst %.3f m); "
           "%4.2f%% of %4ld without a bottom given one; fish taken for it in %ld of %ld\n",
           name, tally->pings, percent(tally->right, tally->with_bottom), tally->with_bottom, tally->dropped,
           tally->worst_m, percent(tally->given_anyway, tally->without_bottom), tally->without_bottom,
           tally->fish_taken, tally->with_fish);
}

double now_s()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// ---- headsim's pings ------------------------------------------------------------------------------

bool read_all(int fd, uint8_t* bytes, int size)
{
    while (size > 0) {
        ssize_t got = recv(fd, bytes, static_cast<size_t>(size), 0);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<int>(got);
    }
    return true;
}

// Fetches `pings` pings at a range and gain, as the program asks for them: eight commands a ping.
bool fetch_pings(const char* address, int range, int gain, long pings, std::vector<uint8_t>* samples)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in head = {};
    head.sin_family = AF_INET;
    head.sin_port = htons(HEAD_PORT);
    inet_pton(AF_INET, address, &head.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&head), sizeof head) != 0) return false;
    samples->resize(static_cast<size_t>(pings) * PING_SAMPLE_COUNT);
    uint8_t command[SWITCH_COMMAND_SIZE], packet[RETURN_PACKET_SIZE];
    for (long ping = 0; ping < pings; ++ping) {
        for (int number = 0; number < PACKETS_PER_PING; ++number) {
            SwitchCommand fields = {range, gain, number};
            switch_command_build(command, &fields);
            if (send(fd, command, sizeof command, MSG_NOSIGNAL) != SWITCH_COMMAND_SIZE ||
                !read_all(fd, packet, RETURN_PACKET_SIZE)) {
                close(fd);
                return false;
            }
            memcpy(samples->data() + ping * PING_SAMPLE_COUNT + number * RETURN_DATA_SIZE,
                   packet + RETURN_DATA_OFFSET, RETURN_DATA_SIZE);
        }
    }
    close(fd);
    return true;
}

// The truth file's lines, in the order served.
std::vector<Truth> read_truth(const char* path)
{
    std::vector<Truth> truths;
    FILE* file = fopen(path, "r");
    if (file == nullptr) return truths;
    char line[256];
    if (fgets(line, sizeof line, file) == nullptr) line[0] = 0;  // the header
    while (fgets(line, sizeof line, file) != nullptr) {
        char* field[8] = {};
        int fields = 0;
        for (char* at = line; fields < 8; ++at) {
            field[fields++] = at;
            at = strpbrk(at, ",\n");
            if (at == nullptr) break;
            *at = 0;
        }
        if (fields < 8) continue;
        Truth truth = {};
        truth.range_m = atof(field[4]);
        truth.has_bottom = *field[5] != 0;
        truth.depth_m = atof(field[5]);
        truth.school_top_m = atof(field[6]);
        truth.school_bottom_m = atof(field[7]);
        truths.push_back(truth);
    }
    fclose(file);
    return truths;
}

// Every ping through a tracker; the results in the order offered.
std::vector<DepthResult> pick_all(const std::vector<uint8_t>& samples, double range_m)
{
    long pings = static_cast<long>(samples.size() / PING_SAMPLE_COUNT);
    std::vector<DepthResult> results(static_cast<size_t>(pings));
    DepthSettings settings;
    depth_settings_default(&settings);
    DepthTracker tracker;
    depth_tracker_start(&tracker, &settings);
    DepthResult result;
    for (long ping = 0; ping < pings; ++ping) {
        if (depth_tracker_offer(&tracker, &samples[ping * PING_SAMPLE_COUNT], range_m, ping, &result)) {
            results[result.tag] = result;
        }
    }
    while (depth_tracker_flush(&tracker, &result)) results[result.tag] = result;
    return results;
}

// One run: a seabed of its own (seed run + 1), its lines run on a heading of their own at a speed.
bool headsim_run(const std::string& headsim, int run, int range, int gain, int knots, long pings, Tally* tally,
                 std::vector<uint8_t>* samples)
{
    char address[32], truth_path[] = "/tmp/depth-bench-truth-XXXXXX";
    snprintf(address, sizeof address, "127.0.21.%d", 1 + run % 250);
    int truth_fd = mkstemp(truth_path);
    if (truth_fd < 0) return false;
    close(truth_fd);
    e2e::HeadSim head(address, {"--once", "--truth", truth_path, "--seed", std::to_string(run + 1), "--heading",
                                std::to_string(run * 67 % 360), "--knots", std::to_string(knots)},
                      headsim);
    if (!head.ready()) return false;
    bool fetched = fetch_pings(address, range, gain, pings, samples);
    head.stop();  // it keeps the truth of what it served
    std::vector<Truth> truths = read_truth(truth_path);
    unlink(truth_path);
    if (!fetched || truths.size() < static_cast<size_t>(pings)) return false;
    std::vector<DepthResult> results = pick_all(*samples, range);
    for (long ping = 0; ping < pings; ++ping) count(tally, &truths[ping], &results[ping]);
    return true;
}

// ---- harder pings of our own ------------------------------------------------------------------

enum Hardness { WEAK_SOFT_BOTTOM, STRONG_MULTIPLE, FISH_NEAR_BOTTOM, ALL_OF_THEM, DENSE_SCHOOLS };

uint32_t next_random(uint32_t* state)
{
    *state = *state * 1664525U + 1013904223U;
    return *state >> 8;
}
double random_unit(uint32_t* state) { return next_random(state) / 16777216.0; }

// An echo of our own shape: an exponential rise from its onset (a soft bottom rises slowly), then a fade.
void add_bump(double* level, double onset, double height, double rise, double fade)
{
    for (int k = onset > 0 ? static_cast<int>(onset) : 0; k < PING_SAMPLE_COUNT; ++k) {
        double j = k - onset;
        if (j < 0) continue;
        double value = height * (1 - std::exp(-j / rise)) * std::exp(-j / fade);
        if (value < 0.01 && j > 10 * rise) break;
        level[k] += value;
    }
}

// Noise that is not headsim's: near normal with interference spikes or, mixed,
// smoothed as a receiver of narrow bandwidth leaves it.
void add_noise(Hardness kind, uint32_t* state, double* level)
{
    double smoothed = 0;
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        if (kind == ALL_OF_THEM) {
            smoothed = 0.8 * smoothed + 0.2 * (random_unit(state) - 0.5);
            level[k] = 12 + 25 * smoothed;
        } else {
            level[k] = 9 + 3 * (random_unit(state) + random_unit(state) + random_unit(state) - 1.5);
        }
        if (random_unit(state) < 0.0005) level[k] += 60 * random_unit(state);  // interference spikes
    }
}

// A fish school in mid-water, as a ping without a bottom may show.
void add_school(double step, double top_m, uint32_t* state, double* level, Truth* truth)
{
    truth->school_top_m = top_m;
    truth->school_bottom_m = top_m + 2;
    for (int f = 0; f < 8; ++f) {
        add_bump(level, (top_m + 2 * random_unit(state)) / step, 40 + 150 * random_unit(state), 1.5, 3.0);
    }
}

// A school packed so densely that it echoes as one layer, in every other
// stretch of SCHOOL_STRETCH pings, each stretch's own: its top at 0.2 to 0.6 of
// the depth (every fourth at half, where the bottom would be its multiple),
// 0.3 to 2 m thick but clear of the bottom, and 0.3 to 1.5 times as strong as
// the bottom's echo at its mean.
constexpr long SCHOOL_STRETCH = 25;
void add_dense_school(long i, double step, double depth, uint32_t* state, double* level, Truth* truth)
{
    long stretch = i / SCHOOL_STRETCH;
    if (stretch % 2 == 0) return;
    uint32_t own = static_cast<uint32_t>(stretch) * 2654435761U;
    double top = depth * (stretch % 8 == 1 ? 0.5 : 0.2 + 0.4 * random_unit(&own));
    double thickness = 0.3 + 1.7 * random_unit(&own);
    if (top + thickness > depth - 0.5) thickness = depth - 0.5 - top;
    double height = 210 * (0.3 + 1.2 * random_unit(&own));
    truth->school_top_m = top;
    truth->school_bottom_m = top + thickness;
    for (double fish = top / step; fish < (top + thickness) / step; fish += 3) {
        add_bump(level, fish, height * (0.5 + random_unit(state)) / 2, 1.5, 3.0);
    }
}

// The bottom of a hard case at a depth, with its multiple and fish close above as the case has them.
void add_bottom(Hardness kind, long i, double step, double depth, uint32_t* state, double* level, Truth* truth)
{
    double onset = depth / step;
    bool weak = kind == WEAK_SOFT_BOTTOM || (kind == ALL_OF_THEM && i % 3 == 0);
    if (weak) {
        add_bump(level, onset, 14 + 8 * random_unit(state), 6.0, 400.0);
    } else {
        double height = 120 + 180 * random_unit(state);  // the strongest saturate
        add_bump(level, onset, height, 2.0, 80.0);
        double second = height * (0.7 + 0.4 * random_unit(state));
        if (kind != FISH_NEAR_BOTTOM) add_bump(level, 2 * onset + 0.3 / step, second, 3.0, 120.0);
    }
    if (kind == FISH_NEAR_BOTTOM || kind == ALL_OF_THEM) {
        int fish = 1 + static_cast<int>(next_random(state) % 4);
        truth->school_top_m = depth - 1.5;
        truth->school_bottom_m = depth - 0.1;
        for (int f = 0; f < fish; ++f) {
            double at = depth - 0.1 - 1.4 * random_unit(state);
            add_bump(level, at / step, 60 + 190 * random_unit(state), 1.5, 3.0);
        }
    }
}

// Ping i of a hard case: a bottom that wanders slowly; mixed, every fortieth
// ping starts three without a bottom (aerated water), with fish in one of them;
// with dense schools, every eighth stretch has none (beyond the range).
void hard_ping(Hardness kind, double range_m, long i, uint32_t* state, uint8_t* samples, Truth* truth)
{
    double level[PING_SAMPLE_COUNT];
    add_noise(kind, state, level);
    double step = range_m / PING_SAMPLE_COUNT;
    double share = 0.2 + 0.12 * (1 + std::sin(i / 170.0)) + 0.05 * std::sin(i / 23.0);
    double depth = range_m * share;
    *truth = Truth{true, depth, range_m, 0, 0};
    if (kind == ALL_OF_THEM && i % 40 < 3) {
        truth->has_bottom = false;
        if (i % 40 == 1) add_school(step, depth / 2, state, level, truth);
    } else if (kind == DENSE_SCHOOLS && i / SCHOOL_STRETCH % 8 == 7) {
        truth->has_bottom = false;
    } else {
        add_bottom(kind, i, step, depth, state, level, truth);
    }
    if (kind == DENSE_SCHOOLS) add_dense_school(i, step, depth, state, level, truth);
    for (int k = 0; k < PING_SAMPLE_COUNT; ++k) {
        double value = level[k];
        samples[k] = static_cast<uint8_t>(value > 255 ? 255 : value < 0 ? 0 : value);
    }
}

void hard_run(Hardness kind, double range_m, long pings, Tally* tally)
{
    std::vector<uint8_t> samples(static_cast<size_t>(pings) * PING_SAMPLE_COUNT);
    std::vector<Truth> truths(static_cast<size_t>(pings));
    uint32_t state = 12345U + static_cast<uint32_t>(kind) * 7919U + static_cast<uint32_t>(range_m);
    for (long i = 0; i < pings; ++i) hard_ping(kind, range_m, i, &state, &samples[i * PING_SAMPLE_COUNT], &truths[i]);
    std::vector<DepthResult> results = pick_all(samples, range_m);
    for (long i = 0; i < pings; ++i) count(tally, &truths[i], &results[i]);
}

// Pings a second through the whole picker, tracking included.
double picker_speed(const std::vector<uint8_t>& samples, double range_m)
{
    long pings = static_cast<long>(samples.size() / PING_SAMPLE_COUNT);
    long rounds = 0;
    double started = now_s(), elapsed = 0;
    while (elapsed < 2.0) {
        pick_all(samples, range_m);
        ++rounds;
        elapsed = now_s() - started;
    }
    return pings * rounds / elapsed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: depth_bench HEADSIM [PINGS_PER_RUN]\n");
        return 2;
    }
    std::string headsim = argv[1];
    long pings = argc > 2 ? atol(argv[2]) : 2000;
    const int ranges[] = {5, 20, 30, 60, 100};
    const int gains[] = {0, 10, 20};
    const int KNOTS[] = {4, 8, 16};  // survey speeds, and twice the fastest
    printf("Bottom picker on headsim's seabed (%ld pings a run; right: within %.1f%% of the range of the truth):\n",
           pings, 100 * RIGHT_SHARE);
    Tally total;
    std::vector<uint8_t> samples;
    int run = 0;
    for (int range : ranges) {
        for (int gain : gains) {
            Tally tally;
            int knots = KNOTS[run % 3];
            if (!headsim_run(headsim, run, range, gain, knots, pings, &tally, &samples)) {
                fprintf(stderr, "depth_bench: headsim run %d (range %d, gain %d) failed\n", run, range, gain);
                return 1;
            }
            char name[64];
            snprintf(name, sizeof name, "range %d m, gain %d, %d kn, seed %d", range, gain, knots, run + 1);
            print(name, &tally);
            add(&total, &tally);
            ++run;
        }
    }
    print("all of headsim's", &total);

    printf("Harder pings of our own (a bottom known, its model not headsim's):\n");
    const char* const names[] = {"weak soft bottom", "strong echo at twice depth", "fish close above bottom",
                                 "all, smoothed noise, gaps"};
    Tally hard_total;
    for (int kind = WEAK_SOFT_BOTTOM; kind <= ALL_OF_THEM; ++kind) {
        for (double range : {5.0, 30.0, 100.0}) {
            Tally tally;
            hard_run(static_cast<Hardness>(kind), range, pings, &tally);
            char name[64];
            snprintf(name, sizeof name, "%s, range %.0f m", names[kind], range);
            print(name, &tally);
            add(&hard_total, &tally);
        }
    }
    print("all the harder ones", &hard_total);

    printf("Dense schools (one echo 0.3 to 2 m thick, 0.3 to 1.5 times the bottom's, every fourth at half its depth) "
           "over a strong bottom and its multiple, and over none:\n");
    Tally school_total;
    for (double range : {5.0, 30.0, 100.0}) {
        Tally tally;
        hard_run(DENSE_SCHOOLS, range, pings, &tally);
        char name[64];
        snprintf(name, sizeof name, "dense schools, range %.0f m", range);
        print(name, &tally);
        add(&school_total, &tally);
    }
    print("all with dense schools", &school_total);

    printf("Speed: %.0f pings a second through the picker and tracker (one core)\n", picker_speed(samples, 100));
    return 0;
}
