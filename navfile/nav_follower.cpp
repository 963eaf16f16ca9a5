#include "navfile/nav_follower.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "store/printable.h"

namespace {

void today_name(char name[NAVFILE_NAME_SIZE])
{
    PlatLocalTime local;
    plat_local_time(&local);
    NavTime day = {{local.year_since_1900 + 1900, local.month + 1, local.day, 0, 0, 0, 0}, 0};
    navfile_file_name(&day, name);
}

void set_note(NavFollower* f, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    printable_note(f->note, sizeof f->note, format, values);
    va_end(values);
}

// A file newly followed, or followed again from its start: its lines counted from the first.
void take_from_start(NavFollower* f)
{
    f->offset = 0;
    f->gone = false;
    f->length = 0;
    f->spoilt = false;
    f->unreadable = 0;
    f->note[0] = '\0';
    f->events.file_started(f->events.context, f->name);
}

void open_day(NavFollower* f, const char* name)
{
    if (f->open) plat_file_close(f->file);
    snprintf(f->name, sizeof f->name, "%s", name);
    char reason[128];
    f->open = plat_file_open_shared(name, &f->file, &f->identity, reason, sizeof reason) == PLAT_OK;
    if (f->open) {
        take_from_start(f);
    } else {
        set_note(f, "%s: cannot open: %s", name, reason);
    }
}

// Today's file, whenever that is another than the one open: the first, the next day's, or
// another moved over the name. Until today's is there, yesterday's is followed on, and the file
// followed whose name no longer denotes it was deleted.
void check_day(NavFollower* f, int64_t now)
{
    f->next_check_ms = now + NAV_FOLLOWER_CHECK_EVERY_MS;
    char today[NAVFILE_NAME_SIZE];
    today_name(today);
    PlatFileLook look;
    bool followed = f->open && strcmp(today, f->name) == 0;
    if (plat_file_look(today, &look) && !(followed && plat_same_file(look, f->identity))) {
        open_day(f, today);
        return;
    }
    if (!f->open) {
        set_note(f, "waiting for today's navigation log, %s", today);
        return;
    }
    f->gone = !(plat_file_look(f->name, &look) && plat_same_file(look, f->identity));
}

// All is well, or the file followed was deleted.
void note_news(NavFollower* f)
{
    if (f->gone) {
        set_note(f, "%s was deleted while followed: what is written to it now is lost", f->name);
    } else {
        f->note[0] = '\0';
    }
}

void take_byte(NavFollower* f, uint8_t byte)
{
    if (byte == '\n') {
        while (f->length > 0 && f->line[f->length - 1] == '\r') --f->length;
        f->line[f->spoilt ? 0 : f->length] = '\0';
        if (f->spoilt) ++f->unreadable;
        f->events.line(f->events.context, f->line);
        f->length = 0;
        f->spoilt = false;
        return;
    }
    if (byte == 0 || f->length >= NAVFILE_LINE_SIZE) {
        f->spoilt = true;
        return;
    }
    f->line[f->length++] = static_cast<char>(byte);
}

// The bytes come since the last look, a part of them at most; true when more are waiting.
bool read_news(NavFollower* f)
{
    int64_t size = plat_file_size(f->file);
    if (size >= 0 && size < f->offset) take_from_start(f);
    int64_t budget = NAV_FOLLOWER_BYTES_PER_LOOK;
    while (size >= 0 && f->offset < size && budget > 0) {
        int64_t left = size - f->offset;
        size_t count = left < NAV_FOLLOWER_CHUNK ? static_cast<size_t>(left) : NAV_FOLLOWER_CHUNK;
        if (plat_file_read_at(f->file, f->offset, f->chunk, count) != PLAT_OK) break;
        f->offset += static_cast<int64_t>(count);
        budget -= static_cast<int64_t>(count);
        for (size_t i = 0; i < count; ++i) take_byte(f, f->chunk[i]);
    }
    if (size < 0 || (f->offset < size && budget > 0)) {
        set_note(f, "%s: read error", f->name);
        return false;
    }
    note_news(f);
    return f->offset < size;
}

}  // namespace

void nav_follower_start(NavFollower* f, const NavFollowerEvents* events)
{
    *f = NavFollower{};
    f->events = *events;
}

bool nav_follower_look(NavFollower* f, int64_t now_ms)
{
    if (now_ms >= f->next_check_ms) check_day(f, now_ms);
    return f->open && read_news(f);
}

void nav_follower_stop(NavFollower* f)
{
    if (f->open) plat_file_close(f->file);
    f->open = false;
}
