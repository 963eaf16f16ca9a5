#include "grid/projection.h"

#include <proj.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

const char SOUNDINGS_CRS[] = "EPSG:4326";  // WGS 84; normalised below to longitude first, in degrees

void say_proj(Projection* projection, const char* what, const char* crs)
{
    int error = proj_context_errno(projection->context);
    snprintf(projection->reason, sizeof projection->reason, "%s \"%s\"%s%s", what, crs, error != 0 ? ": " : "",
             error != 0 ? proj_context_errno_string(projection->context, error) : "");
}

// The system itself where it is bound to WGS 84 by a datum shift, the horizontal part of a compound one.
PJ* horizontal_of(PJ_CONTEXT* context, PJ* crs)
{
    if (proj_get_type(crs) == PJ_TYPE_COMPOUND_CRS) return proj_crs_get_sub_crs(context, crs, 0);
    return proj_clone(context, crs);
}

// Projected, its two axes in metres.
bool fit_for_grid(Projection* projection, const PJ* horizontal, const char* crs)
{
    PJ_CONTEXT* context = projection->context;
    PJ* base = proj_get_type(horizontal) == PJ_TYPE_BOUND_CRS ? proj_get_source_crs(context, horizontal)
                                                                 : proj_clone(context, horizontal);
    PJ_TYPE type = base != nullptr ? proj_get_type(base) : PJ_TYPE_UNKNOWN;
    bool fit = type == PJ_TYPE_PROJECTED_CRS;
    if (!fit) {
        snprintf(projection->reason, sizeof projection->reason,
                 "\"%s\" is not a projected coordinate system: a grid's cells are metres, not degrees", crs);
    }
    PJ* axes = fit ? proj_crs_get_coordinate_system(context, base) : nullptr;
    for (int axis = 0; fit && axis < 2; ++axis) {
        double to_metres = 0;
        const char* unit = "";
        fit = axes != nullptr &&
              proj_cs_get_axis_info(context, axes, axis, nullptr, nullptr, nullptr, &to_metres, &unit, nullptr,
                                    nullptr) != 0 &&
              to_metres == 1.0;
        if (!fit) {
            snprintf(projection->reason, sizeof projection->reason,
                     "\"%s\" has its axes in %s: a grid's cells are metres", crs, unit != nullptr ? unit : "no unit");
        }
    }
    proj_destroy(axes);
    proj_destroy(base);
    return fit;
}

// A bare number is an EPSG code.
void crs_text(const char* crs, char* text, size_t size)
{
    bool digits = *crs != 0;
    for (const char* at = crs; *at != 0; ++at) digits = digits && isdigit(static_cast<unsigned char>(*at)) != 0;
    snprintf(text, size, digits ? "EPSG:%s" : "%s", crs);
}

bool open_horizontal(Projection* projection, PJ* horizontal, const char* crs)
{
    PJ_CONTEXT* context = projection->context;
    const char* const wkt_options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context, horizontal, PJ_WKT2_2019, wkt_options);
    if (wkt == nullptr || strlen(wkt) >= sizeof projection->wkt) {
        say_proj(projection, "cannot describe", crs);
        return false;
    }
    snprintf(projection->wkt, sizeof projection->wkt, "%s", wkt);
    const char* code = proj_get_id_code(horizontal, 0);
    const char* authority = proj_get_id_auth_name(horizontal, 0);
    snprintf(projection->name, sizeof projection->name, "%s%s%s%s%s", proj_get_name(horizontal),
             code != nullptr ? " (" : "", code != nullptr ? authority : "", code != nullptr ? ":" : "",
             code != nullptr ? code : "");
    if (code != nullptr) strncat(projection->name, ")", sizeof projection->name - strlen(projection->name) - 1);
    PJ* soundings = proj_create(context, SOUNDINGS_CRS);
    PJ* raw = soundings != nullptr ? proj_create_crs_to_crs_from_pj(context, soundings, horizontal, nullptr, nullptr)
                                   : nullptr;
    projection->forward = raw != nullptr ? proj_normalize_for_visualization(context, raw) : nullptr;
    proj_destroy(raw);
    proj_destroy(soundings);
    if (projection->forward == nullptr) say_proj(projection, "no way from WGS 84 to", crs);
    return projection->forward != nullptr;
}

bool open_named(Projection* projection, const char* crs)
{
    memset(projection, 0, sizeof *projection);
    projection->context = proj_context_create();
    if (projection->context == nullptr) {
        snprintf(projection->reason, sizeof projection->reason, "PROJ could not start");
        return false;
    }
    proj_log_level(projection->context, PJ_LOG_NONE);
    proj_context_set_enable_network(projection->context, 0);
    char text[PROJECTION_WKT_SIZE];
    crs_text(crs, text, sizeof text);
    PJ* named = proj_create(projection->context, text);
    if (named == nullptr || proj_is_crs(named) == 0) {
        if (named == nullptr) {
            say_proj(projection, "PROJ does not know", crs);
        } else {
            snprintf(projection->reason, sizeof projection->reason,
                     "\"%s\" is an operation, not a coordinate system (a PROJ string needs +type=crs)", crs);
        }
        proj_destroy(named);
        return false;
    }
    PJ* horizontal = horizontal_of(projection->context, named);
    bool opened = horizontal != nullptr && fit_for_grid(projection, horizontal, crs) &&
                  open_horizontal(projection, horizontal, crs);
    proj_destroy(horizontal);
    proj_destroy(named);
    return opened;
}

}  // namespace

bool projection_supported()
{
    return true;
}

bool projection_open_crs(Projection* projection, const char* crs)
{
    bool opened = open_named(projection, crs);
    if (!opened) projection_close(projection);
    return opened;
}

bool projection_open_utm(Projection* projection, const UtmZone* zone)
{
    char code[32];
    snprintf(code, sizeof code, "EPSG:%d", zone->epsg);
    if (!projection_open_crs(projection, code)) return false;
    strncat(projection->name, ", the zone of the soundings' median position",
            sizeof projection->name - strlen(projection->name) - 1);
    return true;
}

void projection_forward(Projection* projection, GridSounding* soundings, int count)
{
    const size_t step = sizeof(GridSounding);
    proj_trans_generic(projection->forward, PJ_FWD, &soundings[0].x, step, static_cast<size_t>(count),
                       &soundings[0].y, step, static_cast<size_t>(count), nullptr, 0, 0, nullptr, 0, 0);
}

void projection_inverse(Projection* projection, GridSounding* places, int count)
{
    const size_t step = sizeof(GridSounding);
    proj_trans_generic(projection->forward, PJ_INV, &places[0].x, step, static_cast<size_t>(count), &places[0].y,
                       step, static_cast<size_t>(count), nullptr, 0, 0, nullptr, 0, 0);
}

void projection_close(Projection* projection)
{
    proj_destroy(projection->forward);
    projection->forward = nullptr;
    if (projection->context != nullptr) proj_context_destroy(projection->context);
    projection->context = nullptr;
}
