// The data store end to end beyond the scenario table: the records' content,
// their times and when they reach the disk, and the store switch of the
// build. A recording served back by headsim is recorded again as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "tests/e2e/recording.h"

using namespace e2e;

namespace {

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
    // The reader docs/formats.md gives users reads the same records.
    std::string tests = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/'));
    std::string output;
    EXPECT_EQ(0, run_command("/usr/bin/python3 '" + tests + "/read_by_formats_doc.py' '" + tests +
                                 "/../../docs/formats.md' '" + first.file(data_files(first.path()).at(0)) + "' '" +
                                 QKVDUMP + "' 7 40 2>&1",
                             &output))
        << output;
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
