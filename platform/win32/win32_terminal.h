// Within the Windows backend: a look at the console without waiting, shared
// with the byte source. Windows cannot wait for a COM port, a socket and the
// console in one call, so the byte source looks at each in turn.
#pragma once

#include "platform/terminal.h"

// TERMINAL_QUIT for an end, or a quit key among those typed since the last
// look (the others are dropped); else TERMINAL_RESIZED or TERMINAL_NOTHING.
TerminalEvent win32_terminal_look();
