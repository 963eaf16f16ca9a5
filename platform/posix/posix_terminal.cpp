// The tools' terminal on POSIX. Keys come from /dev/tty in raw mode, so
// Ctrl+C is a key and the keys work with standard input or output
// redirected. SIGTERM, SIGHUP, SIGINT and SIGQUIT are held blocked except
// inside the wait and a write, which they cut short: one that comes at any
// other moment ends the next wait. SIGWINCH marks a resize, in the same way.
// The handlers only set flags.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_terminal.h"

namespace {

const int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
const int ENDING_SIGNAL_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];
const uint8_t ESCAPE = 0x1B;
const int SEQUENCE_GAP_MS = 30;  // the bytes of one key's escape sequence arrive together
const size_t KEYS_READ_MAX = 64;
const int DEFAULT_ROWS = 24;
const int DEFAULT_COLUMNS = 80;
const int WRITE_AFTER_END_MS = 1000;  // a terminal that takes nothing for this long once an end is asked is let go

bool started;
int tty_fd = -1;
struct termios tty_found;
struct sigaction ending_found[ENDING_SIGNAL_COUNT];
struct sigaction resize_found;
sigset_t mask_found;
sigset_t mask_in_wait;  // the mask found, with the ends and the resize let in
volatile sig_atomic_t ends_asked;  // counted, so that a write can tell one that came during it
volatile sig_atomic_t resized;

void note_ending(int) { ends_asked = ends_asked + 1; }
void note_resize(int) { resized = 1; }

void catch_signal(int signal_number, void (*handler)(int), struct sigaction* found)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, found);
}

// Each end and the resize blocked, and let in by the wait's mask; an end the
// process was started to ignore (nohup) stays ignored.
void catch_ends()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) {
        catch_signal(ENDING_SIGNALS[i], note_ending, &ending_found[i]);
        if (ending_found[i].sa_handler == SIG_IGN) {
            sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
            continue;  // not blocked either: Linux keeps a blocked signal pending even when ignored
        }
        sigaddset(&blocked, ENDING_SIGNALS[i]);
    }
    catch_signal(SIGWINCH, note_resize, &resize_found);
    sigaddset(&blocked, SIGWINCH);
    sigprocmask(SIG_BLOCK, &blocked, &mask_found);
    mask_in_wait = mask_found;
    for (int signal_number : ENDING_SIGNALS) sigdelset(&mask_in_wait, signal_number);
    sigdelset(&mask_in_wait, SIGWINCH);
}

// ppoll lets a blocked signal in only when it waits: with a descriptor ready
// at once, an end stays pending, so it is looked for too.
bool asked_to_end()
{
    sigset_t pending;
    if (ends_asked != 0) return true;
    if (!started || sigpending(&pending) != 0) return false;
    for (int signal_number : ENDING_SIGNALS) {
        if (sigismember(&pending, signal_number) == 1) return true;
    }
    return false;
}

PlatTerminalEvent signalled_event()
{
    if (asked_to_end()) return PLAT_TERMINAL_QUIT;
    if (resized == 0) return PLAT_TERMINAL_NOTHING;
    resized = 0;
    return PLAT_TERMINAL_RESIZED;
}

bool byte_within(int wait_ms)
{
    struct pollfd ready = {tty_fd, POLLIN, 0};
    return poll(&ready, 1, wait_ms) > 0 && (ready.revents & POLLIN);
}

bool output_room_within(int wait_ms)
{
    struct pollfd ready = {STDOUT_FILENO, POLLOUT, 0};
    return poll(&ready, 1, wait_ms) > 0 && (ready.revents & POLLOUT);
}

// A terminal that has hung up is let go: keys can come no more.
PlatTerminalEvent let_terminal_go()
{
    tcsetattr(tty_fd, TCSANOW, &tty_found);
    close(tty_fd);
    tty_fd = -1;
    return PLAT_TERMINAL_GONE;
}

// The keys typed since the last look; an Esc last waits a moment for the rest
// of an escape sequence, whose bytes come together.
PlatTerminalEvent take_keys(short revents)
{
    if (!(revents & POLLIN)) return let_terminal_go();
    uint8_t keys[KEYS_READ_MAX];
    ssize_t got = read(tty_fd, keys, sizeof keys);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return PLAT_TERMINAL_NOTHING;
    if (got <= 0) return let_terminal_go();
    size_t count = static_cast<size_t>(got);
    if (keys[count - 1] == ESCAPE && count < sizeof keys && byte_within(SEQUENCE_GAP_MS)) {
        ssize_t rest = read(tty_fd, keys + count, sizeof keys - count);
        if (rest > 0) count += static_cast<size_t>(rest);
    }
    return plat_terminal_keys_quit(keys, count) ? PLAT_TERMINAL_QUIT : PLAT_TERMINAL_NOTHING;
}

}  // namespace

const char* plat_terminal_start(PlatTerminalUse use)
{
    if (use == PLAT_TERMINAL_DRAWN && !isatty(STDOUT_FILENO)) return "standard output is not a terminal";
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && tcgetattr(fd, &tty_found) != 0) {
        close(fd);
        fd = -1;
    }
    if (fd < 0 && use == PLAT_TERMINAL_DRAWN) return "there is no terminal to read keys from";
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    ends_asked = 0;
    resized = 0;
    catch_ends();
    started = true;
    tty_fd = fd;
    if (tty_fd < 0) return nullptr;
    struct termios raw = tty_found;
    raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~(IXON | ICRNL | INLCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(tty_fd, TCSANOW, &raw);
    return nullptr;
}

void plat_terminal_stop()
{
    if (!started) return;
    if (tty_fd >= 0) let_terminal_go();
    // An end still pending is taken by note_ending before the handlers found come back.
    sigprocmask(SIG_SETMASK, &mask_found, nullptr);
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) sigaction(ENDING_SIGNALS[i], &ending_found[i], nullptr);
    sigaction(SIGWINCH, &resize_found, nullptr);
    started = false;
}

bool plat_terminal_is_output()
{
    return isatty(STDOUT_FILENO) == 1;
}

void plat_terminal_size(int* rows, int* columns)
{
    struct winsize size = {};
    bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0;
    *rows = known ? size.ws_row : DEFAULT_ROWS;
    *columns = known ? size.ws_col : DEFAULT_COLUMNS;
}

bool plat_terminal_24_bit()
{
    const char* colour_term = getenv("COLORTERM");
    return colour_term && (strcmp(colour_term, "truecolor") == 0 || strcmp(colour_term, "24bit") == 0);
}

PlatTerminalEvent posix_terminal_wait(struct pollfd* other, int wait_ms)
{
    if (other != nullptr) other->revents = 0;
    PlatTerminalEvent event = signalled_event();
    if (event != PLAT_TERMINAL_NOTHING) return event;
    struct pollfd ready[2];
    nfds_t watched = 0;
    if (other != nullptr) ready[watched++] = *other;
    nfds_t key_at = watched;
    if (tty_fd >= 0) ready[watched++] = {tty_fd, POLLIN, 0};
    struct timespec limit = {wait_ms / 1000, (wait_ms % 1000) * 1000000L};
    int count = ppoll(ready, watched, &limit, started ? &mask_in_wait : nullptr);
    if (count > 0 && other != nullptr) other->revents = ready[0].revents;
    event = signalled_event();
    if (event != PLAT_TERMINAL_NOTHING || count <= 0) return event;
    return key_at < watched && ready[key_at].revents != 0 ? take_keys(ready[key_at].revents) : PLAT_TERMINAL_NOTHING;
}

PlatTerminalEvent plat_terminal_wait(int wait_ms)
{
    return posix_terminal_wait(nullptr, wait_ms);
}

// An end that comes during the write ends it, also after part of the text
// went; once an end is asked, a terminal that takes nothing is waited for a
// moment only, so a tool can still finish on one that has stopped reading.
void plat_terminal_write(const char* text, size_t count)
{
    sigset_t held;
    if (started) sigprocmask(SIG_SETMASK, &mask_in_wait, &held);
    sig_atomic_t ends_before = ends_asked;
    while (count > 0 && ends_asked == ends_before) {
        if (ends_before != 0 && !output_room_within(WRITE_AFTER_END_MS)) break;
        ssize_t written = write(STDOUT_FILENO, text, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        text += written;
        count -= static_cast<size_t>(written);
    }
    if (started) sigprocmask(SIG_SETMASK, &held, nullptr);
}
