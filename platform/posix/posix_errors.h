// Within the POSIX backend: the one mapping of errno values onto PlatResult,
// which keeps the errno for plat_last_error().
#pragma once

#include <errno.h>

#include "platform/platform.h"

extern int posix_last_error;

inline PlatResult posix_result_of_errno(int error)
{
    posix_last_error = error;
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

// A failure that no system call reported (a limit passed, the peer closed, a fault hook).
inline PlatResult posix_result_without_errno(PlatResult result)
{
    posix_last_error = 0;
    return result;
}
