// Within the POSIX backend: the one mapping of errno values onto the
// platform's results, which keeps the errno for plat_last_error().
#pragma once

#include "platform/platform.h"

PlatResult posix_result_of_errno(int error);
// A failure that no system call reported (a limit passed, the peer closed, a fault hook).
PlatResult posix_result_without_errno(PlatResult result);
// Whether a device that could not be opened may be there later: not there
// now, or not yet ready (a byte source's PLAT_SOURCE_ABSENT).
bool posix_device_may_come(int error);
