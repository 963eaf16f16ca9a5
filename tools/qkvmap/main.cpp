// qkvmap: a grid of a survey's depths drawn as a map a person opens, with
// its contour lines, a legend of the depths' colours, a scale bar and a north
// arrow, as a PNG picture.
#include <cstdio>

#include "tools/qkvmap/run.h"

int main(int argc, char** argv)
{
    MapOptions options;
    char message[CMDLINE_MESSAGE_SIZE] = "";
    switch (map_parse(argc, argv, &options, message)) {
    case MAP_PARSE_HELP: return fputs(QKVMAP_USAGE, stdout), 0;
    case MAP_PARSE_VERSION: return printf("qkvmap %s\n", HALVEX_VERSION), 0;
    case MAP_PARSE_BAD: return cmdline_complain(stderr, "qkvmap", message, QKVMAP_USAGE);
    case MAP_PARSE_RUN: break;
    }
    return map_run(&options);
}
