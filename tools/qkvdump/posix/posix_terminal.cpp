// The follower's terminal on POSIX. Keys come from /dev/tty in raw mode, so
// Ctrl+C is a key; SIGTERM, SIGHUP, SIGINT and SIGQUIT sent to the process
// end the loop, which puts the terminal back before the process dies by the
// signal. SIGWINCH marks a resize. The handlers only set flags, and are
// installed without SA_RESTART so that they cut a wait or a write short.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tools/qkvdump/terminal.h"

namespace {

const int ESCAPE = 0x1B;
const int CTRL_C = 0x03;
const int SEQUENCE_GAP_MS = 30;  // the bytes of one key's escape sequence arrive together
const int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
const int ENDING_SIGNAL_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];
const int DEFAULT_ROWS = 24;
const int DEFAULT_COLUMNS = 80;

int tty_fd = -1;
struct termios tty_found;
struct sigaction ending_found[ENDING_SIGNAL_COUNT];
struct sigaction resize_found;
volatile sig_atomic_t ending_signal;
volatile sig_atomic_t resized;

void note_ending(int signal_number) { ending_signal = signal_number; }
void note_resize(int) { resized = 1; }

void catch_signal(int signal_number, void (*handler)(int), struct sigaction* found)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, found);
}

bool byte_within(int wait_ms)
{
    struct pollfd ready = {tty_fd, POLLIN, 0};
    return poll(&ready, 1, wait_ms) > 0 && (ready.revents & POLLIN);
}

int read_byte()
{
    unsigned char byte = 0;
    return read(tty_fd, &byte, 1) == 1 ? byte : -1;
}

// Esc alone quits. An arrow or function key comes as ESC [ ... or ESC O ...
// ending in a letter or '~', Alt and a key as ESC and the key: read whole and ignored.
TerminalEvent after_escape()
{
    if (!byte_within(SEQUENCE_GAP_MS)) return TERMINAL_QUIT;
    int introducer = read_byte();
    if (introducer != '[' && introducer != 'O') return TERMINAL_NOTHING;
    while (byte_within(SEQUENCE_GAP_MS)) {
        int byte = read_byte();
        if (byte < 0 || (byte >= 0x40 && byte <= 0x7E)) break;
    }
    return TERMINAL_NOTHING;
}

TerminalEvent signalled_event()
{
    if (ending_signal != 0) return TERMINAL_ENDED;
    if (resized == 0) return TERMINAL_NOTHING;
    resized = 0;
    return TERMINAL_RESIZED;
}

}  // namespace

const char* terminal_start()
{
    if (!isatty(STDOUT_FILENO)) return "standard output is not a terminal";
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0) return "there is no terminal to read keys from";
    if (tcgetattr(tty_fd, &tty_found) != 0) {
        close(tty_fd);
        tty_fd = -1;
        return "there is no terminal to read keys from";
    }
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) {
        catch_signal(ENDING_SIGNALS[i], note_ending, &ending_found[i]);
        // A signal the process was started to ignore (nohup) stays ignored.
        if (ending_found[i].sa_handler == SIG_IGN) sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
    }
    catch_signal(SIGWINCH, note_resize, &resize_found);
    struct termios raw = tty_found;
    raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~(IXON | ICRNL | INLCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(tty_fd, TCSANOW, &raw);
    return nullptr;
}

void terminal_stop()
{
    if (tty_fd < 0) return;
    tcsetattr(tty_fd, TCSANOW, &tty_found);
    close(tty_fd);
    tty_fd = -1;
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
    sigaction(SIGWINCH, &resize_found, nullptr);
}

void terminal_size(int* rows, int* columns)
{
    struct winsize size = {};
    bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0;
    *rows = known ? size.ws_row : DEFAULT_ROWS;
    *columns = known ? size.ws_col : DEFAULT_COLUMNS;
}

TerminalEvent terminal_wait(int wait_ms)
{
    TerminalEvent event = signalled_event();
    if (event != TERMINAL_NOTHING) return event;
    struct pollfd ready = {tty_fd, POLLIN, 0};
    int count = poll(&ready, 1, wait_ms);
    event = signalled_event();
    if (event != TERMINAL_NOTHING || count <= 0) return event;
    if (!(ready.revents & POLLIN)) return TERMINAL_QUIT;  // the terminal has gone
    int byte = read_byte();
    if (byte == 'q' || byte == 'Q' || byte == CTRL_C) return TERMINAL_QUIT;
    return byte == ESCAPE ? after_escape() : TERMINAL_NOTHING;
}

void terminal_write(const char* text, size_t count)
{
    while (count > 0) {
        ssize_t written = write(STDOUT_FILENO, text, count);
        if (written < 0 && errno == EINTR && ending_signal == 0) continue;
        if (written <= 0) return;
        text += written;
        count -= static_cast<size_t>(written);
    }
}

void terminal_end_as_asked()
{
    signal(ending_signal, SIG_DFL);
    raise(ending_signal);
}
