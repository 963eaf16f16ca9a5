// headsim's server loop: one connection at a time (others wait in the listen
// backlog), one reply per switch command, with the options' faults and pacing.
#pragma once

#include "tools/headsim/options.h"
#include "tools/headsim/reply_source.h"

// Listens and serves until stopped or the connection limit is reached;
// the exit status (0, or 1 when it cannot listen).
int server_run(const Options* options, const ReplySource* source);
