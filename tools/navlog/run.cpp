#include "tools/navlog/run.h"

#include <cstdio>
#include <cstring>

#include "navfile/nav_line.h"
#include "navfile/nmea.h"
#include "platform/byte_source.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "store/record.h"
#include "tools/navlog/navlog_text.h"

namespace {

constexpr int64_t SYNC_EVERY_MS = 1000;           // a line reaches the disk about a second after it came
constexpr int64_t STATUS_EVERY_MS = 1000;         // on a terminal
constexpr int64_t PLAIN_STATUS_EVERY_MS = 10000;  // a plain line when the output is not a terminal
constexpr int64_t REOPEN_FIRST_MS = 1000;         // a source that went away is opened again after this,
constexpr int64_t REOPEN_LONGEST_MS = 10000;      // a TCP source after a pause that doubles up to this
constexpr int64_t CONNECT_LIMIT_MS = 10000;       // a TCP connect not done by then has failed
// A receiver sends at least once a second. A serial line or TCP connection
// silent ten times as long is opened again: a port can stay open but dead when
// its device is unplugged (Windows), a connection when its far end vanished.
constexpr int64_t SILENCE_REOPEN_MS = 10000;
constexpr int WAIT_LONGEST_MS = 1000;
constexpr size_t BLOCK_SIZE = 65536;  // the lines of one pass are written together, up to this many bytes
// Why the day's file cannot be had, when another logger has it.
constexpr char HELD_TEXT[] = "held by another navlog or program";
// Why nothing is written into a file at the day's name that is a recording.
constexpr char DATA_FILE_TEXT[] = "a data file (it starts as a ping record): nothing is written into it";
constexpr int SOURCE_NAME_SIZE = NAVLOG_HOST_SIZE + 16;
// What one wait may read: a burst of datagrams queued together is taken in one pass.
constexpr size_t READ_SIZE = 4 * PLAT_SOURCE_DATAGRAM_MAX;
constexpr size_t FILE_TROUBLE_SIZE = 256;

enum SourceState { SOURCE_UP, SOURCE_CONNECTING, SOURCE_DOWN };

struct LogFile {
    PlatFile file;
    bool open;
    char name[NAVFILE_NAME_SIZE];
    NavTime day;      // the local day it is the file of
    bool torn_tail;   // it ends in part of a line (a power cut): the next line starts on a line of its own
    char trouble[FILE_TROUBLE_SIZE];  // while it cannot be opened: why
    bool unsynced;
    int64_t last_sync_ms;
};

struct Logger {
    const NavOptions* options;
    PlatSource source;
    SourceState state;
    char source_name[SOURCE_NAME_SIZE];
    int64_t reopen_at_ms;
    int64_t connect_started_ms;
    int64_t reopen_pause_ms;
    int64_t last_bytes_ms;  // since the source was opened
    long dropped_earlier;   // by the system, on the sources opened before this one
    bool terminal;
    NmeaFramer framer;
    NmeaFix fix;
    int64_t fix_at_ms;
    int64_t last_good_ms;
    NavRate rate;
    long bad;
    long unwritten;
    int64_t status_at_ms;  // when the last status was shown
    SourceState state_shown;  // the source's state the last status showed
    bool status_now;          // a line said above it: the status is shown again at once
    LogFile log;
    uint8_t bytes[READ_SIZE];
    char block[BLOCK_SIZE];  // the lines of this pass not yet written
    size_t block_length;
    long block_lines;
    char trouble[SOURCE_NAME_SIZE + PLAT_SOURCE_REASON_SIZE + 64];
    char status[NAVLOG_STATUS_SIZE];
    char redraw[NAVLOG_STATUS_SIZE + 2];
};

Logger logger;  // static, so nothing is allocated while it runs

// The local time now, with milliseconds and the offset in force, from one reading.
void clock_now(NavTime* now)
{
    PlatLocalTime local;
    plat_local_time_offset(&local, &now->utc_offset_seconds);
    now->year = local.year_since_1900 + 1900;
    now->month = local.month + 1;
    now->day = local.day;
    now->hour = local.hour;
    now->minute = local.minute;
    now->second = local.second;
    now->millisecond = local.millisecond;
}

// What is already at the day's name, opened: a recording put there (a link to a data file), which no line
// goes into, or a file whose last line has no line end.
PlatResult look_at_end(LogFile* log)
{
    uint8_t first[RECORD_STARTS_FILE_SIZE];
    int64_t size = plat_file_size(log->file);
    if (size >= static_cast<int64_t>(sizeof first) && plat_file_read_at(log->file, 0, first, sizeof first) == PLAT_OK &&
        record_starts_file(first, sizeof first)) {
        plat_file_close(log->file);
        snprintf(log->trouble, sizeof log->trouble, "%s", DATA_FILE_TEXT);
        return PLAT_ERR_FAILED;
    }
    uint8_t last = '\n';
    log->torn_tail = size > 0 && plat_file_read_at(log->file, size - 1, &last, 1) == PLAT_OK && last != '\n';
    return PLAT_OK;
}

PlatResult open_log(LogFile* log, const NavTime* day)
{
    navfile_file_name(day, log->name);
    log->day = *day;
    log->unsynced = false;
    log->last_sync_ms = plat_monotonic_ms();
    PlatResult opened = plat_file_open_log(log->name, &log->file, log->trouble, sizeof log->trouble);
    if (opened == PLAT_ERR_HELD) snprintf(log->trouble, sizeof log->trouble, "%s", HELD_TEXT);
    if (opened == PLAT_OK) opened = look_at_end(log);
    log->open = opened == PLAT_OK;
    return opened;
}

void sync_log(LogFile* log)
{
    if (!log->open || !log->unsynced) return;
    plat_file_sync(log->file);
    log->unsynced = false;
    log->last_sync_ms = plat_monotonic_ms();
}

void close_log(LogFile* log)
{
    if (!log->open) return;
    sync_log(log);
    plat_file_close(log->file);
    log->open = false;
}

// Bytes go to the end of the file whole or not at all: what a failed write
// left of them is cut off again, and only that. The size it is cut back to is
// the file's own just before the write, which no other navlog changes while
// this one holds the file.
bool append_whole(LogFile* log, const char* bytes, size_t count)
{
    int64_t before = plat_file_size(log->file);
    if (plat_file_write(log->file, bytes, count) == PLAT_OK) {
        log->unsynced = true;
        return true;
    }
    if (before >= 0 && plat_file_size(log->file) > before) plat_file_truncate(log->file, before);
    return false;
}

// A line of its own: above the status line on a terminal, otherwise among the plain status lines.
void say_line(Logger* l, const char* text)
{
    if (l->terminal) {
        int rows = 0;
        int columns = 0;
        plat_terminal_size(&rows, &columns);
        plat_terminal_write(l->redraw, navlog_status_redraw(text, columns, l->redraw));
        l->status_now = true;
    } else {
        plat_terminal_write(text, strlen(text));
    }
    plat_terminal_write("\n", 1);
}

// The day's file deleted, or moved away or over by another, while it is logged to: the lines would go where no one
// finds them, so it is opened anew by its name.
void follow_log_name(Logger* l)
{
    LogFile* log = &l->log;
    if (!log->open || plat_file_still_named(log->file, log->name)) return;
    close_log(log);
    char said[NAVFILE_NAME_SIZE + 64];
    snprintf(said, sizeof said, "navlog: %s was deleted or replaced; opening it anew", log->name);
    say_line(l, said);
}

// The lines of a pass go to the file in one write; when that fails (a full
// disk) each is tried on its own, so every line that fits is still written.
void write_block(Logger* l, const NavTime* time)
{
    LogFile* log = &l->log;
    size_t length = l->block_length;
    long lines = l->block_lines;
    l->block_length = 0;
    l->block_lines = 0;
    if (lines == 0) return;
    if (log->open && !navfile_same_day(time, &log->day)) close_log(log);
    follow_log_name(l);
    if (!log->open && open_log(log, time) != PLAT_OK) {
        l->unwritten += lines;
        return;
    }
    if (log->torn_tail && append_whole(log, "\n", 1)) log->torn_tail = false;
    if (append_whole(log, l->block, length)) return;
    if (lines == 1) {
        ++l->unwritten;
        return;
    }
    for (size_t start = 0, end = 0; start < length; start = end) {
        const void* line_end = memchr(l->block + start, '\n', length - start);
        end = line_end == nullptr ? length : static_cast<size_t>(static_cast<const char*>(line_end) - l->block) + 1;
        if (!append_whole(log, l->block + start, end - start)) ++l->unwritten;
    }
}

void queue_line(Logger* l, const NavTime* time, const char* sentence)
{
    if (l->block_length + NAVFILE_LINE_SIZE > BLOCK_SIZE) write_block(l, time);
    l->block_length += navfile_line(time, sentence, l->block + l->block_length);
    ++l->block_lines;
}

void take_bytes(Logger* l, size_t count)
{
    NavTime time;
    clock_now(&time);  // the arrival of the last byte read
    int64_t now_ms = plat_monotonic_ms();
    l->last_bytes_ms = now_ms;
    for (size_t i = 0; i < count; ++i) {
        NmeaVerdict verdict = nmea_framer_take(&l->framer, l->bytes[i]);
        if (verdict == NMEA_PENDING) continue;
        if (verdict != NMEA_GOOD) {
            ++l->bad;
            continue;
        }
        queue_line(l, &time, l->framer.text);
        ++l->rate.counted;
        l->last_good_ms = now_ms;
        if (nmea_take_fix(l->framer.text, &l->fix)) l->fix_at_ms = now_ms;
    }
    write_block(l, &time);
}

void source_down(Logger* l, int64_t pause_ms)
{
    l->state = SOURCE_DOWN;
    l->reopen_at_ms = plat_monotonic_ms() + pause_ms;
    nmea_framer_reset(&l->framer);  // a sentence cut short never joins the next connection's bytes
}

// A TCP source is tried again after a pause that doubles up to ten seconds; the others every second.
void source_lost(Logger* l)
{
    int64_t pause = l->options->kind == PLAT_SOURCE_TCP ? l->reopen_pause_ms : REOPEN_FIRST_MS;
    if (l->options->kind == PLAT_SOURCE_TCP) {
        l->reopen_pause_ms = l->reopen_pause_ms * 2 > REOPEN_LONGEST_MS ? REOPEN_LONGEST_MS : l->reopen_pause_ms * 2;
    }
    source_down(l, pause);
}

PlatSourceOpen open_by_kind(PlatSource* source)
{
    source->handle = PLAT_SOURCE_CLOSED;
    source->connecting = false;
    source->reason[0] = 0;
    switch (source->kind) {
    case PLAT_SOURCE_SERIAL: return plat_source_open_serial(source);
    case PLAT_SOURCE_UDP: return plat_source_open_udp(source);
    case PLAT_SOURCE_TCP: return plat_source_open_tcp(source);
    }
    return PLAT_SOURCE_UNUSABLE;
}

PlatSourceOpen open_source(Logger* l)
{
    l->dropped_earlier += l->source.dropped;
    l->source.dropped = 0;
    PlatSourceOpen opened = open_by_kind(&l->source);
    l->connect_started_ms = plat_monotonic_ms();
    l->last_bytes_ms = l->connect_started_ms;
    if (opened == PLAT_SOURCE_READY) l->state = SOURCE_UP;
    if (opened == PLAT_SOURCE_PENDING) l->state = SOURCE_CONNECTING;
    if (opened == PLAT_SOURCE_ABSENT || opened == PLAT_SOURCE_UNUSABLE) source_lost(l);
    return opened;
}

const char* source_trouble(Logger* l, int64_t now_ms)
{
    if (l->state == SOURCE_UP) return nullptr;
    if (l->state == SOURCE_CONNECTING) {
        snprintf(l->trouble, sizeof l->trouble, "%s: connecting", l->source_name);
    } else {
        long long seconds = (l->reopen_at_ms - now_ms + 999) / 1000;
        snprintf(l->trouble, sizeof l->trouble, "%s: %s, trying again in %lld s", l->source_name, l->source.reason,
                 seconds > 0 ? seconds : 0);
    }
    return l->trouble;
}

void show_status(Logger* l, int64_t now_ms, bool last)
{
    NavStatus status = {};
    status.file_name = l->log.name;
    status.source_trouble = source_trouble(l, now_ms);
    status.sentences_per_second = navlog_rate_at(&l->rate, now_ms);
    status.silent_ms = now_ms - l->last_good_ms;
    status.bad = l->bad;
    status.unwritten = l->unwritten;
    status.dropped = l->dropped_earlier + l->source.dropped;
    status.file_trouble = l->log.open ? nullptr : l->log.trouble;
    status.fix = &l->fix;
    status.fix_age_ms = now_ms - l->fix_at_ms;
    size_t length = navlog_status_text(&status, l->status);
    if (l->terminal) {
        int rows = 0;
        int columns = 0;
        plat_terminal_size(&rows, &columns);
        length = navlog_status_redraw(l->status, columns, l->redraw);
        plat_terminal_write(l->redraw, length);
        if (last) plat_terminal_write("\n", 1);
    } else {
        l->status[length] = '\n';
        plat_terminal_write(l->status, length + 1);
    }
    l->status_at_ms = now_ms;
    l->state_shown = l->state;
    l->status_now = false;
}

// On a terminal a source lost is shown at once: its first pause is as short as
// a tick, and could pass between two of them unseen.
bool status_due(const Logger* l, int64_t now_ms)
{
    if (l->terminal && l->state == SOURCE_DOWN && l->state_shown != SOURCE_DOWN) return true;
    if (l->status_now) return true;
    return now_ms - l->status_at_ms >= (l->terminal ? STATUS_EVERY_MS : PLAIN_STATUS_EVERY_MS);
}

int wait_for(const Logger* l, int64_t now_ms)
{
    int64_t every = l->terminal ? STATUS_EVERY_MS : PLAIN_STATUS_EVERY_MS;
    int64_t until = l->status_at_ms + every;
    if (l->state == SOURCE_DOWN && l->reopen_at_ms < until) until = l->reopen_at_ms;
    if (l->log.unsynced && l->log.last_sync_ms + SYNC_EVERY_MS < until) until = l->log.last_sync_ms + SYNC_EVERY_MS;
    int64_t wait = until - now_ms;
    return wait < 0 ? 0 : wait > WAIT_LONGEST_MS ? WAIT_LONGEST_MS : static_cast<int>(wait);
}

void handle(Logger* l, PlatSourceEvent event, size_t count)
{
    switch (event) {
    case PLAT_SOURCE_BYTES: take_bytes(l, count); break;
    case PLAT_SOURCE_CONNECTED:
        l->state = SOURCE_UP;
        l->reopen_pause_ms = REOPEN_FIRST_MS;
        l->last_bytes_ms = plat_monotonic_ms();
        break;
    case PLAT_SOURCE_LOST: source_lost(l); break;
    case PLAT_SOURCE_NONE:
    case PLAT_SOURCE_QUIT: break;
    }
}

// A UDP port is not opened again: nothing about it goes stale, and the port
// could be taken by another program meanwhile.
bool silent_too_long(const Logger* l, int64_t now_ms)
{
    return l->state == SOURCE_UP && l->options->kind != PLAT_SOURCE_UDP &&
           now_ms - l->last_bytes_ms >= SILENCE_REOPEN_MS;
}

void run_loop(Logger* l)
{
    for (;;) {
        int64_t now_ms = plat_monotonic_ms();
        if (silent_too_long(l, now_ms)) {
            plat_source_close(&l->source);
            nmea_framer_reset(&l->framer);
            open_source(l);
        }
        if (l->state == SOURCE_DOWN && now_ms >= l->reopen_at_ms) open_source(l);
        if (l->state == SOURCE_CONNECTING && now_ms - l->connect_started_ms >= CONNECT_LIMIT_MS) {
            plat_source_close(&l->source);
            snprintf(l->source.reason, sizeof l->source.reason, "no answer");
            source_lost(l);
        }
        // The status after the source's turn, so that it shows the pause that has just begun.
        now_ms = plat_monotonic_ms();
        if (l->log.unsynced && now_ms - l->log.last_sync_ms >= SYNC_EVERY_MS) sync_log(&l->log);
        if (status_due(l, now_ms)) show_status(l, now_ms, false);
        size_t count = 0;
        PlatSourceEvent event = plat_source_wait(&l->source, l->bytes, sizeof l->bytes, wait_for(l, now_ms), &count);
        if (event == PLAT_SOURCE_QUIT) return;
        handle(l, event, count);
    }
}

}  // namespace

int navlog_run(const NavOptions* options)
{
    Logger* l = &logger;
    l->options = options;
    l->source.kind = options->kind;
    l->source.device = options->device;
    l->source.baud = options->baud;
    l->source.address = options->kind == PLAT_SOURCE_UDP ? options->bind_address : options->host;
    l->source.port = options->port;
    l->source.handle = PLAT_SOURCE_CLOSED;
    l->reopen_pause_ms = REOPEN_FIRST_MS;
    navlog_source_name(options, l->source_name, sizeof l->source_name);
    nmea_framer_reset(&l->framer);
    nmea_fix_clear(&l->fix);
    plat_net_start();
    if (open_source(l) == PLAT_SOURCE_UNUSABLE) {
        fprintf(stderr, "navlog: %s: %s\n", l->source_name, l->source.reason);
        return 2;
    }
    NavTime today;
    clock_now(&today);
    PlatResult opened = open_log(&l->log, &today);
    if (opened != PLAT_OK) {
        fprintf(stderr, "navlog: cannot open %s: %s\n", l->log.name, l->log.trouble);
        plat_source_close(&l->source);
        return opened == PLAT_ERR_HELD ? 2 : 1;
    }
    plat_terminal_start(PLAT_TERMINAL_STATUS);
    l->terminal = plat_terminal_is_output();
    int64_t start_ms = plat_monotonic_ms();
    l->last_good_ms = start_ms;
    l->status_at_ms = start_ms;
    navlog_rate_start(&l->rate, start_ms);
    show_status(l, start_ms, false);
    run_loop(l);
    show_status(l, plat_monotonic_ms(), true);
    plat_source_close(&l->source);
    close_log(&l->log);
    plat_net_stop();
    plat_terminal_stop();  // last: on Windows a closed console's process ends once the terminal is stopped
    return 0;
}
