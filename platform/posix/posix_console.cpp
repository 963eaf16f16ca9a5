// Console on a POSIX terminal. Keys are read from /dev/tty so that they work
// with stdin or stdout redirected. During the run the terminal is in
// non-canonical mode without echo and without output flow control, so Ctrl+S
// and Ctrl+Q are keys rather than a freeze of the output (signals stay on, so
// Ctrl+C ends the process); a key read switches to raw mode for its duration.
// The terminal is put back as it was found on every way out, death by signal
// included. A run ended on purpose by a signal (Ctrl+C, systemctl stop, a
// closed terminal) also takes its empty data file with it, terminal or not.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/posix/posix_ending.h"

namespace {

const int ESCAPE = 0x1B;
const int SEQUENCE_GAP_MS = 30;  // the bytes of one key's sequence arrive together
// Every signal a program can catch that would end it while the terminal is in
// run mode (the real-time ones too), the program's own faults among them:
// their handler dies by the same signal after the terminal is put back.
// Signals the program was started with ignored (nohup) stay ignored. SIGPIPE
// and SIGXFSZ are ignored.
const int ENDING_SIGNALS[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO, SIGPWR,
    SIGSTKFLT, SIGABRT, SIGTRAP, SIGSYS,  SIGBUS,  SIGSEGV, SIGFPE,  SIGILL,
};
// The signals that end a run on purpose.
const int STOPPING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

char output_block[512];
int tty_fd = -1;
struct termios tty_found;
bool second_code_pending;

bool tty_has_byte(int wait_ms)
{
    struct pollfd ready = {tty_fd, POLLIN, 0};
    return poll(&ready, 1, wait_ms) > 0 && (ready.revents & POLLIN);
}

int tty_read_byte()
{
    unsigned char byte = 0;
    return read(tty_fd, &byte, 1) == 1 ? byte : -1;
}

void set_tty_mode(tcflag_t lflag_off, tcflag_t iflag_off)
{
    struct termios mode = tty_found;
    mode.c_lflag &= ~lflag_off;
    mode.c_iflag &= ~iflag_off;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    tcsetattr(tty_fd, TCSANOW, &mode);
}

void set_run_mode() { set_tty_mode(ICANON | ECHO, IXON); }
void restore_tty() { tcsetattr(tty_fd, TCSANOW, &tty_found); }

bool is_stopping_signal(int signal_number)
{
    for (int stopping : STOPPING_SIGNALS) {
        if (signal_number == stopping) return true;
    }
    return false;
}

void restore_and_die(int signal_number)
{
    if (tty_fd >= 0) restore_tty();
    if (is_stopping_signal(signal_number)) posix_remove_empty_file_at_end();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Sets the handler of a signal unless it is ignored.
void handle_unless_ignored(int signal_number, void (*handler)(int))
{
    if (signal(signal_number, handler) == SIG_IGN) signal(signal_number, SIG_IGN);
}

// Sets the handler of each ending signal that is not ignored.
void handle_ending_signals(void (*handler)(int))
{
    for (int signal_number : ENDING_SIGNALS) handle_unless_ignored(signal_number, handler);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
        handle_unless_ignored(signal_number, handler);
    }
}

// Ctrl+Z: the shell gets its terminal back as it was; on fg the run mode returns.
void restore_and_stop(int signal_number)
{
    restore_tty();
    signal(signal_number, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signal_number);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signal_number);  // stopped here until continued
    signal(signal_number, restore_and_stop);
    set_run_mode();
}

// How many continuation bytes follow a UTF-8 lead byte.
int utf8_continuations(int lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

// A character beyond ASCII comes as several UTF-8 bytes; they are one key.
void finish_utf8_sequence(int lead)
{
    for (int left = utf8_continuations(lead); left > 0 && tty_has_byte(SEQUENCE_GAP_MS); --left) tty_read_byte();
}

// An arrow or function key comes as ESC [ ... or ESC O ... ending in a
// letter or '~'; the Linux console sends F1 to F5 as ESC [ [ A to ESC [ [ E.
// The whole sequence is one key that leaves a second code, as is ESC and a
// character (Alt with a key), however many bytes the character takes.
void finish_escape_sequence()
{
    if (!tty_has_byte(SEQUENCE_GAP_MS)) return;
    int introducer = tty_read_byte();
    second_code_pending = true;
    if (introducer != '[' && introducer != 'O') {
        finish_utf8_sequence(introducer);  // Alt with a character typed as several bytes
        return;
    }
    for (int taken = 0; tty_has_byte(SEQUENCE_GAP_MS); ++taken) {
        int byte = tty_read_byte();
        bool console_function_key = taken == 0 && introducer == '[' && byte == '[';
        if (byte < 0 || (!console_function_key && byte >= 0x40 && byte <= 0x7E)) return;
    }
}

// A standard stream the program was started without (2>&-) would otherwise
// take the number of the next file opened, the socket or the data file, and
// the trace or a message would go there: it is opened on /dev/null instead.
void keep_standard_streams_open()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);  // the lowest free number: fd
    }
}

}  // namespace

void plat_console_start()
{
    keep_standard_streams_open();
    signal(SIGPIPE, SIG_IGN);  // a closed pipe or connection is an error result, not a death
    signal(SIGXFSZ, SIG_IGN);  // so is a write past the file size limit, as on a full disk
    if (isatty(STDOUT_FILENO)) {
        setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        setvbuf(stdout, output_block, _IOFBF, sizeof output_block);
    }
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd >= 0 && tcgetattr(tty_fd, &tty_found) != 0) {
        close(tty_fd);
        tty_fd = -1;
    }
    if (tty_fd < 0) {
        for (int signal_number : STOPPING_SIGNALS) handle_unless_ignored(signal_number, restore_and_die);
        return;
    }
    handle_ending_signals(restore_and_die);
    signal(SIGTSTP, restore_and_stop);
    set_run_mode();
}

// A console's output is unbuffered: it is there already.
void plat_console_show() {}

void plat_console_stop()
{
    fflush(stdout);
    if (tty_fd < 0) {
        for (int signal_number : STOPPING_SIGNALS) handle_unless_ignored(signal_number, SIG_DFL);
        return;
    }
    restore_tty();
    handle_ending_signals(SIG_DFL);
    signal(SIGTSTP, SIG_DFL);
    close(tty_fd);
    tty_fd = -1;
}

bool plat_errors_on_terminal() { return isatty(STDERR_FILENO) != 0; }

bool plat_key_waiting()
{
    return second_code_pending || (tty_fd >= 0 && tty_has_byte(0));
}

void plat_key_read()
{
    if (second_code_pending) {
        second_code_pending = false;
        return;
    }
    if (tty_fd < 0) return;
    fflush(stdout);  // the run is ending: the prompt is out, also in a file, before the wait
    set_tty_mode(ICANON | ECHO | ISIG | IEXTEN, IXON | ICRNL);
    int first = tty_read_byte();
    if (first == ESCAPE) {
        finish_escape_sequence();
    } else {
        finish_utf8_sequence(first);
    }
    set_run_mode();
}
