// Within the Windows backend: the one mapping of the system's codes
// (GetLastError's and Windows Sockets') onto the platform's results, which
// keeps the code for plat_last_error().
#pragma once

#include "platform/platform.h"

PlatResult win32_result_of_error(int error);
// A failure that no system call reported (a limit passed, the peer closed, a fault hook).
PlatResult win32_result_without_error(PlatResult result);
// Whether a device that could not be opened may be there later: not there
// now, or held by another program (a byte source's PLAT_SOURCE_ABSENT).
bool win32_device_may_come(int error);
