#include "store/follower.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "store/printable.h"
#include "store/record.h"
#include "store/timestamp.h"

namespace {

// Of two files, the one created later; of two created at once (a file system's clock moves in ticks),
// the one named for today, else the higher number.
bool created_after(const FollowerNewest* newest, const FollowerFound* a, const PlatFileLook& look, const char* name)
{
    if (look.created != a->look.created) return look.created > a->look.created;
    bool today = naming_of_day(name, newest->today), a_today = naming_of_day(a->name, newest->today);
    if (today != a_today) return today;
    return naming_number_of(name) > naming_number_of(a->name);
}

// Keeps the FOLLOWER_CANDIDATES most recently created regular files, newest first.
void keep_newest(const char* name, void* context)
{
    FollowerNewest* newest = static_cast<FollowerNewest*>(context);
    PlatFileLook look;
    if (!plat_file_look(name, &look) || !look.regular) return;
    int at = newest->count;
    while (at > 0 && created_after(newest, &newest->found[at - 1], look, name)) --at;
    if (at == FOLLOWER_CANDIDATES) return;
    int last = newest->count < FOLLOWER_CANDIDATES ? newest->count : FOLLOWER_CANDIDATES - 1;
    for (int k = last; k > at; --k) newest->found[k] = newest->found[k - 1];
    newest->found[at].look = look;
    newest->found[at].size = -1;
    snprintf(newest->found[at].name, sizeof newest->found[at].name, "%s", name);
    if (newest->count < FOLLOWER_CANDIDATES) ++newest->count;
}

// Written since the local midnight: a file being written now, whatever day its name gives.
bool written_today(const char* name)
{
    PlatLocalTime local;
    plat_local_time(&local);
    int64_t since_midnight_ms = ((local.hour * 60LL + local.minute) * 60 + local.second) * 1000 + local.millisecond;
    int64_t age_ms = 0;
    return plat_file_age_ms(name, &age_ms) && age_ms <= since_midnight_ms;
}

// What a data file found is: a recording (its last whole record well-formed), and of now (that record's time). One
// that cannot be opened is a recording too, so that the note says why it cannot be read (on Windows the program
// lets no one read it), though never of now.
enum Probed { PROBED_NONE, PROBED_RECORDING, PROBED_OF_NOW };

Probed probe(Follower* f, FollowerFound* found, const PlatLocalTime* now)
{
    PlatFile file;
    PlatFileLook look;
    char reason[8];
    if (plat_file_open_shared(found->name, &file, &look, reason, sizeof reason) != PLAT_OK) return PROBED_RECORDING;
    found->size = plat_file_size(file);
    int64_t records = found->size / RECORD_SIZE;
    RecordView view;
    bool recording = records > 0 &&
                     plat_file_read_at(file, (records - 1) * RECORD_SIZE, f->probe, sizeof f->probe) == PLAT_OK &&
                     record_parse(f->probe, &view) == RECORD_OK;
    plat_file_close(file);
    if (!recording) return PROBED_NONE;
    return follower_record_is_live(&view, now) ? PROBED_OF_NOW : PROBED_RECORDING;
}

// The file was found by the search before, smaller.
bool grew(const FollowerNewest* newest, const FollowerFound* found)
{
    for (int k = 0; k < newest->before_count; ++k) {
        const FollowerFound* before = &newest->before[k];
        if (plat_same_file(before->look, found->look) && before->size >= 0) return found->size > before->size;
    }
    return false;
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
    printable_note(f->note, sizeof f->note, format, values);
    va_end(values);
}

// A file newly followed: its pings counted from the first.
void start_file(Follower* f, int64_t now)
{
    f->offset = 0;
    f->gone = false;
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

void follow_found(Follower* f, const FollowerFound* found, int64_t now)
{
    if (f->open) plat_file_close(f->file);
    f->chosen = *found;
    f->path = f->chosen.name;
    open_followed(f, now);
}

// The most recently created data file being written, whenever that is another than the file followed; at the start,
// until one is seen growing, the most recently created recording written today. Not the highest number: past 9999
// the next run takes the lowest free one. A file that could not be opened is tried again.
void search_newest(Follower* f, int64_t now)
{
    f->next_search_ms = now + FOLLOWER_SEARCH_EVERY_MS;
    PlatLocalTime local;
    plat_local_time(&local);
    TimestampClock clock = {};
    timestamp_update(&clock, &local);
    FollowerNewest* newest = &f->newest;
    naming_pattern(newest->today, clock.date_time_text);
    char pattern[DATA_NAME_SIZE];
    snprintf(pattern, sizeof pattern, "%s", newest->today);
    bool all_days = now >= f->next_all_days_ms;
    if (all_days) {
        f->next_all_days_ms = now + FOLLOWER_SEARCH_ALL_DAYS_EVERY_MS;
        naming_any_day_pattern(pattern);
    }
    newest->count = 0;
    plat_find_files(pattern, keep_newest, newest);
    const FollowerFound* written = nullptr;
    const FollowerFound* stand_in = nullptr;
    for (int k = 0; k < newest->count; ++k) {
        FollowerFound* found = &newest->found[k];
        Probed probed = probe(f, found, &local);
        if (probed == PROBED_NONE) continue;
        if (stand_in == nullptr && written_today(found->name)) stand_in = found;
        if (probed != PROBED_OF_NOW || written != nullptr) continue;
        if (grew(newest, found)) {
            written = found;
        } else if (all_days) {
            // Another day's file of now is looked at again at the next search, to see it grow.
            f->next_all_days_ms = now + FOLLOWER_SEARCH_EVERY_MS;
        }
    }
    newest->before_count = newest->count;
    memcpy(newest->before, newest->found, sizeof newest->found);
    bool followed = written != nullptr && f->path != nullptr &&
                    plat_same_file(written->look, f->open ? f->identity : f->chosen.look);
    if (written != nullptr && !followed) {
        follow_found(f, written, now);
    } else if (f->path == nullptr && stand_in != nullptr) {
        follow_found(f, stand_in, now);
    } else if (f->path != nullptr && !f->open) {
        open_followed(f, now);
    }
    if (f->path == nullptr) set_note(f, "waiting for a data file of today, %s", newest->today);
}

// Another file moved over the name (a file renamed into place) is a new file, whatever its size. A
// name that denotes no file any more was deleted: what is still written to the file is lost.
bool replaced(Follower* f, int64_t now)
{
    if (now < f->next_name_check_ms) return false;
    f->next_name_check_ms = now + FOLLOWER_CHECK_NAME_EVERY_MS;
    PlatFileLook look;
    bool there = plat_file_look(f->path, &look);
    f->gone = !there;
    return there && !plat_same_file(look, f->identity);
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
    } else if (f->gone) {
        set_note(f, "%s was deleted while followed: what is written to it now is lost", f->path);
    } else {
        f->note[0] = '\0';
    }
}

}  // namespace

bool follower_record_is_live(const RecordView* view, const PlatLocalTime* now)
{
    long long recorded = 0;
    if (!timestamp_parse_ms(view->date_text, view->time_text, view->hundredths_text, &recorded)) return false;
    long long days = timestamp_day_of_date(now->year_since_1900 + 1900, now->month + 1, now->day) + TIMESTAMP_EPOCH_DAY;
    long long now_ms = ((days * 24 + now->hour) * 60 + now->minute) * 60000LL + now->second * 1000LL + now->millisecond;
    long long apart = now_ms - recorded;
    return apart <= FOLLOWER_LIVE_WITHIN_MS && apart >= -FOLLOWER_LIVE_WITHIN_MS;
}

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
