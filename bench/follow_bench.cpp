// Benchmark of qkvdump --follow under a pseudo-terminal: the CPU it takes to
// follow a data file that does not grow, the time from a record appended to
// the status line that counts it, and the CPU at ten records a second. Not a
// test: it asserts nothing, it measures.
//   follow_bench QKVDUMP [IDLE_SECONDS]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/record.h"

namespace {

std::string screen;  // all the follower wrote
int master_fd = -1;

double now_ms()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Reads what the follower writes until text shows after position from, or the time is up.
bool read_until(const std::string& text, size_t from, double limit_ms)
{
    double deadline = now_ms() + limit_ms;
    while (screen.find(text, from) == std::string::npos) {
        double left = deadline - now_ms();
        if (left <= 0) return false;
        struct pollfd ready = {master_fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left) + 1) <= 0) continue;
        char chunk[65536];
        ssize_t got = read(master_fd, chunk, sizeof chunk);
        if (got <= 0) return false;
        screen.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

// Seconds of CPU the process has used, to the nanosecond (the scheduler's count).
double cpu_seconds(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
    FILE* stat = fopen(path, "r");
    unsigned long long running_ns = 0;
    bool read = stat != nullptr && fscanf(stat, "%llu", &running_ns) == 1;
    if (stat != nullptr) fclose(stat);
    return read ? running_ns / 1e9 : -1;
}

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
    char directory[] = "/tmp/halvex-follow-bench-XXXXXX";
    if (!mkdtemp(directory)) return 1;
    std::string path = std::string(directory) + "/F.QKV";
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));

    struct winsize size = {24, 80, 0, 0};
    pid_t pid = forkpty(&master_fd, nullptr, nullptr, &size);
    if (pid == 0) {
        if (chdir(directory) != 0) _exit(126);
        setenv("COLORTERM", "truecolor", 1);
        execl(qkvdump.c_str(), qkvdump.c_str(), "--follow", "F.QKV", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!read_until(pings_text(0), 0, 5000)) {
        fprintf(stderr, "the follower did not start\n");
        return 1;
    }

    double cpu_before = cpu_seconds(pid);
    double started = now_ms();
    read_until("not written by anyone", 0, idle_seconds * 1e3);
    double idle_wall_s = (now_ms() - started) / 1e3;
    double idle_cpu_s = cpu_seconds(pid) - cpu_before;

    const int appends = 40;
    std::vector<double> latencies;
    srand(1);
    for (int count = 1; count <= appends; ++count) {
        size_t from = screen.size();
        double appended = now_ms();
        append_record(path, count);
        if (read_until(pings_text(count), from, 2000)) latencies.push_back(now_ms() - appended);
        usleep(static_cast<useconds_t>(100000 + rand() % 200000));  // not in step with its looks
    }

    const int busy_records = 100;
    cpu_before = cpu_seconds(pid);
    started = now_ms();
    for (int count = appends + 1; count <= appends + busy_records; ++count) {
        append_record(path, count);
        read_until("not written by anyone", 0, 100);
    }
    double busy_wall_s = (now_ms() - started) / 1e3;
    double busy_cpu_s = cpu_seconds(pid) - cpu_before;

    if (write(master_fd, "q", 1) != 1) perror("q");
    read_until("not written by anyone", 0, 500);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string cleanup = std::string("rm -rf ") + directory;
    if (system(cleanup.c_str()) != 0) perror("rm");

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
