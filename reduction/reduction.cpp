#include "reduction/reduction.h"

#include <cmath>
#include <cstdio>
#include <cstring>

const char REDUCTION_SURFACE[] = "water surface";
const char* const REDUCTION_FLAG_WORDS[REDUCTION_FLAG_COUNT] = {
    "no_bottom",   "rejected",     "outside_gates", "spike",         "low_quality",
    "no_position", "no_heading",   "no_heave",      "no_water_level"};

namespace {

// WGS 84.
constexpr double EARTH_A_M = 6378137.0;
constexpr double EARTH_F = 1.0 / 298.257223563;
constexpr double EARTH_E2 = EARTH_F * (2.0 - EARTH_F);
constexpr double DEGREES = 3.14159265358979323846 / 180.0;
// Rounds of the latitude's fixed point from earth-centred coordinates. The
// moved point lies within 8 cm of the ellipsoid (an offset of at most 1000 m
// along its tangent plane), where the first estimate is already within a
// millimetre and one round leaves nothing a double holds.
constexpr int LATITUDE_ROUNDS = 1;

bool finite_within(double value, double limit) { return std::isfinite(value) && std::fabs(value) <= limit; }

const char* speed_problem(const ReductionSettings* s)
{
    if (s->speed == REDUCTION_SPEED_CONSTANT &&
        !(s->sound_speed_m_s >= SOUND_SPEED_MIN_M_S && s->sound_speed_m_s <= SOUND_SPEED_MAX_M_S)) {
        return "the speed of sound is not one of 1300 to 1800 m/s";
    }
    if (s->speed == REDUCTION_SPEED_PROFILE && (s->profile == nullptr || s->profile->count == 0)) {
        return "a sound-speed profile without points";
    }
    return nullptr;
}

const char* level_problem(const ReductionSettings* s)
{
    bool named = s->datum[0] != 0;
    if (s->level == REDUCTION_LEVEL_NONE && named) return "a datum needs a water level: a series or the RTK height";
    if (s->level != REDUCTION_LEVEL_NONE && !named) return "a water level needs the name of the datum it is above";
    if (named && !reduction_datum_name_ok(s->datum)) {
        return "a datum's name is 1 to 31 printable characters, without , \" \\ ; | nor = + - @ first";
    }
    if (s->level == REDUCTION_LEVEL_SERIES && (s->series == nullptr || s->series->count == 0)) {
        return "a water-level series without points";
    }
    if (s->level == REDUCTION_LEVEL_RTK && (!finite_within(s->antenna_above_waterline_m, REDUCTION_OFFSET_MAX_M) ||
                                            !finite_within(s->datum_above_ellipsoid_m, 1e5))) {
        return "the antenna's height above the waterline or the datum's above the ellipsoid is no height";
    }
    return nullptr;
}

const char* geometry_problem(const ReductionSettings* s)
{
    if (!(s->draft_m >= 0 && s->draft_m <= REDUCTION_OFFSET_MAX_M)) return "the draft is not one of 0 to 1000 m";
    if (!finite_within(s->forward_m, REDUCTION_OFFSET_MAX_M) || !finite_within(s->starboard_m, REDUCTION_OFFSET_MAX_M)) {
        return "the transducer's offset is not within 1000 m of the antenna";
    }
    if (s->gates && !(std::isfinite(s->gate_min_m) && std::isfinite(s->gate_max_m) && s->gate_min_m < s->gate_max_m)) {
        return "the depth gates are not two numbers, the least first";
    }
    return nullptr;
}

// Step 1: the distance at the water's speed of sound.
double speed_corrected(const ReductionSettings* s, double distance_m)
{
    switch (s->speed) {
    case REDUCTION_SPEED_CONSTANT: return sound_speed_scaled(distance_m, s->sound_speed_m_s);
    case REDUCTION_SPEED_PROFILE: return sound_speed_through(s->profile, s->draft_m, distance_m);
    case REDUCTION_SPEED_NOMINAL: break;
    }
    return distance_m;
}

// Step 3: the heave applied, 0 when not asked for or within an RTK height; NaN when missing.
double heave_of(const ReductionSettings* s, const ReductionPing* ping)
{
    if (!s->heave || s->level == REDUCTION_LEVEL_RTK) return 0.0;
    return ping->has_heave && finite_within(ping->heave_m, REDUCTION_OFFSET_MAX_M) ? ping->heave_m : NAN;
}

// Step 4: the water surface above the datum, 0 for none; NaN when missing.
double level_of(const ReductionSettings* s, const ReductionPing* ping)
{
    double level = NAN;
    switch (s->level) {
    case REDUCTION_LEVEL_NONE: return 0.0;
    case REDUCTION_LEVEL_SERIES:
        if (!ping->time_known || !water_level_at(s->series, ping->utc_ms, &level)) return NAN;
        return level;
    case REDUCTION_LEVEL_RTK:
        if (!ping->has_height || ping->fix_quality != REDUCTION_RTK_QUALITY) return NAN;
        level = reduction_rtk_level(ping->altitude_m, ping->geoid_separation_m, s->antenna_above_waterline_m,
                                    s->datum_above_ellipsoid_m);
        return finite_within(level, WATER_LEVEL_ABS_MAX_M) ? level : NAN;
    }
    return NAN;
}

void correct(const ReductionSettings* s, const ReductionPing* ping, ReductionResult* r)
{
    r->has_distance = ping->has_bottom && ping->distance_m >= 0 && ping->distance_m <= SOUND_SPEED_DEPTH_MAX_M;
    r->heave_m = heave_of(s, ping);
    r->water_level_m = level_of(s, ping);
    if (std::isnan(r->heave_m)) r->flags |= REDUCTION_FLAG_NO_HEAVE;
    if (std::isnan(r->water_level_m)) r->flags |= REDUCTION_FLAG_NO_WATER_LEVEL;
    if (!r->has_distance) {
        r->flags |= REDUCTION_FLAG_NO_BOTTOM;
        return;
    }
    r->distance_m = ping->distance_m;
    r->sound_speed_m = speed_corrected(s, ping->distance_m) - ping->distance_m;
    double below_waterline = ping->distance_m + r->sound_speed_m + r->draft_m;
    r->has_surface_depth = true;
    r->surface_depth_m = below_waterline - (std::isnan(r->heave_m) ? 0.0 : r->heave_m);
    r->has_depth = !std::isnan(r->heave_m) && !std::isnan(r->water_level_m);
    if (r->has_depth) r->depth_m = below_waterline - r->heave_m - r->water_level_m;
}

// The heading that places the sounding: the sensor's, else the course made good at speed.
ReductionHeading heading_of(const ReductionPing* ping, double* degrees)
{
    if (ping->has_heading && std::isfinite(ping->heading_degrees)) {
        *degrees = ping->heading_degrees;
        return REDUCTION_HEADING_SENSOR;
    }
    if (ping->has_course && std::isfinite(ping->course_degrees) && ping->speed_knots >= REDUCTION_COURSE_SPEED_MIN_KN) {
        *degrees = ping->course_degrees;
        return REDUCTION_HEADING_COURSE;
    }
    return REDUCTION_HEADING_NONE;
}

void place(const ReductionSettings* s, const ReductionPing* ping, ReductionResult* r)
{
    bool antenna = ping->has_position && finite_within(ping->latitude, 90.0) && finite_within(ping->longitude, 180.0);
    if (!antenna) {
        r->flags |= REDUCTION_FLAG_NO_POSITION;
        return;
    }
    if (s->forward_m == 0 && s->starboard_m == 0) {
        r->has_position = true;
        r->latitude = ping->latitude;
        r->longitude = ping->longitude;
        return;
    }
    r->heading_source = heading_of(ping, &r->heading_degrees);
    r->has_position = r->heading_source != REDUCTION_HEADING_NONE &&
                      reduction_offset_position(ping->latitude, ping->longitude, r->heading_degrees, s->forward_m,
                                                s->starboard_m, &r->latitude, &r->longitude);
    if (!r->has_position) r->flags |= REDUCTION_FLAG_NO_HEADING;
}

void judge(const ReductionSettings* s, const ReductionPing* ping, ReductionResult* r)
{
    if (r->has_surface_depth && s->gates && !(r->surface_depth_m >= s->gate_min_m && r->surface_depth_m <= s->gate_max_m)) {
        r->flags |= REDUCTION_FLAG_GATE;
    }
    if (r->has_distance && ping->quality < s->quality_min) r->flags |= REDUCTION_FLAG_LOW_QUALITY;
    // A pick the picker's tracker would not follow is kept and flagged, never turned into no bottom.
    if (r->has_distance && ping->dropped) r->flags |= REDUCTION_FLAG_SPIKE;
    if (s->edits == nullptr) return;
    const Edit* edit = edits_apply(s->edits, ping->file_name, ping->record, ping->time_known, ping->utc_ms);
    if (edit == nullptr) return;
    r->edit = edit->action;
    r->edit_line = edit->line;
    if (edit->action == EDIT_REJECT) r->flags |= REDUCTION_FLAG_REJECTED;
    if (edit->action == EDIT_ACCEPT) r->flags &= ~REDUCTION_FLAGS_JUDGED;
}

}  // namespace

bool reduction_datum_name_ok(const char* name)
{
    size_t length = strnlen(name, REDUCTION_DATUM_SIZE);
    if (length == 0 || length >= static_cast<size_t>(REDUCTION_DATUM_SIZE)) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c < 0x20 || c > 0x7E || c == ',' || c == '"' || c == '\\' || c == ';' || c == '|') return false;
    }
    // A first character a spreadsheet would take for a formula's, in the CSV's column.
    return strchr(" =+-@", name[0]) == nullptr && name[length - 1] != ' ';
}

const char* reduction_flags_text(unsigned flags, char text[REDUCTION_FLAGS_TEXT_SIZE])
{
    size_t length = 0;
    text[0] = 0;
    for (int bit = 0; bit < REDUCTION_FLAG_COUNT; ++bit) {
        if ((flags & (1u << bit)) == 0) continue;
        int used = snprintf(text + length, REDUCTION_FLAGS_TEXT_SIZE - length, "%s%s", length > 0 ? "|" : "",
                            REDUCTION_FLAG_WORDS[bit]);
        length += static_cast<size_t>(used);
    }
    return text;
}

void reduction_settings_default(ReductionSettings* settings)
{
    *settings = ReductionSettings{};
    settings->speed = REDUCTION_SPEED_NOMINAL;
    settings->sound_speed_m_s = SOUND_SPEED_NOMINAL_M_S;
    settings->level = REDUCTION_LEVEL_NONE;
    settings->quality_min = REDUCTION_QUALITY_MIN_DEFAULT;
}

bool reduction_settings_check(const ReductionSettings* settings, char* why, size_t size)
{
    const char* problem = speed_problem(settings);
    if (problem == nullptr) problem = level_problem(settings);
    if (problem == nullptr) problem = geometry_problem(settings);
    if (problem != nullptr) snprintf(why, size, "%s", problem);
    return problem == nullptr;
}

const char* reduction_reference(const ReductionSettings* settings)
{
    return settings->level == REDUCTION_LEVEL_NONE ? REDUCTION_SURFACE : settings->datum;
}

void reduction_reduce(const ReductionSettings* settings, const ReductionPing* ping, ReductionResult* result)
{
    *result = ReductionResult{};
    result->tag = ping->tag;
    result->draft_m = settings->draft_m;
    correct(settings, ping, result);
    place(settings, ping, result);
    judge(settings, ping, result);
}

double reduction_rtk_level(double altitude_m, double geoid_separation_m, double antenna_above_waterline_m,
                           double datum_above_ellipsoid_m)
{
    return altitude_m + geoid_separation_m - antenna_above_waterline_m - datum_above_ellipsoid_m;
}

bool reduction_offset_position(double latitude, double longitude, double heading_degrees, double forward_m,
                               double starboard_m, double* moved_latitude, double* moved_longitude)
{
    if (!finite_within(latitude, 90.0) || !finite_within(longitude, 180.0) || !finite_within(heading_degrees, 1e6)) {
        return false;
    }
    double phi = latitude * DEGREES, lambda = longitude * DEGREES, theta = heading_degrees * DEGREES;
    double north = forward_m * std::cos(theta) - starboard_m * std::sin(theta);
    double east = forward_m * std::sin(theta) + starboard_m * std::cos(theta);
    // The antenna on the ellipsoid, in earth-centred coordinates, moved in its local east-north plane.
    double sin_phi = std::sin(phi), cos_phi = std::cos(phi), sin_lambda = std::sin(lambda), cos_lambda = std::cos(lambda);
    double n = EARTH_A_M / std::sqrt(1.0 - EARTH_E2 * sin_phi * sin_phi);
    double x = n * cos_phi * cos_lambda - east * sin_lambda - north * sin_phi * cos_lambda;
    double y = n * cos_phi * sin_lambda + east * cos_lambda - north * sin_phi * sin_lambda;
    double z = n * (1.0 - EARTH_E2) * sin_phi + north * cos_phi;
    double p = std::hypot(x, y);
    double moved = std::atan2(z, p * (1.0 - EARTH_E2));
    for (int round = 0; round < LATITUDE_ROUNDS; ++round) {
        double s = std::sin(moved);
        moved = std::atan2(z + EARTH_E2 * EARTH_A_M / std::sqrt(1.0 - EARTH_E2 * s * s) * s, p);
    }
    *moved_latitude = moved / DEGREES;
    *moved_longitude = std::atan2(y, x) / DEGREES;
    return true;
}
