// Following the day's .NAV file while navlog writes it, for the tools that
// show a survey live, beside store/follower.h for the data file: today's file
// of the current directory, named by the computer's local date, moving on to
// the next day's once that appears (navlog starts it with the first sentence
// after midnight). Each look takes the whole lines written since the last
// one; a line still being written is left for a later look. A line longer
// than navlog writes, or holding a NUL byte, is one unreadable line, skipped
// to its end however long it is. A file cut back, or another moved over its
// name, is taken again from its start; a file deleted while followed is said
// to be. Everything is in the caller's record: nothing is allocated.
#pragma once

#include <cstdint>

#include "navfile/nav_line.h"
#include "platform/platform.h"

constexpr int64_t NAV_FOLLOWER_CHECK_EVERY_MS = 1000;  // for the next day's file, or another moved over the name
constexpr int NAV_FOLLOWER_CHUNK = 4096;
constexpr int NAV_FOLLOWER_BYTES_PER_LOOK = 64 * 1024;  // a long file is taken in parts, so the caller stays lively
constexpr int NAV_FOLLOWER_NOTE_SIZE = NAVFILE_NAME_SIZE + 96;

struct NavFollowerEvents {
    void (*file_started)(void* context, const char* name);  // a file taken from its start: forget its lines
    void (*line)(void* context, const char* line);  // the next whole line without its end; empty: unreadable
    void* context;
};

struct NavFollower {
    NavFollowerEvents events;
    char name[NAVFILE_NAME_SIZE];  // the file followed; empty before there is one
    PlatFile file;
    PlatFileLook identity;
    bool open;
    bool gone;       // its name no longer denotes it: deleted while followed
    int64_t offset;  // the bytes taken so far
    int64_t next_check_ms;
    bool spoilt;     // the line so far is too long, or holds a NUL: skipped to its end
    int length;      // of the line so far
    char line[NAVFILE_LINE_SIZE + 1];
    uint8_t chunk[NAV_FOLLOWER_CHUNK];
    long unreadable;  // lines of the file followed
    char note[NAV_FOLLOWER_NOTE_SIZE];  // printable; empty when all is well: waiting, a file problem
};

void nav_follower_start(NavFollower* follower, const NavFollowerEvents* events);
// One look: the day's file looked for, the lines come since. True when more
// are waiting: look again at once.
bool nav_follower_look(NavFollower* follower, int64_t now_ms);
void nav_follower_stop(NavFollower* follower);
