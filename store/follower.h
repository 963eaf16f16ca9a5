// Following a data file while the program records it, for the tools that show
// a survey live: the file named, or else the recording of the current
// directory, moving on to a newer one when the next run starts. Without a file
// named, the recording is the most recently created data file, of whatever
// day, that is being written: it grew since the search before, and its last
// whole record is well-formed and of now (FOLLOWER_LIVE_WITHIN_MS). A copy of
// a recording, made now under another data file's name, is none: it does not
// grow, and the file being written stays followed. Until one is seen growing
// (at the start), the most recently created data file written today whose
// last whole record is well-formed stands in. A run's file that holds no
// record yet (the program creates it before it reaches the head, and removes
// it again when the head never answers) is no recording, nor is a file of
// something else under a data file's name. Each
// look takes the whole records that came since the last one; a record still
// being written is left for a later look, and a file that shrinks (cut back)
// or another file moved over its name is taken again from its start; a file
// deleted while followed is said to be. Everything is in the caller's record:
// nothing is allocated.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "store/naming.h"
#include "store/scan.h"

constexpr int64_t FOLLOWER_SEARCH_EVERY_MS = 1000;      // for a newer recording named for today
// Among the data files of every day, which a directory may hold thousands of, less often: a recording
// under another day's name is one still going on from before midnight.
constexpr int64_t FOLLOWER_SEARCH_ALL_DAYS_EVERY_MS = 60000;
constexpr int64_t FOLLOWER_CHECK_NAME_EVERY_MS = 1000;  // for another file moved over the name followed
constexpr int FOLLOWER_RECORDS_PER_LOOK = 256;          // a long file is taken in parts, so the caller stays lively
constexpr int FOLLOWER_CANDIDATES = 8;  // the newest data files a search looks into
constexpr int FOLLOWER_NOTE_SIZE = DATA_NAME_SIZE + 96;
// A record is of now when its time, the recorder's local time, lies within this of the computer's local time now,
// either way: well over the time a ping takes to reach a reader, short of the seconds a chart plotter would log an
// old depth at its present position.
constexpr int64_t FOLLOWER_LIVE_WITHIN_MS = 5000;

struct FollowerEvents {
    void (*file_started)(void* context, const char* name);  // a file taken from its start: forget its pings
    void (*ping)(void* context, const RecordView* view);     // the next well-formed record
    void* context;
};

struct FollowerFound {
    PlatFileLook look;
    char name[DATA_NAME_SIZE];
    int64_t size;  // when looked into; -1: not known
};

// A search's most recently created data files, newest first, and those of the search before with their sizes.
struct FollowerNewest {
    char today[DATA_NAME_SIZE];  // the pattern of today's names
    int count;
    FollowerFound found[FOLLOWER_CANDIDATES];
    int before_count;
    FollowerFound before[FOLLOWER_CANDIDATES];
};

struct Follower {
    const char* named;  // the file asked for; null: today's newest
    const char* path;   // the file followed: the one named, or found; null before there is one
    FollowerFound chosen;  // the recording found, when none is named
    FollowerEvents events;
    PlatFile file;
    PlatFileLook identity;  // of the file open, to notice another moved over its name
    bool open;
    bool gone;       // the name no longer denotes any file: it was deleted while followed
    bool announced;  // file_started was called for the file open
    int64_t offset;  // where the whole records taken so far end
    int64_t size;    // the file's size at this look
    int records_left;
    bool behind;     // the look ran out of records to take: look again at once
    int64_t last_news_ms;  // the last record, or the file's opening
    int64_t next_search_ms;
    int64_t next_all_days_ms;
    int64_t next_name_check_ms;
    long malformed;        // records of the file followed that failed the check
    char note[FOLLOWER_NOTE_SIZE];  // printable; empty when all is well: waiting, a file problem
    FollowerNewest newest;  // of a search
    uint8_t probe[RECORD_SIZE];  // a candidate's last record
    Scanner scanner;
};

// Starts following named (null: today's newest data file). A named file is
// opened at once, never waiting (a pipe is refused): false, with the reason,
// when it cannot be; the caller may still go on, the follower trying it again
// now and then. No event comes before the first look.
bool follower_start(Follower* follower, const char* named, const FollowerEvents* events, int64_t now_ms,
                    char* reason, size_t reason_size);
// One look: a newer file searched for, the file named tried again, the records
// come since. True when more records are waiting: look again at once.
bool follower_look(Follower* follower, int64_t now_ms);
void follower_stop(Follower* follower);
// The record's time within FOLLOWER_LIVE_WITHIN_MS of now, both local times of this computer. False for one
// whose time cannot be read.
bool follower_record_is_live(const RecordView* view, const PlatLocalTime* now);
