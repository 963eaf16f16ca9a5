#include "tools/qkvmap/map_options.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

const char* const MAP_BAND_NAMES[] = {"shoalest", "mean"};

const char QKVMAP_USAGE[] =
    "usage: qkvmap GRID [--contours FILE] [--band shoalest|mean] [--size PIXELS] -o OUT.png\n"
    "Draws a grid of qkvdump --grid as a map: its depths in colours, the\n"
    "contour lines of qkvdump --contours over them with their depths, a legend\n"
    "of the colours' depths, a scale bar and a north arrow, as a PNG picture.\n"
    "  -o, --output OUT   the picture (a PNG file; an existing one is replaced)\n"
    "  --contours FILE    contour lines to draw (GeoJSON or GeoPackage, a depth\n"
    "                     field on each line), in any coordinate system\n"
    "  --band shoalest|mean  the depths drawn (default shoalest)\n"
    "  --size PIXELS      the map's longer side at most (100 to 8000, default\n"
    "                     1000); a small grid's cells are drawn a whole number\n"
    "                     of pixels across, at most 32\n"
    "  --version          print the version\n"
    "  --help             print this text\n";

namespace {

enum OptionId { OPT_HELP, OPT_VERSION, OPT_OUTPUT, OPT_CONTOURS, OPT_BAND, OPT_SIZE };
const CmdlineOption OPTIONS[] = {
    {OPT_HELP, "--help", CMDLINE_FLAG},           {OPT_HELP, "-h", CMDLINE_FLAG},
    {OPT_VERSION, "--version", CMDLINE_FLAG},     {OPT_OUTPUT, "--output", CMDLINE_VALUE},
    {OPT_OUTPUT, "-o", CMDLINE_VALUE},            {OPT_CONTOURS, "--contours", CMDLINE_VALUE},
    {OPT_BAND, "--band", CMDLINE_VALUE},          {OPT_SIZE, "--size", CMDLINE_VALUE},
};

bool take_band(Cmdline* line, const char* text, MapOptions* options)
{
    for (MapBand band : {MAP_BAND_SHOALEST, MAP_BAND_MEAN}) {
        if (strcmp(text, MAP_BAND_NAMES[band]) == 0) {
            options->band = band;
            return true;
        }
    }
    return cmdline_refuse(line, "shoalest or mean", text);
}

bool take_option(Cmdline* line, MapOptions* options)
{
    switch (line->option->id) {
    case OPT_OUTPUT: options->out = line->value; return true;
    case OPT_CONTOURS: options->contours = line->value; return true;
    case OPT_BAND: return take_band(line, line->value, options);
    case OPT_SIZE: return cmdline_number(line, line->value, "a number of pixels", MAP_SIZE_MIN, MAP_SIZE_MAX, &options->size);
    }
    return false;
}

// The options and the one operand; MAP_PARSE_BAD with the line's message saying why.
MapParse take_arguments(Cmdline* line, MapOptions* options)
{
    for (CmdlineRead read = cmdline_next(line); read != CMDLINE_END; read = cmdline_next(line)) {
        if (read == CMDLINE_BAD) return MAP_PARSE_BAD;
        if (read == CMDLINE_OPERAND) {
            if (options->grid != nullptr) {
                cmdline_fail(line, "one GRID only, not \"%s\" and \"%s\"", options->grid, line->value);
                return MAP_PARSE_BAD;
            }
            options->grid = line->value;
            continue;
        }
        if (line->option->id == OPT_HELP) return MAP_PARSE_HELP;
        if (line->option->id == OPT_VERSION) return MAP_PARSE_VERSION;
        if (!take_option(line, options)) return MAP_PARSE_BAD;
    }
    if (options->grid == nullptr) return cmdline_fail(line, "GRID is missing"), MAP_PARSE_BAD;
    if (options->out == nullptr) return cmdline_fail(line, "-o OUT is missing"), MAP_PARSE_BAD;
    return MAP_PARSE_RUN;
}

}  // namespace

MapParse map_parse(int argc, const char* const* argv, MapOptions* options, char message[CMDLINE_MESSAGE_SIZE])
{
    *options = MapOptions{};
    options->band = MAP_BAND_SHOALEST;
    options->size = MAP_SIZE_DEFAULT;
    Cmdline line;
    cmdline_begin(&line, argc, argv, OPTIONS, sizeof OPTIONS / sizeof OPTIONS[0]);
    MapParse parsed = take_arguments(&line, options);
    if (parsed == MAP_PARSE_BAD) snprintf(message, CMDLINE_MESSAGE_SIZE, "%s", line.message);
    return parsed;
}
