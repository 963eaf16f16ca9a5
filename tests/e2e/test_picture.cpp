// qkvdump's pictures of recordings, read back by another decoder, and its
// listing where standard output cannot take it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tests/e2e/picture.h"
#include "tests/e2e/recording.h"
#include "waterfall/waterfall.h"

using namespace e2e;

namespace {

// Where a record's data bytes start: after the header of the ping image at byte 100.
const int SAMPLES = 100 + PING_IMAGE_SAMPLES;

const uint8_t* samples_of(const std::string& data, int record)
{
    return reinterpret_cast<const uint8_t*>(data.data()) + record * RECORD + SAMPLES;
}

// The mean of count data bytes from first, rounded to the nearest.
int mean_of(const uint8_t* samples, int first, int count)
{
    int sum = 0;
    for (int i = first; i < first + count; ++i) sum += samples[i];
    return (sum + count / 2) / count;
}

// A data file's records with their data bytes inverted: well-formed, and unlike the original.
std::string inverted(std::string data)
{
    for (size_t at = 0; at + RECORD <= data.size(); at += RECORD) {
        for (size_t i = at + SAMPLES; i < at + SAMPLES + PING_SAMPLE_COUNT; ++i) data[i] = static_cast<char>(~data[i]);
    }
    return data;
}

// Each pixel of a picture row: the colour map's entry, or the grey level, of its column's mean.
void expect_row(const Decoded& picture, int row, const uint8_t* samples)
{
    ASSERT_EQ("", picture.fault);
    ASSERT_LT(row, picture.height);
    int per_column = PING_SAMPLE_COUNT / picture.width;
    for (int column = 0; column < picture.width; ++column) {
        int mean = mean_of(samples, column * per_column, per_column);
        const uint8_t* pixel = picture.pixels.data() + (row * picture.width + column) * picture.channels;
        for (int channel = 0; channel < picture.channels; ++channel) {
            int want = picture.channels == 1 ? mean : WATERFALL_COLOURS[mean][channel];
            ASSERT_EQ(want, pixel[channel]) << "row " << row << " column " << column << " channel " << channel;
        }
    }
}

}  // namespace

// The picture has one row per ping, the files' pings in the order given, each pixel the colour map's entry for
// its column's mean of data bytes, or that mean as a grey level.
TEST(Picture, PixelsAreColumnMeansOfThePingsInOrder)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.1", 16);
    std::string first = dir.file(data_files(dir.path()).at(0));
    std::string data = read_file(first);
    write_file(dir.file("inverted.QKV"), inverted(data));
    std::string output;
    ASSERT_EQ(0, qkvdump_with({"--png", dir.file("colour.png"), first}, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("colour.png: 1000 x 2 pixels, viridis\n")) << output;
    EXPECT_EQ(std::string::npos, output.find("record 1:")) << "no record lines with a picture";
    Decoded colour = decode_png(dir.file("colour.png"));
    ASSERT_EQ(1000, colour.width);
    ASSERT_EQ(2, colour.height);
    ASSERT_EQ(3, colour.channels);
    for (int row = 0; row < 2; ++row) expect_row(colour, row, samples_of(data, row));
    EXPECT_EQ(0, memcmp(WATERFALL_COLOURS[0], "\x44\x01\x54", 3)) << "viridis starts dark violet";
    EXPECT_EQ(0, memcmp(WATERFALL_COLOURS[255], "\xFD\xE7\x25", 3)) << "and ends yellow";

    ASSERT_EQ(0, qkvdump_with({"--gray", "--width", "500", "--png", dir.file("grey.png"), dir.file("inverted.QKV"),
                               first}, &output)) << output;
    Decoded grey = decode_png(dir.file("grey.png"));
    ASSERT_EQ(500, grey.width);
    ASSERT_EQ(4, grey.height);
    ASSERT_EQ(1, grey.channels);
    std::string inverted_data = inverted(data);
    for (int row = 0; row < 4; ++row) {
        expect_row(grey, row, samples_of(row < 2 ? inverted_data : data, row % 2));
    }
}

// Malformed records and a torn tail are reported as without a picture and left out of it; a file without a
// well-formed record gives no picture at all, and leaves a file of the picture's name alone.
TEST(Picture, MalformedRecordsAndTornTailAreLeftOut)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.2", 24);
    std::string name = dir.file(data_files(dir.path()).at(0));
    std::string data = read_file(name);
    data[RECORD] = 'X';
    data = data.substr(0, 2 * RECORD) + inverted(data.substr(2 * RECORD)) + std::string(100, '\x55');
    write_file(name, data);
    std::string png = dir.file("survey.png");
    std::string listing, output;
    EXPECT_EQ(1, qkvdump(name, &listing));
    EXPECT_EQ(1, qkvdump_with({"--png", png, name}, &output));
    std::string faults = name + ": record 2 is malformed at byte offset 8192: bad magic (want \"QKV\" and 0x0A)\n" +
                         name + ": torn tail: 100 bytes after record 3 (byte offset 24576)\n";
    std::string summary = name + ": 3 records (24576 bytes), 1 malformed, torn tail of 100 bytes\n";
    EXPECT_EQ(0u, listing.find(faults)) << listing;
    EXPECT_EQ(faults + summary + png + ": 1000 x 2 pixels, viridis\n", output);
    Decoded picture = decode_png(png);
    ASSERT_EQ(2, picture.height);
    expect_row(picture, 0, samples_of(data, 0));
    expect_row(picture, 1, samples_of(data, 2));

    write_file(name, data.substr(3 * RECORD));
    EXPECT_EQ(1, qkvdump_with({"--png", png, name}, &output));
    EXPECT_NE(std::string::npos, output.find(png + ": no picture written: no well-formed record\n")) << output;
    EXPECT_EQ(2, decode_png(png).height) << "the picture there before is left as it was";
}

// The width must divide the 8000 data bytes: anything else is refused with status 2 before any picture is made
// (the sizes refused are the unit table's). The options come after the file, as GNU tools take them.
TEST(Picture, WidthMustDivideTheDataBytes)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.3", 8);
    std::string name = dir.file(data_files(dir.path()).at(0));
    std::string png = dir.file("ping.png");
    std::string refused;
    EXPECT_EQ(2, qkvdump_with({name, "--width", "7", "--png", png}, &refused));
    EXPECT_EQ(0u, refused.find("qkvdump: --width must be one of 1, 2, 4, 5, 8, 10, ")) << refused;
    EXPECT_FALSE(file_exists(png));
    for (int width : {1, 8000}) {
        std::string output;
        EXPECT_EQ(0, qkvdump_with({name, "--width=" + std::to_string(width), "--png", png}, &output)) << output;
        Decoded picture = decode_png(png);
        EXPECT_EQ(width, picture.width);
        expect_row(picture, 0, samples_of(read_file(name), 0));
    }
}

// Pings unlike each other and unlike their neighbours' bytes, so that rows are stored with every one of PNG's
// filters: noise, ramps up and down, a constant, a repeat of the row above. The data file of them, and the pings.
std::string varied_recording(const TempDir& dir, int pings, std::vector<uint8_t>* samples)
{
    samples->assign(static_cast<size_t>(pings) * PING_SAMPLE_COUNT, 0);
    uint32_t noise = 12345;
    std::string records;
    for (int ping = 0; ping < pings; ++ping) {
        uint8_t* row = samples->data() + ping * PING_SAMPLE_COUNT;
        for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
            noise = noise * 1103515245u + 12345u;
            switch (ping % 5) {
            case 0: row[i] = static_cast<uint8_t>(noise >> 16); break;
            case 1: row[i] = static_cast<uint8_t>(i / 8 + ping); break;
            case 2: row[i] = ping == 2 ? 200 : row[i - PING_SAMPLE_COUNT]; break;
            case 3: row[i] = static_cast<uint8_t>(255 - i / 31 - (noise >> 30)); break;
            default: row[i] = static_cast<uint8_t>(i % 97 * 2 + ping); break;
            }
        }
        records += make_record(".00", 0, row);
    }
    std::string name = dir.file("varied.QKV");
    write_file(name, records);
    return name;
}

// Whichever filter a row is stored with, it decodes to exactly the pixels of its column means, in colour and grey.
TEST(Picture, EveryRowDecodesToItsPixelsWhateverItsFilter)
{
    TempDir dir;
    std::vector<uint8_t> samples;
    std::string name = varied_recording(dir, 12, &samples);
    for (std::vector<std::string> options : {std::vector<std::string>{"--width", "8000"},
                                             {"--width", "1000"}, {"--width", "8000", "--gray"}}) {
        std::string png = dir.file("varied.png");
        options.insert(options.end(), {"--png", png, name});
        std::string output;
        ASSERT_EQ(0, qkvdump_with(options, &output)) << output;
        Decoded picture = decode_png(png);
        ASSERT_EQ(12, picture.height) << options[1];
        for (int row = 0; row < 12; ++row) expect_row(picture, row, samples.data() + row * PING_SAMPLE_COUNT);
    }
}

// The columns of a decoded row in the depth line's red.
std::vector<int> red_columns(const Decoded& picture, int row, int from, int width)
{
    std::vector<int> columns;
    for (int x = from; x < from + width; ++x) {
        const uint8_t* pixel = picture.pixels.data() + (row * picture.width + x) * picture.channels;
        if (pixel[0] == 255 && pixel[1] == 0 && pixel[2] == 0) columns.push_back(x - from);
    }
    return columns;
}

// --depth draws each ping's bottom in pure red, which viridis lacks, at its leading edge, joined to the row above
// along the row; every other pixel is its column's colour as without. --height draws each row's mean bottom. --axes
// turns it as a sounder shows it, time across and depth down, inside margins of paper and ink only: a column a ping
// (12 spread over the least 640 columns), each its ping's means down the rows with the red line at its bottom,
// and over them the light grid, dotted, at the depths the scale labels: 1-2-5 steps chosen for the range, whole
// metres for 30 m over 1000 rows.
TEST(Picture, DepthLineOverTheWaterfall)
{
    TempDir dir;
    std::vector<uint8_t> samples(12 * PING_SAMPLE_COUNT);
    std::string records;
    for (int ping = 0; ping < 12; ++ping) {
        uint8_t* row = &samples[ping * PING_SAMPLE_COUNT];
        int bottom = 3000 + 40 * ping;  // at range 30 m: 11.25 m, 0.15 m deeper each ping, its echo fading
        for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
            row[i] = static_cast<uint8_t>(10 + (i * 7 + ping) % 5 + (i >= bottom ? 150 * std::exp((bottom - i) / 400.0) : 0));
        }
        records += make_record(".00", 0, row);
    }
    std::string name = dir.file("bottom.QKV"), png = dir.file("line.png"), output;
    write_file(name, records);
    ASSERT_EQ(0, qkvdump_with({"--png", png, "--depth", name}, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("line.png: 1000 x 12 pixels, viridis, the depth in red\n")) << output;
    Decoded line = decode_png(png);
    ASSERT_EQ("", line.fault);
    ASSERT_EQ(3, line.channels);
    for (int row = 0; row < 12; ++row) {
        std::vector<int> red = red_columns(line, row, 0, 1000);
        ASSERT_FALSE(red.empty()) << row;
        EXPECT_NEAR((3000 + 40 * row) / 8, red.back(), 1) << row;
        EXPECT_LE(red.size(), row == 0 ? 1u : 4u) << row;
        for (int column = 0; column < 1000; ++column) {
            if (std::find(red.begin(), red.end(), column) != red.end()) continue;
            int mean = mean_of(&samples[row * PING_SAMPLE_COUNT], column * 8, 8);
            ASSERT_EQ(0, memcmp(WATERFALL_COLOURS[mean], &line.pixels[(row * 1000 + column) * 3], 3)) << row << " " << column;
        }
    }
    ASSERT_EQ(0, qkvdump_with({"--png", png, "--depth", "--height", "4", "--width", "500", name}, &output)) << output;
    Decoded rows = decode_png(png);
    for (int row = 0; row < 4; ++row) EXPECT_NEAR((3000 + 40 * (3 * row + 1)) / 16, red_columns(rows, row, 0, 500).back(), 1);

    std::string axes = dir.file("axes.png");
    ASSERT_EQ(0, qkvdump_with({"--axes", "--png", axes, "--depth", name}, &output)) << output;
    Decoded framed = decode_png(axes);
    ASSERT_EQ("", framed.fault);
    auto pixel = [&](int x, int y) { return &framed.pixels[(y * framed.width + x) * 3]; };
    auto is = [&](int x, int y, const uint8_t* colour) { return memcmp(pixel(x, y), colour, 3) == 0; };
    const uint8_t ink[3] = {0, 0, 0}, grid[3] = {208, 208, 208}, red[3] = {255, 0, 0};
    // The echoes start under the frame's top, the first row of ink running across them, and right of its start;
    // the frame closes them on the right.
    int left = 0, top = 0;
    for (int run = 0; top < framed.height && run < 600; ++left) {
        if (left == framed.width) left = 0, ++top;
        run = is(left, top, ink) ? run + 1 : 0;
    }
    left -= 600 - 1;
    ++top;
    int right = left;
    while (right < framed.width && !is(right, top, ink)) ++right;
    ASSERT_EQ(640, right - left);
    ASSERT_GE(framed.height, top + 1000);
    std::vector<int> grid_rows;
    for (int x = 0; x < framed.width; ++x) {
        for (int y = 0; y < framed.height; ++y) {
            const uint8_t* at = pixel(x, y);
            if (x < left || x >= right || y < top || y >= top + 1000) {
                ASSERT_TRUE(at[0] == at[1] && at[1] == at[2] && (at[0] == 0 || at[0] == 255)) << x << " " << y;
                continue;
            }
            int ping = (x - left) * 12 / 640, row = y - top;
            int mean = mean_of(&samples[ping * PING_SAMPLE_COUNT], row * 8, 8);
            ASSERT_TRUE(is(x, y, WATERFALL_COLOURS[mean]) || is(x, y, grid) || is(x, y, red)) << x << " " << y;
            if (is(x, y, grid) && x == left + 1 && is(x + 2, y, grid)) grid_rows.push_back(row);
        }
        if (x < left || x >= right) continue;
        int ping = (x - left) * 12 / 640, bottom = (3000 + 40 * ping) / 8;
        bool line = false;
        for (int row = bottom - 2; row <= bottom + 1; ++row) line = line || is(x, top + row, red);
        EXPECT_TRUE(line) << "the line at column " << x - left;
    }
    std::vector<int> metres;
    for (int k = 1; k < 30; ++k) metres.push_back(k * 100 / 3);  // a metre is 1000 / 30 rows
    EXPECT_EQ(metres, grid_rows);
}

// --height N: N rows, each the mean of consecutive pings, the first rows taking one ping more where the pings do
// not share out evenly; more rows than pings gives a row per ping.
TEST(Picture, HeightTakesTheMeanOfConsecutivePings)
{
    TempDir dir;
    std::vector<uint8_t> samples;
    std::string name = varied_recording(dir, 10, &samples);
    std::string png = dir.file("height.png");
    std::string output;
    ASSERT_EQ(0, qkvdump_with({"--png", png, "--height", "4", "--width", "500", "--gray", name}, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("height.png: 500 x 4 pixels, grey levels\n")) << output;
    Decoded picture = decode_png(png);
    ASSERT_EQ("", picture.fault);
    ASSERT_EQ(4, picture.height);
    const int first_ping[] = {0, 3, 6, 8, 10};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 500; ++column) {
            int sum = 0, count = 0;
            for (int ping = first_ping[row]; ping < first_ping[row + 1]; ++ping) {
                for (int i = column * 16; i < column * 16 + 16; ++i, ++count) sum += samples[ping * PING_SAMPLE_COUNT + i];
            }
            ASSERT_EQ((sum + count / 2) / count, picture.pixels[row * 500 + column]) << "row " << row << " column " << column;
        }
    }
    ASSERT_EQ(0, qkvdump_with({"--png", png, "--height", "25", name}, &output)) << output;
    picture = decode_png(png);
    ASSERT_EQ(10, picture.height);
    for (int row = 0; row < 10; ++row) expect_row(picture, row, samples.data() + row * PING_SAMPLE_COUNT);
}

// A picture that cannot be written (a full disk) fails the run with the reason, never reports success. Written
// beside OUT and moved over it only when whole, so a file OUT that was there keeps what it held, and nothing is
// left beside it.
TEST(Picture, WriteFailureIsReported)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.4", 16);
    std::string name = dir.file(data_files(dir.path()).at(0));
    std::string output;
    EXPECT_EQ(1, qkvdump_with({"--png", "/dev/full", name}, &output));
    EXPECT_NE(std::string::npos, output.find("/dev/full: cannot write: No space left on device\n")) << output;

    std::string png = dir.file("survey.png");
    ASSERT_EQ(0, qkvdump_with({"--png", png, "--height", "1", name}, &output)) << output;
    std::string before = read_file(png);
    write_file(dir.file("wide.QKV"), read_file(name) + inverted(read_file(name)));
    // A file size limit stands in for a full disk, SIGXFSZ at its default as a shell leaves it.
    std::string limited = "sh -c \"ulimit -f 8; exec '" + std::string(QKVDUMP) + "' --width 8000 --png '" + png +
                          "' '" + dir.file("wide.QKV") + "'\"";
    EXPECT_EQ(1, run_command(limited, &output));
    EXPECT_NE(std::string::npos, output.find(png + ": cannot write: File too large\n")) << output;
    EXPECT_EQ(before, read_file(png));
    std::vector<std::string> left = list_dir(dir.path());
    EXPECT_EQ(0, std::count_if(left.begin(), left.end(), [](const std::string& file) {
                  return file.find(".tmp") != std::string::npos;
              })) << "the part-written picture is removed";
    ASSERT_EQ(0, qkvdump_with({"--png", png, name}, &output)) << output;
    EXPECT_EQ(2, decode_png(png).height) << "a whole picture replaces it";
}

// An OUT that is one of the files read, however named, a data file (a forgotten OUT: --png *.QKV) or a .NAV file
// is refused with status 2 before anything is read or written, even with --force, and keeps its bytes; any other
// kind of file only without --force.
TEST(Picture, OutThatIsAnInputOrADataFileIsRefused)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.5", 8);
    std::string file = data_files(dir.path()).at(0);
    std::string name = dir.file(file);
    std::string data = read_file(name);
    write_file(dir.file("copy.qkv"), data);
    write_file(dir.file("recording.bin"), data);
    write_file(dir.file("notes.txt"), "not a recording");
    std::string nav = "2026-12-08T09:05:00.123+01:00 $GPGGA,080500.00,,,,,0,00,,,,,,,*66\n";
    write_file(dir.file("day.NAV"), nav);
    write_file(dir.file("track.log"), nav);
    ASSERT_EQ(0, link(name.c_str(), dir.file("linked.png").c_str()));
    struct Case {
        std::vector<std::string> arguments;
        std::string refusal;
    };
    const Case cases[] = {
        {{name, name}, name + " is " + name + ", a file to read"},
        {{dir.path() + "/./" + file, name}, dir.path() + "/./" + file + " is " + name + ", a file to read"},
        {{dir.file("linked.png"), name}, dir.file("linked.png") + " is " + name + ", a file to read"},
        {{dir.file("notes.txt"), dir.file("notes.txt"), name}, dir.file("notes.txt") + " is " +
                                                                   dir.file("notes.txt") + ", a file to read"},
        {{dir.file("copy.qkv"), name}, dir.file("copy.qkv") + " is a data file"},
        {{dir.file("recording.bin"), name}, dir.file("recording.bin") + " is a data file"},
        {{dir.file("day.NAV"), name}, dir.file("day.NAV") + " is a navigation log"},
        {{dir.file("track.log"), name}, dir.file("track.log") + " is a navigation log"},
    };
    for (const Case& c : cases) {
        for (bool force : {false, true}) {
            std::vector<std::string> arguments = {"--png"};
            arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
            if (force) arguments.insert(arguments.begin(), "--force");
            std::string output;
            EXPECT_EQ(2, qkvdump_with(arguments, &output)) << c.arguments[0];
            EXPECT_EQ(0u, output.find("qkvdump: --png " + c.refusal + ": not writing the picture over it")) << output;
            EXPECT_EQ(std::string::npos, output.find("records")) << "nothing is read: " << output;
        }
    }
    EXPECT_EQ(data, read_file(name));
    EXPECT_EQ(data, read_file(dir.file("copy.qkv")));
    EXPECT_EQ(data, read_file(dir.file("recording.bin")));
    EXPECT_EQ(nav, read_file(dir.file("day.NAV")));
    EXPECT_EQ(nav, read_file(dir.file("track.log")));
    std::string output;
    EXPECT_EQ(2, qkvdump_with({"--png", dir.file("notes.txt"), name}, &output)) << "another kind of file is kept";
    EXPECT_EQ("qkvdump: --png " + dir.file("notes.txt") +
                  " is no picture: not writing the picture over it (--force replaces it)\n", output);
    EXPECT_EQ("not a recording", read_file(dir.file("notes.txt")));
    EXPECT_EQ(0, qkvdump_with({"--png", dir.file("notes.txt"), "--force", name}, &output)) << output;
    EXPECT_EQ(1, decode_png(dir.file("notes.txt")).height);
}

// The listing and the CSV, with or without the samples, fail with status 1 and the reason when standard output
// cannot take them, instead of reporting the files well-formed.
TEST(Listing, OutputThatCannotBeWrittenIsAFailure)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.6", 8);
    std::string name = dir.file(data_files(dir.path()).at(0));
    for (const char* options : {"", "--csv", "--csv --samples"}) {
        std::string said;
        std::string command = "(" + std::string(QKVDUMP) + " " + options + " '" + name + "' > /dev/full)";
        EXPECT_EQ(1, run_command(command, &said)) << options;
        EXPECT_EQ("qkvdump: cannot write to standard output: No space left on device\n", said) << options;
    }
}

