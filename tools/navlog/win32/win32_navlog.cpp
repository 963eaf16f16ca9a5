// navlog's operating-system side on Windows. The source is a COM port
// (\\.\COMn, so COM10 and up open too) set to 8N1, or a Windows Sockets 1.1
// socket. Windows cannot wait for a COM port, a socket and the console in one
// call, so the wait looks at each in turn in slices of 50 ms: a COM port
// read returns as soon as a byte has come, a socket's select as soon as one
// is queued. Keys come from the console's input queue, whatever stdin is;
// Ctrl+C, Ctrl+Break, closing the window, logging off and shutting down end
// the run through the console control handler, which gives the run a moment
// to close its file.
#include <winsock.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tools/navlog/navlog_os.h"

namespace {

const DWORD SLICE_MS = 50;
const int CTRL_C = 0x03;
const int ENDING_GRACE_MS = 2000;
const int DEFAULT_COLUMNS = 80;
const int64_t FILETIME_STEPS_PER_SECOND = 10000000;
const char DEVICE_PREFIX[] = "\\\\.\\";

HANDLE keys = INVALID_HANDLE_VALUE;
volatile LONG ending;
volatile LONG stopped;

BOOL WINAPI note_ending(DWORD)
{
    InterlockedExchange(&ending, 1);
    for (int waited = 0; waited < ENDING_GRACE_MS && !stopped; waited += 10) Sleep(10);
    return TRUE;
}

HANDLE port_of(const NavSource* source) { return reinterpret_cast<HANDLE>(source->handle); }
SOCKET socket_of(const NavSource* source) { return static_cast<SOCKET>(source->handle); }

void set_reason(NavSource* source, const char* text) { snprintf(source->reason, NAVLOG_REASON_SIZE, "%s", text); }

void set_system_reason(char reason[NAVLOG_REASON_SIZE], DWORD error)
{
    plat_error_words(static_cast<int>(error), reason, NAVLOG_REASON_SIZE);
}

// A port that is not there now, or held by another program, may come back.
bool port_may_come(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_ACCESS_DENIED ||
           error == ERROR_GEN_FAILURE || error == ERROR_SHARING_VIOLATION || error == ERROR_DEVICE_NOT_CONNECTED;
}

NavEvent lost(NavSource* source, DWORD error, const char* text)
{
    if (text != nullptr) set_reason(source, text);
    if (text == nullptr) set_system_reason(source->reason, error);
    navlog_source_close(source);
    return NAV_EVENT_LOST;
}

NavEvent read_port(NavSource* source, uint8_t* bytes, size_t size, size_t* count)
{
    DWORD got = 0;
    if (!ReadFile(port_of(source), bytes, static_cast<DWORD>(size), &got, nullptr)) {
        return lost(source, GetLastError(), nullptr);
    }
    *count = got;
    return got > 0 ? NAV_EVENT_BYTES : NAV_EVENT_NONE;
}

// Every datagram queued, while there is room for the largest (and empty ones
// do not go on for ever); the first error (nothing more queued, or the report
// of an earlier datagram) ends it. The socket does not block.
int receive_queued(SOCKET sock, uint8_t* bytes, size_t size)
{
    size_t taken = 0;
    for (size_t datagrams = 0; datagrams < NAVLOG_DATAGRAMS_PER_WAIT && size - taken >= NAVLOG_DATAGRAM_MAX;
         ++datagrams) {
        int got = recv(sock, reinterpret_cast<char*>(bytes + taken), static_cast<int>(size - taken), 0);
        if (got < 0) return taken > 0 ? static_cast<int>(taken) : got;
        taken += static_cast<size_t>(got);
    }
    return static_cast<int>(taken);
}

// Waits one slice for the socket; reads what is queued, or finishes the connect under way.
NavEvent read_socket(NavSource* source, uint8_t* bytes, size_t size, size_t* count)
{
    SOCKET sock = socket_of(source);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, source->connecting ? &writable : &readable);
    FD_SET(sock, &failed);
    struct timeval slice = {0, static_cast<long>(SLICE_MS) * 1000};
    int ready = select(0, &readable, &writable, &failed, &slice);  // the first argument is ignored
    if (ready <= 0) return NAV_EVENT_NONE;
    if (source->connecting) {
        if (FD_ISSET(sock, &failed)) {
            int error = 0;
            int length = sizeof error;
            getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            return lost(source, static_cast<DWORD>(error), nullptr);
        }
        source->connecting = false;
        return NAV_EVENT_CONNECTED;
    }
    bool datagrams = source->options->kind == NAV_SOURCE_UDP;
    int got = datagrams ? receive_queued(sock, bytes, size)
                        : recv(sock, reinterpret_cast<char*>(bytes), static_cast<int>(size), 0);
    if (got > 0) {
        *count = static_cast<size_t>(got);
        return NAV_EVENT_BYTES;
    }
    if (datagrams) return NAV_EVENT_NONE;  // nothing more, or an error report of an earlier datagram
    if (got == 0) return lost(source, 0, "closed by the other end");
    return lost(source, static_cast<DWORD>(WSAGetLastError()), nullptr);
}

// q, Esc or Ctrl+C among the keys pressed since the last look; the others are dropped.
bool key_quits()
{
    if (keys == INVALID_HANDLE_VALUE) return false;
    INPUT_RECORD event;
    DWORD count = 0;
    while (PeekConsoleInputA(keys, &event, 1, &count) && count == 1) {
        DWORD read = 0;
        if (!ReadConsoleInputA(keys, &event, 1, &read) || read == 0) return false;
        if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) continue;
        char c = event.Event.KeyEvent.uChar.AsciiChar;
        if (c == 'q' || c == 'Q' || c == CTRL_C || event.Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE) return true;
    }
    return false;
}

int64_t steps_of(const FILETIME& time)
{
    ULARGE_INTEGER steps;
    steps.LowPart = time.dwLowDateTime;
    steps.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(steps.QuadPart);
}

}  // namespace

NavOpen navlog_open_serial(NavSource* source)
{
    const NavOptions* options = source->options;
    char path[NAVLOG_REASON_SIZE];
    bool named_whole = strncmp(options->device, "\\\\", 2) == 0;
    snprintf(path, sizeof path, "%s%s", named_whole ? "" : DEVICE_PREFIX, options->device);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        set_system_reason(source->reason, error);
        return port_may_come(error) ? NAV_OPEN_ABSENT : NAV_OPEN_UNUSABLE;
    }
    DCB line = {};
    line.DCBlength = sizeof line;
    if (!GetCommState(port, &line)) {
        set_reason(source, "not a serial device");
        CloseHandle(port);
        return NAV_OPEN_UNUSABLE;
    }
    line.BaudRate = static_cast<DWORD>(options->baud);
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fNull = FALSE;
    line.fAbortOnError = FALSE;
    // A read returns as soon as a byte is there, or after one slice with none.
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, SLICE_MS, 0, 0};
    if (!SetCommState(port, &line) || !SetCommTimeouts(port, &timeouts)) {
        snprintf(source->reason, NAVLOG_REASON_SIZE, "cannot be set to %ld baud, 8N1", options->baud);
        CloseHandle(port);
        return NAV_OPEN_UNUSABLE;
    }
    source->handle = reinterpret_cast<intptr_t>(port);
    return NAV_OPEN_READY;
}

NavOpen navlog_open_udp(NavSource* source)
{
    const NavOptions* options = source->options;
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(options->port);
    address.sin_addr.s_addr = inet_addr(options->bind_address);
    if (address.sin_addr.s_addr == INADDR_NONE && strcmp(options->bind_address, "255.255.255.255") != 0) {
        set_reason(source, "not an IPv4 address");
        return NAV_OPEN_UNUSABLE;
    }
    SOCKET sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock == INVALID_SOCKET) {
        set_system_reason(source->reason, WSAGetLastError());
        return NAV_OPEN_ABSENT;
    }
    // A larger queue may be refused without harm. Windows does not tell what it dropped.
    int queue = NAVLOG_UDP_QUEUE_BYTES;
    u_long non_blocking = 1;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&queue), sizeof queue);
    ioctlsocket(sock, FIONBIO, &non_blocking);
    if (bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        set_system_reason(source->reason, WSAGetLastError());
        closesocket(sock);
        return NAV_OPEN_UNUSABLE;
    }
    source->handle = static_cast<intptr_t>(sock);
    return NAV_OPEN_READY;
}

NavOpen navlog_open_tcp(NavSource* source)
{
    const NavOptions* options = source->options;
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(options->port);
    address.sin_addr.s_addr = inet_addr(options->host);
    if (address.sin_addr.s_addr == INADDR_NONE) {
        struct hostent* found = gethostbyname(options->host);
        if (found == nullptr || found->h_addrtype != AF_INET) {
            set_system_reason(source->reason, WSAGetLastError());
            return NAV_OPEN_ABSENT;
        }
        memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    }
    SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock == INVALID_SOCKET) {
        set_system_reason(source->reason, WSAGetLastError());
        return NAV_OPEN_ABSENT;
    }
    u_long non_blocking = 1;
    ioctlsocket(sock, FIONBIO, &non_blocking);
    source->handle = static_cast<intptr_t>(sock);
    if (connect(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) return NAV_OPEN_READY;
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        source->connecting = true;
        return NAV_OPEN_PENDING;
    }
    set_system_reason(source->reason, error);
    navlog_source_close(source);
    return NAV_OPEN_ABSENT;
}

NavEvent navlog_wait(NavSource* source, uint8_t* bytes, size_t size, int wait_ms, size_t* count)
{
    *count = 0;
    int64_t deadline = plat_monotonic_ms() + wait_ms;
    for (;;) {
        if (ending || key_quits()) return NAV_EVENT_QUIT;
        NavEvent event = NAV_EVENT_NONE;
        if (source->handle == NAVLOG_NO_HANDLE) {
            Sleep(SLICE_MS);
        } else if (source->options->kind == NAV_SOURCE_SERIAL) {
            event = read_port(source, bytes, size, count);
        } else {
            event = read_socket(source, bytes, size, count);
        }
        if (ending) return NAV_EVENT_QUIT;
        if (event != NAV_EVENT_NONE || plat_monotonic_ms() >= deadline) return event;
    }
}

void navlog_source_close(NavSource* source)
{
    if (source->handle != NAVLOG_NO_HANDLE) {
        if (source->options->kind == NAV_SOURCE_SERIAL) {
            CloseHandle(port_of(source));
        } else {
            closesocket(socket_of(source));
        }
    }
    source->handle = NAVLOG_NO_HANDLE;
    source->connecting = false;
}

bool navlog_console_start()
{
    keys = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    SetConsoleCtrlHandler(note_ending, TRUE);
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void navlog_console_stop()
{
    if (keys != INVALID_HANDLE_VALUE) CloseHandle(keys);
    keys = INVALID_HANDLE_VALUE;
    SetConsoleCtrlHandler(note_ending, FALSE);
    InterlockedExchange(&stopped, 1);
}

int navlog_console_columns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return DEFAULT_COLUMNS;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void navlog_console_write(const char* text, size_t count)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(output, text, static_cast<DWORD>(count), &written, nullptr) || written == 0) return;
        text += written;
        count -= written;
    }
}

// One reading of the system clock, turned into local time by the system's
// time zone rules for that moment; the offset is the difference of the two.
void navlog_clock_now(NavTime* now)
{
    FILETIME wall;
    GetSystemTimeAsFileTime(&wall);
    SYSTEMTIME utc, local;
    FileTimeToSystemTime(&wall, &utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    FILETIME local_steps;
    SystemTimeToFileTime(&local, &local_steps);
    now->year = local.wYear;
    now->month = local.wMonth;
    now->day = local.wDay;
    now->hour = local.wHour;
    now->minute = local.wMinute;
    now->second = local.wSecond;
    now->millisecond = local.wMilliseconds;
    now->utc_offset_seconds = static_cast<int>((steps_of(local_steps) - steps_of(wall)) / FILETIME_STEPS_PER_SECOND);
}

// What holds it is the share mode: readers only, so a second writer is
// refused by Windows itself until this handle is closed.
PlatResult navlog_file_open(const char* name, PlatFile* file, char reason[NAVLOG_REASON_SIZE])
{
    HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        set_system_reason(reason, error);
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? PLAT_ERR_HELD : PLAT_ERR_FAILED;
    }
    *file = reinterpret_cast<PlatFile>(handle);
    return PLAT_OK;
}
