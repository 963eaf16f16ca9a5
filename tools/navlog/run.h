// navlog's run: reads the source, writes each good sentence with its time of
// arrival to the day's file, and keeps the status line, until asked to end.
#pragma once

#include "tools/navlog/navlog_options.h"

// The exit status: 0 when asked to end, 1 when the day's file cannot be
// opened at the start, 2 when the source can never be used as asked.
int navlog_run(const NavOptions* options);
