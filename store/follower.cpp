#include "store/follower.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "store/timestamp.h"

namespace {

// The most recently created regular file wins; of two created at once, the higher number.
void keep_newest(const char* name, void* context)
{
    FollowerNewest* newest = static_cast<FollowerNewest*>(context);
    PlatFileLook look;
    if (!plat_file_look(name, &look) || !look.regular) return;
    bool newer = !newest->found || look.created > newest->look.created ||
                 (look.created == newest->look.created && naming_number_of(name) > naming_number_of(newest->name));
    if (!newer) return;
    newest->found = true;
    newest->look = look;
    snprintf(newest->name, sizeof newest->name, "%s", name);
}

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
    f->events.ping(f->events.context, view);
}

void set_note(Follower* f, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    scan_printable_note(f->note, sizeof f->note, format, values);
    va_end(values);
}

// A file newly followed: its pings counted from the first.
void start_file(Follower* f, int64_t now)
{
    f->offset = 0;
    f->last_news_ms = now;
    f->malformed = 0;
    f->announced = true;
    f->note[0] = '\0';
    f->events.file_started(f->events.context, f->path);
}

// Follows f->path from its start; when it cannot be opened, the note says why.
void open_followed(Follower* f, int64_t now)
{
    start_file(f, now);
    char reason[128];
    f->open = plat_file_open_shared(f->path, &f->file, &f->identity, reason, sizeof reason) == PLAT_OK;
    if (!f->open) set_note(f, "%s: cannot open: %s", f->path, reason);
}

// Today's most recently created data file, whenever that changes. Not the highest
// number: past 9999 the next run takes the lowest free one.
void search_newest(Follower* f, int64_t now)
{
    f->next_search_ms = now + FOLLOWER_SEARCH_EVERY_MS;
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char pattern[DATA_NAME_SIZE];
    naming_pattern(pattern, clock.date_time_text);
    FollowerNewest* newest = &f->newest;
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

// Another file moved over the name (a file renamed into place) is a new file, whatever its size.
bool replaced(Follower* f, int64_t now)
{
    if (now < f->next_name_check_ms) return false;
    f->next_name_check_ms = now + FOLLOWER_CHECK_NAME_EVERY_MS;
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
    f->records_left = FOLLOWER_RECORDS_PER_LOOK;
    ScanTally tally;
    scan_file(&f->scanner, f->path, read_whole_records, f, &tally);
    f->malformed += tally.malformed;
    if (tally.records > 0) f->last_news_ms = now;
    if (tally.read_failed) {
        set_note(f, "%s: read error", f->path);
    } else {
        f->note[0] = '\0';
    }
}

}  // namespace

bool follower_start(Follower* f, const char* named, const FollowerEvents* events, int64_t now_ms, char* reason,
                    size_t reason_size)
{
    *f = Follower{};
    f->named = named;
    f->events = *events;
    f->scanner.format = SCAN_QUIET;
    f->scanner.messages = nullptr;
    f->scanner.each = take_ping;
    f->scanner.each_context = f;
    if (named == nullptr) return true;
    f->path = named;
    f->open = plat_file_open_shared(named, &f->file, &f->identity, reason, reason_size) == PLAT_OK;
    f->last_news_ms = now_ms;
    return f->open;
}

bool follower_look(Follower* f, int64_t now)
{
    if (f->named == nullptr && now >= f->next_search_ms) search_newest(f, now);
    if (f->named != nullptr && !f->open && now >= f->next_search_ms) {
        f->next_search_ms = now + FOLLOWER_SEARCH_EVERY_MS;
        open_followed(f, now);
    }
    f->behind = false;
    if (f->open && !f->announced) start_file(f, f->last_news_ms);
    if (f->open) read_news(f, now);
    return f->behind;
}

void follower_stop(Follower* f)
{
    if (f->open) plat_file_close(f->file);
    f->open = false;
}
