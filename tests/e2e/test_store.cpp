// The data store end to end beyond the scenario table: the records' content,
// their times and when they reach the disk. And qkvdump's pictures of such
// recordings, read back by another decoder. A recording served back by headsim
// is recorded again as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "store/record.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/picture.h"
#include "waterfall/waterfall.h"

using namespace e2e;

namespace {

// A run with no terminal that ends by itself when the head closes after `commands` replies.
void run_until_head_closes(const TempDir& dir, const std::string& address, int commands,
                           ClientOptions options = {})
{
    write_settings(dir, address, "Range=40\nGain=7\n");
    HeadSim head(address, {"--once", "--fault", "close@" + std::to_string(commands + 1)});
    ASSERT_TRUE(head.ready());
    options.with_terminal = false;
    if (options.program == PROGRAM) options.program = PROGRAM_STORE_ON;
    Client client(dir.path(), options);
    ExitInfo exit = client.wait_exit(10000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status) << "signal " << exit.signal;
}

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

// A PNG file read back by libpng, the decoder behind most viewers: it checks
// the CRC-32 of every chunk it reads, where lenient decoders skip them.
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

// One well-formed record of a ping recorded at 10:00:00 plus hundredths, with the data bytes given or all 0.
std::string make_record(const char* hundredths, int interval_ms, const uint8_t* samples = nullptr)
{
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    if (samples != nullptr) memcpy(image + PING_IMAGE_SAMPLES, samples, PING_SAMPLE_COUNT);
    RecordFields fields = {"08-DEC-2026", "10:00:00", hundredths, 3, 180, interval_ms, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<const char*>(record), RECORD_SIZE);
}

// headsim serving a recording to one run of the program; how long the run took, in ms.
long long replay_run_ms(const std::string& address, const std::string& recording,
                        const std::vector<std::string>& pace)
{
    TempDir dir;
    write_settings(dir, address);
    std::vector<std::string> head_options = {"--once", "--replay", recording};
    head_options.insert(head_options.end(), pace.begin(), pace.end());
    HeadSim head(address, head_options);
    EXPECT_TRUE(head.ready());
    ClientOptions options;
    options.with_terminal = false;
    long long start = now_ms();
    Client client(dir.path(), options);
    EXPECT_EQ(1, client.wait_exit(20000).status);
    return now_ms() - start;
}

const long CACHESTAT = 451;  // cachestat(2), Linux 6.5 and later

// Pages of a file not on the disk yet (dirty or being written); -1 when the kernel cannot tell.
long long pages_not_on_disk(const std::string& path)
{
    struct { uint64_t offset, length; } range = {0, 0};
    struct { uint64_t cached, dirty, writeback, evicted, recently_evicted; } pages = {};
    int fd = open(path.c_str(), O_RDONLY);
    long told = syscall(CACHESTAT, fd, &range, &pages, 0);
    close(fd);
    return told == 0 ? static_cast<long long>(pages.dirty + pages.writeback) : -1;
}

// Whether a file written and synced here is seen to be on the disk (not so on a file system in memory).
bool sees_pages_reach_disk(const TempDir& dir)
{
    std::string probe = dir.file("probe");
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT, 0644);
    bool synced = write(fd, "probe", 5) == 5 && fdatasync(fd) == 0;
    close(fd);
    bool seen = synced && pages_not_on_disk(probe) == 0;
    unlink(probe.c_str());
    return seen;
}

}  // namespace

// A record holds the settings, packet 7's header and the data bytes of packets 0 to 7 as the head sent them.
TEST(Store, RecordsMatchBetweenRunsOfTheSameHead)
{
    TempDir first, second;
    run_until_head_closes(first, "127.0.3.2", 16);
    run_until_head_closes(second, "127.0.3.3", 16);
    std::string a = read_file(first.file(data_files(first.path()).at(0)));
    std::string b = read_file(second.file(data_files(second.path()).at(0)));
    ASSERT_EQ(2u * RECORD, a.size());
    // Everything but the time fields is the same for the same head and settings.
    for (int record = 0; record < 2; ++record) {
        size_t at = static_cast<size_t>(record) * RECORD;
        const char* bytes = a.data() + at;
        EXPECT_EQ(0, memcmp(bytes, "QKV\x0A\x20\x00\x1F\x4D", 8));
        EXPECT_EQ(7, bytes[RECORD_GAIN_AT]) << "gain";
        EXPECT_EQ(24, bytes[RECORD_RANGE_AT]) << "range code of 40 m";
        EXPECT_EQ(0, memcmp(bytes + RECORD_IMAGE_AT, "IUX", 3));
        EXPECT_EQ(7, bytes[105] & 7) << "the header kept is packet 7's";
        EXPECT_EQ('\xFC', bytes[8112]);
        EXPECT_EQ(0, bytes[88] | bytes[89]) << "no interval before the tenth ping";
        EXPECT_EQ(a.substr(at, TIME_FIELDS_START), b.substr(at, TIME_FIELDS_START));
        EXPECT_EQ(a.substr(at + TIME_FIELDS_END, 68), b.substr(at + TIME_FIELDS_END, 68));
        EXPECT_EQ(a.substr(at + 112, RECORD - 112), b.substr(at + 112, RECORD - 112)) << "record " << record;
    }
}

// A head answering as fast as it can: thousands of records over several seconds, their times never going back.
TEST(Store, RecordTimesNeverGoBack)
{
    const size_t pings = 5000;
    TempDir dir;
    ClientOptions options;
    options.stdout_path = dir.file(SCREEN);
    run_until_head_closes(dir, "127.0.3.10", 8 * pings, options);
    std::string data = read_file(dir.file(data_files(dir.path()).at(0)));
    EXPECT_EQ(pings * RECORD, data.size());
    EXPECT_EQ("", first_time_step_back(data));
}

// A record written just before the head stalls is on the disk about a second later, not only once the head answers.
TEST(Store, RecordReachesDiskWhileHeadStalls)
{
    TempDir dir;
    if (!sees_pages_reach_disk(dir)) GTEST_SKIP() << "this kernel or file system does not tell when pages are on disk";
    write_settings(dir, "127.0.3.9");
    HeadSim head("127.0.3.9", {"--once", "--fault", "stall:3500@9"});
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    Client client(dir.path(), options);
    ASSERT_TRUE(client.wait_for(" - 8 kbytes\n\nSend Switches"));
    long long written = now_ms();
    std::string file = dir.file(data_files(dir.path()).at(0));
    while (pages_not_on_disk(file) != 0 && now_ms() - written < 2000) usleep(20000);
    EXPECT_EQ(0, pages_not_on_disk(file)) << "not on the disk 2 s after it was written";
    client.type("q");
    EXPECT_EQ(0, client.answer_prompt().status);
}

// The program this tree builds has the store switch its configuration asked for.
TEST(BuiltProgram, StoreSwitchAsConfigured)
{
    TempDir dir;
    ClientOptions options;
    options.program = HALVEX_BUILT;
    run_until_head_closes(dir, "127.0.3.8", 8, options);
    EXPECT_EQ(HALVEX_BUILT_STORES ? 1u : 0u, data_files(dir.path()).size());
}

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

// The width must divide the 8000 data bytes: anything else is refused with status 2 before any picture is made.
// The options come after the file, as GNU tools take them.
TEST(Picture, WidthMustDivideTheDataBytes)
{
    TempDir dir;
    run_until_head_closes(dir, "127.0.9.3", 8);
    std::string name = dir.file(data_files(dir.path()).at(0));
    std::string png = dir.file("ping.png");
    for (const char* width : {"7", "0", "16000", "-8", "8x", "", " 8"}) {
        std::string output;
        EXPECT_EQ(2, qkvdump_with({name, "--width", width, "--png", png}, &output)) << width;
        EXPECT_EQ(0u, output.find("qkvdump: --width must be one of 1, 2, 4, 5, 8, 10, ")) << output;
        EXPECT_NE(std::string::npos, output.find(", 4000 or 8000, not \"" + std::string(width) + "\"\n")) << output;
        EXPECT_FALSE(file_exists(png)) << width;
    }
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
// puts the same pixels inside margins of paper and ink only: a scale above, times down the left.
TEST(Picture, DepthLineOverTheWaterfall)
{
    TempDir dir;
    std::vector<uint8_t> samples(12 * PING_SAMPLE_COUNT);
    std::string records;
    for (int ping = 0; ping < 12; ++ping) {
        uint8_t* row = &samples[ping * PING_SAMPLE_COUNT];
        int bottom = 3000 + 40 * ping;  // at range 30 m: 11.25 m, 0.15 m deeper each ping
        for (int i = 0; i < PING_SAMPLE_COUNT; ++i) row[i] = static_cast<uint8_t>(10 + (i * 7 + ping) % 5 + (i >= bottom && i < bottom + 400 ? 150 : 0));
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
    ASSERT_GT(framed.width, 1000);
    ASSERT_GT(framed.height, 12);
    int top = framed.height - 12, left = 0;  // where the pings' pixels start
    while (left + 1000 < framed.width && memcmp(&framed.pixels[(top * framed.width + left) * 3], &line.pixels[0], 3000) != 0) ++left;
    ASSERT_LT(left + 1000, framed.width) << "the pings' pixels inside the margins";
    int ink = 0;
    for (int y = 0; y < framed.height; ++y) {
        for (int x = 0; x < framed.width; ++x) {
            const uint8_t* pixel = &framed.pixels[(y * framed.width + x) * 3];
            bool data = y >= top && x >= left && x < left + 1000;
            if (data) {
                ASSERT_EQ(0, memcmp(pixel, &line.pixels[((y - top) * 1000 + x - left) * 3], 3)) << x << " " << y;
            } else {
                ASSERT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2] && (pixel[0] == 0 || pixel[0] == 255)) << x << " " << y;
                ink += pixel[0] == 0;
            }
        }
    }
    EXPECT_GT(ink, 1000) << "the scale, its labels, the title and the times";
}

// --height N: N rows, each the mean of consecutive pings, the first rows taking one ping more where the pings do
// not share out evenly; more rows than pings gives a row per ping; a height that is no number of rows is refused.
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
    for (const char* height : {"0", "-3", "4x", ""}) {
        std::string refused;
        EXPECT_EQ(2, qkvdump_with({"--png", png, "--height", height, name}, &refused)) << height;
        EXPECT_EQ(0u, refused.find("qkvdump: --height must be a number of rows from 1 to 2147483647, not \"" +
                                   std::string(height) + "\"\nusage: qkvdump ")) << refused;
    }
}

// A picture that cannot be written (a full disk) fails the run with the reason, never reports success.
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

// A run recorded, served back by headsim and recorded again gives the same ping images in order,
// and ends with the receive failure after the last ping.
TEST(Replay, RecordingServedBackIsRecordedTheSame)
{
    TempDir first, second;
    run_until_head_closes(first, "127.0.10.1", 24);
    std::string recording = first.file(data_files(first.path()).at(0));
    write_settings(second, "127.0.10.1", "Range=40\nGain=7\n");
    HeadSim head("127.0.10.1", {"--once", "--replay", recording, "--as-fast-as-asked"});
    ASSERT_TRUE(head.ready());
    ClientOptions options;
    options.program = PROGRAM_STORE_ON;
    options.with_terminal = false;
    options.stdout_path = second.file(SCREEN);
    Client client(second.path(), options);
    EXPECT_EQ(1, client.wait_exit(10000).status);
    EXPECT_NE(std::string::npos, head.stop().find("24 replies, 3 pings (end of the recording)"));

    std::vector<std::string> files = data_files(second.path());
    ASSERT_EQ(1u, files.size());
    Expected expected("127.0.10.1", 40, 7);
    for (int ping = 1; ping <= 3; ++ping) {
        expected.pings(ping, ping).text("\nWriting to file: " + files[0] + " - " + std::to_string(8 * ping) + " kbytes");
    }
    expected.pass().text("recv() failed!\n").prompt();
    EXPECT_EQ(expected.str(), read_file(options.stdout_path));
    std::string a = read_file(recording);
    std::string b = read_file(second.file(files[0]));
    ASSERT_EQ(3u * RECORD, a.size());
    ASSERT_EQ(a.size(), b.size());
    for (size_t at = 0; at < a.size(); at += RECORD) {
        EXPECT_EQ(a.substr(at + RECORD_IMAGE, PING_IMAGE_SIZE), b.substr(at + RECORD_IMAGE, PING_IMAGE_SIZE))
            << "record " << at / RECORD + 1;
    }
}

// A recording with a torn tail, a malformed record or no record at all, or a pipe, is refused before listening,
// naming the record and byte offset of the fault.
TEST(Replay, UnservableRecordingIsRefused)
{
    TempDir dir;
    std::string record = make_record(".00", 0);
    std::string torn = dir.file("torn.QKV");
    write_file(torn, record + record + record.substr(0, 100));
    std::string malformed = dir.file("malformed.QKV");
    std::string bad = record;
    bad[RECORD_END] = 0;
    write_file(malformed, record + bad + record);
    std::string empty = dir.file("empty.QKV");
    write_file(empty, "");

    // headsim that wrongly listens is ended by the timeout, with another status.
    const std::string serve = std::string("timeout 10 ") + HEADSIM + " --address 127.0.10.2 --replay ";
    std::string said;
    EXPECT_EQ(2, run_command(serve + torn, &said));
    EXPECT_NE(std::string::npos, said.find("torn tail: 100 bytes after record 2 (byte offset 16384)")) << said;
    EXPECT_EQ(2, run_command(serve + malformed, &said));
    EXPECT_NE(std::string::npos, said.find("record 2 is malformed at byte offset 16304")) << said;
    EXPECT_EQ(2, run_command(serve + empty, &said));
    EXPECT_NE(std::string::npos, said.find("holds no ping")) << said;
    EXPECT_EQ(std::string::npos, said.find("listening")) << said;

    // A pipe cannot be read again for the next connection; one with no writer is not waited on.
    std::string whole = dir.file("whole.QKV");
    write_file(whole, record + record);
    EXPECT_EQ(2, run_command("cat '" + whole + "' | " + serve + "/dev/stdin", &said));
    EXPECT_NE(std::string::npos, said.find("/dev/stdin is not a regular file")) << said;
    std::string fifo = dir.file("fifo.QKV");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(2, run_command(serve + fifo, &said));
    EXPECT_NE(std::string::npos, said.find("fifo.QKV is not a regular file")) << said;
}

// Pings are served at the recorded pace: 200 ms apart by the timestamps where the interval field is 0,
// then by the field, so three take at least 400 ms, and under half that at four times the speed.
TEST(Replay, PacedByTheRecording)
{
    TempDir dir;
    std::string recording = dir.file("paced.QKV");
    write_file(recording, make_record(".00", 0) + make_record(".20", 0) + make_record(".20", 200));
    long long recorded_pace = replay_run_ms("127.0.10.3", recording, {});
    long long four_times = replay_run_ms("127.0.10.3", recording, {"--speed", "4"});
    EXPECT_GE(recorded_pace, 400);
    EXPECT_LT(four_times, recorded_pace / 2);
}
