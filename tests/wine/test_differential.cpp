// The Linux build against the Windows build under Wine where no exact
// expectation can be written down: a run in a directory named outside the
// Windows code page, the settings file reader and writer of both on a corpus
// of files, and qkvdump's outputs of one data file on both.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "tests/wine/wine_run.h"

using namespace e2e;
using namespace wine;

namespace {

struct Build {
    const char* name;
    const char* program;
    bool under_wine;
};

// Each build's outcome of one run in a directory of its own.
struct Outcome {
    ExitInfo exit;
    std::string screen;
    Values settings;
    std::vector<std::string> data_names;
    std::vector<std::string> data;
};

Outcome collect(const std::string& where, const Client& client, ExitInfo exit, bool under_wine)
{
    Outcome outcome;
    outcome.exit = exit;
    int bare = 0;
    std::string screen_file = where + "/" + SCREEN;
    outcome.screen = under_wine ? fold_crlf(read_file(screen_file), &bare) : client.screen();
    if (!under_wine && client.screen().empty()) outcome.screen = read_file(screen_file);
    EXPECT_EQ(0, bare) << "line ends that are not CR LF";
    outcome.settings = profile_values(read_file(where + "/" + SETTINGS));
    outcome.data_names = e2e::data_files(where);
    for (const std::string& name : outcome.data_names) outcome.data.push_back(read_file(where + "/" + name));
    return outcome;
}

// A clean run: a key inside pass 17, then a second key at the prompt, in a
// fresh directory or in a directory of the given name inside it. The Linux
// build shows its output on the terminal (redirected, it would hold it back
// in 512-byte blocks).
Outcome run_with_keys(const Build& build, const std::string& settings, const std::string& address,
                      const std::string& subdirectory = "")
{
    TempDir dir;
    std::string where = subdirectory.empty() ? dir.path() : dir.file(subdirectory);
    if (!subdirectory.empty()) {
        EXPECT_EQ(0, mkdir(where.c_str(), 0700));
    }
    write_file(where + "/" + SETTINGS, settings);
    HeadSim head(address, {"--once", "--fault", "stall:2500@17"});
    ClientOptions client_options = options(build.program);
    client_options.stdout_path = where + "/" + SCREEN;
    if (!build.under_wine) {
        client_options.command_prefix.clear();
        client_options.stdout_path.clear();
    }
    Client client(where, client_options);
    // Inside pass 17, past its key test, with the store on.
    const char in_pass_17[] = " - 16 kbytes\n\nSend Switches";
    ShownText shown(client, client_options.stdout_path, build.under_wine);
    EXPECT_TRUE(shown.wait_for(in_pass_17, 20000)) << build.name;
    client.type("q");
    EXPECT_TRUE(shown.wait_for(PROMPT, 20000)) << build.name;
    client.type("x");
    ExitInfo exit = client.wait_exit();
    return collect(where, client, exit, build.under_wine);
}

void expect_same(const Outcome& linux_run, const Outcome& windows_run)
{
    ASSERT_TRUE(linux_run.exit.ended);
    ASSERT_TRUE(windows_run.exit.ended);
    EXPECT_EQ(linux_run.exit.status, windows_run.exit.status);
    EXPECT_EQ(linux_run.screen, windows_run.screen);
    EXPECT_EQ(linux_run.settings, windows_run.settings);
    EXPECT_EQ(linux_run.data_names, windows_run.data_names);
    ASSERT_EQ(linux_run.data.size(), windows_run.data.size());
    for (size_t file = 0; file < linux_run.data.size(); ++file) {
        const std::string& a = linux_run.data[file];
        const std::string& b = windows_run.data[file];
        ASSERT_EQ(a.size(), b.size());
        ASSERT_EQ(0u, a.size() % RECORD);
        for (size_t at = 0; at < a.size(); at += RECORD) {
            EXPECT_EQ(a.substr(at, TIME_FIELDS_START), b.substr(at, TIME_FIELDS_START)) << "record " << at / RECORD;
            EXPECT_EQ(a.substr(at + TIME_FIELDS_END, RECORD - TIME_FIELDS_END),
                      b.substr(at + TIME_FIELDS_END, RECORD - TIME_FIELDS_END))
                << "record " << at / RECORD;
        }
    }
}

}  // namespace

// In a directory whose name the Windows code page cannot hold, the Windows build still reads the settings file
// there, connects to the head it names, writes the values back and makes its data file there, as the Linux
// build does in a directory of the same name.
TEST(Differential, DirectoryNamedOutsideTheCodePage)
{
    REQUIRE_WINE(EXE_STORE_ON);
    const char directory[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E dir";  // three CJK characters, UTF-8
    std::string settings = "[Settings]\r\nIPAddress=127.0.6.90\r\nRange=25\r\nGain=7dB\r\n";
    Outcome linux_run = run_with_keys({"linux", HALVEX_STORE_ON, false}, settings, "127.0.6.90", directory);
    Outcome windows_run = run_with_keys({"windows", EXE_STORE_ON, true}, settings, "127.0.6.90", directory);
    EXPECT_EQ(0, windows_run.exit.status);
    EXPECT_EQ(0u, windows_run.screen.find(Expected("127.0.6.90", 30, 7).str()));
    EXPECT_EQ("30", windows_run.settings["settings/range"]);
    EXPECT_EQ("7", windows_run.settings["settings/gain"]);
    EXPECT_EQ(1u, windows_run.data_names.size());
    expect_same(linux_run, windows_run);
}

// ---- qkvdump -----------------------------------------------------------------

namespace {

struct DumpRun {
    int status;
    std::string out;
    std::string errors;
    int bare_line_ends;
};

// A qkvdump run in dir, the file names relative to it; the picture, if any, stays there.
DumpRun run_qkvdump(const std::string& program, const TempDir& dir, const std::string& arguments)
{
    std::string ignored;
    DumpRun run;
    run.status = run_captured("(cd '" + dir.path() + "' && timeout 60 " + program + " " + arguments +
                                  " > dump.out 2> dump.err)",
                              &ignored);
    int bare_out = 0, bare_errors = 0;
    run.out = fold_crlf(read_file(dir.file("dump.out")), &bare_out);
    run.errors = fold_crlf(read_file(dir.file("dump.err")), &bare_errors);
    run.bare_line_ends = bare_out + bare_errors;
    return run;
}

// A recording of three pings by the Linux store-on build, the head closing at command 25; empty when the
// run made no single data file. Its name goes to name.
std::string three_pings_recorded(const TempDir& recording, const std::string& address, std::string* name)
{
    write_settings(recording, address, "Gain=9\n");
    {
        HeadSim head(address, {"--once", "--fault", "close@25"});
        ClientOptions client_options;
        client_options.program = HALVEX_STORE_ON;
        client_options.with_terminal = false;
        EXPECT_EQ(1, Client(recording.path(), client_options).wait_exit(10000).status);
    }
    std::vector<std::string> names = e2e::data_files(recording.path());
    if (names.size() != 1) return "";
    *name = names[0];
    return read_file(recording.file(names[0]));
}

}  // namespace

// On a recording of the Linux build with a malformed record and a torn tail, the Windows qkvdump lists it, writes
// its CSV with the samples and the depths and draws its pictures (an echogram too, also of a file named outside
// ASCII) exactly as the Linux one, its lines ending in CR LF; the Windows one is given *.QKV, which it expands
// itself. Both refuse a picture that would overwrite what they read, and a directory to read.
TEST(Differential, QkvdumpAgrees)
{
    REQUIRE_WINE(QKVDUMP_EXE);
    TempDir recording;
    std::string name;
    std::string data = three_pings_recorded(recording, "127.0.9.11", &name);
    ASSERT_FALSE(data.empty());
    ASSERT_EQ(3 * RECORD, data.size());
    data[RECORD + 8112] = 0;  // record 2's end byte
    TempDir linux_dir, windows_dir;
    write_file(linux_dir.file(name), data + "torn");
    write_file(windows_dir.file(name), data + "torn");
    const char* const options[] = {"", "--csv --samples", "--png ping.png --width 500", "--depth --csv --draft 0.5",
                                   "--png axes.png --axes --depth --width 500"};
    for (const char* option : options) {
        DumpRun linux_run = run_qkvdump(std::string("'") + QKVDUMP + "'", linux_dir, option + (" " + name));
        DumpRun windows_run = run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_dir,
                                          option + std::string(" '*.QKV'"));
        EXPECT_EQ(1, linux_run.status) << option;
        EXPECT_EQ(linux_run.status, windows_run.status) << option;
        EXPECT_EQ(linux_run.out, windows_run.out) << option;
        EXPECT_EQ(linux_run.errors, windows_run.errors) << option;
        EXPECT_EQ(0, windows_run.bare_line_ends) << option;
    }
    EXPECT_NE(std::string::npos, read_file(linux_dir.file("dump.err")).find("torn tail: 4 bytes after record 3"));
    std::string picture = read_file(linux_dir.file("ping.png"));
    EXPECT_FALSE(picture.empty());
    EXPECT_EQ(picture, read_file(windows_dir.file("ping.png")));
    EXPECT_EQ(read_file(linux_dir.file("axes.png")), read_file(windows_dir.file("axes.png"))) << "the echogram";

    // The echogram's title names a file outside ASCII a glyph a character on both, whatever each system's bytes.
    TempDir linux_accented, windows_accented;
    const char accented[] = "\xC3\xA9t\xC3\xA9.QKV";  // UTF-8; the Windows build finds it in its code page
    write_file(linux_accented.file(accented), data.substr(0, RECORD));
    write_file(windows_accented.file(accented), data.substr(0, RECORD));
    const std::string echogram = "--png axes.png --axes --width 500 ";
    EXPECT_EQ(0, run_qkvdump(std::string("'") + QKVDUMP + "'", linux_accented, echogram + accented).status);
    EXPECT_EQ(0, run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_accented, echogram + "'*.QKV'")
                     .status);
    EXPECT_EQ(read_file(linux_accented.file("axes.png")), read_file(windows_accented.file("axes.png")));

    // An OUT that is an input named another way, or a data file (OUT forgotten), is refused alike and kept; a
    // directory given as a data file is no file to either.
    for (const TempDir* dir : {&linux_dir, &windows_dir}) {
        write_file(dir->file("notes.txt"), "notes");
        ASSERT_EQ(0, mkdir(dir->file("sub").c_str(), 0700));
    }
    const struct {
        std::string arguments;
        int status;
        const char* said;
    } refused[] = {{"--png ./notes.txt notes.txt", 2, ": not writing the picture over it"},
                   {"--png " + name + " ping.png", 2, ": not writing the picture over it"},
                   {"sub", 1, "sub: cannot open: a directory or a disk, not a file\n"}};
    for (const auto& refusal : refused) {
        DumpRun linux_run = run_qkvdump(std::string("'") + QKVDUMP + "'", linux_dir, refusal.arguments);
        DumpRun windows_run = run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_dir,
                                          refusal.arguments);
        EXPECT_EQ(refusal.status, linux_run.status) << refusal.arguments;
        EXPECT_EQ(refusal.status, windows_run.status) << refusal.arguments;
        EXPECT_NE(std::string::npos, linux_run.errors.find(refusal.said)) << linux_run.errors;
        EXPECT_EQ(linux_run.errors, windows_run.errors) << refusal.arguments;
    }
    EXPECT_EQ("notes", read_file(windows_dir.file("notes.txt")));
    EXPECT_EQ(data + "torn", read_file(windows_dir.file(name)));
    EXPECT_EQ(picture, read_file(windows_dir.file("ping.png")));
}

// The record's local time plus seconds as "2026-12-08T09:05:00" and the time of day of the sentences,
// "090500.00" (the test records well away from midnight).
std::string time_at(const std::string& record, int seconds, std::string* time_of_day = nullptr)
{
    static const char MONTHS[] = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    std::string date = record.substr(8, 11), time = record.substr(20, 8);
    int month = static_cast<int>(std::string(MONTHS).find(date.substr(3, 3)) / 3 + 1);
    int clock = std::stoi(time.substr(0, 2)) * 3600 + std::stoi(time.substr(3, 2)) * 60 + std::stoi(time.substr(6, 2));
    clock += seconds;
    char text[64];
    snprintf(text, sizeof text, "%02d%02d%02d.00", clock / 3600, clock / 60 % 60, clock % 60);
    if (time_of_day != nullptr) *time_of_day = text;
    snprintf(text, sizeof text, "%s-%02d-%sT%02d:%02d:%02d", date.substr(7, 4).c_str(), month, date.substr(0, 2).c_str(),
             clock / 3600, clock / 60 % 60, clock % 60);
    return text;
}

// A .NAV line at the record's local time plus seconds, at UTC+00:00, of a sentence whose TIME is that time of day
// (the line's checksum is not checked by the comparison: both builds read the same bytes).
std::string nav_line_at(const std::string& record, int seconds, std::string body)
{
    std::string time_of_day;
    std::string stamp = time_at(record, seconds, &time_of_day);
    if (body.find("TIME") != std::string::npos) body.replace(body.find("TIME"), 4, time_of_day);
    unsigned checksum = 0;
    for (char c : body) checksum ^= static_cast<unsigned char>(c);
    char line[256];
    snprintf(line, sizeof line, "%s.000+00:00 $%s*%02X\n", stamp.c_str(), body.c_str(), checksum);
    return line;
}

std::string gga_at(const std::string& record, int seconds, const char* latitude)
{
    return nav_line_at(record, seconds, "GPGGA,TIME," + std::string(latitude) + ",N,00123.4567,E,1,09,0.9,12.3,M,47.0,"
                                        "M,,");
}

// The position exports of the Windows qkvdump are the Linux one's byte for byte (CSV columns and GeoJSON track
// from a .NAV file, and a CSV of depths reduced to a datum with a gauge's series, a cast, gates, an edit list, a
// motion sensor's heave and a gyro's heading placing the transducer off the antenna, its bad lines said alike); its
// build without the netCDF library, GDAL and PROJ refuses --netcdf, --grid and --contours with status 2, and a device
// name that looks like a file's.
TEST(Differential, QkvdumpPositionsAgree)
{
    REQUIRE_WINE(QKVDUMP_EXE);
    TempDir recording;
    std::string name;
    std::string data = three_pings_recorded(recording, "127.0.9.12", &name);
    ASSERT_FALSE(data.empty());
    std::string nav = gga_at(data, -2, "5106.9848"), motion;
    for (int second = -1; second <= 3; ++second) {
        motion += nav_line_at(data, second, "PASHR,TIME,91.50,T,1.20,-0.50," + std::to_string(second * 0.1) +
                                                ",0.02,0.02,0.10,1,1") + nav_line_at(data, second, "HEHDT,92.0,T");
    }
    nav += motion + gga_at(data, 3, "5107.0848");
    TempDir linux_dir, windows_dir;
    for (const TempDir* dir : {&linux_dir, &windows_dir}) {
        write_file(dir->file(name), data);
        write_file(dir->file("day.NAV"), nav);
        write_file(dir->file("tide.csv"), "time;level_m\r\n" + time_at(data, -600) + "Z;1,25\r\n" +
                                              time_at(data, 600) + "Z;1,45\r\nnot a line\r\n");
        write_file(dir->file("cast.csv"), "Depth (m),Sound Velocity (m/s)\n0.5,1480.2\n10,1490\n30,1486.5\n");
        write_file(dir->file("edits.txt"), "edit-list 1\nreject " + name + " 2 fish\nreject other.QKV 1 no\n");
    }
    const char* reduced = "--csv --nav day.NAV --depth --draft 0.5 --sound-speed-profile cast.csv --water-level "
                          "tide.csv --datum LAT --depth-gates 1,60 --edits edits.txt --heave --antenna-offset 2,-1";
    for (const char* option : {"--csv --nav day.NAV", "--nav day.NAV --geojson track.geojson", reduced}) {
        DumpRun linux_run = run_qkvdump(std::string("'") + QKVDUMP + "'", linux_dir, option + (" " + name));
        DumpRun windows_run = run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_dir,
                                          option + (" " + name));
        EXPECT_EQ(0, linux_run.status) << option << linux_run.errors;
        EXPECT_EQ(linux_run.status, windows_run.status) << option;
        EXPECT_EQ(linux_run.out, windows_run.out) << option;
        EXPECT_EQ(linux_run.errors, windows_run.errors) << option;
        if (option != reduced) continue;
        EXPECT_NE(std::string::npos, linux_run.out.find(",LAT,")) << linux_run.out;
        EXPECT_NE(std::string::npos, linux_run.out.find(",rejected\n")) << linux_run.out;
        EXPECT_EQ(std::string::npos, linux_run.out.find(",no_")) << "heave and heading joined: " << linux_run.out;
        EXPECT_NE(std::string::npos, linux_run.errors.find("--water-level tide.csv: line 4: ")) << linux_run.errors;
        EXPECT_NE(std::string::npos, linux_run.errors.find("--edits edits.txt: line 3: ")) << linux_run.errors;
    }
    std::string track = read_file(linux_dir.file("track.geojson"));
    EXPECT_NE(std::string::npos, track.find("\"coordinates\":[1.3909450,51.11")) << track;
    EXPECT_EQ(track, read_file(windows_dir.file("track.geojson")));
    // A .NAV file as OUT, the one read or another, is refused alike and kept, also with --force.
    for (const TempDir* dir : {&linux_dir, &windows_dir}) write_file(dir->file("other.nav"), nav);
    for (const char* option : {"--nav day.NAV --geojson ./day.NAV", "--nav day.NAV --geojson other.nav --force",
                               "--csv --nav day.NAV --png day.NAV"}) {
        DumpRun linux_run = run_qkvdump(std::string("'") + QKVDUMP + "'", linux_dir, option + (" " + name));
        DumpRun windows_run = run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_dir,
                                          option + (" " + name));
        EXPECT_EQ(2, linux_run.status) << option;
        EXPECT_EQ(2, windows_run.status) << option;
        EXPECT_EQ(linux_run.errors, windows_run.errors) << option;
        EXPECT_EQ(nav, read_file(windows_dir.file("day.NAV"))) << option;
        EXPECT_EQ(nav, read_file(windows_dir.file("other.nav"))) << option;
    }
    // Windows' own refusals: no netCDF library; a device name that looks like a file's (a file of that name is
    // there: the Linux build reads and writes it) is never taken for the device, in or out.
    write_file(windows_dir.file("nul.NAV"), nav);
    const struct {
        std::string arguments;
        int status;
        std::string said;
    } windows_only[] = {
        {"--netcdf pings.nc", 2,
         "qkvdump: --netcdf: this build has no netCDF library (the Linux build writes netCDF files)\n"},
        {"--nav day.NAV --grid grid.tif --cell 1", 2,
         "qkvdump: --grid: this build has no GDAL or PROJ (the Linux build writes grids)\n"},
        {"--nav day.NAV --contours lines.geojson --cell 1 --interval 5", 2,
         "qkvdump: --contours: this build has no GDAL or PROJ (the Linux build writes contours)\n"},
        {"--csv --nav nul.NAV", 1,
         "qkvdump: --nav nul.NAV: cannot open: the system takes the name for its device NUL, not for a file\n"},
        {"--png nul.png", 2, "qkvdump: --png nul.png is taken by the system for its device NUL: not writing the "
                             "picture there\n"},
    };
    for (const auto& refusal : windows_only) {
        DumpRun refused = run_qkvdump(wine_environment() + " '" + QKVDUMP_EXE + "'", windows_dir,
                                      refusal.arguments + " " + name);
        EXPECT_EQ(refusal.status, refused.status) << refusal.arguments;
        EXPECT_EQ(refusal.said, refused.errors) << refusal.arguments;
    }
    for (const char* out : {"pings.nc", "nul.png", "grid.tif", "lines.geojson"}) {
        EXPECT_FALSE(file_exists(windows_dir.file(out))) << out;
    }
}

// ---- settings file reader and writer on a corpus of files -------------------

namespace {

// Every (section, key) the corpus files are asked for.
const char* const QUERIES[] = {"Settings", "IPAddress", "Settings", "Range", "Settings", "Gain",
                               "Settings", "Note",      "Display",  "Colour", "Settings", "Missing"};

// Files too large to keep in the corpus, made here: a settings section after tens of thousands of others,
// and lines of 100,000 characters before the section, as its values (plain and quoted) and as a key.
const char GENERATED_MANY_SECTIONS[] = "generated_many_sections.ini";
const char GENERATED_LONG_LINES[] = "generated_long_lines.ini";

std::string generated_content(const std::string& name)
{
    std::string text;
    if (name == GENERATED_MANY_SECTIONS) {
        for (int section = 0; section < 40000; ++section) {
            text += "[Survey " + std::to_string(section) + "]\r\nRange=" + std::to_string(section % 100) +
                    "\r\nNote=line " + std::to_string(section) + " of the log\r\n\r\n";
        }
        return text + "[Settings]\r\nIPAddress=10.0.0.5\r\nGain=9\r\n[Display]\r\nColour=amber\r\n";
    }
    std::string long_text(100000, 'w');
    return "; " + long_text + "\r\n[Display]\r\nColour=" + long_text + "\r\n" + long_text + "=1\r\n[Settings]\r\n" +
           long_text + "\r\nIPAddress=\"" + long_text + "\"\r\nNote=" + long_text + "\r\nGain=4\r\n";
}

std::string corpus_content(const std::string& name)
{
    if (name.compare(0, 10, "generated_") == 0) return generated_content(name);
    return read_file(std::string(PROFILE_CORPUS) + "/" + name);
}

std::vector<std::string> corpus_files()
{
    std::vector<std::string> names = {GENERATED_MANY_SECTIONS, GENERATED_LONG_LINES};
    if (DIR* directory = opendir(PROFILE_CORPUS)) {
        while (struct dirent* entry = readdir(directory)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0) names.push_back(name);
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string query_words()
{
    std::string words;
    for (const char* word : QUERIES) words += std::string(" '") + word + "'";
    return words;
}

// What a probe reads from probe.ini in dir, one line per query.
std::string probe_read(const std::string& probe, const TempDir& dir)
{
    std::string output;
    int status = run_captured("cd '" + dir.path() + "' && timeout 60 " + probe + " get probe.ini" + query_words(),
                              &output);
    EXPECT_EQ(0, status) << probe;
    int bare = 0;
    return output.find('\r') == std::string::npos ? output : fold_crlf(output, &bare);
}

int probe_write(const std::string& probe, const TempDir& dir, const char* key, const char* value)
{
    std::string output;
    return run_captured("cd '" + dir.path() + "' && timeout 60 " + probe + " set probe.ini Settings " + key + " " +
                            value,
                        &output);
}

class ProfileCorpus : public testing::TestWithParam<std::string> {};

}  // namespace

// Both readers see the same values in each corpus file; after the same write both see the same again, and
// every key that was there before keeps its value.
TEST_P(ProfileCorpus, LinuxAndWindowsReadAndWriteAlike)
{
    REQUIRE_WINE(PROFILE_PROBE_EXE);
    std::string linux_probe = std::string("'") + PROFILE_PROBE + "'";
    std::string windows_probe = wine_environment() + " '" + PROFILE_PROBE_EXE + "'";
    std::string content = corpus_content(GetParam());
    TempDir linux_dir, windows_dir;
    write_file(linux_dir.file("probe.ini"), content);
    write_file(windows_dir.file("probe.ini"), content);

    std::string linux_before = probe_read(linux_probe, linux_dir);
    std::string windows_before = probe_read(windows_probe, windows_dir);
    EXPECT_EQ(linux_before, windows_before) << "read";
    ASSERT_EQ(6u, lines_of(linux_before).size());

    EXPECT_EQ(0, probe_write(linux_probe, linux_dir, "Range", "40"));
    EXPECT_EQ(0, probe_write(windows_probe, windows_dir, "Range", "40"));
    std::string linux_after = probe_read(linux_probe, linux_dir);
    std::string windows_after = probe_read(windows_probe, windows_dir);
    EXPECT_EQ(linux_after, windows_after) << "read back\nLinux file:\n"
                                          << read_file(linux_dir.file("probe.ini")) << "\nWindows file:\n"
                                          << read_file(windows_dir.file("probe.ini"));
    // Wine rewrites the whole file (blanks trimmed, CR LF, Ctrl-Z and blank lines dropped) where Windows
    // edits it in place, so the written files are compared by their values, not their bytes.
    EXPECT_EQ(profile_values(read_file(linux_dir.file("probe.ini"))),
              profile_values(read_file(windows_dir.file("probe.ini"))));
    std::vector<std::string> before = lines_of(linux_before);
    std::vector<std::string> after = lines_of(linux_after);
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ("40", after[1]);
    for (size_t query = 0; query < before.size(); ++query) {
        if (query == 1) continue;
        EXPECT_EQ(before[query], after[query]) << QUERIES[2 * query] << "/" << QUERIES[2 * query + 1];
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProfileCorpus, testing::ValuesIn(corpus_files()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.size() - 4);
                             for (char& c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });
