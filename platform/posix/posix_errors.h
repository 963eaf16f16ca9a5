// Within the POSIX backend: the one mapping of errno values onto PlatResult.
#pragma once

#include <errno.h>

#include "platform/platform.h"

inline PlatResult plat_result_of_errno(int error)
{
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
