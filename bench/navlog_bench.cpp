// Benchmark of navlog under a pseudo-terminal: the heap allocations of runs of
// 10 and 1000 sentences (counted by the preloaded allocator), and its CPU at
// ten sentences a second over UDP and over a serial line (a pseudo-terminal
// standing in for the receiver), and with no data; what it keeps of bursts of
// datagrams sent back to back. Loopback only. Not a test:
// it asserts nothing, it measures.
//   navlog_bench NAVLOG COUNT_ALLOC_LIBRARY [SECONDS]
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "navfile/nmea.h"

namespace {

const char ADDRESS[] = "127.0.9.20";
const char ALLOC_LOG[] = "/tmp/halvex-navlog-bench-allocations.txt";

struct Run {
    pid_t pid = -1;
    int master = -1;
};

double now_ms()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

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

std::string last_shown;  // the latest of what navlog showed

// Reads what navlog shows for ms, so its terminal never fills.
void drain(const Run& run, double ms)
{
    double deadline = now_ms() + ms;
    for (double left = ms; left > 0; left = deadline - now_ms()) {
        struct pollfd ready = {run.master, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left) + 1) <= 0) continue;
        char chunk[4096];
        ssize_t got = read(run.master, chunk, sizeof chunk);
        if (got <= 0) usleep(10000);
        if (got > 0) last_shown.assign(chunk, static_cast<size_t>(got));
    }
}

Run start(const std::string& navlog, const char* directory, const std::vector<std::string>& arguments,
          const char* preload)
{
    Run run;
    struct winsize size = {24, 160, 0, 0};
    run.pid = forkpty(&run.master, nullptr, nullptr, &size);
    if (run.pid == 0) {
        if (chdir(directory) != 0) _exit(126);
        if (preload != nullptr) {
            setenv("LD_PRELOAD", preload, 1);
            setenv("HALVEX_ALLOC_LOG", ALLOC_LOG, 1);
        }
        std::vector<char*> argv = {const_cast<char*>(navlog.c_str())};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    drain(run, 300);
    return run;
}

void stop(Run& run)
{
    kill(run.pid, SIGTERM);
    double deadline = now_ms() + 5000;
    int status = 0;
    while (waitpid(run.pid, &status, WNOHANG) == 0) {
        if (now_ms() > deadline) {
            kill(run.pid, SIGKILL);
            waitpid(run.pid, &status, 0);
            break;
        }
        drain(run, 10);
    }
    close(run.master);
}

std::string sentence(int n)
{
    char text[128];
    int length = snprintf(text, sizeof text, n % 2 ? "$GPRMC,09%02d%02d.00,A,5106.%04d,N,00123.4567,E,4.0,45.0,081226,,,A"
                                                   : "$GPGGA,09%02d%02d.00,5106.%04d,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,",
                          n / 120 % 60, n / 2 % 60, n % 10000);
    size_t whole = nmea_append_checksum(text, static_cast<size_t>(length));
    return std::string(text, whole) + "\r\n";
}

class Sender {
public:
    explicit Sender(uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(port);
        inet_pton(AF_INET, ADDRESS, &to_.sin_addr);
    }
    ~Sender() { close(fd_); }
    void send(const std::string& bytes)
    {
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }

private:
    int fd_;
    sockaddr_in to_ = {};
};

long allocations_for(const std::string& navlog, const char* directory, const char* library, int sentences,
                     uint16_t port)
{
    unlink(ALLOC_LOG);
    Run run = start(navlog, directory, {"--udp", std::to_string(port), "--bind", ADDRESS}, library);
    Sender sender(port);
    for (int n = 0; n < sentences; ++n) {
        sender.send(sentence(n));
        if (n % 20 == 19) drain(run, 5);
    }
    drain(run, 1500);
    stop(run);
    FILE* log = fopen(ALLOC_LOG, "r");
    long count = -1;
    if (log == nullptr || fscanf(log, "%ld", &count) != 1) count = -1;
    if (log != nullptr) fclose(log);
    return count;
}

// CPU over seconds with a sentence every 100 ms sent by send (none when null).
double cpu_percent(Run& run, int seconds, void (*send)(void*, const std::string&), void* target)
{
    double cpu_before = cpu_seconds(run.pid);
    double started = now_ms();
    for (int n = 0; n < seconds * 10; ++n) {
        if (send != nullptr) send(target, sentence(n));
        drain(run, started + (n + 1) * 100.0 - now_ms());
    }
    double wall = (now_ms() - started) / 1e3;
    return 100.0 * (cpu_seconds(run.pid) - cpu_before) / wall;
}

// A burst of datagrams of one sentence each, sent back to back: the lines
// kept, and the count of those the system dropped that the status line shows.
void burst(const std::string& navlog, const char* directory, int count, uint16_t port, long* kept, long* dropped)
{
    std::string own = std::string(directory) + "/burst-" + std::to_string(port);
    mkdir(own.c_str(), 0700);
    Run run = start(navlog, own.c_str(), {"--udp", std::to_string(port), "--bind", ADDRESS}, nullptr);
    Sender sender(port);
    for (int n = 0; n < count; ++n) sender.send(sentence(n));
    drain(run, 2500);
    size_t at = last_shown.rfind(" dropped");
    size_t from = at == std::string::npos ? at : last_shown.rfind("  ", at);
    *dropped = from == std::string::npos ? 0 : atol(last_shown.c_str() + from + 2);
    stop(run);
    *kept = 0;
    DIR* files = opendir(own.c_str());
    while (struct dirent* entry = files != nullptr ? readdir(files) : nullptr) {
        FILE* log = entry->d_name[0] == '.' ? nullptr : fopen((own + "/" + entry->d_name).c_str(), "r");
        for (int c = log != nullptr ? fgetc(log) : EOF; c != EOF; c = fgetc(log)) *kept += c == '\n';
        if (log != nullptr) fclose(log);
    }
    if (files != nullptr) closedir(files);
}

void send_udp(void* sender, const std::string& bytes) { static_cast<Sender*>(sender)->send(bytes); }

void send_serial(void* master, const std::string& bytes)
{
    if (write(*static_cast<int*>(master), bytes.data(), bytes.size()) < 0) perror("serial");
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: navlog_bench NAVLOG COUNT_ALLOC_LIBRARY [SECONDS]\n");
        return 2;
    }
    char resolved[4096];
    std::string navlog = realpath(argv[1], resolved) ? resolved : argv[1];
    std::string library = realpath(argv[2], resolved) ? resolved : argv[2];
    int seconds = argc > 3 ? atoi(argv[3]) : 20;
    char directory[] = "/tmp/halvex-navlog-bench-XXXXXX";
    if (!mkdtemp(directory)) return 1;

    long few = allocations_for(navlog, directory, library.c_str(), 10, 47501);
    long many = allocations_for(navlog, directory, library.c_str(), 1000, 47502);

    long burst_kept[2], burst_dropped[2];
    burst(navlog, directory, 2000, 47504, &burst_kept[0], &burst_dropped[0]);
    burst(navlog, directory, 20000, 47505, &burst_kept[1], &burst_dropped[1]);

    Run udp = start(navlog, directory, {"--udp", "47503", "--bind", ADDRESS}, nullptr);
    Sender sender(47503);
    double udp_percent = cpu_percent(udp, seconds, send_udp, &sender);
    double idle_percent = cpu_percent(udp, seconds / 2, nullptr, nullptr);
    stop(udp);

    struct termios raw = {};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    openpty(&master, &slave, nullptr, &raw, nullptr);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    Run serial = start(navlog, directory, {"--serial", ptsname(master)}, nullptr);
    double serial_percent = cpu_percent(serial, seconds, send_serial, &master);
    stop(serial);
    close(master);
    close(slave);

    printf("navlog, 160-column terminal\n");
    printf("heap allocations                 %ld in a run of 10 sentences, %ld in 1000: %.4f per sentence\n", few,
           many, (many - few) / 990.0);
    printf("10 sentences a second, UDP       %.3f%% of a core (%d s)\n", udp_percent, seconds);
    printf("10 sentences a second, serial    %.3f%% of a core (%d s)\n", serial_percent, seconds);
    printf("no data                          %.3f%% of a core (%d s)\n", idle_percent, seconds / 2);
    for (int i = 0; i < 2; ++i) {
        printf("burst of %5d datagrams, UDP    %ld kept, %ld dropped by the system as navlog shows\n",
               i == 0 ? 2000 : 20000, burst_kept[i], burst_dropped[i]);
    }
    nftw(directory, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
