// Benchmark: runs the program against headsim on loopback and prints figures.
// Not a test: it asserts nothing, it measures.
//   bench PROGRAM PROGRAM_STORE_ON HEADSIM COUNT_ALLOC_LIBRARY [PACKETS]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "headlink/protocol.h"
#include "store/naming.h"
#include "store/timestamp.h"
#include "tests/e2e/harness.h"

namespace {

const char ALLOC_LOG[] = "/tmp/halvex-bench-allocations.txt";

struct Measured {
    double wall_s;
    e2e::ExitInfo exit;  // the CPU and the peak resident memory too
};

double now_s()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// The program in a scratch directory of its own, against a head on address, without a terminal (its exit
// prompt does not wait); environment for it alone.
Measured run_program(const std::string& program, const std::string& address, const std::string& stdout_path,
                     const std::vector<std::string>& environment = {})
{
    e2e::TempDir directory;
    e2e::write_settings(directory, address);
    e2e::ClientOptions options;
    options.program = program;
    options.with_terminal = false;
    options.stdout_path = stdout_path;
    options.environment = environment;
    double started = now_s();
    e2e::Client client(directory.path(), options);
    e2e::ExitInfo exit = client.wait_exit(600000);
    return Measured{now_s() - started, exit};
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
    e2e::HeadSim head(address, {"--once", "--fault", "close@" + std::to_string(packets + 1)}, headsim);
    run_program(program, address, "", {"LD_PRELOAD=" + library, std::string("HALVEX_ALLOC_LOG=") + ALLOC_LOG});
    FILE* log = fopen(ALLOC_LOG, "r");
    long count = -1;
    if (log && fscanf(log, "%ld", &count) != 1) count = -1;
    if (log) fclose(log);
    unlink(ALLOC_LOG);
    return count;
}

// Milliseconds to name a data file in a directory holding `files` files:
// half of them of the day, half of another day.
double naming_cost_ms(int files)
{
    e2e::TempDir directory;
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(directory.path().c_str()) != 0) return -1;
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
        {
            e2e::HeadSim head(address, {"--once", "--fault", close_after}, headsim);
            loop_rates.push_back(minimal_loop_rate(address, packets));
        }
        address = "127.0.9." + std::to_string(20 + round);
        e2e::HeadSim head(address, {"--once", "--fault", close_after}, headsim);
        fast = run_program(program, address, "/tmp/halvex-bench-screen.txt");
        program_rates.push_back(packets / fast.wall_s);
    }
    unlink("/tmp/halvex-bench-screen.txt");
    double loop_rate = median(loop_rates);
    double program_rate = median(program_rates);

    const int slow_packets = 100;
    Measured slow;
    {
        std::string close_after_slow = "close@" + std::to_string(slow_packets + 1);
        e2e::HeadSim head("127.0.9.3", {"--once", "--delay-ms", "50", "--fault", close_after_slow}, headsim);
        slow = run_program(program, "127.0.9.3", "");
    }

    printf("packets per round, rounds        %d, %d (medians below)\n", packets, rounds);
    printf("minimal request/response loop    %.0f packets/s\n", loop_rate);
    printf("program, stdout to a file        %.0f packets/s (%.1f MB/s of packets)\n", program_rate,
           program_rate * RETURN_PACKET_SIZE / 1e6);
    printf("ratio program / minimal loop     %.3f\n", program_rate / loop_rate);
    printf("head answering every 50 ms       %d packets in %.2f s wall, %.3f s CPU = %.2f%% of wall\n",
           slow_packets, slow.wall_s, slow.exit.cpu_s, 100.0 * slow.exit.cpu_s / slow.wall_s);
    printf("peak resident memory             %ld KiB\n", fast.exit.peak_kib);

    long few = count_allocations(program_store_on, headsim, count_library, "127.0.9.4", 800);
    long many = count_allocations(program_store_on, headsim, count_library, "127.0.9.5", 8000);
    printf("heap allocations, store on       %ld in a run of 100 pings, %ld in 1000 pings: %.4f per packet\n", few,
           many, static_cast<double>(many - few) / 7200);
    printf("naming a data file               %.2f ms among 10000 files\n", naming_cost_ms(10000));
    return 0;
}
