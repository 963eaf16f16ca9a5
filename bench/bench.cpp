// Benchmark: runs the program against headsim on loopback and prints figures.
// Not a test: it asserts nothing, it measures.
//   bench PROGRAM HEADSIM [PACKETS]
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

pid_t spawn(const std::vector<std::string>& argv, const char* directory, const char* stdout_path)
{
    pid_t pid = fork();
    if (pid != 0) return pid;
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
    std::vector<std::string> argv = {headsim, "--address", address, "--once"};
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
    std::string cleanup = std::string("rm -rf ") + directory;
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench PROGRAM HEADSIM [PACKETS]\n");
        return 2;
    }
    char resolved[4096];
    std::string program = realpath(argv[1], resolved) ? resolved : argv[1];
    std::string headsim = realpath(argv[2], resolved) ? resolved : argv[2];
    int packets = argc > 3 ? atoi(argv[3]) : 10000;
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
    return 0;
}
