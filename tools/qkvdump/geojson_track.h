// The pings with a position as an RFC 7946 GeoJSON FeatureCollection, one
// Point feature a ping, written as a stream: the opening, the features one
// by one, the closing.
#pragma once

#include <cstddef>

#include "tools/qkvdump/ping_export.h"

extern const char GEOJSON_OPENING[];
extern const char GEOJSON_CLOSING[];
constexpr int GEOJSON_FEATURE_SIZE = 6 * 4096 + 1024;  // a file name of up to 4096 bytes, each escaped, and the rest

// The feature of a ping that has a position, with the separating comma
// before it unless first; its length, 0 when it does not fit. A reduced ping's
// properties name the reference (reference) and give each correction and the
// flags, with attitude its roll and pitch too.
size_t geojson_feature(const ExportPing* ping, bool first, const char* reference, bool attitude, char* text,
                       size_t size);
// A JSON string of text, quotes included; its length, 0 when it does not fit.
size_t geojson_string(const char* text, char* out, size_t size);
