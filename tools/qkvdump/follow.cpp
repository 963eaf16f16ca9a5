// The follower looks at the data file's size 20 times a second, takes the
// whole records that came since the last look through the data file check,
// and draws the picture and the status line again when anything changed. A
// record still being written is left for a later look; a file that shrinks
// (cut back) or another file moved over its name is taken again from its
// start. Everything it holds is in one program-wide record: nothing is
// allocated per record.
#include "tools/qkvdump/follow.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "store/naming.h"
#include "store/scan.h"
#include "store/timestamp.h"
#include "tools/qkvdump/cells.h"

namespace {

const int LOOK_EVERY_MS = 50;
const int64_t SEARCH_EVERY_MS = 1000;  // for a newer data file of today
const int64_t CHECK_NAME_EVERY_MS = 1000;  // for another file moved over the name followed
const int RECORDS_PER_LOOK = 256;      // a long file is taken in parts, so that keys are still answered
const size_t OUTPUT_SIZE = 64 * 1024;
const size_t REASON_SIZE = 128;
static_assert(OUTPUT_SIZE >= CELLS_ROW_BYTES_MAX, "a row fits the output block");

struct Newest {
    bool found;
    PlatFileLook look;
    char name[DATA_NAME_SIZE];
};

// The most recently created regular file wins; of two created at once, the higher number.
void keep_newest(const char* name, void* context)
{
    Newest* newest = static_cast<Newest*>(context);
    PlatFileLook look;
    if (!plat_file_look(name, &look) || !look.regular) return;
    bool newer = !newest->found || look.created > newest->look.created ||
                 (look.created == newest->look.created && naming_number_of(name) > naming_number_of(newest->name));
    if (!newer) return;
    newest->found = true;
    newest->look = look;
    snprintf(newest->name, sizeof newest->name, "%s", name);
}

struct Follower {
    const char* path;  // the file followed: the one named, or found; null before there is one
    char found[DATA_NAME_SIZE];
    PlatFile file;
    PlatFileLook identity;  // of the file open, to notice another moved over its name
    bool open;
    int64_t offset;    // where the whole records taken so far end
    int64_t size;      // the file's size at this look
    int records_left;  // of this look
    bool behind;       // the look ran out of records to take: look again at once
    int64_t last_news_ms;
    int64_t next_search_ms;
    int64_t next_name_check_ms;
    bool picture_changed;
    bool status_changed;
    Newest newest;  // of a search
    Scanner scanner;
    CellsStatus status;
    CellsPicture picture;
    size_t used;
    char output[OUTPUT_SIZE];
};

Follower follower;

// The data file check's read function: only whole records, as many as this look may take.
long read_whole_records(void* source, uint8_t* bytes, size_t count)
{
    Follower* f = static_cast<Follower*>(source);
    if (f->size - f->offset < static_cast<int64_t>(count)) return 0;
    if (f->records_left == 0) {
        f->behind = true;
        return 0;
    }
    if (plat_file_read_at(f->file, f->offset, bytes, count) != PLAT_OK) return -1;
    f->offset += static_cast<int64_t>(count);
    --f->records_left;
    return static_cast<long>(count);
}

void take_ping(void* context, const RecordView* view)
{
    Follower* f = static_cast<Follower*>(context);
    CellsStatus* status = &f->status;
    cells_add_ping(&f->picture, view->image + PING_IMAGE_SAMPLES);
    ++status->pings;
    status->have_record = true;
    snprintf(status->time_text, sizeof status->time_text, "%s%s", view->time_text, view->hundredths_text);
    scan_make_printable(status->time_text);
    status->gain = view->gain;
    status->range_field = view->range_field;
    status->interval_ms = view->ping_interval_ms;
}

void set_note(Follower* f, const char* format, ...)
{
    char note[sizeof f->status.note];
    va_list values;
    va_start(values, format);
    vsnprintf(note, sizeof note, format, values);
    va_end(values);
    scan_make_printable(note);
    if (strcmp(note, f->status.note) == 0) return;
    memcpy(f->status.note, note, sizeof note);
    f->status_changed = true;
}

// A file newly followed: an empty picture, its pings counted from the first.
void start_file(Follower* f, int64_t now)
{
    f->offset = 0;
    f->last_news_ms = now;
    cells_clear(&f->picture);
    f->status = CellsStatus{};
    snprintf(f->status.file_name, sizeof f->status.file_name, "%s", f->path);
    scan_make_printable(f->status.file_name);
    f->picture_changed = true;
}

// Follows f->path from its start; when it cannot be opened, the status line says why.
void open_followed(Follower* f, int64_t now)
{
    start_file(f, now);
    char reason[REASON_SIZE];
    f->open = plat_file_open_shared(f->path, &f->file, &f->identity, reason, sizeof reason) == PLAT_OK;
    if (!f->open) set_note(f, "%s: cannot open: %s", f->path, reason);
}

// Without a file named: today's most recently created data file, whenever that changes. Not the highest
// number: past 9999 the next run takes the lowest free one.
void search_newest(Follower* f, int64_t now)
{
    f->next_search_ms = now + SEARCH_EVERY_MS;
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char pattern[DATA_NAME_SIZE];
    naming_pattern(pattern, clock.date_time_text);
    Newest* newest = &f->newest;
    newest->found = false;
    plat_find_files(pattern, keep_newest, newest);
    if (!newest->found) {
        if (!f->open) set_note(f, "waiting for a data file of today, %s", pattern);
        return;
    }
    if (f->open && strcmp(newest->name, f->found) == 0) return;
    if (f->open) plat_file_close(f->file);
    memcpy(f->found, newest->name, sizeof newest->name);
    f->path = f->found;
    open_followed(f, now);
}

// The file named, after another was moved over its name that could not be opened: tried again now and then.
void retry_named(Follower* f, int64_t now)
{
    f->next_search_ms = now + SEARCH_EVERY_MS;
    open_followed(f, now);
}

// Another file moved over the name (a file renamed into place) is a new file, whatever its size.
bool replaced(Follower* f, int64_t now)
{
    if (now < f->next_name_check_ms) return false;
    f->next_name_check_ms = now + CHECK_NAME_EVERY_MS;
    PlatFileLook look;
    return plat_file_look(f->path, &look) && !plat_same_file(look, f->identity);
}

void read_news(Follower* f, int64_t now)
{
    if (replaced(f, now)) {
        plat_file_close(f->file);
        open_followed(f, now);
        if (!f->open) return;
    }
    f->size = plat_file_size(f->file);
    if (f->size < 0) {
        set_note(f, "%s: read error", f->path);
        return;
    }
    if (f->size < f->offset) start_file(f, now);
    f->records_left = RECORDS_PER_LOOK;
    ScanTally tally;
    scan_file(&f->scanner, f->path, read_whole_records, f, &tally);
    f->status.malformed += tally.malformed;
    if (tally.records > 0) {
        f->last_news_ms = now;
        f->picture_changed = true;
    }
    if (tally.read_failed) {
        set_note(f, "%s: read error", f->path);
    } else {
        set_note(f, "");
    }
}

// Past the mark the status line counts whole seconds: it is drawn again when the count changes.
void update_quiet(Follower* f, int64_t now)
{
    if (!f->open) return;
    int64_t quiet_ms = now - f->last_news_ms;
    int64_t shown = f->status.quiet_ms > CELLS_QUIET_MARK_MS ? f->status.quiet_ms / 1000 : -1;
    int64_t to_show = quiet_ms > CELLS_QUIET_MARK_MS ? quiet_ms / 1000 : -1;
    if (shown != to_show) f->status_changed = true;
    f->status.quiet_ms = quiet_ms;
}

void flush_output(Follower* f)
{
    terminal_write(f->output, f->used);
    f->used = 0;
}

char* room_for_row(Follower* f)
{
    if (OUTPUT_SIZE - f->used < CELLS_ROW_BYTES_MAX) flush_output(f);
    return f->output + f->used;
}

void draw(Follower* f)
{
    if (f->picture_changed) {
        for (int row = 0; row + 1 < f->picture.rows; ++row) {
            f->used += cells_picture_row(&f->picture, row, room_for_row(f));
        }
    }
    if (f->picture_changed || f->status_changed) {
        f->used += cells_status_line(&f->picture, &f->status, room_for_row(f));
        flush_output(f);
    }
    f->picture_changed = false;
    f->status_changed = false;
}

void take_size(Follower* f)
{
    int rows = 0;
    int columns = 0;
    terminal_size(&rows, &columns);
    cells_resize(&f->picture, rows, columns);
    f->picture_changed = true;
}

bool asks_for_24_bit()
{
    const char* colour_term = getenv("COLORTERM");
    return colour_term && (strcmp(colour_term, "truecolor") == 0 || strcmp(colour_term, "24bit") == 0);
}

void start(Follower* f)
{
    f->scanner.format = SCAN_QUIET;
    f->scanner.messages = nullptr;
    f->scanner.each = take_ping;
    f->scanner.each_context = f;
    int rows = 0;
    int columns = 0;
    terminal_size(&rows, &columns);
    cells_start(&f->picture, asks_for_24_bit() ? CELLS_24_BIT : CELLS_256_COLOURS, rows, columns);
}

}  // namespace

int follow_run(const char* path)
{
    Follower* f = &follower;
    // The file is opened before the terminal is taken; the open never waits (a pipe is refused).
    char reason[REASON_SIZE];
    bool opened = path != nullptr && plat_file_open_shared(path, &f->file, &f->identity, reason, sizeof reason) == PLAT_OK;
    const char* refusal = terminal_start(TERMINAL_DRAWN);
    if (refusal != nullptr) {
        if (opened) plat_file_close(f->file);
        fprintf(stderr, "qkvdump: --follow draws on a terminal: %s\n", refusal);
        return 2;
    }
    if (path != nullptr && !opened) {
        terminal_stop();
        fprintf(stderr, "%s: cannot open: %s\n", path, reason);
        return 1;
    }
    start(f);
    if (opened) {
        f->open = true;
        f->path = path;
        start_file(f, plat_monotonic_ms());
    }
    terminal_write(CELLS_ENTER, strlen(CELLS_ENTER));
    f->picture_changed = true;
    TerminalEvent event = TERMINAL_NOTHING;
    while (event != TERMINAL_QUIT && event != TERMINAL_GONE) {
        int64_t now = plat_monotonic_ms();
        if (path == nullptr && now >= f->next_search_ms) search_newest(f, now);
        if (path != nullptr && !f->open && now >= f->next_search_ms) retry_named(f, now);
        f->behind = false;
        if (f->open) read_news(f, now);
        update_quiet(f, now);
        draw(f);
        event = terminal_wait(f->behind ? 0 : LOOK_EVERY_MS);
        if (event == TERMINAL_RESIZED) take_size(f);
    }
    terminal_write(CELLS_LEAVE, strlen(CELLS_LEAVE));
    if (f->open) plat_file_close(f->file);
    terminal_stop();
    return 0;
}
