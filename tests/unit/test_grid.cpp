// The grid of soundings: the cell a sounding falls in, each cell's figures,
// the memory cap, the UTM zone of a survey and the projection to it; and the
// files written, read back by GDAL's Python bindings, ogrinfo and gdalbuildvrt.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "grid/grid_file.h"
#include "grid/projection.h"
#include "grid/utm_zone.h"
#include "tests/unit/store_scratch_dir.h"

namespace {

// Lower and left edges in, upper and right out; IEEE's quotient decides; what has no place is refused.
TEST(GridCells, ASoundingFallsInTheCellThatHoldsIt)
{
    struct Case {
        const char* what;
        double cell_m, x, y;
        bool placed;
        int64_t column, row;
    } cases[] = {
        {"on a cell's lower left corner", 1, 3, 4, true, 3, 4},
        {"just inside its upper right corner", 1, 3.999999, 4.999999, true, 3, 4},
        {"on its upper and right edges: the next cells", 1, 4, 5, true, 4, 5},
        {"negative coordinates", 1, -0.5, -1, true, -1, -1},
        {"negative, 2 m cells", 2, -2, -4.0001, true, -1, -3},
        {"a southern UTM northing at 1 cm", 0.01, 500000.005, 9999999.995, true, 50000000, 999999999},
        {"0.3 / 0.1 is 2.9999999999999996 in IEEE double", 0.1, 0.3, 0.3, true, 2, 2},
        {"as far as a grid reaches", 1, -1073741823.5, 1073741823.5, true, -1073741824, 1073741823},
        {"beyond that", 1, 1073741824, 0, false, 0, 0},
        {"huge", 1, 1e300, 0, false, 0, 0},
        {"no longitude", 1, NAN, 0, false, 0, 0},
        {"an infinite northing", 1, 0, -INFINITY, false, 0, 0},
    };
    for (const Case& c : cases) {
        int64_t column = 0, row = 0;
        ASSERT_EQ(c.placed, grid_place(c.cell_m, c.x, c.y, &column, &row)) << c.what;
        if (!c.placed) continue;
        EXPECT_EQ(c.column, column) << c.what;
        EXPECT_EQ(c.row, row) << c.what;
        Grid grid;
        ASSERT_TRUE(grid_init(&grid, c.cell_m, GRID_MEMORY_DEFAULT));
        GridSounding sounding = {c.x, c.y, 5};
        grid_add(&grid, &sounding, 1);
        EXPECT_NE(nullptr, grid_cell(&grid, column, row)) << c.what;
        grid_free(&grid);
    }
    Grid grid;
    EXPECT_FALSE(grid_init(&grid, 0.001, GRID_MEMORY_DEFAULT)) << "below the smallest cell";
    EXPECT_FALSE(grid_init(&grid, NAN, GRID_MEMORY_DEFAULT));
}

// Figures worked by hand; refused depths counted and left out.
TEST(GridCells, EachCellsFigures)
{
    struct Case {
        const char* what;
        std::vector<double> depths;
        double mean;
        float shoalest;
        uint32_t count;
        double std;  // sample (n - 1)
        int64_t refused;
    } cases[] = {
        {"one sounding: no spread", {12.5}, 12.5, 12.5f, 1, NAN, 0},
        {"three", {10, 14, 12}, 12, 10, 3, 2, 0},
        {"drying heights above the reference", {-0.5, 0.5}, 0, -0.5f, 2, std::sqrt(0.5), 0},
        {"deep, a small spread a sum of squares would lose", {99999.001, 99999.002, 99999.003}, 99999.002,
         99999.001f, 3, 0.001, 0},
        {"no depth, infinite, beyond the limit", {NAN, 7, INFINITY, 1e6, -1e6, 9}, 8, 7, 2, std::sqrt(2.0), 4},
    };
    for (const Case& c : cases) {
        Grid grid;
        ASSERT_TRUE(grid_init(&grid, 1, GRID_MEMORY_DEFAULT));
        for (double depth : c.depths) {
            GridSounding sounding = {0.5, 0.5, depth};
            EXPECT_EQ(1, grid_add(&grid, &sounding, 1));
        }
        const GridCell* cell = grid_cell(&grid, 0, 0);
        ASSERT_NE(nullptr, cell) << c.what;
        EXPECT_NEAR(c.mean, cell->mean, 1e-9) << c.what;
        EXPECT_FLOAT_EQ(c.shoalest, cell->shoalest) << c.what;
        EXPECT_EQ(c.count, cell->count) << c.what;
        double std = grid_std(cell);
        EXPECT_TRUE(std::isnan(c.std) ? std::isnan(std) : std::fabs(c.std - std) < 1e-9) << c.what << ": " << std;
        EXPECT_EQ(c.refused, grid.refused_depth) << c.what;
        grid_free(&grid);
    }
}

// A tile a 16 x 16 block of cells, made when first touched; the cap refuses the next one and says what
// to try; coarsened, the grid takes the soundings it could not.
TEST(GridCells, TilesAreMadeAsTouchedUpToTheCap)
{
    Grid grid;
    ASSERT_TRUE(grid_init(&grid, 1, 2 * static_cast<long>(sizeof(GridTile) + 24)));
    static GridSounding same[GRID_BATCH];
    for (GridSounding& sounding : same) sounding = {3.5, 3.5, 10};
    for (int batch = 0; batch < 25; ++batch) grid_add(&grid, same, GRID_BATCH);
    EXPECT_EQ(1, grid.tile_count) << "102,400 soundings in one cell";
    GridSounding others[] = {{-0.5, 0, 9}, {16, 0, 8}, {17, 0, 7}};
    EXPECT_EQ(1, grid_add(&grid, others, 3)) << "the third tile is one too many";
    EXPECT_EQ(GRID_FULL, grid.status);
    EXPECT_EQ(2, grid.tile_count);
    EXPECT_EQ(0, grid_add(&grid, same, 1)) << "nothing more once full";
    char text[256];
    grid_full_text(&grid, text, sizeof text);
    EXPECT_NE(nullptr, strstr(text, "more than 2 tiles of 16 x 16 cells of 1 m")) << text;
    EXPECT_NE(nullptr, strstr(text, "cells of 2 m")) << text;
    ASSERT_EQ(GRID_OK, grid_coarsen(&grid));
    EXPECT_EQ(2, grid_add(&grid, others + 1, 2)) << "2 m cells: 16 and 17 m are in the first tile";
    EXPECT_EQ(102403, grid.binned);
    ASSERT_NE(nullptr, grid_cell(&grid, 8, 0));
    EXPECT_EQ(7, grid_cell(&grid, 8, 0)->shoalest);
    grid_free(&grid);
    // A grid of the largest cells, full, is not coarsened further: its status says so, and it stays whole.
    ASSERT_TRUE(grid_init(&grid, GRID_CELL_MAX_M * 0.6, 0));
    GridSounding apart[] = {{0, 0, 10}, {2e7, 2e7, 11}};
    EXPECT_EQ(1, grid_add(&grid, apart, 2));
    EXPECT_EQ(GRID_FULL, grid_coarsen(&grid));
    ASSERT_NE(nullptr, grid_cell(&grid, 0, 0));
    grid_full_text(&grid, text, sizeof text);
    EXPECT_NE(nullptr, strstr(text, "no cell is larger than 100000 m")) << text;
    grid_free(&grid);
}

// Coarsened, a grid is the grid binned at twice the cell from the start, over hundreds of tiles.
TEST(GridCells, CoarsenedAsIfBinnedAtTwiceTheCell)
{
    Grid fine, coarse;
    ASSERT_TRUE(grid_init(&fine, 1, GRID_MEMORY_DEFAULT));
    ASSERT_TRUE(grid_init(&coarse, 2, GRID_MEMORY_DEFAULT));
    uint32_t seed = 7;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1664525 + 1013904223;
        GridSounding sounding = {(seed % 4001) * 0.1 - 200, (seed >> 20) * 0.1 - 200, 5 + (seed >> 24) * 0.01};
        grid_add(&fine, &sounding, 1);
        grid_add(&coarse, &sounding, 1);
    }
    ASSERT_EQ(GRID_OK, grid_coarsen(&fine));
    EXPECT_EQ(2, fine.cell_m);
    for (int64_t row = -101; row <= 101; ++row) {
        for (int64_t column = -101; column <= 101; ++column) {
            const GridCell* want = grid_cell(&coarse, column, row);
            const GridCell* got = grid_cell(&fine, column, row);
            ASSERT_EQ(want == nullptr, got == nullptr) << column << " " << row;
            if (want == nullptr) continue;
            EXPECT_EQ(want->count, got->count);
            EXPECT_EQ(want->shoalest, got->shoalest);
            EXPECT_NEAR(want->mean, got->mean, 1e-9);
            EXPECT_NEAR(want->m2, got->m2, 1e-9);
        }
    }
    EXPECT_GT(coarse.tile_count, 100);
    grid_free(&fine);
    grid_free(&coarse);
}

// The zone of a position, with Norway's and Svalbard's, and the poles'; a survey's from its median.
TEST(GridZones, TheUtmZoneOfASurvey)
{
    struct Case {
        const char* what;
        double longitude, latitude;
        int epsg;  // 0: no position
    } cases[] = {
        {"Greenwich", 0, 51.5, 32631},
        {"just west of it", -0.0001, 51.5, 32630},
        {"the antimeridian, from the east", 180, 10, 32601},
        {"just west of it", 179.9999, 10, 32660},
        {"longitude given past 180", 183, 10, 32601},
        {"the southern hemisphere", 151.2, -33.9, 32756},
        {"on the equator: north", 151.2, 0, 32656},
        {"Bergen: zone 32 widened", 5.3, 60.4, 32632},
        {"west of 3 E there", 2.9, 60, 32631},
        {"south of 56 N", 5, 55.9, 32631},
        {"Svalbard, west of 9 E", 8.9, 78, 32631},
        {"Svalbard, 9 E", 9, 78, 32633},
        {"Svalbard, 21 E", 21, 78, 32635},
        {"Svalbard, 33 E to 42 E", 41.9, 84, 32637},
        {"Svalbard's latitudes, east of 42 E", 42, 78, 32638},
        {"south of Svalbard's", 10, 71.9, 32632},
        {"north of 84 N: polar", 10, 84.01, 32661},
        {"south of 80 S: polar", 10, -80.01, 32761},
        {"no longitude", NAN, 50, 0},
        {"no latitude", 3, 91, 0},
    };
    for (const Case& c : cases) {
        UtmZone zone = {};
        ASSERT_EQ(c.epsg != 0, utm_zone_of(c.longitude, c.latitude, &zone)) << c.what;
        EXPECT_EQ(c.epsg, c.epsg != 0 ? zone.epsg : 0) << c.what;
    }
    struct Survey {
        const char* what;
        std::vector<double> longitudes;
        int epsg;
    } surveys[] = {
        {"across 3 E, most of it west", {2.99, 3.01, 2.98, 2.97, 3.02}, 32631},
        {"across the antimeridian, most of it east", {179.9, -179.9, 179.8, 179.95, -179.8}, 32660},
        {"the first positions missing", {NAN, NAN, 9.5}, 32632},
        {"none", {NAN}, 0},
    };
    for (const Survey& survey : surveys) {
        std::vector<GridSounding> soundings;
        for (double longitude : survey.longitudes) soundings.push_back({longitude, 51, 5});
        UtmZone zone = {};
        ASSERT_EQ(survey.epsg != 0, utm_zone_of_soundings(soundings.data(), static_cast<int>(soundings.size()), &zone))
            << survey.what;
        EXPECT_EQ(survey.epsg, survey.epsg != 0 ? zone.epsg : 0) << survey.what;
    }
}

// Projected systems in metres open, whatever names them; others are refused with the reason.
TEST(GridProjection, ProjectedSystemsInMetresOnly)
{
    struct Case {
        const char* crs;
        const char* said;  // in the name, or in the reason where it does not open
        bool opens;
        double longitude, latitude, x, y;  // one position and where it lands
    } cases[] = {
        {"EPSG:32631", "WGS 84 / UTM zone 31N (EPSG:32631)", true, 3, 0, 500000, 0},
        {"32631", "UTM zone 31N", true, 3, 0, 500000, 0},
        {"+proj=utm +zone=31 +datum=WGS84 +type=crs", "unknown", true, 3, 0, 500000, 0},
        {"EPSG:32631+5773", "UTM zone 31N", true, 3, 0, 500000, 0},
        {"EPSG:3857", "Pseudo-Mercator", true, 1, 0, 6378137 * M_PI / 180, 0},
        {"EPSG:4326", "not a projected coordinate system", false, 0, 0, 0, 0},
        {"EPSG:2227", "US survey foot", false, 0, 0, 0, 0},
        {"EPSG:99999999", "PROJ does not know", false, 0, 0, 0, 0},
        {"+proj=utm +zone=31", "not a coordinate system", false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Projection projection;
        ASSERT_EQ(c.opens, projection_open_crs(&projection, c.crs)) << c.crs << ": " << projection.reason;
        EXPECT_NE(nullptr, strstr(c.opens ? projection.name : projection.reason, c.said))
            << c.crs << ": " << projection.name << projection.reason;
        if (!c.opens) continue;
        GridSounding soundings[] = {{c.longitude, c.latitude, 1}, {NAN, 10, 1}, {3, 91, 1}};
        projection_forward(&projection, soundings, 3);
        EXPECT_NEAR(c.x, soundings[0].x, 1e-6) << c.crs;
        EXPECT_NEAR(c.y, soundings[0].y, 1e-6) << c.crs;
        EXPECT_FALSE(std::isfinite(soundings[1].x) && std::isfinite(soundings[2].y)) << c.crs;
        projection_close(&projection);
    }
    Projection projection;
    UtmZone zone = {32, true, 32632};
    ASSERT_TRUE(projection_open_utm(&projection, &zone));
    EXPECT_STREQ("WGS 84 / UTM zone 32N (EPSG:32632), the zone of the soundings' median position", projection.name);
    projection_close(&projection);
}

class GridFiles : public StoreScratchDir {
protected:
    void SetUp() override
    {
        StoreScratchDir::SetUp();
        ASSERT_TRUE(projection_open_crs(&utm_, "EPSG:32631"));
        ASSERT_TRUE(projection_open_crs(&mercator_, "EPSG:3857"));
    }
    void TearDown() override
    {
        projection_close(&utm_);
        projection_close(&mercator_);
        StoreScratchDir::TearDown();
    }

    static std::string output_of(const std::string& command)
    {
        std::string text;
        FILE* pipe = popen((command + " 2>&1").c_str(), "r");
        char chunk[4096];
        size_t got;
        while (pipe != nullptr && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
        if (pipe != nullptr) pclose(pipe);
        return text;
    }

    // What GDAL's Python bindings read of a raster, a line each.
    static std::string raster(const char* path)
    {
        FILE* script = fopen("read.py", "w");
        fputs("import sys\nfrom osgeo import gdal\ngdal.UseExceptions()\nd = gdal.Open(sys.argv[1])\n"
              "c = d.GetSpatialRef()\n"
              "print('size', d.RasterXSize, d.RasterYSize, c.GetName(), c.GetAuthorityCode('PROJCS'))\n"
              "print('geotransform', *('%g' % v for v in d.GetGeoTransform()))\n"
              "for i in range(1, d.RasterCount + 1):\n"
              "    b = d.GetRasterBand(i)\n"
              "    print(b.GetDescription(), b.GetNoDataValue(), *('%g' % v for v in b.ReadAsArray().flatten()))\n"
              "m = d.GetMetadata()\n"
              "print(m.get('DEPTH_REFERENCE'), m.get('DEPTH_POSITIVE'), d.GetMetadata('IMAGE_STRUCTURE').get('LAYOUT'))\n",
              script);
        fclose(script);
        return output_of(std::string("/usr/bin/python3 read.py ") + path);
    }

    Grid grid_of(double cell_m, const std::vector<GridSounding>& soundings)
    {
        Grid grid;
        EXPECT_TRUE(grid_init(&grid, cell_m, GRID_MEMORY_DEFAULT));
        grid_add(&grid, soundings.data(), static_cast<int>(soundings.size()));
        return grid;
    }

    Projection utm_, mercator_;
};

// The bands, their names, no-data, the system, the geotransform and the depths' reference, read back by GDAL.
TEST_F(GridFiles, AGridReadBackAsWritten)
{
    Grid grid = grid_of(2, {{100, 200, 10}, {101.9, 201.9, 12}, {104, 202, 7.5}});
    GridDescription description = {utm_.wkt, "chart datum \"LAT\" & <local>", "test 1", nullptr, nullptr};
    struct Case {
        const char* out;
        std::string want;
    } cases[] = {
        {"day.tif", "size 3 2 WGS 84 / UTM zone 31N 32631\n"
                    "geotransform 100 2 0 204 0 -2\n"
                    "mean nan nan nan 7.5 11 nan nan\n"
                    "shoalest nan nan nan 7.5 10 nan nan\n"
                    "count nan nan nan 1 2 nan nan\n"
                    "std nan nan nan nan 1.41421 nan nan\n"
                    "chart datum \"LAT\" & <local> down COG\n"},
        {"day.BAG", "size 3 2 WGS 84 / UTM zone 31N + chart datum 'LAT' & <local> 32631\n"
                    "geotransform 100 2 0 204 0 -2\n"
                    "elevation 1000000.0 1e+06 1e+06 -7.5 -11 1e+06 1e+06\n"
                    "uncertainty 1000000.0 1e+06 1e+06 1e+06 1.41421 1e+06 1e+06\n"
                    "None None None\n"},
    };
    for (const Case& c : cases) {
        std::string written = std::string(c.out) + ".1-0.tmp";  // as the caller makes it beside OUT, to move it there
        touch(written.c_str());
        char reason[GRIDFILE_REASON_SIZE];
        ASSERT_TRUE(gridfile_write(&grid, &description, gridfile_format_of(c.out), written.c_str(), reason)) << reason;
        ASSERT_EQ(0, rename(written.c_str(), c.out));
        EXPECT_EQ(c.want, raster(c.out)) << c.out;
    }
    EXPECT_EQ("day.BAG\nday.tif\nread.py\n", listing()) << "nothing left beside them";
    grid_free(&grid);
}

// Two days' grids overlapping mosaic cell for cell: the later day's cells over the earlier's.
TEST_F(GridFiles, TwoDaysMosaicWithGdalbuildvrt)
{
    Grid first = grid_of(1, {{0.5, 0.5, 1}, {2.5, 1.5, 2}});
    Grid second = grid_of(1, {{2.2, 1.9, 7}, {3.5, 2.5, 8}});
    GridDescription description = {utm_.wkt, "water surface", "test 1", nullptr, nullptr};
    char reason[GRIDFILE_REASON_SIZE];
    ASSERT_TRUE(gridfile_write(&first, &description, GRIDFILE_COG, "first.tif", reason)) << reason;
    ASSERT_TRUE(gridfile_write(&second, &description, GRIDFILE_COG, "second.tif", reason)) << reason;
    std::string said = output_of("gdalbuildvrt -q both.vrt first.tif second.tif");
    EXPECT_EQ("", said);
    std::string read = raster("both.vrt");
    EXPECT_NE(std::string::npos, read.find("size 4 3 WGS 84 / UTM zone 31N 32631\ngeotransform 0 1 0 3 0 -1\n"
                                           " nan nan nan nan 8 nan nan 7 nan 1 nan nan nan\n"))
        << read;
    grid_free(&first);
    grid_free(&second);
}

struct Box {
    double west, south, east, north;  // metres of the Mercator grid
};

// The contour lines of a known surface where they must lie, in WGS 84, read by ogrinfo.
TEST_F(GridFiles, ContoursOfKnownSurfacesWhereTheyMustLie)
{
    std::vector<GridSounding> slope, shoal;  // depths rising east from 0.5 m; flat 10 m with one sounding at 4 m
    for (int row = 0; row < 10; ++row) {
        for (int column = 0; column < 10; ++column) {
            if (row < 5) slope.push_back({1000 + column + 0.5, row + 0.5, column + 0.5});
            shoal.push_back({1000 + column + 0.5, row + 0.5, 10});
        }
    }
    shoal.push_back({1004.95, 4.95, 4});
    const double two_five[] = {5, 2};
    struct Line {
        double depth;
        Box inner, outer;  // the line's bounds hold the first and lie within the second (GDAL's lines run
                           // on half a cell past the last corner with a depth)
    };
    struct Case {
        const char* what;
        const std::vector<GridSounding>* soundings;
        ContourLevels levels;
        const char* out;
        std::vector<Line> lines;
    } cases[] = {
        {"a slope: each line half a cell to the deep side", &slope, {0, two_five, 2}, "slope.geojson",
         {{2, {1002.5, -0.5, 1002.5, 5.5}, {1002.5, -0.5, 1002.5, 5.5}},
          {5, {1005.5, -0.5, 1005.5, 5.5}, {1005.5, -0.5, 1005.5, 5.5}}}},
        {"the same as a GeoPackage", &slope, {0, two_five, 2}, "slope.gpkg",
         {{2, {1002.5, -0.5, 1002.5, 5.5}, {1002.5, -0.5, 1002.5, 5.5}},
          {5, {1005.5, -0.5, 1005.5, 5.5}, {1005.5, -0.5, 1005.5, 5.5}}}},
        {"every 4 m", &slope, {4, nullptr, 0}, "every4.geojson",
         {{4, {1004.5, -0.5, 1004.5, 5.5}, {1004.5, -0.5, 1004.5, 5.5}},
          {8, {1008.5, -0.5, 1008.5, 5.5}, {1008.5, -0.5, 1008.5, 5.5}}}},
        {"a shoal sounding at its cell's corner: the line round the whole cell", &shoal, {0, two_five + 0, 1},
         "shoal.geojson", {{5, {1004, 4, 1005, 5}, {1003, 3, 1006, 6}}}},
    };
    const double R = 6378137, DEGREE = M_PI / 180, CM = 2e-7;  // a GeoJSON position's 7 decimals
    for (const Case& c : cases) {
        Grid grid = grid_of(1, *c.soundings);
        GridDescription description = {mercator_.wkt, "water surface", "test 1", nullptr, nullptr};
        char reason[GRIDFILE_REASON_SIZE];
        touch(c.out);
        ASSERT_TRUE(contour_write(&grid, &description, &c.levels, contour_format_of(c.out), c.out, reason)) << reason;
        grid_free(&grid);
        std::string listed = output_of(std::string("ogrinfo -ro -al -q ") + c.out);
        size_t at = 0;
        for (const Line& line : c.lines) {
            char depth[96];
            snprintf(depth, sizeof depth, "depth (Real) = %g\n  depth_reference (String) = water surface", line.depth);
            at = listed.find(depth, at);
            ASSERT_NE(std::string::npos, at) << c.what << ": no line of " << line.depth << " m\n" << listed;
            at = listed.find("LINESTRING (", at) + 12;
            double west = 180, south = 90, east = -180, north = -90, lon, lat;
            int used = 0;
            while (sscanf(listed.c_str() + at, "%lf %lf%n", &lon, &lat, &used) == 2) {
                west = std::min(west, lon), east = std::max(east, lon);
                south = std::min(south, lat), north = std::max(north, lat);
                at += used + (listed[at + used] == ',' ? 1 : 0);
            }
            auto lon_of = [&](double x) { return x / R / DEGREE; };
            auto lat_of = [&](double y) { return atan(sinh(y / R)) / DEGREE; };
            EXPECT_TRUE(west <= lon_of(line.inner.west) + CM && east >= lon_of(line.inner.east) - CM &&
                        south <= lat_of(line.inner.south) + CM && north >= lat_of(line.inner.north) - CM &&
                        west >= lon_of(line.outer.west) - CM && east <= lon_of(line.outer.east) + CM &&
                        south >= lat_of(line.outer.south) - CM && north <= lat_of(line.outer.north) + CM)
                << c.what << ", " << line.depth << " m: " << west << " " << south << " " << east << " " << north;
        }
        EXPECT_EQ(std::string::npos, listed.find("depth (Real)", at)) << c.what << ": more lines\n" << listed;
    }
}

// What cannot be written is refused with the reason, and nothing claims success.
TEST_F(GridFiles, RefusedWithTheReason)
{
    GridDescription stopped = {utm_.wkt, "water surface", "test 1", [](void*) { return false; }, nullptr};
    GridDescription fine = {utm_.wkt, "water surface", "test 1", nullptr, nullptr};
    GridDescription unknown = {"PROJCS[\"nowhere\"", "water surface", "test 1", nullptr, nullptr};
    const double none[] = {NAN};
    struct Case {
        const char* what;
        std::vector<GridSounding> soundings;
        const GridDescription* description;
        ContourLevels levels;  // interval -1: a grid file
        const char* said;
        const char* path = nullptr;  // where it is written, when not here
        GridFileFormat format = GRIDFILE_COG;
        rlim_t limit = RLIM_INFINITY;  // the bytes a file may have: a full disk past them
    } cases[] = {
        {"no sounding", {{NAN, 0, 5}}, &fine, {-1, nullptr, 0}, "no sounding to grid"},
        {"a system GDAL cannot read", {{0, 0, 5}}, &unknown, {-1, nullptr, 0}, "coordinate system"},
        {"a directory that is not there", {{0, 0, 5}}, &fine, {-1, nullptr, 0}, "GDAL: ", "gone/refused.tif"},
        {"contours into one", {{0, 0, 5}, {1, 0, 6}}, &fine, {1, nullptr, 0}, "No such file", "gone/refused.geojson"},
        // HDF5 fails as it closes the BAG, GDAL's GeoJSON writer as it writes: neither tells GDAL's caller.
        {"a BAG on a full disk", {{0, 0, 5}}, &fine, {-1, nullptr, 0}, "HDF5: ", "full.bag", GRIDFILE_BAG, 4096},
        {"contours on a full disk", {{0, 0, 5}, {1, 0, 6}}, &fine, {1, nullptr, 0}, "File too large", nullptr,
         GRIDFILE_COG, 256},
        {"an extent past the limit", {{0, 0, 5}, {20000, 20000, 5}}, &fine, {-1, nullptr, 0},
         "more than the 268435456 cells a grid file may have; cells of 1.23 m or more fit"},
        {"stopped half-way", {{0, 0, 5}}, &stopped, {-1, nullptr, 0}, "stopped before"},
        {"contours stopped half-way", {{0, 0, 5}, {1, 0, 6}}, &stopped, {1, nullptr, 0}, "stopped before"},
        {"a negative interval", {{0, 0, 5}}, &fine, {-2, nullptr, 0}, "positive number"},
        {"too many contours", {{0, 0, 5}, {1, 0, 105}}, &fine, {0.1, nullptr, 0}, "1001 contours"},
        {"an interval too fine to count, a flat grid", {{0, 0, 20.5}}, &fine, {1e-15, nullptr, 0}, "too fine"},
        {"an interval too fine for any number", {{0, 0, 20.5}}, &fine, {5e-324, nullptr, 0}, "too fine"},
        {"no depths", {{0, 0, 5}}, &fine, {0, nullptr, 0}, "1 to 256"},
        {"a depth that is none", {{0, 0, 5}}, &fine, {0, none, 1}, "1 to 256"},
    };
    struct rlimit unlimited;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &unlimited));
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &before));  // a write past the limit fails as on a full disk
    for (const Case& c : cases) {
        Grid grid = grid_of(1, c.soundings);
        char reason[GRIDFILE_REASON_SIZE] = "";
        bool file = c.levels.interval == -1;
        const char* path = c.path != nullptr ? c.path : file ? "refused.tif" : "refused.geojson";
        struct rlimit limited = unlimited;
        limited.rlim_cur = c.limit;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
        bool written = file ? gridfile_write(&grid, c.description, c.format, path, reason)
                            : contour_write(&grid, c.description, &c.levels, CONTOUR_GEOJSON, path, reason);
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &unlimited));
        EXPECT_FALSE(written) << c.what;
        EXPECT_NE(nullptr, strstr(reason, c.said)) << c.what << ": " << reason;
        grid_free(&grid);
    }
    EXPECT_EQ(0, sigaction(SIGXFSZ, &before, nullptr));
}

}  // namespace
