#include "tools/qkvdump/geojson_track.h"

#include <cmath>
#include <cstdio>

#include "navfile/ping_time.h"
#include "waterfall/font.h"

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
        } else if (*c < 0x20 || *c >= 0x80) {
            int length = *c >= 0x80 ? font_utf8_length(c) : 0;
            if (length > 0) {
                for (int i = 0; i < length; ++i) put(static_cast<char>(c[i]));
                c += length - 1;
                continue;
            }
            // A control character, or a byte of a name in a single-byte code page (Latin-1, Windows' ANSI):
            // written as the character of that number, so the text stays UTF-8 ("\u00e9" for Latin-1's e-acute).
            const char escape[] = {'\\', 'u', '0', '0', HEX[*c >> 4], HEX[*c & 15]};
            for (char e : escape) put(e);
        } else {
            put(static_cast<char>(*c));
        }
    }
    put('"');
    if (used >= size) return 0;
    out[used] = 0;
    return used;
}

namespace {

// ,"name":metres (or degrees) with 3 decimals, null where asked for and missing (NaN).
int metres_property(char* text, size_t size, const char* name, double metres)
{
    char value[EXPORT_DEPTH_TEXT_SIZE];
    return snprintf(text, size, ",\"%s\":%s", name, std::isnan(metres) ? "null" : export_depth_text(metres, value));
}

// The reference, the distance below the transducer, the corrections, with attitude roll and pitch, and the flags.
void reduced_properties(const ExportPing* ping, const char* reference, bool attitude, char* text, size_t size)
{
    const ReductionResult* r = &ping->reduction;
    size_t used = static_cast<size_t>(snprintf(text, size, ",\"depth_reference\":\"%s\"", reference));
    const struct {
        const char* name;
        double metres;
    } values[] = {{"below_transducer_m", r->has_distance ? r->distance_m : NAN}, {"sound_speed_m", r->sound_speed_m},
                  {"draft_m", r->draft_m}, {"heave_m", r->heave_m}, {"water_level_m", r->water_level_m}};
    for (const auto& v : values) used += static_cast<size_t>(metres_property(text + used, size - used, v.name, v.metres));
    const PingMotion* m = &ping->motion;
    if (attitude) {
        used += static_cast<size_t>(
            metres_property(text + used, size - used, "roll_deg", m->has_roll ? m->roll_degrees : NAN));
        used += static_cast<size_t>(
            metres_property(text + used, size - used, "pitch_deg", m->has_pitch ? m->pitch_degrees : NAN));
    }
    char flags[REDUCTION_FLAGS_TEXT_SIZE];
    snprintf(text + used, size - used, ",\"flag\":\"%s\"", reduction_flags_text(r->flags, flags));
}

}  // namespace

size_t geojson_feature(const ExportPing* ping, bool first, const char* reference, bool attitude, char* text,
                       size_t size)
{
    char name[GEOJSON_FEATURE_SIZE];
    char iso[PINGTIME_ISO_SIZE];
    char time[PINGTIME_ISO_SIZE + 2] = "null";
    if (geojson_string(ping->file_name, name, sizeof name) == 0) return 0;
    if (ping->time_known) {
        pingtime_iso_utc(ping->utc_ms, iso);
        snprintf(time, sizeof time, "\"%s\"", iso);
    }
    // The fix's motion and the depth as the CSV gives them; null where there is none.
    const PingPosition* p = &ping->position;
    char speed[32] = "null", course[32] = "null", depth[64] = "", reduced[512] = "";
    if (p->motion_known) {
        snprintf(speed, sizeof speed, "%.1f", p->speed_knots);
        snprintf(course, sizeof course, "%.1f", p->course_degrees);
    }
    if (ping->with_depth && ping->bottom.has_depth) {
        char metres[EXPORT_DEPTH_TEXT_SIZE];
        snprintf(depth, sizeof depth, ",\"depth_m\":%s,\"depth_quality\":%d",
                 export_depth_text(ping->bottom.depth_m, metres), ping->bottom.quality);
    } else if (ping->with_depth) {
        snprintf(depth, sizeof depth, ",\"depth_m\":null,\"depth_quality\":%d", ping->bottom.quality);
    }
    if (ping->reduced) reduced_properties(ping, reference, attitude, reduced, sizeof reduced);
    const RecordView* view = ping->view;
    int used = snprintf(text, size,
                        "%s{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[%.*f,%.*f]},"
                        "\"properties\":{\"file\":%s,\"record\":%ld,\"time_utc\":%s,\"gain_db\":%d,"
                        "\"range_m\":%g,\"interval_ms\":%d,\"fix_quality\":%d,\"fix_age_ms\":%ld,\"speed_kn\":%s,"
                        "\"course_deg\":%s%s%s}}",
                        first ? "" : ",\n", p->decimals, p->longitude, p->decimals, p->latitude, name, ping->record,
                        time, view->gain, range_code_metres(view->range_field), view->ping_interval_ms,
                        p->fix_quality, p->fix_age_ms, speed, course, depth, reduced);
    return used > 0 && static_cast<size_t>(used) < size ? static_cast<size_t>(used) : 0;
}
