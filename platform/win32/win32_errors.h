// Within the Windows backend: the system's code behind the latest failure,
// kept for plat_last_error().
#pragma once

#include "platform/platform.h"

extern int win32_last_error;

// A failure with the system's code; 0 when no system call reported it (a limit passed, the peer closed, a
// fault hook).
inline PlatResult win32_failure(PlatResult result, int error)
{
    win32_last_error = error;
    return result;
}
