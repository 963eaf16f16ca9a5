// The one mapping of the system's codes onto the platform's results, and the
// words of a code. A Windows Sockets code (10000 and up) is never one of
// GetLastError's, so one mapping takes both.
#include "platform/win32/win32_errors.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int last_error;

}  // namespace

PlatResult win32_result_of_error(int error)
{
    last_error = error;
    switch (error) {
    case WSAECONNRESET:
    case WSAECONNABORTED: return PLAT_ERR_CLOSED;
    case WSAEWOULDBLOCK:
    case WSAETIMEDOUT: return PLAT_ERR_TIMEOUT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return PLAT_ERR_EXISTS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return PLAT_ERR_NO_SPACE;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return PLAT_ERR_HELD;
    default: return PLAT_ERR_FAILED;
    }
}

PlatResult win32_result_without_error(PlatResult result)
{
    last_error = 0;
    return result;
}

bool win32_device_may_come(int error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_ACCESS_DENIED ||
           error == ERROR_GEN_FAILURE || error == ERROR_SHARING_VIOLATION || error == ERROR_DEVICE_NOT_CONNECTED;
}

int plat_last_error() { return last_error; }

void plat_error_words(int error, char* text, size_t size)
{
    char words[256] = {};
    DWORD code = static_cast<DWORD>(error);
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words,
                        sizeof words, nullptr)) {
        snprintf(words, sizeof words, "error %lu", static_cast<unsigned long>(code));
    }
    // The system's sentence without its full stop and line end, as the tools show it after a colon.
    size_t length = strlen(words);
    while (length > 0 && (words[length - 1] == '\n' || words[length - 1] == '\r' || words[length - 1] == '.')) {
        words[--length] = 0;
    }
    snprintf(text, size, "%s", words);
}
