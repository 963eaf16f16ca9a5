// Within the POSIX backend: the terminal's wait, shared with the byte source
// so that one wait watches the source, the keys and the ends together.
#pragma once

#include <poll.h>

#include "platform/terminal.h"

// Waits at most wait_ms for a key, an end or a resize, and for other (when
// not null) to become ready, whose revents it sets. The ends are let in only
// during the wait, so one that comes at any other moment ends the next one.
PlatTerminalEvent posix_terminal_wait(struct pollfd* other, int wait_ms);
