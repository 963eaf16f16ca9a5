// The one mapping of errno values onto the platform's results, and the words
// of an errno value.
#include "platform/posix/posix_errors.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

namespace {

int last_error;

}  // namespace

PlatResult posix_result_of_errno(int error)
{
    last_error = error;
    switch (error) {
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED: return PLAT_ERR_CLOSED;
    case EAGAIN:
    case ETIMEDOUT: return PLAT_ERR_TIMEOUT;
    case EEXIST: return PLAT_ERR_EXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return PLAT_ERR_NO_SPACE;
    default: return PLAT_ERR_FAILED;
    }
}

PlatResult posix_result_without_errno(PlatResult result)
{
    last_error = 0;
    return result;
}

bool posix_device_may_come(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO || error == EBUSY ||
           error == EAGAIN || error == EINTR;
}

int plat_last_error() { return last_error; }

void plat_error_words(int error, char* text, size_t size)
{
    snprintf(text, size, "%s", strerror(error));
}
