// Benchmark of qkvdump --follow under a pseudo-terminal: the CPU it takes to
// follow a data file that does not grow, the time from a record appended to
// the status line that counts it, and the CPU at ten records a second. Not a
// test: it asserts nothing, it measures.
//   follow_bench QKVDUMP [IDLE_SECONDS]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/record.h"
#include "tests/e2e/harness.h"

namespace {

// Reads what the follower writes until text shows after position from, or the time is up.
bool read_until(e2e::Client& follower, const std::string& text, size_t from, double limit_ms)
{
    return follower.wait_until([&](const std::string& screen) { return screen.find(text, from) != std::string::npos; },
                               static_cast<int>(limit_ms));
}

double now_ms() { return static_cast<double>(e2e::now_ms()); }

void append_record(const std::string& path, int number)
{
    static uint8_t image[PING_IMAGE_SIZE];
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) image[PING_IMAGE_SAMPLES + i] = static_cast<uint8_t>(i / 32 + number);
    RecordFields fields{"08-DEC-2026", "09:05:00", ".37", 3, 180, 100, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 || write(fd, record, sizeof record) != static_cast<ssize_t>(sizeof record)) perror(path.c_str());
    if (fd >= 0) close(fd);
}

std::string pings_text(int count)
{
    return "F.QKV  " + std::to_string(count) + (count == 1 ? " ping " : " pings");
}

double percentile(std::vector<double> values, double part)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(part * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: follow_bench QKVDUMP [IDLE_SECONDS]\n");
        return 2;
    }
    char resolved[4096];
    std::string qkvdump = realpath(argv[1], resolved) ? resolved : argv[1];
    int idle_seconds = argc > 2 ? atoi(argv[2]) : 20;
    e2e::TempDir directory;
    std::string path = directory.file("F.QKV");
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    e2e::ClientOptions options;
    options.program = qkvdump;
    options.arguments = {"--follow", "F.QKV"};
    options.environment = {"COLORTERM=truecolor"};
    e2e::Client follower(directory.path(), options);
    if (!read_until(follower, pings_text(0), 0, 5000)) {
        fprintf(stderr, "the follower did not start\n");
        return 1;
    }

    double cpu_before = follower.cpu_seconds();
    double started = now_ms();
    read_until(follower, "not written by anyone", 0, idle_seconds * 1e3);
    double idle_wall_s = (now_ms() - started) / 1e3;
    double idle_cpu_s = follower.cpu_seconds() - cpu_before;

    const int appends = 40;
    std::vector<double> latencies;
    srand(1);
    for (int count = 1; count <= appends; ++count) {
        size_t from = follower.screen().size();
        double appended = now_ms();
        append_record(path, count);
        if (read_until(follower, pings_text(count), from, 2000)) latencies.push_back(now_ms() - appended);
        usleep(static_cast<useconds_t>(100000 + rand() % 200000));  // not in step with its looks
    }

    const int busy_records = 100;
    cpu_before = follower.cpu_seconds();
    started = now_ms();
    for (int count = appends + 1; count <= appends + busy_records; ++count) {
        append_record(path, count);
        read_until(follower, "not written by anyone", 0, 100);
    }
    double busy_wall_s = (now_ms() - started) / 1e3;
    double busy_cpu_s = follower.cpu_seconds() - cpu_before;

    follower.type("q");
    follower.wait_exit(5000);

    printf("qkvdump --follow, 80 x 24 terminal, 24-bit colour\n");
    printf("idle file                        %.3f s CPU in %.1f s = %.3f%% of a core\n", idle_cpu_s, idle_wall_s,
           100.0 * idle_cpu_s / idle_wall_s);
    if (!latencies.empty()) {
        printf("record appended to status line   median %.0f ms, 90%% %.0f ms, max %.0f ms (%zu of %d seen)\n",
               percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 1.0), latencies.size(),
               appends);
    }
    printf("10 records a second              %.3f s CPU in %.1f s = %.2f%% of a core\n", busy_cpu_s, busy_wall_s,
           100.0 * busy_cpu_s / busy_wall_s);
    return 0;
}
