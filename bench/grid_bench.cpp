// Benchmark: a grid of soundings made and written, as qkvdump --grid makes
// it. --make writes a survey's soundings as qkvdump --xyz writes them
// (longitude, latitude, depth; 100 lines of 1 km, 5 m apart, 10,000 soundings
// each, weaving a little); without it the soundings of XYZ are read in
// batches, projected to the UTM zone of their median position, binned into
// cells of CELL metres and written to OUT (a GeoTIFF, or a BAG for .bag).
// Prints the CPU and wall time of each stage, reading apart, and the peak
// memory; asserts nothing.
//   grid_bench --make XYZ [SOUNDINGS]
//   grid_bench XYZ OUT [CELL]
#include <sys/resource.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "grid/grid.h"
#include "grid/grid_file.h"
#include "grid/projection.h"

namespace {

struct Clock {
    double cpu;
    double wall;
};

Clock now()
{
    timespec cpu, wall;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    clock_gettime(CLOCK_MONOTONIC, &wall);
    return {cpu.tv_sec + cpu.tv_nsec * 1e-9, wall.tv_sec + wall.tv_nsec * 1e-9};
}

// Adds the time since from to the stage.
void take(Clock* stage, Clock from)
{
    Clock to = now();
    stage->cpu += to.cpu - from.cpu;
    stage->wall += to.wall - from.wall;
}

int make(const char* path, long soundings)
{
    FILE* out = fopen(path, "w");
    if (out == nullptr) return 1;
    const double longitude = 1.39, latitude = 51.12, degree = M_PI / 180;
    for (long i = 0; i < soundings; ++i) {
        long line = i / 10000;
        double along = (i % 10000) * 0.1;
        double across = line * 5 + 2 * sin(along / 50);
        if (line % 2 == 1) along = 1000 - along;
        double depth = 10 + along / 100 + across / 200 + 0.05 * sin(i * 0.7);
        fprintf(out, "%.7f %.7f %.3f\n", longitude + across / (111320 * cos(latitude * degree)),
                latitude + along / 110540, depth);
    }
    return fclose(out) == 0 ? 0 : 1;
}

// Up to a batch of soundings from the file; 0 at its end.
int read_batch(FILE* in, GridSounding* batch)
{
    int count = 0;
    while (count < GRID_BATCH &&
           fscanf(in, "%lf %lf %lf", &batch[count].x, &batch[count].y, &batch[count].depth) == 3) {
        ++count;
    }
    return count;
}

void show(const char* stage, Clock clock)
{
    printf("  %-34s %6.3f s CPU, %6.3f s wall\n", stage, clock.cpu, clock.wall);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[1], "--make") == 0) return make(argv[2], argc > 3 ? atol(argv[3]) : 1000000);
    if (argc < 3) {
        fprintf(stderr, "usage: grid_bench --make XYZ [SOUNDINGS] | grid_bench XYZ OUT [CELL]\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "r");
    double cell_m = argc > 3 ? atof(argv[3]) : 1;
    Grid grid;
    if (in == nullptr || !grid_init(&grid, cell_m, GRID_MEMORY_DEFAULT)) return 1;
    static GridSounding batch[GRID_BATCH];
    Clock reading = {}, projecting = {}, binning = {}, writing = {};
    Projection projection = {};
    bool projected = false;
    for (;;) {
        Clock start = now();
        int count = read_batch(in, batch);
        take(&reading, start);
        if (count == 0) break;
        start = now();
        UtmZone zone;
        if (!projected && utm_zone_of_soundings(batch, count, &zone)) {
            projected = projection_open_utm(&projection, &zone);
            if (!projected) fprintf(stderr, "grid_bench: %s\n", projection.reason);
        }
        if (projected) projection_forward(&projection, batch, count);
        take(&projecting, start);
        start = now();
        if (projected) grid_add(&grid, batch, count);
        if (grid.status != GRID_OK) break;
        take(&binning, start);
    }
    fclose(in);
    Clock start = now();
    char reason[GRIDFILE_REASON_SIZE] = "";
    GridDescription description = {projection.wkt, "water surface", "grid_bench", nullptr, nullptr};
    bool written = grid.status == GRID_OK && projected &&
                   gridfile_write(&grid, &description, gridfile_format_of(argv[2]), argv[2], reason);
    take(&writing, start);
    if (!written) {
        grid_full_text(&grid, reason + strlen(reason), sizeof reason - strlen(reason));
        fprintf(stderr, "grid_bench: %s\n", reason);
        return 1;
    }
    GridExtent extent;
    grid_extent(&grid, &extent);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("  %lld soundings into %lld cells of %g m (%lld x %lld), %s\n", static_cast<long long>(grid.binned),
           static_cast<long long>(extent.cells), cell_m, static_cast<long long>(extent.width),
           static_cast<long long>(extent.height), projection.name);
    show("reading the XYZ (qkvdump's, apart)", reading);
    show("projecting (PROJ)", projecting);
    show("binning", binning);
    show("writing (GDAL)", writing);
    Clock gridding = {projecting.cpu + binning.cpu + writing.cpu, projecting.wall + binning.wall + writing.wall};
    show("gridding: the three together", gridding);
    printf("  %-34s %6.1f MB, the grid's tiles %.1f MB\n", "peak memory", usage.ru_maxrss / 1024.0,
           grid.tile_count * sizeof(GridTile) / 1048576.0);
    projection_close(&projection);
    grid_free(&grid);
    return 0;
}
