// The operations the program needs from the operating system. Each backend
// (posix/, win32/) implements every one of them; the build picks the backend.
// Operating-system errors are mapped onto PlatResult at this boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum PlatResult {
    PLAT_OK = 0,
    PLAT_ERR_CLOSED = -1,    // the peer closed or reset the connection
    PLAT_ERR_TIMEOUT = -2,   // nothing happened within the time limit
    PLAT_ERR_EXISTS = -3,    // a file of that name is already there
    PLAT_ERR_NO_SPACE = -4,  // disk full or file size limit reached
    PLAT_ERR_FAILED = -5,    // any other failure of the call
    PLAT_ERR_HELD = -6,      // another program holds the file and shares it with no one
};

// The system's own code (errno on POSIX; GetLastError or a Windows Sockets
// error on Windows) behind the latest failure a call of this layer returned,
// for plat_error_words. 0 when no system call failed: a time limit passed,
// the peer closed, a fault hook fired.
int plat_last_error();

// ---- Console ---------------------------------------------------------------
// Output goes through printf to stdout: unbuffered on a terminal, 512-byte
// blocks otherwise. Keys come from the terminal itself even when stdin or
// stdout are redirected; with no terminal no key is ever waiting and a key
// read returns at once.
void plat_console_start();
// What was printed so far is on the console now. Redirected output is left
// in its block: it is written only when the block is full, and at the end.
void plat_console_show();
void plat_console_stop();  // puts the terminal back as it was found
bool plat_key_waiting();   // never removes anything
// A key without a character (a function key, an arrow, Home, End, Page Up,
// Page Down, Insert, Delete) comes as two codes: the key read takes the first
// and leaves the second code pending, and a key test or key read then sees it
// at once, as if a second key had been pressed.
void plat_key_read();      // one key, raw mode
// Whether standard error is a terminal (a console): where it is not (a
// service's journal, a file), the program explains more there.
bool plat_errors_on_terminal();

// ---- Sockets ---------------------------------------------------------------
typedef intptr_t PlatSocket;
constexpr PlatSocket PLAT_NO_SOCKET = -1;

PlatResult plat_net_start();
void plat_net_stop();
PlatResult plat_net_socket(PlatSocket* sock);
// Four decimal parts separated by dots are read as decimal (leading zeros
// included); any other address text is converted as inet_addr does.
PlatResult plat_net_connect(PlatSocket sock, const char* address, uint16_t port, int limit_ms);
// Sends all bytes in one call; PLAT_ERR_TIMEOUT when they cannot go within limit_ms.
PlatResult plat_net_send(PlatSocket sock, const void* bytes, size_t count, int limit_ms);
// Sleeps, without spinning, until count bytes are queued (PLAT_OK), the peer
// closes (PLAT_ERR_CLOSED, also with part of a packet queued; a reset comes
// with the system's code), an error occurs, or wait_ms pass (PLAT_ERR_TIMEOUT,
// with *queued the bytes queued so far). The caller keeps the time limits and
// waits again. A system that cannot tell a close behind bytes still queued
// (Windows) reports a part that has stopped growing as PLAT_OK too: the read
// takes it, and the caller waits for the rest.
// `scratch` holds count bytes, room for a backend that must peek to count.
PlatResult plat_net_wait_queued(PlatSocket sock, void* scratch, size_t count, int wait_ms, int* queued);
// Drops whatever is queued unread (stray bytes of a misbehaving head), so
// the reply to the next command starts the stream afresh.
void plat_net_discard_queued(PlatSocket sock, void* scratch, size_t size);
// One read of up to count bytes, after a wait reported them queued. It never
// blocks: should fewer be queued after all, it takes those. The byte count,
// or 0 or less when nothing came.
int plat_net_read(PlatSocket sock, void* bytes, size_t count);
PlatResult plat_net_close(PlatSocket sock);
// A TCP socket bound to the IPv4 address (four bytes, in order) and port and
// listening, for a server library to take: not blocking, the address reusable
// at once after a server before it ended. On failure the system's reason.
PlatResult plat_net_listen(const uint8_t address[4], uint16_t port, PlatSocket* sock, char* reason,
                           size_t reason_size);

// ---- Settings file ---------------------------------------------------------
// The settings file is named relative to the current directory ("." and the
// separator before its name), so its path is short and whole however deep the
// directory lies and whatever it is called.
extern const char PLAT_DIR_SEPARATOR;
// Only a regular file is read; anything else (a directory, a FIFO, a device)
// counts as a missing file and is left as it is by a write. A file of any
// size is read as a stream, in memory that does not grow with it.
struct PlatProfileEntry {
    const char* key;
    const char* value;
};
// One key to look up: a missing file, section or key gives fallback; a present
// key its value, maybe empty, at most size - 1 bytes and a terminating zero.
struct PlatProfileQuery {
    const char* key;
    const char* fallback;
    char* value;  // the caller's buffer
    size_t size;
};
// Looks up each query's key in the section, in one reading of the file.
// PLAT_OK also for a missing file. A file that is there but cannot be read
// (no permission, a read error; on Windows, held by a program that lets no
// one read it: PLAT_ERR_HELD) fails, with every query at its fallback.
PlatResult plat_profile_get(const char* path, const char* section, PlatProfileQuery* queries, size_t count);
// Writes each key=value into the section, creating file, section and keys as
// needed. On POSIX the file is replaced once for all of them (at most four),
// and a file the program may not write itself, or whose owner and group the
// replacement could not keep, is left untouched.
PlatResult plat_profile_set(const char* path, const char* section, const PlatProfileEntry* entries, size_t count);

// ---- Data files ------------------------------------------------------------
typedef intptr_t PlatFile;
constexpr PlatFile PLAT_NO_FILE = -1;

// Creates a new file in the current directory; never replaces one (PLAT_ERR_EXISTS).
PlatResult plat_file_create_new(const char* name, PlatFile* file);
// Writes all bytes at the end of the file: PLAT_OK, or an error when not all went.
PlatResult plat_file_write(PlatFile file, const void* bytes, size_t count);
PlatResult plat_file_truncate(PlatFile file, int64_t size);
PlatResult plat_file_sync(PlatFile file);
PlatResult plat_file_close(PlatFile file);
// Closes a file made by plat_file_create_new under name and removes it when
// it holds nothing and name still denotes it (the same volume and index):
// a file moved aside, one put in its place since, or one that got bytes
// after all is left as it is.
PlatResult plat_file_close_removing_empty(PlatFile file, const char* name);
// Until that close, a run ended on purpose by a signal (SIGINT, SIGTERM,
// SIGHUP) removes the file in the same way as it dies; name must stay valid.
// Windows ends a console program without a signal of the program's own, so
// there it does nothing.
void plat_file_remove_empty_at_end(PlatFile file, const char* name);
// Opens a log of the current directory for appending (and for reading what it
// holds, with plat_file_read_at), creating it when missing, readable by others
// while written, and held for this process alone until closed: PLAT_ERR_HELD
// when another process holds it (on Windows also any program that lets no one
// else write it). What holds it is the open file
// itself, so the hold ends with the process however that ends. Never waits: a
// name that is not a regular file (a pipe, a device, a directory) is refused,
// and so is a symbolic link.
// Any failure comes with the reason in words.
PlatResult plat_file_open_log(const char* name, PlatFile* file, char* reason, size_t reason_size);
// Whether name still denotes the log open as file: false once the file has
// been deleted, or moved away or over by another, so that what is written
// would go to a file no one finds by that name.
bool plat_file_still_named(PlatFile file, const char* name);
// Calls found() with each name in the current directory matching pattern
// ('?' is any one character, letter case ignored), skipping directories and
// hidden and system files.
void plat_find_files(const char* pattern, void (*found)(const char* name, void* context), void* context);

// ---- Files shared with their writer ------------------------------------------
// For the tools: data files read while the program writes them, and pictures
// moved into place only when whole. A PlatFile opened here is closed with
// plat_file_close.

// A system error (errno on POSIX, GetLastError or WSAGetLastError on Windows)
// in the system's own words, without a closing full stop.
void plat_error_words(int error, char* text, size_t size);

// What a path names, found without opening it for reading: no wait on a pipe,
// no conflict with a writer that shares nothing.
struct PlatFileLook {
    bool regular;     // a plain file: not a directory, pipe or device
    bool stream;      // a pipe or a character device (a terminal, /dev/null): not a directory, not a disk
    bool identified;  // volume and index are known
    uint64_t volume;  // with index: the same pair is the same file, however it is named
    uint64_t index;
    int64_t created;  // when it was created, in the system's own units: its birth time, or where the file
                      // system keeps none, the last change of its status
};
// False when nothing is there, or it cannot be looked at.
bool plat_file_look(const char* path, PlatFileLook* look);

inline bool plat_same_file(const PlatFileLook& a, const PlatFileLook& b)
{
    return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}
// The same file, made when it was: not another made since at an index freed meanwhile (a file removed and another
// made in its place may be given the same one). Where the file system keeps no birth time, a file whose status has
// changed since (written to) counts as another.
inline bool plat_same_file_since(const PlatFileLook& then, const PlatFileLook& now)
{
    return plat_same_file(then, now) && then.created == now.created;
}

// Opens a regular file for reading, sharing it with its writer, without
// waiting (a pipe with no writer is refused at once); look tells which file it
// is. PLAT_ERR_HELD when its writer lets no one read it; any failure comes
// with the reason in words.
PlatResult plat_file_open_shared(const char* path, PlatFile* file, PlatFileLook* look, char* reason,
                                 size_t reason_size);
// The file's size now; -1 when it cannot be told.
int64_t plat_file_size(PlatFile file);
// Reads count bytes at offset: PLAT_OK only when all of them came.
PlatResult plat_file_read_at(PlatFile file, int64_t offset, uint8_t* bytes, size_t count);
// Creates a new file in path's directory, named after path, to be written and
// then moved over path; its name goes to temp. Null with the reason. Should
// the process be ended by Ctrl+C or a request to terminate before the file is
// moved or discarded, it is removed (a program stopped mid-way leaves no
// partial file), and a write past the file size limit fails as on a full disk
// instead of killing the process. PLAT_BESIDE_MAX such files at once: room
// for every output a tool makes in one run (qkvdump's, checked where they are
// listed); past them, null with that said.
constexpr int PLAT_BESIDE_MAX = 8;
FILE* plat_file_create_beside(const char* path, char* temp, size_t temp_size, char* reason, size_t reason_size);
// Moves the file from over the file to in one step, replacing it: to is
// always the old file or the new one. On failure the reason, and from is left
// where it was.
PlatResult plat_file_replace(const char* from, const char* to, char* reason, size_t reason_size);
// The same where nothing is at to: PLAT_ERR_EXISTS, and nothing moved, when a
// file has come there meanwhile.
PlatResult plat_file_move_new(const char* from, const char* to, char* reason, size_t reason_size);
// Removes a closed file made beside another that is not to be moved into place.
void plat_file_discard(const char* temp);
// A step that a library takes in one call and that makes files of its own
// beside the file made for it (a grid written by GDAL), which only the library
// removes: while held, Ctrl+C and a request to terminate wait, and
// plat_end_asked says one came, for the step to be told to stop; released,
// one that came ends the process as it would have (the files made beside
// others removed). An end the tool was started to ignore (nohup) stays ignored.
void plat_ends_hold(bool hold);
bool plat_end_asked();
// The bytes free to this user on the disk of the directory path: false when
// it cannot be told.
bool plat_disk_free(const char* path, int64_t* bytes);
// True where the system takes a name that looks like a file's for one of its
// devices: on Windows a device name with an extension (nul.png, COM1.NAV, in
// any directory, any letter case) is that device, whatever file is there. The
// device's name, in capitals, goes to device. Never on POSIX.
bool plat_names_device(const char* path, char* device, size_t size);
// A file name as the program was given it, in UTF-8 for drawing: on POSIX
// its bytes as they are; on Windows its characters in the ANSI code page made
// UTF-8. At most size - 1 bytes.
void plat_name_utf8(const char* name, char* utf8, size_t size);
// From then on a write into a pipe whose reader has gone (standard output
// read by head, which has taken what it wanted) fails with the system's
// reason, for the tool to say, instead of ending the process unsaid. Windows
// ends no process for it: nothing to do there.
void plat_closed_pipe_fails();
// How long ago the file at path was last written, in milliseconds of the wall
// clock (0 for a time ahead of the clock); false when it cannot be looked at.
// A follower that takes up a file written before it started tells its age so.
bool plat_file_age_ms(const char* path, int64_t* age_ms);
// The whole of a file, or what a pipe gives, read into a buffer made for it (the caller frees *text); false with
// *text null and the reason ("cannot open: No such file or directory", "cannot read: larger than 64 MiB") where
// it cannot be read or holds over max_bytes. The same stdio code on every system.
bool plat_file_read_whole(const char* path, long max_bytes, char** text, size_t* size, char* reason,
                          size_t reason_size);

// ---- Clocks ----------------------------------------------------------------
struct PlatLocalTime {
    int year_since_1900;
    int month;  // 0 = January
    int day;    // 1 to 31
    int hour;
    int minute;
    int second;
    int millisecond;  // 0 to 999, of the same instant as the fields above
};
struct PlatPreciseTime {
    int64_t seconds;  // since 1970
    int milliseconds;
};
// The local calendar time and its milliseconds, from one reading of the wall clock.
void plat_local_time(PlatLocalTime* now);
// The same, with the offset from UTC in force then (seconds east of Greenwich), from the same reading.
void plat_local_time_offset(PlatLocalTime* now, int* utc_offset_seconds);
void plat_precise_time(PlatPreciseTime* now);
int64_t plat_monotonic_ms();
// The computer's time zone, as the C library keeps it (TZ where it is set).
// The instant, in seconds since 1970, of a local calendar time (its
// milliseconds unused) read as standard time (summer 0), as summer time (1)
// or as the zone's rule has it (-1). False when the zone has no such time so
// read: for summer 0 or 1, one the zone makes another time or keeps as the
// other kind.
bool plat_zone_instant(const PlatLocalTime* local, int summer, int64_t* seconds);
// The zone's names, "CET/CEST", or its one name where it has no summer time.
void plat_zone_names(char* text, size_t size);

// ---- Fault hooks for tests -------------------------------------------------
// Makes the nth call (1 = the next one) at a fault point fail with result;
// nth 0 disarms it. The backends check their hooks right beside the real calls.
enum PlatFaultPoint { PLAT_FAULT_SEND, PLAT_FAULT_RECEIVE, PLAT_FAULT_WRITE, PLAT_FAULT_RENAME, PLAT_FAULT_COUNT };
void plat_fault_arm(PlatFaultPoint point, int nth, PlatResult result);
// True, with the armed result in *result, when this call at the point must fail.
bool plat_fault_fires(PlatFaultPoint point, PlatResult* result);
