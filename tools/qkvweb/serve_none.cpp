// qkvweb on Windows: there the program keeps the data file it records to
// itself, letting no other program read it, so nothing could be shown live.
#include <cstdio>

#include "tools/qkvweb/serve.h"

const char WEB_SERVE_CANNOT[] = "on Windows the program keeps the data file it records to itself, so no other "
                                "program can read it while it records; qkvweb runs on Linux";

int web_serve(const WebOptions*)
{
    fprintf(stderr, "qkvweb: %s\n", WEB_SERVE_CANNOT);
    return 2;
}
