// Benchmark: runs the program against headsim on loopback and prints figures.
// Not a test: it asserts nothing, it measures.
//   bench PROGRAM PROGRAM_STORE_ON HEADSIM COUNT_ALLOC_LIBRARY [PACKETS]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headlink/protocol.h"
#include "store/naming.h"
#include "store/timestamp.h"

namespace {

struct Measured {
    double wall_s;
    double cpu_s;
    long peak_kib;
    int status;
};

double now_s()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

std::string preload;  // set while the allocations are counted

pid_t spawn(const std::vector<std::string>& argv, const char* directory, const char* stdout_path)
{
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!preload.empty()) {
        setenv("LD_PRELOAD", preload.c_str(), 1);
        setenv("HALVEX_ALLOC_LOG", "/tmp/halvex-bench-allocations.txt", 1);
    }
    setsid();  // no controlling terminal: the program's exit prompt does not wait
    if (directory && chdir(directory) != 0) _exit(126);
    int out = open(stdout_path ? stdout_path : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

Measured wait_measured(pid_t pid, double started)
{
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    Measured measured;
    measured.wall_s = now_s() - started;
    measured.cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    measured.peak_kib = usage.ru_maxrss;
    measured.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measured;
}

pid_t start_head(const std::string& headsim, const std::string& address, const std::vector<std::string>& options)
{
    std::vector<std::string> argv = {headsim, "--address", address, "--once", "--ping-rate", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_t pid = spawn(argv, nullptr, nullptr);
    usleep(300000);
    return pid;
}

void stop_head(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The program in a scratch directory of its own, against a head on address.
Measured run_program(const std::string& program, const std::string& address, const char* stdout_path)
{
    char directory[] = "/tmp/halvex-bench-XXXXXX";
    if (!mkdtemp(directory)) return Measured{};
    std::string settings = std::string(directory) + "/Halvex_StoreData.INI";
    FILE* file = fopen(settings.c_str(), "w");
    fprintf(file, "[Settings]\nIPAddress=%s\n", address.c_str());
    fclose(file);
    double started = now_s();
    Measured measured = wait_measured(spawn({program}, directory, stdout_path), started);
    std::string cleanup = std::string("rm -rf ") + directory;  // data files included
    if (system(cleanup.c_str()) != 0) perror("rm");
    return measured;
}

// The least a client can do: send a command, wait for the whole reply, again.
double minimal_loop_rate(const std::string& address, int packets)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in head = {};
    head.sin_family = AF_INET;
    head.sin_port = htons(HEAD_PORT);
    head.sin_addr.s_addr = inet_addr(address.c_str());
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&head), sizeof head) != 0) return 0;
    uint8_t command[SWITCH_COMMAND_SIZE];
    uint8_t reply[RETURN_PACKET_SIZE];
    double started = now_s();
    for (int i = 0; i < packets; ++i) {
        SwitchCommand fields = {30, 3, i % PACKETS_PER_PING};
        switch_command_build(command, &fields);
        if (send(fd, command, sizeof command, 0) != static_cast<ssize_t>(sizeof command)) break;
        if (recv(fd, reply, sizeof reply, MSG_WAITALL) != static_cast<ssize_t>(sizeof reply)) break;
    }
    double elapsed = now_s() - started;
    close(fd);
    return packets / elapsed;
}

// Heap allocations of a whole run of the store-on program against a fast head.
long count_allocations(const std::string& program, const std::string& headsim, const std::string& library,
                       const std::string& address, int packets)
{
    pid_t head = start_head(headsim, address, {"--fault", "close@" + std::to_string(packets + 1)});
    preload = library;
    run_program(program, address, nullptr);
    preload.clear();
    stop_head(head);
    FILE* log = fopen("/tmp/halvex-bench-allocations.txt", "r");
    long count = -1;
    if (log && fscanf(log, "%ld", &count) != 1) count = -1;
    if (log) fclose(log);
    unlink("/tmp/halvex-bench-allocations.txt");
    return count;
}

// Milliseconds to name a data file in a directory holding `files` files:
// half of them of the day, half of another day.
double naming_cost_ms(int files)
{
    char directory[] = "/tmp/halvex-bench-names-XXXXXX";
    char previous[4096];
    if (!mkdtemp(directory) || !getcwd(previous, sizeof previous) || chdir(directory) != 0) return -1;
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char name[DATA_NAME_SIZE];
    naming_pattern(name, clock.date_time_text);
    for (int number = 1; number <= files; ++number) {
        if (number % 2) {
            naming_set_number(name, static_cast<uint32_t>(number / 2 + 1));
        } else {
            snprintf(name, sizeof name, "01JAN2020-%04d.QKV", number / 2);
        }
        close(open(name, O_WRONLY | O_CREAT, 0644));
        if (number % 2) naming_pattern(name, clock.date_time_text);
    }
    const int calls = 20;
    double started = now_s();
    for (int call = 0; call < calls; ++call) naming_build_from(name, clock.date_time_text);
    double each_ms = (now_s() - started) * 1000 / calls;
    if (chdir(previous) != 0) perror("chdir");
    std::string cleanup = std::string("rm -rf ") + directory;
    if (system(cleanup.c_str()) != 0) perror("rm");
    return each_ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: bench PROGRAM PROGRAM_STORE_ON HEADSIM COUNT_ALLOC_LIBRARY [PACKETS]\n");
        return 2;
    }
    char resolved[4096];
    std::string program = realpath(argv[1], resolved) ? resolved : argv[1];
    std::string program_store_on = realpath(argv[2], resolved) ? resolved : argv[2];
    std::string headsim = realpath(argv[3], resolved) ? resolved : argv[3];
    std::string count_library = realpath(argv[4], resolved) ? resolved : argv[4];
    int packets = argc > 5 ? atoi(argv[5]) : 10000;
    std::string close_after = "close@" + std::to_string(packets + 1);

    // Alternating rounds, medians: the two share the machine's ups and downs.
    const int rounds = 5;
    std::vector<double> loop_rates, program_rates;
    Measured fast = {};
    for (int round = 0; round < rounds; ++round) {
        std::string address = "127.0.9." + std::to_string(10 + round);
        pid_t head = start_head(headsim, address, {"--fault", close_after});
        loop_rates.push_back(minimal_loop_rate(address, packets));
        stop_head(head);

        address = "127.0.9." + std::to_string(20 + round);
        head = start_head(headsim, address, {"--fault", close_after});
        fast = run_program(program, address, "/tmp/halvex-bench-screen.txt");
        stop_head(head);
        program_rates.push_back(packets / fast.wall_s);
    }
    unlink("/tmp/halvex-bench-screen.txt");
    double loop_rate = median(loop_rates);
    double program_rate = median(program_rates);

    const int slow_packets = 100;
    pid_t head = start_head(headsim, "127.0.9.3", 
                              {"--delay-ms", "50", "--fault", "close@" + std::to_string(slow_packets + 1)});
    Measured slow = run_program(program, "127.0.9.3", nullptr);
    stop_head(head);

    printf("packets per round, rounds        %d, %d (medians below)\n", packets, rounds);
    printf("minimal request/response loop    %.0f packets/s\n", loop_rate);
    printf("program, stdout to a file        %.0f packets/s (%.1f MB/s of packets)\n", program_rate,
           program_rate * RETURN_PACKET_SIZE / 1e6);
    printf("ratio program / minimal loop     %.3f\n", program_rate / loop_rate);
    printf("head answering every 50 ms       %d packets in %.2f s wall, %.3f s CPU = %.2f%% of wall\n",
           slow_packets, slow.wall_s, slow.cpu_s, 100.0 * slow.cpu_s / slow.wall_s);
    printf("peak resident memory             %ld KiB\n", fast.peak_kib);

    long few = count_allocations(program_store_on, headsim, count_library, "127.0.9.4", 800);
    long many = count_allocations(program_store_on, headsim, count_library, "127.0.9.5", 8000);
    printf("heap allocations, store on       %ld in a run of 100 pings, %ld in 1000 pings: %.4f per packet\n", few,
           many, static_cast<double>(many - few) / 7200);
    printf("naming a data file               %.2f ms among 10000 files\n", naming_cost_ms(10000));
    return 0;
}
