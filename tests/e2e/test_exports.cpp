// qkvdump's exports read back by the field's own readers (pandas, Python's
// json, GDAL's ogrinfo, ncdump, netCDF4 and xarray, in check_exports.py):
// positions from a .NAV file navlog logged beside the program while headsim
// played a vessel's track, and netCDF files of made-up recordings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "navfile/nmea.h"
#include "store/record.h"
#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const std::string CHECKER = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/check_exports.py";

// The checker's verdict: "ok" and what it counted with status 0, or what differs.
std::string check(const std::string& arguments)
{
    std::string output;
    int status = run_command("/usr/bin/python3 '" + CHECKER + "' " + arguments, &output);
    return status == 0 ? output : "status " + std::to_string(status) + ": " + output;
}

// A record of the given local date and time, gain, range code and interval, its data bytes from seed.
std::string record_of(const char* date, const char* time, const char* hundredths, int gain, int range_field,
                      int interval_ms, int seed)
{
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) image[PING_IMAGE_SAMPLES + i] = static_cast<uint8_t>(i * seed + seed);
    image[PING_IMAGE_SAMPLES] = 255;
    image[PING_IMAGE_SAMPLES + 1] = 0;
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    RecordFields fields = {date, time, hundredths, gain, range_field * 10, interval_ms, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<const char*>(record), RECORD_SIZE);
}

// navlog logs headsim's track over loopback UDP while the program records headsim's pings; the pings' UTC times
// and positions in the CSV, the GeoJSON track and the netCDF file are those the .NAV lines give.
TEST(Exports, PositionsFromNavlogBesideTheProgram)
{
    TempDir dir;
    std::string why, nav = survey_with_navlog(dir, "127.77.20.1", 47120, {"--delay-ms", "4", "--nmea-rate", "10",
                                              "--fault", "close@321"}, "Range=40\nGain=7\n", 6, 20000, &why);
    ASSERT_EQ("", why);
    std::vector<std::string> files = data_files(dir.path());
    ASSERT_EQ(1u, files.size());
    std::string data = dir.file(files[0]);
    ASSERT_EQ(40u * RECORD_SIZE, read_file(data).size());

    // The depths of headsim's seabed too, below the surface for a transducer 0.4 m deep: every export gives the CSV's.
    // Soundings under a name of 252 characters (the new file beside it must fit beside it), and the VRT beside
    // them that GDAL opens as the README says. Every output at once, the picture too.
    std::string csv = dir.file("pings.csv"), track = dir.file("track.geojson"), nc = dir.file("pings.nc");
    std::string soundings = std::string(248, 's'), xyz = dir.file(soundings + ".xyz"), said;
    ASSERT_EQ(0, run_command("(" + std::string(QKVDUMP) + " --csv --depth --draft 0.4 --nav " + in_quotes(nav) + " " +
                                 in_quotes(data) + " > " + in_quotes(csv) + ")", &said)) << said;
    EXPECT_EQ("ok 40 of 40 pings located\n", check("csv " + in_quotes(csv) + " " + in_quotes(nav)));

    ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--geojson", track, "--netcdf", nc, "--depth", "--draft=0.4", "--xyz", xyz,
                               "--png", dir.file("pings.png"), data}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("track.geojson: 40 pings with a position\n")) << said;
    EXPECT_EQ("ok 40 features\n", check("geojson " + in_quotes(track) + " " + in_quotes(csv)));
    EXPECT_EQ("ok 40 pings\n", check("netcdf " + in_quotes(nc) + " nav:" + in_quotes(csv) + " " + in_quotes(data)));
    EXPECT_EQ(0u, check("xyz " + in_quotes(xyz) + " " + in_quotes(csv)).find("ok ")) << read_file(xyz);
    std::string ogrinfo;
    EXPECT_EQ(0, run_command("ogrinfo -ro -al -so " + in_quotes(track), &ogrinfo));
    EXPECT_NE(std::string::npos, ogrinfo.find("Geometry: Point\nFeature Count: 40\n")) << ogrinfo;
    EXPECT_NE(std::string::npos, ogrinfo.find("time_utc: DateTime")) << ogrinfo;
    std::string vrt = soundings + ".vrt", grid;
    EXPECT_NE(std::string::npos, said.find(vrt + ": the soundings as a layer for GDAL and QGIS\n")) << said;
    ASSERT_EQ(0, run_command("cd '" + dir.path() + "' && ogrinfo -ro -al -so " + vrt + " && gdal_grid -q " + vrt +
                             " grid.tif && gdalinfo -stats grid.tif", &grid)) << grid;
    EXPECT_NE(std::string::npos, grid.find("Geometry: 3D Point\nFeature Count: " +
                                           std::to_string(lines_in(xyz)) + "\n")) << grid;
    double shallowest = std::stod(grid.substr(grid.find("Minimum=") + 8));
    double deepest = std::stod(grid.substr(grid.find("Maximum=") + 8));
    EXPECT_TRUE(shallowest > 0.4 && deepest < 40 && shallowest < deepest) << grid;
}

// Survey receivers' positions, 8 decimals of minutes, keep their precision (10 decimals of degrees) in the CSV,
// the track and the netCDF file, as pandas, json and netCDF4 read them. The ping past the last fix is counted.
TEST(Exports, SurveyReceiversKeepTheirPrecision)
{
    TempDir dir;
    std::string data = dir.file("08DEC2026-0001.QKV"), nav = dir.file("08DEC2026.NAV");
    std::string records, lines;
    for (int s = 0; s < 6; ++s) {
        char time[16], line[160], body[128];
        snprintf(time, sizeof time, "10:00:%02d", s);
        records += record_of("08-DEC-2026", time, ".37", 3, 18, 100, s + 1);
        snprintf(body, sizeof body, "$GNGGA,0900%02d.00,4404.126998%02d,N,12118.844143%02d,W,4,14,0.7,10.2,M,-21.3,M,,",
                 s, 17 * s, 13 * s);
        nmea_append_checksum(body, strlen(body));
        snprintf(line, sizeof line, "2026-12-08T10:00:%02d.000+01:00 %s\n", s, body);
        lines += line;
    }
    write_file(data, records);
    write_file(nav, lines);
    std::string csv = dir.file("pings.csv"), track = dir.file("track.geojson"), nc = dir.file("pings.nc"), said;
    ASSERT_EQ(0, run_command("(" + std::string(QKVDUMP) + " --csv --nav " + in_quotes(nav) + " " + in_quotes(data) +
                             " > " + in_quotes(csv) + ")", &said)) << said;
    EXPECT_EQ("ok 5 of 6 pings located\n", check("csv " + in_quotes(csv) + " " + in_quotes(nav)));
    ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--geojson", track, "--netcdf", nc, data}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("--nav: 1 of 6 pings without a position: no measured fix within")) << said;
    EXPECT_EQ("ok 5 features\n", check("geojson " + in_quotes(track) + " " + in_quotes(csv)));
    EXPECT_EQ("ok 6 pings\n", check("netcdf " + in_quotes(nc) + " nav:" + in_quotes(csv) + " " + in_quotes(data)));
}

// Every value of every record of two files is in the netCDF file as netCDF4 and xarray read it, the times made
// UTC with the offset given; ncdump shows the layout. Without an offset, the computer's zone with its summer time.
TEST(Exports, NetcdfHoldsEveryValueOfTheRecords)
{
    TempDir dir;
    std::string first = dir.file("08DEC2026-0001.QKV"), second = dir.file("08DEC2026-0002.QKV");
    write_file(first, record_of("08-DEC-2026", "23:59:59", ".99", 3, 18, 0, 1) +
                          record_of("09-DEC-2026", "00:00:00", ".37", 20, 24, 250, 2));
    write_file(second, record_of("08-JUL-2026", "12:00:00", ".00", 0, 60, 65535, 3) + std::string(100, 'x'));
    std::string nc = dir.file("pings.nc");
    std::string said;
    EXPECT_EQ(1, qkvdump_with({"--utc-offset", "-05:30", "--netcdf", nc, first, second}, &said)) << "the torn tail";
    EXPECT_NE(std::string::npos, said.find("pings.nc: 3 pings\n")) << said;
    EXPECT_EQ("ok 3 pings\n", check("netcdf " + in_quotes(nc) + " -19800 " + in_quotes(first) + " " + in_quotes(second)));
    std::string header;
    ASSERT_EQ(0, run_command("ncdump -hs " + in_quotes(nc), &header));
    for (const char* line : {"ping = UNLIMITED ; // (3 currently)", "sample = 8000 ;", "ubyte samples(ping, sample) ;",
                             "samples:_ChunkSizes = 128, 8000 ;", "samples:_DeflateLevel = 1 ;",
                             "time:units = \"seconds since 1970-01-01 00:00:00 UTC\" ;", ":Conventions = \"CF-1.8\" ;",
                             ":source = \"qkvdump 1.0.0 (Halvex_StoreData)\" ;", "lat:_FillValue"}) {
        bool wanted = strcmp(line, "lat:_FillValue") != 0;
        EXPECT_EQ(wanted, header.find(line) != std::string::npos) << line << "\n" << header;
    }
    EXPECT_NE(std::string::npos, header.find("with the UTC offset -05:30 given (--utc-offset)")) << header;

    // The second file through a pipe, read only once: its pings are there all the same.
    ASSERT_EQ(1, run_command("cat " + in_quotes(second) + " | TZ=Europe/Berlin " + std::string(QKVDUMP) +
                             " --netcdf " + in_quotes(nc) + " " + in_quotes(first) + " /dev/stdin"));
    std::string times;
    ASSERT_EQ(0, run_command("ncdump -v time -p 15 " + in_quotes(nc), &times));
    EXPECT_NE(std::string::npos, times.find("time = 1796770799.99, 1796770800.37, 1783504800 ;")) << times;
    EXPECT_NE(std::string::npos, times.find("the time zone of the computer that ran qkvdump (CET/CEST)")) << times;
}

// A record at 40 m whose bottom's echo starts at the given sample (3050: 15.25 m).
std::string bottom_record(const char* time, const char* hundredths, int bottom_sample)
{
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
        double echo = i >= bottom_sample ? 160 * std::exp((bottom_sample - i) / 400.0) : 0;
        image[PING_IMAGE_SAMPLES + i] = static_cast<uint8_t>(10 + i % 3 + echo);
    }
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    RecordFields fields = {"08-DEC-2026", time, hundredths, 7, 240, 250, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<const char*>(record), RECORD_SIZE);
}

// A .NAV line stamped 10:00:SS.mmm+01:00 of the sentence body given.
std::string nav_line(int ms, const std::string& body)
{
    char text[160], sentence[128];
    snprintf(sentence, sizeof sentence, "$%s", body.c_str());
    nmea_append_checksum(sentence, strlen(sentence));
    snprintf(text, sizeof text, "2026-12-08T10:00:%02d.%03d+01:00 %s\n", ms / 1000, ms % 1000, sentence);
    return text;
}

// The depths reduced to chart datum, as pandas, json, xarray and ncdump read them: a sound speed of 1470 m/s, the
// draft, a motion sensor's heave (which starts after the first ping and stops before the last ones: flagged, no
// depth), a tide gauge's series, the transducer 2 m ahead of the antenna on a heading sensor's 90 degrees (none yet
// at the first ping: no position), depth gates, an edit list rejecting one ping and naming another recording's (said
// at the end), and a ping a metre deeper than its neighbours (a spike). The
// soundings (named ".xyz") leave the flagged ones out, and their layer names the reference; each value of the CSV is worked out
// again in Python from the .NAV lines and the series.
TEST(Exports, ReducedDepthsSayTheirReferenceAndCorrections)
{
    TempDir dir;
    std::string data = dir.file("08DEC2026-0001.QKV"), nav = dir.file("08DEC2026.NAV");
    std::string records, lines;
    for (int n = 0; n < 36; ++n) {
        char time[16], hundredths[8];
        snprintf(time, sizeof time, "10:00:%02d", n / 4);
        snprintf(hundredths, sizeof hundredths, ".%02d", n % 4 * 25);
        records += bottom_record(time, hundredths, n == 17 ? 3250 : 3050);
    }
    for (int ms = 0; ms <= 10000; ms += 100) {
        char body[128];
        if (ms % 1000 == 0) {
            snprintf(body, sizeof body, "GPGGA,0900%02d.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,", ms / 1000);
            lines += nav_line(ms, body);
            snprintf(body, sizeof body, "GPRMC,0900%02d.00,A,5106.9848,N,00123.4567,E,0.0,0.0,081226,,,A", ms / 1000);
            lines += nav_line(ms, body);
            lines += nav_line(ms + 50, "HEHDT,90.0,T");
        }
        snprintf(body, sizeof body, "PASHR,0900%02d.%02d,90.00,T,%.2f,%.2f,%.2f,0.02,0.02,0.10,1,1", ms / 1000,
                 ms % 1000 / 10, 1.5 * std::sin(ms / 900.0), -0.8 * std::cos(ms / 700.0), 0.3 * std::sin(ms / 1300.0));
        if (ms <= 7000) lines += nav_line(ms + 20, body);
    }
    write_file(data, records);
    write_file(nav, lines);
    write_file(dir.file("tide.csv"), "Date Time, Water Level, Sigma\n2026-12-08 08:54,1.201,0.002\n"
                                     "2026-12-08 09:00,1.262,0.002\n2026-12-08 09:06,1.318,0.002\n");
    write_file(dir.file("edits.txt"), "edit-list 1\nreject 08DEC2026-0001.QKV 5 a fish\n"
                                      "reject 07DEC2026-0001.QKV 5 yesterday's\n");
    const std::vector<std::string> reduction = {"--depth", "--draft", "0.5", "--sound-speed", "1470", "--heave",
                                                "--water-level", dir.file("tide.csv"), "--datum", "chart datum",
                                                "--antenna-offset", "2,0", "--depth-gates", "1,60", "--edits",
                                                dir.file("edits.txt"), "--nav", nav};
    std::string csv = dir.file("pings.csv"), track = dir.file("track.geojson"), nc = dir.file("pings.nc");
    std::string xyz = dir.file(".xyz"), said, command = QKVDUMP;  // a name that is all extension, as GDAL takes it
    for (const std::string& argument : reduction) command += " " + in_quotes(argument);
    ASSERT_EQ(0, run_command("(" + command + " --csv " + in_quotes(data) + " > " + in_quotes(csv) + ")", &said)) << said;
    EXPECT_NE(std::string::npos, said.find("--edits " + dir.file("edits.txt") + ": line 3: ")) << said;
    EXPECT_EQ("ok 36 pings reduced, 28 with a depth below chart datum, flagged: no_heading 1, no_heave 8, rejected 1, "
              "spike 1\n",
              check("reduced " + in_quotes(csv) + " " + in_quotes(nav) + " " + in_quotes(dir.file("tide.csv"))));
    std::vector<std::string> arguments = reduction;
    arguments.insert(arguments.end(), {"--geojson", track, "--netcdf", nc, "--xyz", xyz, data});
    ASSERT_EQ(0, qkvdump_with(arguments, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("/.xyz: 26 soundings (pings with a position and a depth, 2 flagged "
                                           "left out)\n")) << said;
    EXPECT_EQ("ok 35 features\n", check("geojson " + in_quotes(track) + " " + in_quotes(csv)));
    EXPECT_EQ("ok 26 soundings\n", check("xyz " + in_quotes(xyz) + " " + in_quotes(csv)));
    EXPECT_EQ("ok 36 pings\n", check("netcdf " + in_quotes(nc) + " nav:" + in_quotes(csv) + " " + in_quotes(data)));
    std::string header, layer;
    ASSERT_EQ(0, run_command("ncdump -h " + in_quotes(nc), &header));
    for (const char* line : {"depth:depth_reference = \"chart datum\" ;", "depth:positive = \"down\" ;",
                             "flag:flag_masks = 1s, 2s, 4s, 8s, 16s, 32s, 64s, 128s, 256s ;",
                             "flag:flag_meanings = \"no_bottom rejected outside_gates spike low_quality no_position "
                             "no_heading no_heave no_water_level\" ;", ":depth_reference = \"chart datum\" ;"}) {
        EXPECT_NE(std::string::npos, header.find(line)) << line << "\n" << header;
    }
    EXPECT_EQ(std::string::npos, header.find("depth:standard_name")) << "CF names no depth below a chart datum";
    ASSERT_EQ(0, run_command("ogrinfo -ro -al -so " + in_quotes(dir.file(".xyz.vrt")), &layer));
    EXPECT_NE(std::string::npos, layer.find("  depth_reference=chart datum\n")) << layer;
    EXPECT_NE(std::string::npos, layer.find("  flagged_soundings=left out\n")) << layer;
}

// A survey's soundings gridded and contoured (the soundings outside the depth gates flagged and left out): a numpy
// reference written from docs/formats.md bins the --xyz soundings into the same cells (check_grid.py), the mean at
// each cell's centre meets headsim's seabed, gdalinfo and ogrinfo read the files, and grids of two overlapping
// parts of the day mosaic with gdalbuildvrt without resampling.
TEST(Exports, GridAndContoursOfASurvey)
{
    const int pings = 400;
    TempDir dir;
    std::string why, nav = survey_with_navlog(dir, "127.77.20.9", 47128,
                                              {"--ping-rate", "20", "--nmea-rate", "10", "--knots", "1",
                                               "--line-length", "20", "--seed", "5", "--fault",
                                               "close@" + std::to_string(8 * pings + 1)},
                                              "Range=40\n", 20, 60000, &why);
    ASSERT_EQ("", why);
    std::string data = dir.file(data_files(dir.path()).at(0)), said, info;
    std::string xyz = dir.file("depths.xyz"), tif = dir.file("depths.tif"), lines = dir.file("depths.geojson");
    const std::string grid_checker = "/usr/bin/python3 " + in_quotes(replaced(CHECKER, "check_exports", "check_grid"));
    ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--depth-gates", "1,19", "--xyz", xyz, "--grid", tif, "--cell", "0.25",
                               "--contours", lines, "--interval", "1", data}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("qkvdump: cells of 0.25 m in WGS 84 / UTM zone 31N (EPSG:32631)")) << said;
    EXPECT_EQ(std::string::npos, said.find(", 0 flagged left out)")) << "the gates flag the deepest: " << said;
    EXPECT_EQ(0, run_command(grid_checker + " agree " + in_quotes(tif) + " " + in_quotes(xyz) + " 0.25", &said)) << said;
    EXPECT_EQ(0, run_command(grid_checker + " truth " + in_quotes(tif) + " 40 " + HEADSIM + " --seed 5", &said))
        << said;
    std::cout << said;  // the cells and their worst error
    ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--grid", dir.file("depths.bag"), "--cell", "0.25", "--contours",
                               dir.file("depths.gpkg"), "--depths", "2,5,10", data}, &said)) << said;
    ASSERT_EQ(0, run_command("gdalinfo " + in_quotes(tif) + " && ogrinfo -ro -al -so " + in_quotes(lines) +
                             " && gdalinfo " + in_quotes(dir.file("depths.bag")) + " && ogrinfo -ro -al -so " +
                             in_quotes(dir.file("depths.gpkg")), &info)) << info;
    for (const char* part : {"Driver: BAG/Bathymetry Attributed Grid", "Description = elevation",
                             "Description = uncertainty", "Layer name: contours","ID[\"EPSG\",32631]]", "LAYOUT=COG", "DEPTH_REFERENCE=water surface", "DEPTH_POSITIVE=down",
                             "Band 1 Block=256x256 Type=Float32", "Description = mean", "Description = shoalest",
                             "Description = count", "Description = std", "NoData Value=nan",
                             "Geometry: Line String", "depth: Real", "ID[\"EPSG\",4326]]"}) {
        EXPECT_NE(std::string::npos, info.find(part)) << part << "\n" << info;
    }
    // Two parts of the day, overlapping by a third, gridded apart and mosaicked.
    std::string mosaicked;
    std::string records = read_file(data);
    size_t third = records.size() / RECORD_SIZE / 3 * RECORD_SIZE;
    write_file(dir.file("early.QKV"), records.substr(0, 2 * third));
    write_file(dir.file("late.QKV"), records.substr(third));
    for (const char* part : {"early", "late"}) {
        ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--grid", dir.file(std::string(part) + ".tif"), "--cell", "0.25",
                                   dir.file(std::string(part) + ".QKV")}, &said)) << said;
    }
    ASSERT_EQ(0, run_command("cd " + in_quotes(dir.path()) + " && gdalbuildvrt -q day.vrt early.tif late.tif && "
                             "gdalinfo day.vrt && gdalinfo depths.bag", &mosaicked)) << mosaicked;
    const std::string& m = mosaicked;
    EXPECT_NE(std::string::npos, m.find("Pixel Size = (0.250000000000000,-0.250000000000000)")) << m;
    size_t mosaic = m.find("Size is "), whole = m.find("Size is ", mosaic + 1);
    ASSERT_NE(std::string::npos, whole) << m;
    EXPECT_EQ(m.substr(mosaic, m.find('\n', mosaic) - mosaic), m.substr(whole, m.find('\n', whole) - whole))
        << "the two parts cover the day's cells\n" << m;
}

// Options that do not go together (each message is the unit table's) and OUTs that may not be written (an input,
// raw data, a file of another kind without --force, another output's OUT) are refused with status 2 before
// anything is written; a .NAV file that cannot be read fails with status 1, before any OUT is made.
TEST(Exports, CommandLinesRefused)
{
    TempDir dir;
    std::string data = dir.file("one.QKV"), out = dir.file("out");
    write_file(data, record_of("08-DEC-2026", "10:00:00", ".00", 3, 18, 0, 1));
    write_file(dir.file("day.NAV"), "");
    write_file(dir.file("other.NAV"), "");
    write_file(dir.file("pings.csv"), "file,record\n");
    write_file(dir.file("grid.bag"), std::string("\x89HDF\r\n\x1a\n\0\0\0\0 a bathymetric grid", 29));
    std::string pipe = dir.file("live.QKV");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    struct Case {
        std::vector<std::string> arguments;
        std::string said;
        int status = 2;
    } cases[] = {
        {{data, "--geojson", out}, "qkvdump: --geojson needs --nav\n"},
        {{"--nav", dir.file("day.NAV"), "--xyz", dir.file("pings.csv"), data},
         "qkvdump: --xyz " + dir.file("pings.csv") + " is no soundings: not writing the soundings over it (--force "
                                                    "replaces it)\n"},
        {{"--nav", dir.file("day.NAV"), "--geojson", data, data},
         "qkvdump: --geojson " + data + " is " + data + ", a file to read: not writing the track over it\n"},
        {{"--netcdf", dir.file("day.NAV"), "--nav", dir.file("day.NAV"), data},
         "qkvdump: --netcdf " + dir.file("day.NAV") + " is " + dir.file("day.NAV") +
             ", a file to read: not writing the netCDF file over it\n"},
        {{"--nav", dir.file("day.NAV"), "--geojson", dir.file("other.NAV"), "--force", data},
         "qkvdump: --geojson " + dir.file("other.NAV") + " is a navigation log: not writing the track over it\n"},
        {{"--png", dir.path(), "--force", data},
         "qkvdump: --png " + dir.path() + " is a directory or a disk: not writing the picture over it\n"},
        {{"--netcdf", dir.file("pings.csv"), data},
         "qkvdump: --netcdf " + dir.file("pings.csv") +
             " is no netCDF file: not writing the netCDF file over it (--force replaces it)\n"},
        {{"--netcdf", dir.file("grid.bag"), data},
         "qkvdump: --netcdf " + dir.file("grid.bag") +
             " is no netCDF file: not writing the netCDF file over it (--force replaces it)\n"},
        {{"--nav", dir.file("day.NAV"), "--grid", dir.file("other.NAV"), "--cell", "1", "--force", data},
         "qkvdump: --grid " + dir.file("other.NAV") + " is a navigation log: not writing the grid over it\n"},
        {{"--nav", dir.file("day.NAV"), "--edits", dir.file("pings.csv"), "--grid", dir.file("pings.csv"), "--cell",
          "1", "--force", data},
         "qkvdump: --grid " + dir.file("pings.csv") + " is " + dir.file("pings.csv") +
             ", a file to read: not writing the grid over it\n"},
        {{"--nav", dir.file("day.NAV"), "--grid", dir.file("pings.csv"), "--cell", "1", data},
         "qkvdump: --grid " + dir.file("pings.csv") + " is no grid: not writing the grid over it (--force replaces "
                                                     "it)\n"},
        {{"--nav", dir.file("day.NAV"), "--grid", out, "--cell", "1", "--crs", "EPSG:4326", data},
         "qkvdump: --crs: \"EPSG:4326\" is not a projected coordinate system: a grid's cells are metres, not "
         "degrees\n"},
        {{"--nav", dir.file("day.NAV"), "--contours", pipe, "--interval", "1", "--cell", "1", data},
         "qkvdump: --contours " + pipe + " is a pipe or a device: GDAL writes the contours only into a file\n"},
        {{"--png", dir.file("Two.qkv"), data},
         "qkvdump: --png " + dir.file("Two.qkv") + " is named as a data file: not writing the picture there\n"},
        {{"--png", out, "--nav", dir.file("day.NAV"), "--geojson", out, data},
         "qkvdump: --geojson " + out + " is also the OUT of --png\n"},
        {{"--png", out, "--height", "4", data, pipe},
         "qkvdump: --height counts the pings before it draws them: " + pipe + " is a pipe or a device, read only "
                                                                             "once\n"},
        {{"--nav", dir.file("gone.NAV"), "--geojson", out, "--netcdf", out + ".nc", data},
         "qkvdump: --nav " + dir.file("gone.NAV") + ": cannot open: No such file or directory\n", 1},
        {{"--nav", dir.path(), "--geojson", out, data},
         "qkvdump: --nav " + dir.path() + ": cannot open: a directory or a disk, not a file\n", 1},
    };
    for (const Case& c : cases) {
        std::string said;
        EXPECT_EQ(c.status, qkvdump_with(c.arguments, &said)) << c.said;
        EXPECT_EQ(0u, said.find(c.said)) << said;
        EXPECT_FALSE(file_exists(out) || file_exists(out + ".nc")) << c.said;
    }
    EXPECT_EQ(RECORD_SIZE, static_cast<int>(read_file(data).size())) << "the data file is left as it was";
    EXPECT_EQ("", read_file(dir.file("other.NAV")));
    EXPECT_EQ("file,record\n", read_file(dir.file("pings.csv")));
    EXPECT_EQ(6u, list_dir(dir.path()).size()) << "nothing left beside the OUTs";
}

// A run that fails or is interrupted leaves each OUT as it was and nothing beside it: a full disk (a file size
// limit, SIGXFSZ at its default as a shell leaves it) gives status 1 without a crash, Ctrl+C and a request to
// terminate end the run by their signal.
TEST(Exports, FailedOrInterruptedRunLeavesTheOut)
{
    TempDir dir;
    std::string data = dir.file("08DEC2026-0001.QKV"), nav = dir.file("day.NAV");
    std::string records;
    for (int i = 0; i < 400; ++i) records += record_of("08-DEC-2026", "10:00:00", ".00", 3, 18, 0, 7 + i * 13);
    write_file(data, records);
    write_file(nav, "2026-12-08T10:00:00.000+01:00 $GPGGA,100000.00,5106.9848,N,00123.4567,E,1,09,0.9,1,M,47,M,,*60\n");
    write_file(dir.file("other.NAV"), replaced(read_file(nav), "2026-12-08", "2026-12-07"));
    std::string track = dir.file("track.geojson"), nc = dir.file("pings.nc"), png = dir.file("pings.png");
    std::string said;
    ASSERT_EQ(0, qkvdump_with({"--nav", nav, "--geojson", track, "--netcdf", nc, "--png", png, data}, &said)) << said;
    const std::string before[] = {read_file(track), read_file(nc), read_file(png)};
    // Interrupted while it waits for more of a data file that comes through a pipe, its outputs begun.
    ASSERT_EQ(0, mkfifo(dir.file("live.QKV").c_str(), 0600));
    const std::string outputs = " --nav day.NAV --geojson track.geojson --netcdf pings.nc --png pings.png ";
    const std::string interrupted =
        R"((cat 08DEC2026-0001.QKV; sleep 2) > live.QKV 2> /dev/null &
           (i=0; while [ $i -lt 200 ] && ! ls | grep -q "pings.png.*tmp"; do sleep 0.05; i=$((i+1)); done;
            kill -SIGNAL $$) > /dev/null 2>&1 &
           exec )" + std::string(QKVDUMP) + outputs + "live.QKV";
    struct Case {
        const char* what;
        std::string command;
        int status;
    } cases[] = {
        // Reached part-way, with blocks of pings still to come after the failed one.
        {"a full disk", "ulimit -f 256; exec " + std::string(QKVDUMP) + outputs + "08DEC2026-0001.QKV" +
                            " 08DEC2026-0001.QKV 08DEC2026-0001.QKV", 1},
        {"the listing's reader gone", "(" + std::string(QKVDUMP) + " --csv --samples" + outputs +
                                          "08DEC2026-0001.QKV; echo $? > status) | head -c 100 > /dev/null; "
                                          "s=$(cat status); rm status; exit $s", 1},
        {"another day's .NAV file: no ping has a position",
         "exec " + std::string(QKVDUMP) + replaced(outputs, "day.NAV", "other.NAV") + "--gray 08DEC2026-0001.QKV", 1},
        {"Ctrl+C", replaced(interrupted, "SIGNAL", "INT"), 128 + SIGINT},
        {"a request to terminate", replaced(interrupted, "SIGNAL", "TERM"), 128 + SIGTERM},
    };
    for (const Case& c : cases) {
        std::string command = "cd '" + dir.path() + "' && sh -c '" + c.command + "'";
        EXPECT_EQ(c.status, run_command(command, &said)) << c.what << ": " << said;
        EXPECT_TRUE(before[0] == read_file(track) && before[1] == read_file(nc) && before[2] == read_file(png))
            << c.what << ": an OUT changed";
        EXPECT_EQ(7u, list_dir(dir.path()).size()) << c.what << ": nothing left beside the OUTs";
    }
    ASSERT_EQ(0, run_command("cd '" + dir.path() + "' && " + QKVDUMP + outputs + "--gray 08DEC2026-0001.QKV", &said))
        << "outputs of their own kinds are replaced: " << said;
    EXPECT_FALSE(before[2] == read_file(png));
}

}  // namespace
