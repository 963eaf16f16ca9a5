#include "tests/e2e/harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

[[noreturn]] void exec_or_die(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

ExitInfo ended_as(int status, const struct rusage& usage)
{
    ExitInfo info;
    info.ended = true;
    if (WIFEXITED(status)) info.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) info.signal = WTERMSIG(status);
    info.cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    info.peak_kib = usage.ru_maxrss;
    return info;
}

ExitInfo reap(pid_t pid, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    int status = 0;
    struct rusage usage = {};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (now_ms() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return ExitInfo{};
        }
        usleep(5000);
    }
    return ended_as(status, usage);
}

// As a shell runs a command: the program in a process group of its own, the
// terminal's foreground group, with this process waiting for it. Only then is
// the group not orphaned, so Ctrl+Z can stop it. Passes on how it ended.
[[noreturn]] void run_as_foreground_job(const std::string& program)
{
    signal(SIGTTOU, SIG_IGN);
    pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        tcsetpgrp(STDIN_FILENO, getpgrp());
        signal(SIGTTOU, SIG_DFL);
        exec_or_die({program});
    }
    setpgid(job, job);
    tcsetpgrp(STDIN_FILENO, job);
    int status = 0;
    while (waitpid(job, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
}

}  // namespace

long long now_ms()
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long wall_ms()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/halvex-e2e-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/tmp";
}

TempDir::~TempDir()
{
    if (path_ != "/tmp") nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

bool file_exists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::vector<std::string> list_dir(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* directory = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(directory)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(directory);
    }
    return names;
}

void write_settings(const TempDir& dir, const std::string& address, const std::string& extra)
{
    write_file(dir.file(SETTINGS), "[Settings]\nIPAddress=" + address + "\n" + extra);
}

std::string in_quotes(const std::string& path)
{
    return "'" + path + "'";
}

size_t lines_in(const std::string& path)
{
    std::string text = read_file(path);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

bool wait_for_more_lines(const std::string& path, size_t count, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (lines_in(path) < count) {
        if (now_ms() > deadline) return false;
        usleep(20000);
    }
    return true;
}

std::string today()
{
    static const char* const MONTHS[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stem[16];
    snprintf(stem, sizeof stem, "%02d%s%04d", local.tm_mday, MONTHS[local.tm_mon], local.tm_year + 1900);
    return stem;
}

std::vector<std::string> data_files(const std::string& directory)
{
    const std::string shape = "99AAA9999-9999.QKV";
    std::vector<std::string> found;
    for (const std::string& name : list_dir(directory)) {
        bool fits = name.size() == shape.size();
        for (size_t i = 0; fits && i < shape.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(name[i]);
            fits = shape[i] == '9' ? isdigit(c) != 0 : shape[i] == 'A' ? isupper(c) != 0 : name[i] == shape[i];
        }
        if (fits) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string first_time_step_back(const std::string& data)
{
    const size_t record_size = RECORD, date_at = 8, time_at = 20, hundredths_at = 29;
    long long previous = -1;
    std::string previous_text;
    for (size_t at = 0; at + record_size <= data.size(); at += record_size) {
        std::string date(data, at + date_at, 11), time_text(data, at + time_at, 8);
        std::string hundredths(data, at + hundredths_at, 3);
        std::string whole_seconds = date + " " + time_text;
        std::string text = whole_seconds + hundredths;
        struct tm calendar = {};
        const char* end = strptime(whole_seconds.c_str(), "%d-%b-%Y %H:%M:%S", &calendar);
        bool readable = end != nullptr && *end == 0 && hundredths[0] == '.' && isdigit(hundredths[1]) &&
                        isdigit(hundredths[2]);
        long long now = readable ? static_cast<long long>(timegm(&calendar)) * 100 + atoi(hundredths.c_str() + 1) : -1;
        if (now < previous || now < 0) {
            return "record " + std::to_string(at / record_size + 1) + " at " + text + " after " + previous_text;
        }
        previous = now;
        previous_text = text;
    }
    return "";
}

int run_command(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        if (output) output->append(chunk, got);
    }
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int qkvdump(const std::string& path, std::string* output)
{
    return qkvdump_with({path}, output);
}

int qkvdump_with(const std::vector<std::string>& arguments, std::string* output)
{
    std::string command = QKVDUMP;
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    return run_command(command, output);
}

HeadSim::HeadSim(const std::string& address, const std::vector<std::string>& options, const std::string& program)
{
    char log_pattern[] = "/tmp/headsim-log-XXXXXX";
    int log_fd = mkstemp(log_pattern);
    log_path_ = log_pattern;
    int ready_pipe[2];
    if (log_fd < 0 || pipe(ready_pipe) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(ready_pipe[1], STDOUT_FILENO);
        dup2(log_fd, STDERR_FILENO);
        std::vector<std::string> argv = {program, "--address", address};
        // The tests want their pings as soon as they ask, not at a head's pace, unless they say otherwise.
        bool paced = std::find(options.begin(), options.end(), "--ping-rate") != options.end() ||
                     std::find(options.begin(), options.end(), "--replay") != options.end();
        if (!paced) argv.insert(argv.end(), {"--ping-rate", "0"});
        argv.insert(argv.end(), options.begin(), options.end());
        exec_or_die(argv);
    }
    close(ready_pipe[1]);
    close(log_fd);
    std::string said;
    long long deadline = now_ms() + 5000;
    while (said.find('\n') == std::string::npos && now_ms() < deadline) {
        struct pollfd readable = {ready_pipe[0], POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) continue;
        char chunk[256];
        ssize_t got = read(ready_pipe[0], chunk, sizeof chunk);
        if (got <= 0) break;
        said.append(chunk, static_cast<size_t>(got));
    }
    close(ready_pipe[0]);
    ready_ = said.find("listening on") != std::string::npos;
}

HeadSim::~HeadSim() { stop(); }

std::string HeadSim::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        reap(pid_, 3000);
        pid_ = -1;
    }
    std::string log = read_file(log_path_);
    if (!log_path_.empty()) unlink(log_path_.c_str());
    log_path_.clear();
    return log;
}

ClientOptions navlog_options(const std::vector<std::string>& arguments)
{
    ClientOptions options;
    options.program = NAVLOG;
    options.arguments = arguments;
    options.columns = 200;  // the whole status line
    return options;
}

Client::Client(const std::string& directory, const ClientOptions& options)
{
    struct termios modes = {};
    cfmakeraw(&modes);
    // A cooked terminal but with output left untouched, so the screen holds
    // exactly the bytes the program wrote.
    modes.c_iflag = ICRNL | IXON;
    modes.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    modes.c_cc[VINTR] = 3;
    modes.c_cc[VQUIT] = 28;
    modes.c_cc[VSUSP] = 26;
    modes.c_cc[VERASE] = 127;
    modes.c_cc[VEOF] = 4;
    modes.c_cc[VSTART] = 17;  // Ctrl+Q and Ctrl+S, the output flow control keys
    modes.c_cc[VSTOP] = 19;
    modes.c_cc[VMIN] = 1;
    struct winsize size = {options.rows, options.columns, 0, 0};

    int closed_pipe[2] = {-1, -1};
    if (options.stdout_to_closed_pipe && pipe(closed_pipe) != 0) return;
    if (options.with_terminal) {
        // As forkpty does, but with the modes the terminal really holds (the
        // system adds its own flags) kept before the program can change them.
        int slave = -1;
        if (openpty(&master_, &slave, nullptr, &modes, &size) != 0) return;
        tcgetattr(slave, &initial_);
        pid_ = fork();
        if (pid_ == 0) {
            close(master_);
            if (login_tty(slave) != 0) _exit(124);
        } else {
            if (pid_ > 0 && options.keep_terminal) terminal_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
            close(slave);
        }
    } else {
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, STDIN_FILENO);
            dup2(null_fd, STDOUT_FILENO);
        }
    }
    if (pid_ == 0) {
        if (chdir(directory.c_str()) != 0) _exit(126);
        if (options.file_size_limit > 0) {
            struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                                   static_cast<rlim_t>(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, options.file_size_signal_ignored ? SIG_IGN : SIG_DFL);
        }
        if (options.as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
        if (options.hangup_ignored) signal(SIGHUP, SIG_IGN);
        if (!options.stdout_path.empty()) {
            int out = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
        }
        if (!options.stderr_path.empty()) {
            int errors = open(options.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(errors, STDERR_FILENO);
        }
        if (options.stdout_to_closed_pipe) {
            dup2(closed_pipe[1], STDOUT_FILENO);
            close(closed_pipe[0]);
        }
        if (options.without_standard_output) {
            close(STDOUT_FILENO);
            close(STDERR_FILENO);
        }
        for (const std::string& setting : options.environment) putenv(strdup(setting.c_str()));
        if (options.under_job_control) run_as_foreground_job(options.program);
        std::vector<std::string> argv = options.command_prefix;
        argv.push_back(options.program);
        argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
        exec_or_die(argv);
    }
    if (options.stdout_to_closed_pipe) {
        close(closed_pipe[0]);
        close(closed_pipe[1]);
    }
}

Client::~Client()
{
    if (pid_ > 0) reap(pid_, 0);
    if (master_ >= 0) close(master_);
    if (terminal_ >= 0) close(terminal_);
}

void Client::pump(int wait_ms)
{
    if (master_ < 0) {
        usleep(static_cast<useconds_t>(wait_ms) * 1000);
        return;
    }
    struct pollfd readable = {master_, POLLIN, 0};
    if (poll(&readable, 1, wait_ms) <= 0) return;
    char chunk[4096];
    ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) screen_.append(chunk, static_cast<size_t>(got));
    if (got <= 0) usleep(static_cast<useconds_t>(wait_ms) * 1000);  // the program has gone
}

bool Client::wait_for(const std::string& text, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (screen_.find(text) == std::string::npos) {
        if (now_ms() > deadline) return false;
        pump(20);
    }
    return true;
}

bool Client::wait_until(const std::function<bool(const std::string&)>& done, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (!done(screen_)) {
        if (now_ms() > deadline) return false;
        pump(20);
    }
    return true;
}

void Client::read_for(int ms)
{
    for (long long left = ms, deadline = now_ms() + ms; left > 0; left = deadline - now_ms()) {
        pump(static_cast<int>(std::min(20LL, left)));
    }
}

bool Client::wait_for_count(const std::string& text, int count, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        int seen = 0;
        for (size_t at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1)) ++seen;
        if (seen >= count) return true;
        if (now_ms() > deadline) return false;
        pump(20);
    }
}

void Client::type(const std::string& keys)
{
    if (master_ >= 0 && write(master_, keys.data(), keys.size()) < 0) perror("type");
}

void Client::resize(unsigned short rows, unsigned short columns)
{
    struct winsize size = {rows, columns, 0, 0};
    if (master_ >= 0 && ioctl(master_, TIOCSWINSZ, &size) != 0) perror("resize");
}

ExitInfo Client::wait_exit(int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    int status = 0;
    struct rusage usage = {};
    pid_t ended = 0;
    // Without a terminal there is no screen to read meanwhile: sleep until the end, so a time measured is close.
    int end_fd = master_ < 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)) : -1;
    struct pollfd end = {end_fd, POLLIN, 0};
    if (end_fd >= 0) {
        poll(&end, 1, timeout_ms);
        close(end_fd);
    }
    while ((ended = wait4(pid_, &status, WNOHANG, &usage)) == 0 && now_ms() < deadline) {
        if (master_ >= 0) pump(20);
        if (master_ < 0) usleep(1000);
    }
    if (ended == 0) return ExitInfo{};  // still running; the destructor kills it
    for (int i = 0; i < 5 && master_ >= 0; ++i) pump(10);  // what is left on the screen
    pid_ = -1;
    return ended_as(status, usage);
}

ExitInfo record_from(const TempDir& dir, const std::string& address, const std::string& extra, int timeout_ms,
                     const std::string& program)
{
    write_settings(dir, address, extra);
    ClientOptions recording;
    recording.program = program;
    recording.with_terminal = false;
    recording.stdout_path = dir.file(SCREEN);
    return Client(dir.path(), recording).wait_exit(timeout_ms);
}

std::string survey_with_navlog(const TempDir& dir, const std::string& address, int port,
                               std::vector<std::string> head_options, const std::string& settings, size_t sentences,
                               int timeout_ms, std::string* why)
{
    Client logger(dir.path(), navlog_options({"--udp", std::to_string(port), "--bind", "127.0.0.1"}));
    std::string nav = dir.file(today() + ".NAV");
    if (!logger.wait_for("\r" + today() + ".NAV", 5000)) {
        *why = "navlog did not start: " + logger.screen();
        return "";
    }
    head_options.insert(head_options.end(), {"--nmea-udp", std::to_string(port)});
    HeadSim head(address, head_options);
    *why = "";
    if (!head.ready()) {
        *why = "headsim did not start";
    } else if (!wait_for_more_lines(nav, sentences, 5000)) {
        *why = "no sentences before the first ping";
    } else if (!record_from(dir, address, settings, timeout_ms).ended) {
        *why = "the program did not end";
    } else if (!wait_for_more_lines(nav, lines_in(nav) + sentences, 5000)) {
        *why = "no sentences after the last ping";
    }
    head.stop();
    logger.type("q");
    if (logger.wait_exit().status != 0 && why->empty()) *why = "navlog did not end well: " + logger.screen();
    return why->empty() ? nav : "";
}

ExitInfo Client::answer_prompt(int timeout_ms)
{
    if (!wait_for(PROMPT, timeout_ms)) return ExitInfo{};
    type("x");
    return wait_exit();
}

pid_t Client::job_pid() const
{
    std::string children = read_file("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
    return children.empty() ? pid_ : static_cast<pid_t>(std::stol(children));
}

void Client::close_terminal()
{
    if (master_ >= 0) close(master_);
    if (terminal_ >= 0) close(terminal_);
    master_ = terminal_ = -1;
}

double Client::cpu_seconds() const
{
    unsigned long long running_ns = 0;
    FILE* stat = fopen(("/proc/" + std::to_string(pid_) + "/schedstat").c_str(), "r");
    bool told = stat != nullptr && fscanf(stat, "%llu", &running_ns) == 1;
    if (stat != nullptr) fclose(stat);
    return told ? running_ns / 1e9 : -1;
}

bool Client::wait_stopped(int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    std::string stat_path = "/proc/" + std::to_string(job_pid()) + "/stat";
    while (now_ms() < deadline) {
        std::string stat = read_file(stat_path);
        size_t state = stat.rfind(')');
        if (state != std::string::npos && state + 2 < stat.size() && stat[state + 2] == 'T') return true;
        pump(20);
    }
    return false;
}

bool Client::wait_key_read(int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    struct termios modes;
    while (now_ms() < deadline) {
        if (terminal_modes(&modes) && (modes.c_lflag & ISIG) == 0) return true;
        pump(5);
    }
    return false;
}

std::string Client::unread_keys()
{
    std::string left;
    struct termios modes;
    if (terminal_ < 0 || tcgetattr(terminal_, &modes) != 0) return left;
    modes.c_lflag &= ~ICANON;  // a line not ended yet is read too
    modes.c_cc[VMIN] = 0;
    modes.c_cc[VTIME] = 0;
    tcsetattr(terminal_, TCSANOW, &modes);
    char chunk[64];
    ssize_t got;
    while ((got = read(terminal_, chunk, sizeof chunk)) > 0) left.append(chunk, static_cast<size_t>(got));
    return left;
}

bool Client::terminal_modes(struct termios* modes) const
{
    return master_ >= 0 && tcgetattr(master_, modes) == 0;
}

UdpSender::UdpSender(const std::string& address, int port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    to_.assign(reinterpret_cast<const char*>(&to), sizeof to);
}

UdpSender::~UdpSender() { close(fd_); }

void UdpSender::send(const std::string& bytes) const
{
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(to_.data()), sizeof(sockaddr_in));
}

SerialReceiver::SerialReceiver()
{
    struct termios raw = {};
    cfmakeraw(&raw);
    openpty(&master, &slave, nullptr, &raw, nullptr);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
}

SerialReceiver::~SerialReceiver() { unplug(); }

std::string SerialReceiver::path() const { return master >= 0 ? ptsname(master) : ""; }

void SerialReceiver::unplug()
{
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
}

std::string ShownText::now(int* bare) const
{
    if (file_.empty()) return client_.screen();
    int ignored = 0;
    std::string raw = read_file(file_);
    return windows_ ? fold_crlf(raw, bare ? bare : &ignored) : raw;
}

bool ShownText::wait_for(const std::string& text, int timeout_ms) const
{
    if (file_.empty()) return client_.wait_for(text, timeout_ms);
    for (long long deadline = now_ms() + timeout_ms; now().find(text) == std::string::npos; usleep(20000)) {
        if (now_ms() > deadline) return false;
    }
    return true;
}

Expected::Expected(const std::string& address, int range, int gain)
{
    char line[128];
    snprintf(line, sizeof line, "IP Address: %s\nPort:       %d\nRange:      %dm\nGain:       %ddB\n",
             address.c_str(), PORT, range, gain);
    text_ = line;
    snprintf(line, sizeof line, "\n\nSend Switches...    %dm, %ddB\n", range, gain);
    send_line_ = line;
}

Expected& Expected::pass()
{
    text_ += send_line_;
    return *this;
}

Expected& Expected::packet(int number)
{
    text_ += "Header            = IUX\nPacket Number     = " + std::to_string(number) +
             "\nser_buf_tcp[1032] = 0xFC";
    return *this;
}

Expected& Expected::storing(const std::string& data_file, int records_that_fit, const std::string& write_failure)
{
    data_file_ = data_file;
    records_that_fit_ = records_that_fit;
    write_failure_ = write_failure;
    return *this;
}

Expected& Expected::ping(int count)
{
    text_ += " --> Ping " + std::to_string(count) + "\n";
    if (count - 1 == records_that_fit_) text_ += write_failure_;
    if (!data_file_.empty()) {
        int kbytes = static_cast<int>(RECORD / 1024) * std::min(count, records_that_fit_);
        text_ += "\nWriting to file: " + data_file_ + " - " + std::to_string(kbytes) + " kbytes";
    }
    return *this;
}

Expected& Expected::pings(int first, int last)
{
    for (int count = first; count <= last; ++count) {
        for (int number = 0; number < 8; ++number) pass().packet(number);
        ping(count);
    }
    return *this;
}

Expected& Expected::packets(std::initializer_list<int> numbers)
{
    for (int number : numbers) pass().packet(number);
    return *this;
}

Expected& Expected::fails_with(const std::string& message) { return pass().text(message).prompt(); }

Expected& Expected::text(const std::string& raw)
{
    text_ += raw;
    return *this;
}

Expected& Expected::prompt() { return text(std::string("\n\n") + PROMPT); }

std::string fold_crlf(const std::string& raw, int* bare)
{
    std::string folded;
    *bare = 0;
    for (size_t at = 0; at < raw.size(); ++at) {
        if (raw[at] == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n') continue;
        if (raw[at] == '\r' || (raw[at] == '\n' && (at == 0 || raw[at - 1] != '\r'))) ++*bare;
        folded += raw[at];
    }
    return folded;
}

namespace {

std::string trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

Values profile_values(const std::string& text)
{
    Values values;
    std::string section;
    bool blank_header = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        size_t close = line.rfind(']');
        if (line[0] == '[' && close != std::string::npos && close > 0) {
            section = lower(trim(line.substr(1, close - 1)));
            blank_header = section.empty();
        } else if (line.find('=') != std::string::npos && !blank_header) {
            size_t equals = line.find('=');
            values.emplace(section + "/" + lower(trim(line.substr(0, equals))), trim(line.substr(equals + 1)));
        }
    }
    return values;
}

}  // namespace e2e
