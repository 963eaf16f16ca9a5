// Benchmark: qkvweb's live coverage over a day of pings. A day at 10 pings
// a second (864,000 depths) and 5 fixes a second, surveyed in lines of 2 km
// 25 m apart at 4 knots over a seabed that slopes and rolls, fed to the
// coverage as qkvweb feeds it (each depth once judged, the cells binned and
// copied for the pages at most every 2 s of the day's clock), each copy
// streamed to one page as /events sends it. Prints the CPU it took, as a
// share of a core over the day, the cells and their size at the end, the
// memory (the grid's tiles, the record, the peak resident set) and what a
// page is sent; asserts nothing.
//   coverage_bench [HOURS]
#include <sys/resource.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/qkvweb/web_texts.h"

namespace {

constexpr double LINE_M = 2000, SPACING_M = 25, SPEED_M_S = 2.06;
constexpr double LATITUDE = 51.1164, LONGITUDE = 1.3909;
constexpr double METRES_PER_DEGREE = 111320;

double cpu_seconds()
{
    timespec cpu;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return cpu.tv_sec + cpu.tv_nsec * 1e-9;
}

long peak_kib()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The vessel's place after t seconds of the lines, east and north in metres.
void place(double t, double* east, double* north)
{
    double run = t * SPEED_M_S;
    long line = static_cast<long>(run / (LINE_M + SPACING_M));
    double along = run - line * (LINE_M + SPACING_M);
    *east = line * SPACING_M + (along > LINE_M ? along - LINE_M : 0);
    double up = along < LINE_M ? along : LINE_M;
    *north = line % 2 == 0 ? up : LINE_M - up;
}

WebSurvey survey;  // the coverage within it, as qkvweb keeps it
char events[16 * 1024];

}  // namespace

int main(int argc, char** argv)
{
    double hours = argc > 1 ? atof(argv[1]) : 24;
    long before_kib = peak_kib();
    WebCoverage* coverage = &survey.coverage;
    coverage_start(coverage);
    WebCursor cursor;
    web_cursor_start(&cursor);
    const int64_t start_ms = 1796720400000LL;  // 2026-12-08 09:00 UTC
    long pings = static_cast<long>(hours * 36000), copies = 0;
    long long sent = 0;
    double cell_first = 0, started = cpu_seconds(), streaming = 0;
    for (long ping = 0; ping < pings; ++ping) {
        int64_t at_ms = start_ms + ping * 100;
        if (ping % 2 == 0) {
            double east, north;
            place(ping / 10.0, &east, &north);
            coverage_fix(coverage, at_ms, LATITUDE + north / METRES_PER_DEGREE,
                         LONGITUDE + east / (METRES_PER_DEGREE * std::cos(LATITUDE * M_PI / 180)));
        }
        double east, north;
        place((ping - 6) / 10.0, &east, &north);  // judged half a second late
        double depth = 12 + east / 400 + 1.5 * std::sin(north / 150) + 0.05 * std::sin(ping * 0.7);
        coverage_sounding(coverage, at_ms - 600, depth);
        if (!coverage_update(coverage, at_ms)) continue;
        ++copies;
        if (cell_first == 0) cell_first = coverage->cell_m;
        double streamed = cpu_seconds();
        for (size_t size; (size = web_stream_next(&survey, "{}", 1, &cursor, events, sizeof events)) > 0;) sent += size;
        streaming += cpu_seconds() - streamed;
    }
    double used = cpu_seconds() - started;
    const Grid* grid = &coverage->grid;
    double seconds = pings / 10.0;
    printf("coverage of %.0f h at 10 pings/s: %ld depths, %lld binned, %lld unplaced\n", hours, pings,
           static_cast<long long>(coverage->binned), static_cast<long long>(coverage->unplaced));
    printf("  cells at the end      %d of %g m (from %g m), %.2f to %.2f m; area %.1f km x %.1f km\n",
           coverage->cell_count, coverage->cell_m, cell_first, coverage->depth_min_m, coverage->depth_max_m,
           (seconds * SPEED_M_S / (LINE_M + SPACING_M)) * SPACING_M / 1000, LINE_M / 1000);
    printf("  CPU                   %.2f s: %.4f%% of a core over the day's %.0f s, %.2f us a depth; of it "
           "streaming the copies to a page %.2f s\n",
           used, 100 * used / seconds, seconds, 1e6 * used / pings, streaming);
    printf("  memory                tiles %ld (%.0f KiB, cap %ld KiB), the record %zu KiB, peak resident %ld KiB "
           "(%ld KiB before)\n",
           grid->tile_count, (grid->tile_count * sizeof(GridTile) + grid->slot_count * sizeof(int32_t)) / 1024.0,
           COVERAGE_MEMORY / 1024, sizeof(WebCoverage) / 1024, peak_kib(), before_kib);
    printf("  a page is sent        %ld copies, %.1f KiB each on average, %.2f KiB/s\n", copies,
           copies > 0 ? sent / 1024.0 / copies : 0.0, sent / 1024.0 / seconds);
    coverage_stop(coverage);
    return 0;
}
