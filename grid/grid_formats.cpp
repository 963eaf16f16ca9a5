// The formats of a grid's files, told by OUT's name: plain functions, in every build.
#include <cctype>
#include <cstring>

#include "grid/grid_file.h"

namespace {

bool ends_in(const char* path, const char* suffix)
{
    size_t length = strlen(path);
    size_t suffix_length = strlen(suffix);
    if (length < suffix_length) return false;
    const char* tail = path + length - suffix_length;
    for (size_t i = 0; i < suffix_length; ++i) {
        if (tolower(static_cast<unsigned char>(tail[i])) != suffix[i]) return false;
    }
    return true;
}

}  // namespace

GridFileFormat gridfile_format_of(const char* out)
{
    return ends_in(out, ".bag") ? GRIDFILE_BAG : GRIDFILE_COG;
}

ContourFormat contour_format_of(const char* out)
{
    return ends_in(out, ".gpkg") ? CONTOUR_GPKG : CONTOUR_GEOJSON;
}
