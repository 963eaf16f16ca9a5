// qkvmap's picture read back with PIL (check_map.py), of a grid and contours
// made there with GDAL, and what it refuses to draw or to write over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const std::string CHECKER = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/check_map.py";

int qkvmap_with(const std::vector<std::string>& arguments, std::string* output)
{
    std::string command = QKVMAP;
    for (const std::string& argument : arguments) command += " " + in_quotes(argument);
    return run_command(command, output);
}

// The depths in the ramp's colours where the grid has them and white where not, the contour along its place,
// the legend and a scale bar of a round number of metres; drawn again over its own picture.
TEST(Map, GridDrawnWithItsContours)
{
    TempDir dir;
    std::string said, png = dir.file("map.png");
    ASSERT_EQ(0, run_command("/usr/bin/python3 " + in_quotes(CHECKER) + " make " + in_quotes(dir.path()), &said))
        << said;
    for (int time = 0; time < 2; ++time) {
        said.clear();
        ASSERT_EQ(0, qkvmap_with({dir.file("grid.tif"), "--contours", dir.file("contours.geojson"), "-o", png}, &said))
            << said;
        EXPECT_EQ(0u, said.find(png + ": 1074 x 555 pixels, the shoalest depths of ")) << said;
        said.clear();
        EXPECT_EQ(0, run_command("/usr/bin/python3 " + in_quotes(CHECKER) + " check " + in_quotes(png) + " " +
                                     in_quotes(dir.file("grid.tif")), &said))
            << said;
    }
    // Contours of depths the grid does not reach: GDAL's GeoJSON of no line, which names no field.
    write_file(dir.file("none.geojson"),
               "{\"type\": \"FeatureCollection\", \"name\": \"contours\", \"features\": []}\n");
    said.clear();
    EXPECT_EQ(0, qkvmap_with({dir.file("grid.tif"), "--contours", dir.file("none.geojson"), "-o", png}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find(" 0 contour lines")) << said;
    EXPECT_EQ(4u, list_dir(dir.path()).size()) << "nothing beside the picture";
}

// What cannot be drawn fails with status 1, an OUT that may not be written is refused with status 2, before
// anything is read; either way OUT is left as it was and nothing is left beside it.
TEST(Map, Refused)
{
    TempDir dir;
    std::string said, out = dir.file("out.png");
    ASSERT_EQ(0, run_command("/usr/bin/python3 " + in_quotes(CHECKER) + " make " + in_quotes(dir.path()), &said))
        << said;
    std::string grid = dir.file("grid.tif"), lines = dir.file("contours.geojson");
    ASSERT_EQ(0, run_command("gdal_translate -q -b 1 " + in_quotes(grid) + " " + in_quotes(dir.file("one.tif")) +
                                 " && gdal_translate -q -a_srs EPSG:4326 -a_ullr 2 52 3 51 " + in_quotes(grid) + " " +
                                 in_quotes(dir.file("degrees.tif")), &said))
        << said;
    write_file(dir.file("lines.geojson"), replaced(read_file(lines), "\"depth\"", "\"level\""));
    write_file(dir.file("notes.txt"), "a survey's notes\n");
    const std::string grid_before = read_file(grid);
    struct Case {
        std::vector<std::string> arguments;
        std::string said;
        int status;
    } cases[] = {
        {{dir.file("gone.tif"), "-o", out}, "qkvmap: " + dir.file("gone.tif") + ": cannot draw: ", 1},
        {{dir.file("one.tif"), "-o", out},
         "qkvmap: " + dir.file("one.tif") + ": cannot draw: it has no band named shoalest (a grid of qkvdump --grid "
                                           "has mean, shoalest, count and std)\n", 1},
        {{dir.file("degrees.tif"), "-o", out},
         "qkvmap: " + dir.file("degrees.tif") + ": cannot draw: its coordinate system is not projected: no metres\n",
         1},
        {{grid, "--contours", dir.file("lines.geojson"), "-o", out},
         "qkvmap: " + grid + ": cannot draw: --contours " + dir.file("lines.geojson") +
             ": it has no layer with a depth field\n", 1},
        {{grid, "-o", grid}, "qkvmap: -o " + grid + " is " + grid + ", a file to read: not drawing the map over it\n",
         2},
        {{grid, "--contours", lines, "-o", lines},
         "qkvmap: -o " + lines + " is " + lines + ", a file to read: not drawing the map over it\n", 2},
        {{grid, "-o", dir.file("notes.txt")},
         "qkvmap: -o " + dir.file("notes.txt") + " is no PNG picture: not drawing the map over it\n", 2},
        {{grid, "-o", dir.path()}, "qkvmap: -o " + dir.path() + " is a directory or a disk: not drawing the map over it\n",
         2},
        {{grid, "-o", dir.file("10DEC2026.NAV")},
         "qkvmap: -o " + dir.file("10DEC2026.NAV") + " is named as a navigation log: not drawing the map there\n", 2},
        {{grid, "--band", "deepest", "-o", out}, "qkvmap: --band must be shoalest or mean, not \"deepest\"\n", 2},
        {{grid}, "qkvmap: -o OUT is missing\n", 2},
    };
    for (const Case& c : cases) {
        said.clear();
        EXPECT_EQ(c.status, qkvmap_with(c.arguments, &said)) << c.said;
        EXPECT_EQ(0u, said.find(c.said)) << said;
        EXPECT_FALSE(file_exists(out)) << c.said;
    }
    EXPECT_TRUE(grid_before == read_file(grid) && read_file(dir.file("notes.txt")) == "a survey's notes\n");
    EXPECT_EQ(6u, list_dir(dir.path()).size()) << "nothing left beside the OUTs";
}

}  // namespace
