// qkvweb's server: the page and the endpoints, for as long as it runs.
#pragma once

#include "tools/qkvweb/web_options.h"

// Serves the survey of the current directory until it is asked to end; the
// exit status: 0, or 2 when it cannot serve as asked (the address taken, or
// not this computer's; a system where it cannot read a data file being written).
int web_serve(const WebOptions* options);
// Why this build cannot serve, for --help and --version to say; empty where it can.
extern const char WEB_SERVE_CANNOT[];
