// Checks of the Windows platform backend, run as a Windows program (under
// Wine on the build machine): console keys fed through WriteConsoleInputA,
// data files, logs and the directory search, the settings file calls, the
// clocks, the socket wait against a loopback peer made here, and the tools'
// terminal and byte sources. Each check names what it proves; the exit status
// is the number of failed checks.
#include <winsock.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_source.h"
#include "platform/platform.h"
#include "platform/terminal.h"

namespace {

const int RETURN_SIZE = 1033;
const int SHORT_WAIT_MS = 1500;

int failures;
HANDLE console_in = INVALID_HANDLE_VALUE;
char scratch[RETURN_SIZE];
char second_piece[RETURN_SIZE];
uint8_t source_bytes[2 * PLAT_SOURCE_DATAGRAM_MAX];

// A FILETIME's count of 100 ns steps.
int64_t steps_of(const FILETIME& time)
{
    ULARGE_INTEGER steps;
    steps.LowPart = time.dwLowDateTime;
    steps.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(steps.QuadPart);
}

void check(bool passed, const char* purpose)
{
    printf("%s: %s\n", passed ? "ok  " : "FAIL", purpose);
    if (!passed) ++failures;
}

// ---- Console keys ------------------------------------------------------------

void type_key(WORD virtual_key, WORD scan, char character, DWORD state, BOOL down = TRUE)
{
    INPUT_RECORD event = {};
    event.EventType = KEY_EVENT;
    event.Event.KeyEvent.bKeyDown = down;
    event.Event.KeyEvent.wRepeatCount = 1;
    event.Event.KeyEvent.wVirtualKeyCode = virtual_key;
    event.Event.KeyEvent.wVirtualScanCode = scan;
    event.Event.KeyEvent.uChar.AsciiChar = character;
    event.Event.KeyEvent.dwControlKeyState = state;
    DWORD written = 0;
    WriteConsoleInputA(console_in, &event, 1, &written);
}

DWORD events_queued()
{
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(console_in, &count);
    return count;
}

bool waiting_after_only(WORD virtual_key, WORD scan, char character, DWORD state)
{
    FlushConsoleInputBuffer(console_in);
    type_key(virtual_key, scan, character, state);
    return plat_key_waiting();
}

void check_key_test()
{
    FlushConsoleInputBuffer(console_in);
    type_key(VK_SHIFT, 0x2A, 0, SHIFT_PRESSED);
    type_key(VK_CONTROL, 0x1D, 0, LEFT_CTRL_PRESSED);
    type_key(VK_MENU, 0x38, 0, LEFT_ALT_PRESSED);
    type_key(VK_CAPITAL, 0x3A, 0, 0);
    type_key(VK_NUMLOCK, 0x45, 0, ENHANCED_KEY);
    type_key(VK_PAUSE, 0x45, 0, 0);
    type_key(VK_SNAPSHOT, 0x37, 0, ENHANCED_KEY);
    type_key(VK_LWIN, 0x5B, 0, ENHANCED_KEY);
    type_key(VK_F13, 0x64, 0, 0);
    type_key('X', 0x2D, 'x', 0, FALSE);
    check(!plat_key_waiting(), "modifier, lock and system keys alone and key-up events are not a waiting key");
    check(events_queued() == 10, "the key test removes nothing from the queue");

    check(!waiting_after_only('0', 0x0B, 0, LEFT_CTRL_PRESSED), "Ctrl+0 has no code");
    check(!waiting_after_only(VK_OEM_1, 0x27, 0, RIGHT_CTRL_PRESSED), "Ctrl+; has no code");
    check(!waiting_after_only(VK_NUMPAD5, 0x4C, 0, LEFT_ALT_PRESSED), "Alt with a numeric-pad digit has no code");
    check(!waiting_after_only(VK_OEM_102, 0x56, '<', 0), "a key outside the table does not count for all its character");
    check(waiting_after_only('2', 0x03, 0, LEFT_CTRL_PRESSED), "Ctrl+2 has a code though it carries no character");
    check(waiting_after_only('Q', 0x10, 0, LEFT_ALT_PRESSED), "Alt+Q has a code");
    check(waiting_after_only(VK_UP, 0x48, 0, ENHANCED_KEY), "an arrow key is waiting");
    check(waiting_after_only('C', 0, 'c', 0), "a typed-in key without a scan code still counts");

    FlushConsoleInputBuffer(console_in);
    for (int i = 0; i < 1500; ++i) type_key(VK_SHIFT, 0x2A, 0, SHIFT_PRESSED, i % 2);
    type_key('D', 0x20, 'd', 0);
    bool seen = false;
    for (int look = 0; look < 3 && !seen; ++look) seen = plat_key_waiting();
    check(seen, "a key behind more noise events than one peek holds is still seen");
}

void check_key_read()
{
    FlushConsoleInputBuffer(console_in);
    type_key('A', 0x1E, 'a', 0);
    plat_key_read();
    check(events_queued() == 0 && !plat_key_waiting(), "a character key is read whole, leaving nothing pending");

    type_key(VK_SHIFT, 0x2A, 0, SHIFT_PRESSED);
    type_key(VK_F1, 0x3B, 0, 0);
    type_key('B', 0x30, 'b', 0);
    plat_key_read();
    check(events_queued() == 1, "the key read skips Shift and consumes F1 only");
    check(plat_key_waiting(), "F1 leaves its second code waiting");
    plat_key_read();
    check(events_queued() == 1, "the second code is read without touching the queue");
    plat_key_read();
    check(events_queued() == 0, "the next read takes the following key");

    type_key(VK_OEM_102, 0x56, '<', 0);
    plat_key_read();
    check(events_queued() == 0 && !plat_key_waiting(), "the key read takes a character key outside the table");

    DWORD before = 0, after = 0;
    GetConsoleMode(console_in, &before);
    type_key('E', 0x12, 'e', 0);
    plat_key_read();
    GetConsoleMode(console_in, &after);
    check(before == after, "the key read puts the console mode back");
}

// ---- Data files and the directory search ---------------------------------------

void note_name(const char* name, void* context)
{
    char* names = static_cast<char*>(context);
    strcat(names, name);
    strcat(names, ";");
}

void check_files()
{
    PlatFile file = PLAT_NO_FILE;
    check(plat_file_create_new("08DEC2026-0001.QKV", &file) == PLAT_OK, "a new data file is created");
    PlatFile second = PLAT_NO_FILE;
    check(plat_file_create_new("08DEC2026-0001.QKV", &second) == PLAT_ERR_EXISTS, "an existing file is never replaced");

    char block[100];
    memset(block, 'r', sizeof block);
    check(plat_file_write(file, block, sizeof block) == PLAT_OK, "a block is written whole");
    check(plat_file_truncate(file, 60) == PLAT_OK, "the file is cut back to a record boundary");
    plat_file_write(file, block, 40);
    plat_fault_arm(PLAT_FAULT_WRITE, 1, PLAT_ERR_NO_SPACE);
    check(plat_file_write(file, block, sizeof block) == PLAT_ERR_NO_SPACE, "the write fault reports a full disk");
    // The program holds its data file to itself while it records: a reader is told so, in its own result.
    PlatFile reader = PLAT_NO_FILE;
    PlatFileLook look = {};
    char reason[128] = "";
    check(plat_file_open_shared("08DEC2026-0001.QKV", &reader, &look, reason, sizeof reason) == PLAT_ERR_HELD &&
              strcmp(reason, "another program holds it and lets no one read it") == 0,
          "a data file being recorded cannot be opened for reading: held by another program");
    check(plat_file_sync(file) == PLAT_OK && plat_file_close(file) == PLAT_OK, "the file is synced and closed");
    uint8_t head[4] = {};
    check(plat_file_open_shared("08DEC2026-0001.QKV", &reader, &look, reason, sizeof reason) == PLAT_OK &&
              look.regular && plat_file_size(reader) == 150 && plat_file_read_at(reader, 96, head, 4) == PLAT_OK &&
              memcmp(head, "rrrr", 4) == 0 && plat_file_read_at(reader, 148, head, 4) == PLAT_ERR_FAILED,
          "once closed it is read at an offset, and a read past its end fails");
    plat_file_close(reader);
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExA("08DEC2026-0001.QKV", GetFileExInfoStandard, &data);
    check(data.nFileSizeLow == 150, "writes after a truncate go to the new end; the fault writes half its buffer");
    int64_t age_ms = -1;
    int64_t free_bytes = -1;
    ULARGE_INTEGER free_to_caller = {};
    GetDiskFreeSpaceExA(".", &free_to_caller, nullptr, nullptr);
    check(plat_file_age_ms("08DEC2026-0001.QKV", &age_ms) && age_ms >= 0 && age_ms < 60000 &&
              !plat_file_age_ms("08DEC2026-0009.QKV", &age_ms),
          "a file just written is seconds old; a missing one has no age");
    check(plat_disk_free(".", &free_bytes) && free_bytes > 0 &&
              llabs(free_bytes - static_cast<int64_t>(free_to_caller.QuadPart)) < 64 * 1048576LL &&
              !plat_disk_free("no such directory", &free_bytes),
          "the free space of the data files' disk is told (others write meanwhile); of a missing directory not");

    // An empty data file goes at its close, only under a name that still denotes it; one with bytes stays.
    PlatFile other = PLAT_NO_FILE, full = PLAT_NO_FILE;
    plat_file_create_new("09DEC2026-0001.QKV", &file);
    plat_file_create_new("09DEC2026-0002.QKV", &other);
    plat_file_create_new("09DEC2026-0003.QKV", &full);
    plat_file_write(full, block, 1);
    plat_file_close_removing_empty(file, "09DEC2026-0002.QKV");  // the name of another file
    plat_file_close_removing_empty(other, "09DEC2026-0002.QKV");
    plat_file_close_removing_empty(full, "09DEC2026-0003.QKV");
    char left[256] = "";
    plat_find_files("09DEC2026-????.QKV", note_name, left);
    check(strlen(left) == 38 && strstr(left, "09DEC2026-0001.QKV;") && strstr(left, "09DEC2026-0003.QKV;"),
          "an empty data file is removed at its close, not under another's name, and one holding bytes stays");

    plat_file_create_new("08dec2026-0002.qkv", &file);
    plat_file_close(file);
    plat_file_create_new("08DEC2026-0003.QKV", &file);
    plat_file_close(file);
    plat_file_create_new("08DEC2026-0004.QKV", &file);
    plat_file_close(file);
    plat_file_create_new("08DEC2026-0005.QKV", &file);
    plat_file_close(file);
    SetFileAttributesA("08DEC2026-0003.QKV", FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA("08DEC2026-0004.QKV", FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA("08DEC2026-0005.QKV", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    CreateDirectoryA("08DEC2026-0006.QKV", nullptr);
    char names[512] = "";
    plat_find_files("08DEC2026-????.QKV", note_name, names);
    bool found_right = strstr(names, "08DEC2026-0001.QKV;") && strstr(names, "08dec2026-0002.qkv;") &&
                       strstr(names, "08DEC2026-0005.QKV;") && strlen(names) == 3 * strlen("08DEC2026-0001.QKV;");
    check(found_right, "the search ignores case and skips directories, hidden and system files, not read-only ones");
    if (!found_right) printf("      found: %s\n", names);
}

void check_logs()
{
    PlatFile log = PLAT_NO_FILE;
    PlatFile second = PLAT_NO_FILE;
    PlatFile reader = PLAT_NO_FILE;
    PlatFileLook look = {};
    char reason[128] = "";
    check(plat_file_open_log("08DEC2026.NAV", &log, reason, sizeof reason) == PLAT_OK, "a log is created when missing");
    check(plat_file_open_log("08DEC2026.NAV", &second, reason, sizeof reason) == PLAT_ERR_HELD,
          "a second writer of a log is refused: held");
    plat_file_write(log, "a\n", 2);
    check(plat_file_open_shared("08DEC2026.NAV", &reader, &look, reason, sizeof reason) == PLAT_OK &&
              plat_file_size(reader) == 2,
          "a log is read while it is written");
    plat_file_close(reader);
    plat_file_close(log);
    plat_file_open_log("08DEC2026.NAV", &log, reason, sizeof reason);
    plat_file_write(log, "b\n", 2);
    check(plat_file_size(log) == 4, "a log opened again is appended to");
    uint8_t first = 0;
    check(plat_file_read_at(log, 0, &first, 1) == PLAT_OK && first == 'a', "a log open for appending is read too");
    plat_file_close(log);
    CreateDirectoryA("09DEC2026.NAV", nullptr);
    check(plat_file_open_log("09DEC2026.NAV", &log, reason, sizeof reason) == PLAT_ERR_FAILED &&
              strcmp(reason, "not a regular file") == 0,
          "a directory named as a log is refused: not a regular file");
}

// ---- Settings file and clocks -----------------------------------------------------

void check_profile_and_clocks()
{
    // Named relative to the current directory, as the program names its settings file.
    char path[64];
    snprintf(path, sizeof path, ".%cHalvex_StoreData.INI", PLAT_DIR_SEPARATOR);
    char value[80];
    PlatProfileQuery range = {"Range", "30", value, sizeof value};
    check(plat_profile_get(path, "Settings", &range, 1) == PLAT_OK && strcmp(value, "30") == 0,
          "a missing file gives the fallback");
    const PlatProfileEntry entries[] = {{"IPAddress", ""}, {"Range", "40"}};
    check(plat_profile_set(path, "Settings", entries, 2) == PLAT_OK, "keys are written, creating the file");
    check(GetFileAttributesA("Halvex_StoreData.INI") != INVALID_FILE_ATTRIBUTES,
          "the file is made in the current directory");
    char address[80];
    PlatProfileQuery both[] = {{"IPAddress", "192.168.0.2", address, sizeof address}, range};
    plat_profile_get(path, "Settings", both, 2);
    check(address[0] == 0, "a present empty key gives the empty value, not the fallback");
    check(strcmp(value, "40") == 0, "every key given is written, and each query gets its own value");
    HANDLE holder = CreateFileA("Halvex_StoreData.INI", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    check(plat_profile_get(path, "Settings", &range, 1) == PLAT_ERR_HELD &&
              plat_last_error() == ERROR_SHARING_VIOLATION && strcmp(value, "30") == 0,
          "a file held without sharing is not a missing one: the lookup fails, with the fallback");
    CloseHandle(holder);

    PlatLocalTime local;
    PlatPreciseTime precise;
    plat_local_time(&local);
    plat_precise_time(&precise);
    check(local.year_since_1900 >= 124 && local.month >= 0 && local.month <= 11 && local.day >= 1 &&
              local.millisecond >= 0 && local.millisecond < 1000,
          "the local time is a plausible date with milliseconds");
    check(precise.seconds > 1700000000LL && precise.milliseconds >= 0 && precise.milliseconds < 1000,
          "the precise time counts from 1970 with milliseconds");
    int offset = 0;
    plat_local_time_offset(&local, &offset);
    SYSTEMTIME fields = {static_cast<WORD>(local.year_since_1900 + 1900), static_cast<WORD>(local.month + 1), 0,
                         static_cast<WORD>(local.day), static_cast<WORD>(local.hour), static_cast<WORD>(local.minute),
                         static_cast<WORD>(local.second), 0};
    FILETIME local_steps, wall_steps;
    SystemTimeToFileTime(&fields, &local_steps);
    GetSystemTimeAsFileTime(&wall_steps);
    int64_t apart = (steps_of(local_steps) - steps_of(wall_steps)) / 10000000 - offset;
    check(apart >= -2 && apart <= 2 && offset % 900 == 0 && offset >= -14 * 3600 && offset <= 14 * 3600,
          "the local time less its UTC offset is the wall clock's time");
    int64_t start = plat_monotonic_ms();
    Sleep(50);
    int64_t elapsed = plat_monotonic_ms() - start;
    check(elapsed >= 45 && elapsed < 1000, "the monotonic clock follows a 50 ms sleep");
}

// ---- Sockets --------------------------------------------------------------------

SOCKET listen_on(const char* address)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(4040);
    local.sin_addr.s_addr = inet_addr(address);
    bind(listener, reinterpret_cast<struct sockaddr*>(&local), sizeof local);
    listen(listener, 1);
    return listener;
}

DWORD WINAPI send_rest_later(void* head)
{
    Sleep(300);
    send(reinterpret_cast<SOCKET>(head), second_piece, RETURN_SIZE - 600, 0);
    return 0;
}

int64_t cpu_ms_used()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    return (steps_of(kernel) + steps_of(user)) / 10000;
}

// A connected pair: the program's side through the backend, the head's side here.
bool connect_pair(const char* address, PlatSocket* program, SOCKET* head)
{
    SOCKET listener = listen_on(address);
    bool connected = plat_net_socket(program) == PLAT_OK &&
                     plat_net_connect(*program, address, 4040, 2000) == PLAT_OK;
    *head = connected ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
    closesocket(listener);
    return *head != INVALID_SOCKET;
}

void check_sockets()
{
    check(plat_net_start() == PLAT_OK, "Windows Sockets 1.1 starts");
    PlatSocket program;
    SOCKET head;
    int queued = 0;

    plat_net_socket(&program);
    check(plat_net_connect(program, "127.0.93.1", 4040, 2000) != PLAT_OK, "a refused connection fails");
    plat_net_close(program);

    const uint8_t listen_address[4] = {127, 0, 93, 9};
    PlatSocket listening, second;
    char reason[128] = "";
    check(plat_net_listen(listen_address, 4049, &listening, reason, sizeof reason) == PLAT_OK, "a server listens");
    check(plat_net_listen(listen_address, 4049, &second, reason, sizeof reason) != PLAT_OK && reason[0] != 0,
          "a second server on its port is refused with the reason");
    plat_net_close(listening);

    if (connect_pair("127.0.93.2", &program, &head)) {
        memset(scratch, 0x55, sizeof scratch);
        send(head, scratch, 600, 0);
        HANDLE sender = CreateThread(nullptr, 0, send_rest_later, reinterpret_cast<void*>(head), 0, nullptr);
        // A part that stops growing is read, so that a close behind it can be seen.
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE, SHORT_WAIT_MS, &queued) == PLAT_OK &&
                  plat_net_read(program, scratch, RETURN_SIZE) == 600 &&
                  plat_net_wait_queued(program, scratch, RETURN_SIZE - 600, SHORT_WAIT_MS, &queued) == PLAT_OK,
              "a packet whose second piece comes 300 ms later: the first piece, then the rest waited for");
        WaitForSingleObject(sender, 5000);
        CloseHandle(sender);
        check(plat_net_read(program, scratch, RETURN_SIZE - 600) == RETURN_SIZE - 600, "the rest is read at once");
        send(head, scratch, 40, 0);
        send(head, scratch, RETURN_SIZE + 7, 0);
        Sleep(100);
        plat_net_discard_queued(program, scratch, RETURN_SIZE);
        u_long left = 1;
        ioctlsocket(static_cast<SOCKET>(program), FIONREAD, &left);
        check(left == 0, "stray bytes are discarded, however many are queued");
        plat_fault_arm(PLAT_FAULT_RECEIVE, 1, PLAT_ERR_FAILED);
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE, SHORT_WAIT_MS, &queued) == PLAT_ERR_FAILED,
              "the receive fault fails the next wait");
        plat_fault_arm(PLAT_FAULT_SEND, 1, PLAT_ERR_CLOSED);
        check(plat_net_send(program, scratch, 27, 1000) == PLAT_ERR_CLOSED, "the send fault fails the next send");
        check(plat_net_send(program, scratch, 27, 1000) == PLAT_OK, "a command is sent");
        int64_t start = plat_monotonic_ms();
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE, SHORT_WAIT_MS, &queued) == PLAT_ERR_TIMEOUT,
              "a silent head ends the wait with a time-out");
        int64_t waited = plat_monotonic_ms() - start;
        check(waited >= SHORT_WAIT_MS && waited < SHORT_WAIT_MS + 1500, "the time-out comes after the time given");
        closesocket(head);  // with the command unread: a reset
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE, SHORT_WAIT_MS, &queued) == PLAT_ERR_CLOSED &&
                  plat_last_error() == WSAECONNRESET,
              "a head that resets the connection between packets is seen as closed, with the system's code for it");
        check(plat_net_close(program) == PLAT_OK, "the socket closes");
    } else {
        check(false, "a loopback connection is made");
    }

    if (connect_pair("127.0.93.3", &program, &head)) {
        send(head, scratch, 500, 0);
        int64_t cpu_before = cpu_ms_used();
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE, SHORT_WAIT_MS, &queued) == PLAT_OK &&
                  plat_net_read(program, scratch, RETURN_SIZE) == 500 &&
                  plat_net_wait_queued(program, scratch, RETURN_SIZE - 500, SHORT_WAIT_MS, &queued) ==
                      PLAT_ERR_TIMEOUT,
              "part of a packet is taken and the rest waited for");
        check(cpu_ms_used() - cpu_before < SHORT_WAIT_MS / 4, "the wait for the rest of a packet does not spin");
        closesocket(head);
        int64_t start = plat_monotonic_ms();
        check(plat_net_wait_queued(program, scratch, RETURN_SIZE - 500, SHORT_WAIT_MS, &queued) == PLAT_ERR_CLOSED &&
                  plat_last_error() == 0 && plat_monotonic_ms() - start < SHORT_WAIT_MS,
              "a close after part of a packet is seen at once as closed");
        plat_net_close(program);
    }
    plat_net_stop();
}

// ---- The tools' terminal and byte sources ----------------------------------------

PlatTerminalEvent after_only(WORD virtual_key, WORD scan, char character, DWORD state)
{
    FlushConsoleInputBuffer(console_in);
    type_key(virtual_key, scan, character, state);
    return plat_terminal_wait(0);
}

void check_terminal()
{
    DWORD found = 0, taken = 0, after = 0;
    GetConsoleMode(console_in, &found);
    plat_terminal_start(PLAT_TERMINAL_STATUS);
    GetConsoleMode(console_in, &taken);
    check((taken & (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) == 0,
          "the terminal takes keys one at a time, unechoed, Ctrl+C among them");
    check(after_only('Q', 0x10, 'q', 0) == PLAT_TERMINAL_QUIT &&
              after_only('Q', 0x10, 'Q', SHIFT_PRESSED) == PLAT_TERMINAL_QUIT &&
              after_only('C', 0x2E, 0x03, LEFT_CTRL_PRESSED) == PLAT_TERMINAL_QUIT &&
              after_only(VK_ESCAPE, 0x01, 0x1B, 0) == PLAT_TERMINAL_QUIT,
          "q, Q, Ctrl+C and Esc quit");
    FlushConsoleInputBuffer(console_in);
    type_key('X', 0x2D, 'x', 0);
    type_key(VK_UP, 0x48, 0, ENHANCED_KEY);
    type_key('Q', 0x10, 'q', 0, FALSE);
    check(plat_terminal_wait(0) == PLAT_TERMINAL_NOTHING && events_queued() == 0,
          "other keys, an arrow and a q let go do not quit, and are taken");
    plat_terminal_stop();
    GetConsoleMode(console_in, &after);
    check(after == found, "the console mode is put back");
}

void check_udp_source()
{
    PlatSource source = {};
    source.kind = PLAT_SOURCE_UDP;
    source.address = "127.0.93.5";
    source.port = 4041;
    source.handle = PLAT_SOURCE_CLOSED;
    check(plat_source_open_udp(&source) == PLAT_SOURCE_READY, "a UDP port is bound on loopback");
    PlatSource taken = source;
    taken.handle = PLAT_SOURCE_CLOSED;
    check(plat_source_open_udp(&taken) == PLAT_SOURCE_UNUSABLE && taken.reason[0] != 0,
          "a port already bound is unusable, with the reason");
    taken.address = "127.0.93.256";
    check(plat_source_open_udp(&taken) == PLAT_SOURCE_UNUSABLE && strcmp(taken.reason, "not an IPv4 address") == 0,
          "an address that is not IPv4 is unusable");
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(4041);
    to.sin_addr.s_addr = inet_addr("127.0.93.5");
    const char* const datagrams[] = {"$GPGGA,1*00\r\n", "$GPRMC,2", "*00\r\n"};
    for (const char* datagram : datagrams) {
        sendto(sender, datagram, static_cast<int>(strlen(datagram)), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    closesocket(sender);
    Sleep(100);
    size_t count = 0;
    check(plat_source_wait(&source, source_bytes, sizeof source_bytes, 1000, &count) == PLAT_SOURCE_BYTES &&
              count == 26 && memcmp(source_bytes, "$GPGGA,1*00\r\n$GPRMC,2*00\r\n", 26) == 0,
          "the datagrams queued are read in one wait, each whole, in order");
    plat_terminal_start(PLAT_TERMINAL_STATUS);
    FlushConsoleInputBuffer(console_in);
    type_key('Q', 0x10, 'q', 0);
    check(plat_source_wait(&source, source_bytes, sizeof source_bytes, 1000, &count) == PLAT_SOURCE_QUIT,
          "a quit key ends the source's wait");
    plat_terminal_stop();
    plat_source_close(&source);
}

void check_tcp_source()
{
    SOCKET listener = listen_on("127.0.93.6");
    PlatSource source = {};
    source.kind = PLAT_SOURCE_TCP;
    source.address = "127.0.93.6";
    source.port = 4040;
    source.handle = PLAT_SOURCE_CLOSED;
    PlatSourceOpen opened = plat_source_open_tcp(&source);
    size_t count = 0;
    check(opened == PLAT_SOURCE_READY ||
              (opened == PLAT_SOURCE_PENDING &&
               plat_source_wait(&source, source_bytes, sizeof source_bytes, 2000, &count) == PLAT_SOURCE_CONNECTED),
          "a TCP connect started without waiting is told to succeed");
    SOCKET receiver = accept(listener, nullptr, nullptr);
    closesocket(listener);
    send(receiver, "$GPGGA", 6, 0);
    check(plat_source_wait(&source, source_bytes, sizeof source_bytes, 2000, &count) == PLAT_SOURCE_BYTES && count == 6,
          "TCP bytes are read as they come");
    closesocket(receiver);
    check(plat_source_wait(&source, source_bytes, sizeof source_bytes, 2000, &count) == PLAT_SOURCE_LOST &&
              strcmp(source.reason, "closed by the other end") == 0 && source.handle == PLAT_SOURCE_CLOSED,
          "a TCP source closed by the other end is lost, and closed");
}

}  // namespace

int main()
{
    plat_console_start();
    console_in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (console_in != INVALID_HANDLE_VALUE) {
        check_key_test();
        check_key_read();
        check_terminal();
    } else {
        check(false, "a console is there to type keys into");
    }
    check_files();
    check_logs();
    check_profile_and_clocks();
    check_sockets();
    plat_net_start();
    check_udp_source();
    check_tcp_source();
    plat_net_stop();
    plat_console_stop();
    printf("%d failed\n", failures);
    return failures;
}
