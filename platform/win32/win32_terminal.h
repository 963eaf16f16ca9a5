// Within the Windows backend: a look at the console without waiting, shared
// with the byte source. Windows cannot wait for a COM port, a socket and the
// console in one call, so the byte source looks at each in turn.
#pragma once

#include "platform/terminal.h"

// PLAT_TERMINAL_QUIT for an end, or a quit key among those typed since the last
// look (the others are dropped); else PLAT_TERMINAL_RESIZED or PLAT_TERMINAL_NOTHING.
PlatTerminalEvent win32_terminal_look();
