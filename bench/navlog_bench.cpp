// Benchmark of navlog under a pseudo-terminal: the heap allocations of runs of
// 10 and 1000 sentences (counted by the preloaded allocator), and its CPU at
// ten sentences a second over UDP and over a serial line (a pseudo-terminal
// standing in for the receiver), and with no data; what it keeps of bursts of
// datagrams sent back to back. Loopback only. Not a test:
// it asserts nothing, it measures.
//   navlog_bench NAVLOG COUNT_ALLOC_LIBRARY [SECONDS]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "navfile/nmea.h"
#include "tests/e2e/harness.h"

namespace {

const char ADDRESS[] = "127.0.9.20";
const char ALLOC_LOG[] = "/tmp/halvex-navlog-bench-allocations.txt";

// navlog on a terminal of its own, 160 columns wide, in directory; its allocations counted with library.
std::unique_ptr<e2e::Client> start(const std::string& navlog, const std::string& directory,
                                   const std::vector<std::string>& arguments, const std::string& library = "")
{
    e2e::ClientOptions options;
    options.program = navlog;
    options.arguments = arguments;
    options.columns = 160;
    if (!library.empty()) options.environment = {"LD_PRELOAD=" + library, std::string("HALVEX_ALLOC_LOG=") + ALLOC_LOG};
    std::unique_ptr<e2e::Client> navlog_run(new e2e::Client(directory, options));
    navlog_run->read_for(300);
    return navlog_run;
}

void stop(e2e::Client& navlog)
{
    kill(navlog.pid(), SIGTERM);
    navlog.wait_exit(5000);
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

long allocations_for(const std::string& navlog, const std::string& directory, const std::string& library,
                     int sentences, int port)
{
    unlink(ALLOC_LOG);
    auto run = start(navlog, directory, {"--udp", std::to_string(port), "--bind", ADDRESS}, library);
    e2e::UdpSender sender(ADDRESS, port);
    for (int n = 0; n < sentences; ++n) {
        sender.send(sentence(n));
        if (n % 20 == 19) run->read_for(5);
    }
    run->read_for(1500);
    stop(*run);
    FILE* log = fopen(ALLOC_LOG, "r");
    long count = -1;
    if (log == nullptr || fscanf(log, "%ld", &count) != 1) count = -1;
    if (log != nullptr) fclose(log);
    return count;
}

// CPU over seconds with a sentence every 100 ms sent by send (none when empty).
double cpu_percent(e2e::Client& run, int seconds, const std::function<void(const std::string&)>& send)
{
    double cpu_before = run.cpu_seconds();
    long long started = e2e::now_ms();
    for (int n = 0; n < seconds * 10; ++n) {
        if (send) send(sentence(n));
        run.read_for(static_cast<int>(started + (n + 1) * 100 - e2e::now_ms()));
    }
    double wall = (e2e::now_ms() - started) / 1e3;
    return 100.0 * (run.cpu_seconds() - cpu_before) / wall;
}

// A burst of datagrams of one sentence each, sent back to back: the lines
// kept, and the count of those the system dropped that the status line shows.
void burst(const std::string& navlog, int count, int port, long* kept, long* dropped)
{
    e2e::TempDir own;
    auto run = start(navlog, own.path(), {"--udp", std::to_string(port), "--bind", ADDRESS});
    e2e::UdpSender sender(ADDRESS, port);
    for (int n = 0; n < count; ++n) sender.send(sentence(n));
    run->read_for(2500);
    const std::string& shown = run->screen();
    size_t at = shown.rfind(" dropped");
    size_t from = at == std::string::npos ? at : shown.rfind("  ", at);
    *dropped = from == std::string::npos ? 0 : atol(shown.c_str() + from + 2);
    stop(*run);
    *kept = 0;
    for (const std::string& name : e2e::list_dir(own.path())) {
        std::string text = e2e::read_file(own.file(name));
        *kept += std::count(text.begin(), text.end(), '\n');
    }
}

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
    e2e::TempDir directory;

    long few = allocations_for(navlog, directory.path(), library, 10, 47501);
    long many = allocations_for(navlog, directory.path(), library, 1000, 47502);

    long burst_kept[2], burst_dropped[2];
    burst(navlog, 2000, 47504, &burst_kept[0], &burst_dropped[0]);
    burst(navlog, 20000, 47505, &burst_kept[1], &burst_dropped[1]);

    auto udp = start(navlog, directory.path(), {"--udp", "47503", "--bind", ADDRESS});
    e2e::UdpSender sender(ADDRESS, 47503);
    double udp_percent = cpu_percent(*udp, seconds, [&](const std::string& bytes) { sender.send(bytes); });
    double idle_percent = cpu_percent(*udp, seconds / 2, nullptr);
    stop(*udp);

    e2e::SerialReceiver receiver;
    auto serial = start(navlog, directory.path(), {"--serial", receiver.path()});
    double serial_percent = cpu_percent(*serial, seconds, [&](const std::string& bytes) {
        if (write(receiver.master, bytes.data(), bytes.size()) < 0) perror("serial");
    });
    stop(*serial);

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
    return 0;
}
