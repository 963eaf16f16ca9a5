// qkvdump --follow under a pseudo-terminal of known size, with a data file
// grown record by record. What it draws is fed to a terminal emulator
// (libvterm), and the cells are compared with the colours of the pings'
// column means.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vterm.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <numeric>

#include "store/record.h"
#include "tests/e2e/harness.h"
#include "waterfall/waterfall.h"  // the colour map

using namespace e2e;

namespace {

const char FILE_NAME[] = "F.QKV";
const uint32_t UPPER_HALF = 0x2580;
const uint32_t LOWER_HALF = 0x2584;

typedef std::array<uint8_t, PING_SAMPLE_COUNT> Samples;

// Ping n's samples: a ramp across the range, shifted by n, so that columns and pings differ.
Samples ping_samples(int n)
{
    Samples samples;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) samples[i] = static_cast<uint8_t>(i * 7 / 31 + 40 * n);
    return samples;
}

// A ping over a flat bottom at sample 3050 of 8000: 15.25 m at 40 m, its echo fading as a seabed's does.
Samples bottom_samples(int n)
{
    Samples samples;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
        samples[i] = static_cast<uint8_t>(10 + (i + n) % 3 + (i >= 3050 ? 160 * std::exp((3050 - i) / 400.0) : 0));
    }
    return samples;
}

// Ping n as a record: its time 09:05:0n.37 (or the computer's local time so many seconds on), gain 7 dB, 40 m,
// interval 120 ms.
std::string ping_record(int n, Samples (*make)(int) = ping_samples, const time_t* seconds_on = nullptr)
{
    uint8_t image[PING_IMAGE_SIZE] = {};
    Samples samples = make(n);
    memcpy(image + PING_IMAGE_SAMPLES, samples.data(), PING_SAMPLE_COUNT);
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    char date[16] = "08-DEC-2026", time[16];
    snprintf(time, sizeof time, "09:05:0%d", n % 10);
    time_t then = ::time(nullptr) + (seconds_on != nullptr ? *seconds_on : 0);
    tm local;
    if (seconds_on != nullptr && localtime_r(&then, &local) != nullptr) {
        strftime(date, sizeof date, "%d-%b-%Y", &local);
        for (char* c = date; *c; ++c) *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
        strftime(time, sizeof time, "%H:%M:%S", &local);
    }
    RecordFields fields{date, time, ".37", 7, 240, 120, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<char*>(record), RECORD_SIZE);
}

void append(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// What ping n's columns show across a terminal of `columns` cells: each the mean
// of its span of the 8000 samples, from c * 8000 / columns (whole samples) up to
// the next column's, rounded to the nearest.
std::vector<uint8_t> column_means(int ping, int columns)
{
    Samples samples = ping_samples(ping);
    std::vector<uint8_t> means;
    for (int column = 0; column < columns; ++column) {
        int first = column * PING_SAMPLE_COUNT / columns, end = (column + 1) * PING_SAMPLE_COUNT / columns;
        double sum = std::accumulate(samples.begin() + first, samples.begin() + end, 0.0);
        means.push_back(static_cast<uint8_t>(std::floor(sum / (end - first) + 0.5)));
    }
    return means;
}

// What the program drew, as a terminal shows it.
class Screen {
public:
    Screen(int rows, int columns) : vt_(vterm_new(rows, columns))
    {
        vterm_set_utf8(vt_, 1);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_enable_altscreen(screen_, 1);
        callbacks_.settermprop = note_property;
        vterm_screen_set_callbacks(screen_, &callbacks_, this);
        vterm_screen_reset(screen_, 1);
    }
    ~Screen() { vterm_free(vt_); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Takes in what the program wrote since the last call.
    void update(const std::string& output)
    {
        if (output.size() > fed_) vterm_input_write(vt_, output.data() + fed_, output.size() - fed_);
        fed_ = output.size();
    }
    void resize(int rows, int columns) { vterm_set_size(vt_, rows, columns); }
    VTermScreenCell cell(int row, int column) const
    {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        return cell;
    }
    std::string text(int row) const
    {
        int rows = 0;
        int columns = 0;
        vterm_get_size(vt_, &rows, &columns);
        std::string text;
        for (int column = 0; column < columns; ++column) {
            uint32_t c = cell(row, column).chars[0];
            text += c == 0 ? ' ' : c < 0x80 ? static_cast<char>(c) : '#';
        }
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    bool alternate = false;
    bool cursor_visible = true;

private:
    static int note_property(VTermProp property, VTermValue* value, void* user)
    {
        Screen* screen = static_cast<Screen*>(user);
        if (property == VTERM_PROP_ALTSCREEN) screen->alternate = value->boolean;
        if (property == VTERM_PROP_CURSORVISIBLE) screen->cursor_visible = value->boolean;
        return 1;
    }
    VTerm* vt_;
    VTermScreen* screen_;
    VTermScreenCallbacks callbacks_ = {};
    size_t fed_ = 0;
};

bool is_rgb(const VTermColor& colour, const uint8_t* rgb)
{
    return VTERM_COLOR_IS_RGB(&colour) && !VTERM_COLOR_IS_DEFAULT_FG(&colour) &&
           !VTERM_COLOR_IS_DEFAULT_BG(&colour) && colour.rgb.red == rgb[0] && colour.rgb.green == rgb[1] &&
           colour.rgb.blue == rgb[2];
}

std::string describe(const VTermScreenCell& cell)
{
    char text[96];
    snprintf(text, sizeof text, "U+%04X fg %d,%d,%d bg %d,%d,%d", cell.chars[0], cell.fg.rgb.red, cell.fg.rgb.green,
             cell.fg.rgb.blue, cell.bg.rgb.red, cell.bg.rgb.green, cell.bg.rgb.blue);
    return text;
}

// A picture row in 24-bit colour: upper halves in the older ping's colours, lower halves in the newer's.
// An older of 0: only the newer, as lower half blocks. Returns the first column that differs, or "".
std::string row_mismatch(const Screen& screen, int row, int columns, int older, int newer)
{
    std::vector<uint8_t> newer_means = column_means(newer, columns);
    std::vector<uint8_t> older_means = older > 0 ? column_means(older, columns) : newer_means;
    for (int column = 0; column < columns; ++column) {
        VTermScreenCell cell = screen.cell(row, column);
        const uint8_t* newer_rgb = WATERFALL_COLOURS[newer_means[column]];
        bool right = older > 0 ? cell.chars[0] == UPPER_HALF && is_rgb(cell.fg, WATERFALL_COLOURS[older_means[column]]) &&
                                     is_rgb(cell.bg, newer_rgb)
                               : cell.chars[0] == LOWER_HALF && is_rgb(cell.fg, newer_rgb) &&
                                     VTERM_COLOR_IS_DEFAULT_BG(&cell.bg);
        if (!right) return "row " + std::to_string(row) + " column " + std::to_string(column) + ": " + describe(cell);
    }
    return "";
}

// Colours 16 to 255 as terminals commonly show them (libvterm's own differ): a 6x6x6 cube, then 24 greys.
std::array<int, 3> xterm_colour(int index)
{
    static const int LEVELS[6] = {0, 0x5F, 0x87, 0xAF, 0xD7, 0xFF};
    if (index >= 232) return {8 + 10 * (index - 232), 8 + 10 * (index - 232), 8 + 10 * (index - 232)};
    int cube = index - 16;
    return {LEVELS[cube / 36], LEVELS[cube / 6 % 6], LEVELS[cube % 6]};
}

std::string pings_text(int count)
{
    return std::string(FILE_NAME) + "  " + std::to_string(count) + (count == 1 ? " ping " : " pings");
}

ClientOptions follow_options(const std::vector<std::string>& arguments, const std::string& colour_term)
{
    ClientOptions options;
    options.program = QKVDUMP;
    options.arguments = arguments;
    options.environment = {"COLORTERM=" + colour_term};
    return options;
}

// qkvdump --follow on a data file of pings 1 to `pings`, on a terminal of 24 rows and 80 columns.
class Following {
public:
    explicit Following(int pings, const std::string& colour_term = "truecolor", std::vector<std::string> options = {})
    {
        std::string records;
        for (int n = 1; n <= pings; ++n) records += ping_record(n);
        write_file(path(), records);
        options.insert(options.begin(), {"--follow", FILE_NAME});
        client_.reset(new Client(dir_.path(), follow_options(options, colour_term)));
    }
    std::string path() const { return dir_.file(FILE_NAME); }
    Client& client() { return *client_; }
    // Waits until the status line counts `count` pings, and takes in the screen so far.
    bool wait_pings(int count, int timeout_ms = 10000)
    {
        bool counted = client_->wait_for(pings_text(count), timeout_ms);
        screen.update(client_->screen());
        return counted;
    }
    int quit()
    {
        client_->type("q");
        return client_->wait_exit(5000).status;
    }
    Screen screen{24, 80};

private:
    TempDir dir_;
    std::unique_ptr<Client> client_;
};

}  // namespace

// Records appended one by one appear at the bottom in their column means' colours, the picture moving up.
TEST(Follow, NewPingsAppearAtTheBottomInTheirColumnMeansColours)
{
    Following follow(0);
    ASSERT_TRUE(follow.wait_pings(0));
    for (int n = 1; n <= 5; ++n) {
        append(follow.path(), ping_record(n));
        ASSERT_TRUE(follow.wait_pings(n, 5000)) << n;
        EXPECT_EQ("", row_mismatch(follow.screen, 22, 80, n - 1, n)) << "after ping " << n;
    }
    EXPECT_EQ("", row_mismatch(follow.screen, 21, 80, 2, 3));
    EXPECT_EQ("", row_mismatch(follow.screen, 20, 80, 0, 1));
    EXPECT_EQ("", follow.screen.text(19));
    EXPECT_EQ(0, follow.quit());
}

// --follow --depth: each ping's bottom drawn in red over the waterfall once the picker has the next two pings, and
// the latest depth below the surface in the status line.
TEST(Follow, DepthLineAndLatestDepth)
{
    Following follow(0, "truecolor", {"--depth", "--draft", "0.5"});
    ASSERT_TRUE(follow.wait_pings(0));
    for (int n = 1; n <= 4; ++n) append(follow.path(), ping_record(n, bottom_samples));
    ASSERT_TRUE(follow.wait_pings(4));
    ASSERT_TRUE(follow.client().wait_for("depth 15.", 5000)) << follow.screen.text(23);
    follow.screen.update(follow.client().screen());
    std::string status = follow.screen.text(23);
    double depth = atof(status.substr(status.find("depth ") + 6).c_str());
    EXPECT_NEAR(15.25 + 0.5, depth, 0.08) << status;  // within 0.2% of the range
    const uint8_t red[3] = {255, 0, 0};
    int red_layers[2] = {0, 0};  // pings 1 and 2, decided; pings 3 and 4, not yet
    for (int row = 21; row <= 22; ++row) {
        for (int column = 0; column < 80; ++column) {
            VTermScreenCell cell = follow.screen.cell(row, column);
            if (is_rgb(cell.fg, red) || is_rgb(cell.bg, red)) {
                ++red_layers[row - 21];
                EXPECT_TRUE(row == 21 && column == 30 && is_rgb(cell.fg, red) && is_rgb(cell.bg, red)) << describe(cell);
            }
        }
    }
    EXPECT_EQ(1, red_layers[0]);
    EXPECT_EQ(0, red_layers[1]);
    EXPECT_EQ(0, follow.quit());
}

// With a draft and a water level above a datum, qkvweb shows the depth qkvdump --follow shows of the same pings,
// below the same datum, in /status and /metrics: the level of the pings' hour (it changes by the hour) read from
// the same file by both, the time of the records taken in the same zone.
TEST(Follow, QkvwebShowsTheSameReducedDepth)
{
    TempDir levels;
    std::string csv = "time,level_m\n";
    for (int hour = 12; hour <= 60; ++hour) {
        char line[64];
        snprintf(line, sizeof line, "2026-12-%02dT%02d:00:00Z,%.2f\n", 7 + hour / 24, hour % 24, 0.5 + 0.05 * hour);
        csv += line;
    }
    write_file(levels.file("level.csv"), csv);
    std::vector<std::string> reduction = {"--draft", "0.6", "--water-level", levels.file("level.csv"), "--datum", "LAT"};
    std::vector<std::string> options = {"--depth"};
    options.insert(options.end(), reduction.begin(), reduction.end());
    Following follow(0, "truecolor", options);
    ASSERT_TRUE(follow.wait_pings(0));
    follow.client().resize(24, 160);  // room in the status line for the depth and its datum
    std::string dir = follow.path().substr(0, follow.path().rfind('/'));
    for (int n = 1; n <= 14; ++n) {
        std::string record = ping_record(n, [](int) { return bottom_samples(0); });
        append(follow.path(), record);
        append(dir + "/" + today() + "-0001.QKV", record);
    }
    ASSERT_TRUE(follow.client().wait_for("below LAT", 8000)) << follow.client().screen();
    const std::string& drawn = follow.client().screen();
    std::string line = drawn.substr(drawn.rfind("depth ", drawn.rfind("below LAT")));
    double dumped = atof(line.c_str() + 6);
    std::string command = "cd '" + dir + "' && { timeout -s TERM 8 " + std::string(QKVWEB) +
                          " --listen 127.77.41.9:47190";
    for (const std::string& option : reduction) command += " '" + option + "'";
    command += " > /dev/null 2>&1 & sleep 4; curl -s --max-time 2 http://127.77.41.9:47190/status; echo; "
               "curl -s --max-time 2 http://127.77.41.9:47190/metrics | grep '^qkvweb_depth_meters'; wait; }";
    std::string said;
    run_command(command, &said);
    size_t at = said.find("\"depth_m\":");
    ASSERT_NE(std::string::npos, at) << said;
    EXPECT_NEAR(dumped, atof(said.c_str() + at + 10), 0.001) << line.substr(0, 40) << "\n" << said;
    EXPECT_NE(std::string::npos, said.find("\"depth_reference\":\"LAT\"")) << said;
    char metric[64];
    snprintf(metric, sizeof metric, "qkvweb_depth_meters{reference=\"LAT\"} %.2f", dumped);
    EXPECT_NE(std::string::npos, said.find(metric)) << said;
    EXPECT_EQ(0, follow.quit());
}

// Pings over no bottom: noise alone.
Samples no_bottom_samples(int n)
{
    Samples samples;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) samples[i] = static_cast<uint8_t>(10 + (i + n) % 3);
    return samples;
}

const std::string DEPTH_READER =
    std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/read_depth_sentences.js";
const char NMEA_READER_MODULES[] = "/usr/local/lib/halvex-tests/node_modules";  // scripts/setup.sh's

// A depth as the sentences give it; "" for none, their empty field.
std::string metres_text(double metres)
{
    char text[32] = "";
    if (metres >= 0) snprintf(text, sizeof text, "%.2f", metres);
    return text;
}

// A row of --nmea-out's: what happens while it runs, and the sentences it must send.
struct NmeaRow {
    const char* followed;   // the file named, or today's newest data file with $D-0001.QKV at the start
    const char* meanwhile;  // shell commands; "pings" holds the row's pings
    const char* options;    // besides --draft 0.5
    int pings;
    Samples (*make)(int);
    int sent;
    double below_transducer;  // -1: none
    const char* offset;       // DPT's
};

// One row's run in its directory, with ports of its own: each wait bounded, in twentieths of a second (gpsd
// listening, gpspipe watching, the row's changes made, then the sentences the row sends relayed), half a second
// more for any it must not send (two seconds where it sends none), and qkvdump ended; its status in "status".
std::string nmea_row_command(const NmeaRow& row, const std::string& directory, int first_port)
{
    std::string udp = std::to_string(first_port), tcp = std::to_string(first_port + 1);
    return "(cd '" + directory + "' || exit 1; D=" + today() + "; waits() { i=0; while ! eval \"$1\" && "
           "[ $i -lt $2 ]; do sleep 0.05; i=$((i+1)); done; }; gpsd -b -n -N -S " + tcp + " -F gpsd.sock "
           "udp://127.77.41.1:" + udp + " > /dev/null 2>&1 & gpsd=$!; waits \"ss -ltn | grep -q :" + tcp + "\" 100; "
           "timeout 40 gpspipe -r localhost:" + tcp + " > relayed.txt 2>&1 & pipe=$!; waits 'grep -q WATCH "
           "relayed.txt' 100; (sleep 0.5; " + row.meanwhile + ") & changes=$!; timeout -s TERM 30 " +
           std::string(QKVDUMP) + " --follow --depth --draft 0.5 " + row.options + " --nmea-out 127.77.41.1:" + udp +
           " " + row.followed + " < /dev/null > drawn.txt 2>&1 & dump=$!; wait $changes; waits '[ $(grep -c ^.SD "
           "relayed.txt) -ge " + std::to_string(3 * row.sent) + " ]' 200; sleep " + (row.sent > 0 ? "0.5" : "2") +
           "; kill $dump; wait $dump; kill $pipe $gpsd; wait $pipe; grep '^\\$SD' relayed.txt | NODE_PATH=" +
           NMEA_READER_MODULES + " timeout 20 node '" + DEPTH_READER + "' > read.txt; echo $? > status) & ";
}

// The rows run side by side as services (no terminal), each beside a gpsd of its own, and what gpsd relays read
// back by Signal K's parser. Each test its own ports from first_port, as ctest runs tests side by side too.
void check_nmea_rows(int first_port, const std::vector<NmeaRow>& rows)
{
    std::vector<std::unique_ptr<TempDir>> dirs;
    std::string together;
    for (const NmeaRow& row : rows) {
        // Of the time they are sent at; "old" as a file of another day copied in.
        const time_t seconds_on = 5;
        std::string records, old;
        for (int n = 1; n <= row.pings; ++n) {
            records += ping_record(n, row.make, &seconds_on);
            old += ping_record(n, row.make);
        }
        dirs.push_back(std::make_unique<TempDir>());
        const TempDir& dir = *dirs.back();
        write_file(dir.file("old"), old);
        write_file(dir.file("pings"), records);
        write_file(dir.file(*row.followed ? std::string(row.followed) : today() + "-0001.QKV"), records);
        together += nmea_row_command(row, dir.path(), first_port + 2 * (static_cast<int>(dirs.size()) - 1));
    }
    std::string said;
    EXPECT_EQ(0, run_command(together + "wait", &said)) << said;
    for (size_t k = 0; k < rows.size(); ++k) {
        const NmeaRow& row = rows[k];
        const TempDir& dir = *dirs[k];
        EXPECT_EQ("0\n", read_file(dir.file("status"))) << row.meanwhile << ": " << said;
        EXPECT_EQ("", read_file(dir.file("drawn.txt"))) << "nothing drawn without a terminal";
        std::string relayed = read_file(dir.file("relayed.txt"));
        std::string depth = metres_text(row.below_transducer);
        std::string surface = metres_text(row.below_transducer < 0 ? -1 : row.below_transducer + 0.5);
        int dpt = 0, dbt = 0, dbs = 0;
        for (size_t at = relayed.find('$'); at != std::string::npos; at = relayed.find('$', at + 1)) {
            std::string sentence = relayed.substr(at, relayed.find('\n', at) - at);
            char metres[16] = "", offset[16] = "";
            if (sscanf(sentence.c_str(), "$SDDPT,%15[^,],%15[^,],40*", metres, offset) == 2 ||
                sscanf(sentence.c_str(), "$SDDPT,,%15[^,],40*", offset) == 1) {
                ++dpt;
                EXPECT_EQ(row.offset, std::string(offset)) << sentence;
            } else if (sscanf(sentence.c_str(), "$SDDBT,%*[^,],f,%15[^,],M,", metres) == 1 ||
                       sentence.rfind("$SDDBT,,f,,M,,F*", 0) == 0) {
                ++dbt;
            } else if (sscanf(sentence.c_str(), "$SDDBS,%*[^,],f,%15[^,],M,", metres) == 1 ||
                       sentence.rfind("$SDDBS,,f,,M,,F*", 0) == 0) {
                ++dbs;
            } else {
                ADD_FAILURE() << sentence;
            }
            bool surface_depth = sentence.rfind("$SDDBS", 0) == 0;
            EXPECT_NEAR(atof((surface_depth ? surface : depth).c_str()), atof(metres), 0.08) << sentence;
            EXPECT_EQ(row.below_transducer < 0, metres[0] == 0) << sentence;
        }
        EXPECT_EQ(row.sent, dpt) << row.meanwhile << "\n" << relayed;
        EXPECT_EQ(row.sent, dbt) << row.meanwhile;
        EXPECT_EQ(row.sent, dbs) << row.meanwhile;
        // As a chart plotter's server reads them: the depths, null for no bottom, and the offset's meaning.
        std::string read = read_file(dir.file("read.txt"));
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = read.find('\n', at)) != std::string::npos; at = end + 1) {
            lines.push_back(read.substr(at, end - at));
        }
        ASSERT_EQ(3u * row.sent, lines.size()) << read;
        for (const std::string& line : lines) {
            std::string kind = line.substr(0, 3);
            std::string key = kind == "DBS" ? "belowSurface=" : "belowTransducer=";
            size_t value_at = line.find(key);
            ASSERT_NE(std::string::npos, value_at) << line;
            std::string value = line.substr(value_at + key.size(), line.find(' ', value_at) - value_at - key.size());
            std::string want = kind == "DBS" ? surface : depth;
            double got = value == "null" ? -1 : atof(value.c_str());
            EXPECT_NEAR(want.empty() ? -1 : atof(want.c_str()), got, 0.08) << line;
            const char* offset_meaning = row.offset[0] == '-' ? "transducerToKeel=1.2" : "surfaceToTransducer=0.5";
            EXPECT_TRUE(kind != "DPT" || line.find(offset_meaning) != std::string::npos) << line;
        }
    }
}

// --follow --depth --nmea-out run as a service (no terminal): nothing drawn, and as a sounder sends them, for each ping
// that comes while it runs a DPT (below the transducer, the draft as offset or the keel's negative, the range), a
// DBT and, the draft given, a DBS (below the surface) sentence, each with empty depth fields for a ping with no bottom;
// gpsd, reading them from a loopback UDP port, takes them as right (it drops a sentence whose checksum is wrong) and
// passes them on, and Signal K's parser, which feeds chart plotters, reads each depth back, null for no bottom. Old
// pings are not sent: the six the file holds at the start, a file moved over the name, a recording gone back to when
// the next run's empty file goes (a recorder restarting with the head away), a copy of the recording made under the
// next name, while the recording goes on (nor is it followed); a recording begun meanwhile is sent from its first
// ping. Of six pings sent, the picker still waits on the last two; with a reduction, the spike test on five more,
// and the depth is at the water's speed of sound. Pings whose records are not of now are never sent, however they
// come.
TEST(Follow, NmeaOutSendsTheDepthsOfPingsThatComeWhileItRuns)
{
    check_nmea_rows(47171, {
        {"F.QKV", "sleep 1; cat pings >> F.QKV", "", 6, bottom_samples, 4, 15.25, "0.50"},
        {"F.QKV", "sleep 1; cp pings next; mv next F.QKV", "", 6, bottom_samples, 0, 15.25, "0.50"},
        {"", "sleep 1.5; : > $D-0002.QKV; sleep 1.5; rm $D-0002.QKV; sleep 1.5; "
             "head -c 24576 pings > $D-0003.QKV; sleep 1.5; tail -c 24576 pings >> $D-0003.QKV", "", 6, bottom_samples,
         4, 15.25, "0.50"},
        {"", "sleep 1; cp $D-0001.QKV $D-0099.QKV; sleep 1.5; cat pings pings >> $D-0001.QKV", "", 6, bottom_samples,
         10, 15.25, "0.50"},
    });
}

// What --nmea-out sends of a ping with no bottom, and of a reduced one, DPT's offset the keel's; and never the
// pings of a file of another day copied in, though those of now after them.
TEST(Follow, NmeaOutSendsNoBottomAndReducedDepths)
{
    check_nmea_rows(47181, {
        {"F.QKV", "sleep 1; cat old pings >> F.QKV", "", 6, bottom_samples, 4, 15.25, "0.50"},
        {"F.QKV", "sleep 1; cat pings >> F.QKV", "", 6, no_bottom_samples, 4, -1, "0.50"},
        {"F.QKV", "sleep 1; cat pings >> F.QKV", "--keel 1.2 --sound-speed 1470 --depth-gates 1,60", 12,
         bottom_samples, 5, 15.25 * 1470 / 1500, "-1.20"},
    });
}

// Without a 24-bit terminal each cell takes, of the 256 colours past the first 16, the one nearest its mean's colour.
TEST(Follow, OtherwiseCellsTakeTheNearestOf256Colours)
{
    Following follow(2, "");
    ASSERT_TRUE(follow.wait_pings(2));
    std::vector<uint8_t> means[2] = {column_means(1, 80), column_means(2, 80)};
    for (int column = 0; column < 80; ++column) {
        VTermScreenCell cell = follow.screen.cell(22, column);
        ASSERT_EQ(UPPER_HALF, cell.chars[0]) << column;
        VTermColor shown[2] = {cell.fg, cell.bg};
        for (int layer = 0; layer < 2; ++layer) {
            ASSERT_TRUE(VTERM_COLOR_IS_INDEXED(&shown[layer])) << column;
            ASSERT_GE(shown[layer].indexed.idx, 16) << column;
            const uint8_t* wanted = WATERFALL_COLOURS[means[layer][column]];
            auto distance = [&](int index) {
                std::array<int, 3> colour = xterm_colour(index);
                int dr = colour[0] - wanted[0], dg = colour[1] - wanted[1], db = colour[2] - wanted[2];
                return dr * dr + dg * dg + db * db;
            };
            int nearest = distance(shown[layer].indexed.idx);
            for (int index = 16; index < 256; ++index) ASSERT_LE(nearest, distance(index)) << column << " " << index;
        }
    }
    EXPECT_EQ(0, follow.quit());
}

// The status line counts whole well-formed records only: a torn tail waits for its rest, a malformed record is counted apart.
TEST(Follow, StatusLineCountsPingsAndWaitsForATornTail)
{
    Following follow(2);
    ASSERT_TRUE(follow.wait_pings(2));
    const std::string two = "F.QKV  2 pings  09:05:02.37  gain 7 dB  range 40 m  interval 120 ms";
    EXPECT_EQ(two, follow.screen.text(23));

    std::string third = ping_record(3);
    append(follow.path(), third.substr(0, RECORD_SIZE / 2));
    follow.wait_pings(3, 500);
    EXPECT_EQ(two, follow.screen.text(23));
    EXPECT_EQ("", row_mismatch(follow.screen, 22, 80, 1, 2)) << "half a record is not drawn";
    append(follow.path(), third.substr(RECORD_SIZE / 2));
    ASSERT_TRUE(follow.wait_pings(3));

    std::string malformed = ping_record(4);
    malformed[RECORD_MAGIC] = 'X';
    append(follow.path(), malformed + ping_record(5));
    ASSERT_TRUE(follow.wait_pings(4));
    EXPECT_EQ("F.QKV  4 pings  1 malformed  09:05:05.37  gain 7 dB  range 40 m  interval 120 ms",
              follow.screen.text(23)) << "up to the last column";
    EXPECT_EQ("", row_mismatch(follow.screen, 22, 80, 3, 5));
    EXPECT_EQ(0, follow.quit());
}

// A resized terminal is drawn again at its new size, the columns the means at the new width.
TEST(Follow, ResizeRedrawsAtTheNewWidth)
{
    Following follow(2);
    ASSERT_TRUE(follow.wait_pings(2));
    follow.client().resize(30, 120);
    follow.screen.resize(30, 120);
    ASSERT_TRUE(follow.client().wait_until([&](const std::string& output) {
        follow.screen.update(output);
        return follow.screen.text(29).rfind(pings_text(2), 0) == 0;
    }));
    EXPECT_EQ("", row_mismatch(follow.screen, 28, 120, 1, 2));
    EXPECT_EQ(0, follow.quit());
}

// q, Esc, Ctrl+C, SIGTERM and SIGHUP each end it with status 0 and leave the terminal exactly as found: modes,
// main screen, cursor shown.
TEST(Follow, EveryWayOutRestoresTheTerminal)
{
    const std::vector<std::string> ways = {"q", "\x1b", "\x03", "SIGTERM", "SIGHUP"};
    for (const std::string& way : ways) {
        Following follow(1);
        Client& client = follow.client();
        ASSERT_TRUE(follow.wait_pings(1)) << way;
        EXPECT_TRUE(follow.screen.alternate && !follow.screen.cursor_visible) << way;
        struct termios running;
        ASSERT_TRUE(client.terminal_modes(&running));
        EXPECT_EQ(0u, running.c_lflag & (ICANON | ECHO | ISIG)) << way << ": keys one by one, Ctrl+C a key";
        if (way.rfind("SIG", 0) == 0) {
            kill(client.pid(), way == "SIGTERM" ? SIGTERM : SIGHUP);
        } else {
            client.type(way);
        }
        ExitInfo exit = client.wait_exit(5000);
        ASSERT_TRUE(exit.ended) << way;
        EXPECT_EQ(0, exit.signal) << way;
        EXPECT_EQ(0, exit.status) << way;
        struct termios after;
        ASSERT_TRUE(client.terminal_modes(&after));
        const struct termios& found = client.initial_modes();
        EXPECT_TRUE(after.c_iflag == found.c_iflag && after.c_oflag == found.c_oflag &&
                    after.c_lflag == found.c_lflag && after.c_cflag == found.c_cflag &&
                    memcmp(after.c_cc, found.c_cc, sizeof found.c_cc) == 0)
            << way;
        follow.screen.update(client.screen());
        EXPECT_TRUE(!follow.screen.alternate && follow.screen.cursor_visible) << way;
    }
}

// Without a file named it waits for today's data file, takes the most recently created, and moves on to the next
// run's as it is recorded: also to -0001 after -9999, where the numbers start again.
TEST(Follow, WithoutFileFollowsTodaysNewestDataFile)
{
    TempDir dir;
    Client client(dir.path(), follow_options({"--follow"}, "truecolor"));
    ASSERT_TRUE(client.wait_for("waiting for a data file of today, " + today() + "-????.QKV"));
    write_file(dir.file("01JAN2020-0009.QKV"), ping_record(1));
    write_file(dir.file(today() + "-0001.QKV"), ping_record(1));
    write_file(dir.file(today() + "-0002.QKV"), ping_record(1) + ping_record(2));
    ASSERT_TRUE(client.wait_for(today() + "-0002.QKV  2 pings", 5000));
    // A run's file as the program records it: a ping of now every 400 ms.
    const time_t now = 0;
    auto record = [&](const std::string& name, int first) {
        for (int n = first; n < first + 4; ++n, usleep(400000)) {
            append(dir.file(name), ping_record(n, ping_samples, &now));
        }
    };
    record(today() + "-9999.QKV", 3);
    ASSERT_TRUE(client.wait_for(today() + "-9999.QKV  4 pings", 5000));
    unlink(dir.file(today() + "-0001.QKV").c_str());
    record(today() + "-0001.QKV", 4);
    ASSERT_TRUE(client.wait_for(today() + "-0001.QKV  4 pings", 5000));
    client.type("q");
    EXPECT_EQ(0, client.wait_exit(5000).status);
}

// A file moved over the name followed is read from its start, though it is no shorter than the old one.
TEST(Follow, FileMovedOverTheNameIsReadFromItsStart)
{
    Following follow(3);
    ASSERT_TRUE(follow.wait_pings(3));
    std::string next = follow.path() + ".next";
    write_file(next, ping_record(7) + ping_record(8) + ping_record(9));
    ASSERT_EQ(0, rename(next.c_str(), follow.path().c_str()));
    ASSERT_TRUE(follow.client().wait_for(pings_text(3) + "  09:05:09.37", 5000));
    follow.screen.update(follow.client().screen());
    EXPECT_EQ("", row_mismatch(follow.screen, 22, 80, 8, 9));
    EXPECT_EQ(0, follow.quit());
}

// A pipe is refused at once, not waited on, and the terminal is left as it was found.
TEST(Follow, RefusesAPipeWithoutWaiting)
{
    TempDir dir;
    ASSERT_EQ(0, mkfifo(dir.file("P.QKV").c_str(), 0600));
    Client client(dir.path(), follow_options({"--follow", "P.QKV"}, "truecolor"));
    ExitInfo exit = client.wait_exit(5000);
    ASSERT_TRUE(exit.ended) << client.screen();
    EXPECT_EQ(1, exit.status);
    EXPECT_NE(std::string::npos, client.screen().find("P.QKV: cannot open: not a regular file")) << client.screen();
    struct termios after;
    ASSERT_TRUE(client.terminal_modes(&after));
    EXPECT_EQ(client.initial_modes().c_lflag, after.c_lflag);
}

// With its output redirected it draws nothing and refuses with status 2.
TEST(Follow, RefusesOutputThatIsNotATerminal)
{
    TempDir dir;
    write_file(dir.file(FILE_NAME), ping_record(1));
    std::string output;
    EXPECT_EQ(2, qkvdump_with({"--follow", dir.file(FILE_NAME)}, &output));
    EXPECT_EQ("qkvdump: --follow draws on a terminal: standard output is not a terminal\n", output);
}
