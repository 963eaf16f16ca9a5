#include "tools/qkvdump/geojson_track.h"

#include <cstdio>

#include "tools/qkvdump/ping_time.h"

const char GEOJSON_OPENING[] = "{\"type\":\"FeatureCollection\",\"features\":[\n";
const char GEOJSON_CLOSING[] = "\n]}\n";

size_t geojson_string(const char* text, char* out, size_t size)
{
    static const char HEX[] = "0123456789abcdef";
    size_t used = 0;
    auto put = [&](char c) {
        if (used + 1 < size) out[used] = c;
        ++used;
    };
    put('"');
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
        if (*c == '"' || *c == '\\') {
            put('\\');
            put(static_cast<char>(*c));
        } else if (*c < 0x20) {
            const char escape[] = {'\\', 'u', '0', '0', HEX[*c >> 4], HEX[*c & 15]};
            for (char e : escape) put(e);
        } else {
            put(static_cast<char>(*c));  // UTF-8 as it is; other bytes are the file system's
        }
    }
    put('"');
    if (used >= size) return 0;
    out[used] = 0;
    return used;
}

size_t geojson_feature(const ExportPing* ping, bool first, char* text, size_t size)
{
    char name[GEOJSON_FEATURE_SIZE];
    char iso[PINGTIME_ISO_SIZE];
    char time[PINGTIME_ISO_SIZE + 2] = "null";
    if (geojson_string(ping->file_name, name, sizeof name) == 0) return 0;
    if (ping->time_known) {
        pingtime_iso_utc(ping->utc_ms, iso);
        snprintf(time, sizeof time, "\"%s\"", iso);
    }
    const RecordView* view = ping->view;
    int used = snprintf(text, size,
                        "%s{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[%.7f,%.7f]},"
                        "\"properties\":{\"file\":%s,\"record\":%ld,\"time_utc\":%s,\"gain_db\":%d,"
                        "\"range_m\":%g,\"interval_ms\":%d}}",
                        first ? "" : ",\n", ping->position.longitude, ping->position.latitude, name, ping->record,
                        time, view->gain, range_code_metres(view->range_field), view->ping_interval_ms);
    return used > 0 && static_cast<size_t>(used) < size ? static_cast<size_t>(used) : 0;
}
