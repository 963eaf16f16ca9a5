#include "reduction/sound_speed.h"

#include <cmath>

namespace {

// The header names taken, as fields_name_key makes them ("Depth (m)" is "depthm").
const char* const DEPTH_KEYS[] = {"depthm", "depth", "depthmetres", "depthmeters"};
const char* const SPEED_KEYS[] = {"soundspeedms", "soundspeed",   "soundvelocityms", "soundvelocity",
                                  "speedofsoundms", "speedofsound", "svms",            "sv",
                                  "velocityms",     "velocity"};
constexpr int DEPTH_KEY_COUNT = sizeof DEPTH_KEYS / sizeof DEPTH_KEYS[0];
constexpr int SPEED_KEY_COUNT = sizeof SPEED_KEYS / sizeof SPEED_KEYS[0];
// Below this change of speed per metre a layer counts as of one speed: the
// formulas' own limit, reached far below any real gradient (0.01 m/s a metre).
constexpr double GRADIENT_NONE = 1e-12;

// One-way time through dz metres of a layer starting at speed c with gradient g.
double layer_time(double c, double g, double dz)
{
    return std::fabs(g) < GRADIENT_NONE ? dz / c : std::log1p(g * dz / c) / g;
}

// Metres gone down in a layer starting at speed c with gradient g, in time t.
double layer_depth(double c, double g, double t)
{
    return std::fabs(g) < GRADIENT_NONE ? c * t : c * std::expm1(g * t) / g;
}

double gradient(const SoundSpeedPoint* a, const SoundSpeedPoint* b)
{
    return (b->speed_m_s - a->speed_m_s) / (b->depth_m - a->depth_m);
}

// The last point whose key (its depth, or its time) is at most value; -1 before the first.
template <typename Key> int last_at_most(const SoundSpeedProfile* profile, Key key, double value)
{
    int low = -1, high = profile->count - 1;
    while (low < high) {
        int middle = (low + high + 1) / 2;
        if (key(&profile->point[middle]) <= value) low = middle;
        else high = middle - 1;
    }
    return low;
}

int layer_of_depth(const SoundSpeedProfile* profile, double depth)
{
    return last_at_most(profile, [](const SoundSpeedPoint* p) { return p->depth_m; }, depth);
}

int layer_of_time(const SoundSpeedProfile* profile, double time)
{
    return last_at_most(profile, [](const SoundSpeedPoint* p) { return p->time_s; }, time);
}

// The speed's gradient below point i: none above the first point or below the last.
double gradient_below(const SoundSpeedProfile* profile, int i)
{
    return i < 0 || i + 1 >= profile->count ? 0.0 : gradient(&profile->point[i], &profile->point[i + 1]);
}

// One-way time from the surface down to depth.
double time_to(const SoundSpeedProfile* profile, double depth)
{
    int i = layer_of_depth(profile, depth);
    if (i < 0) return depth / profile->point[0].speed_m_s;
    const SoundSpeedPoint* p = &profile->point[i];
    return p->time_s + layer_time(p->speed_m_s, gradient_below(profile, i), depth - p->depth_m);
}

// The depth one-way time reaches from the surface.
double depth_at(const SoundSpeedProfile* profile, double time)
{
    int i = layer_of_time(profile, time);
    if (i < 0) return time * profile->point[0].speed_m_s;
    const SoundSpeedPoint* p = &profile->point[i];
    return p->depth_m + layer_depth(p->speed_m_s, gradient_below(profile, i), time - p->time_s);
}

// The travel times of the points, from the surface.
void time_points(SoundSpeedProfile* profile)
{
    SoundSpeedPoint* first = &profile->point[0];
    first->time_s = first->depth_m / first->speed_m_s;
    for (int i = 1; i < profile->count; ++i) {
        SoundSpeedPoint* above = &profile->point[i - 1];
        profile->point[i].time_s =
            above->time_s +
            layer_time(above->speed_m_s, gradient(above, &profile->point[i]), profile->point[i].depth_m - above->depth_m);
    }
}

FieldsVerdict take_header(SoundSpeedProfile* profile, const char* line, long number, FieldsProblem* problem)
{
    FieldsLine header;
    profile->separator = fields_separator_of(line);
    fields_split(line, profile->separator, &header);
    profile->depth_column = fields_find_column(&header, DEPTH_KEYS, DEPTH_KEY_COUNT);
    profile->speed_column = fields_find_column(&header, SPEED_KEYS, SPEED_KEY_COUNT);
    if (profile->depth_column < 0 || profile->speed_column < 0) {
        if (profile->header_missed) return FIELDS_NOTHING;
        fields_say(problem, number, "the header names no %s column (depth_m,sound_speed_m_s; in metres and m/s)",
                   profile->depth_column < 0 ? "depth" : "sound speed");
        profile->header_missed = true;
        return FIELDS_BAD;
    }
    profile->header_read = true;
    return FIELDS_NOTHING;
}

// The point's values, checked: false, said, when they are none.
bool point_values(const SoundSpeedProfile* profile, const FieldsLine* cut, long number, double* depth, double* speed,
                  FieldsProblem* problem)
{
    int needed = (profile->depth_column > profile->speed_column ? profile->depth_column : profile->speed_column) + 1;
    bool decimal_comma = profile->separator != ',';
    if (cut->count < needed) {
        fields_say(problem, number, "%d fields, the header's columns need %d", cut->count, needed);
        return false;
    }
    const char* depth_text = cut->field[profile->depth_column];
    const char* speed_text = cut->field[profile->speed_column];
    if (!fields_number(depth_text, decimal_comma, depth) || *depth < 0 || *depth > SOUND_SPEED_DEPTH_MAX_M) {
        fields_say(problem, number, "depth \"%.24s\" is not one of 0 to %.0f m below the surface", depth_text,
                   SOUND_SPEED_DEPTH_MAX_M);
        return false;
    }
    if (!fields_number(speed_text, decimal_comma, speed) || *speed < SOUND_SPEED_MIN_M_S ||
        *speed > SOUND_SPEED_MAX_M_S) {
        fields_say(problem, number, "sound speed \"%.24s\" is not one of %.0f to %.0f m/s", speed_text,
                   SOUND_SPEED_MIN_M_S, SOUND_SPEED_MAX_M_S);
        return false;
    }
    return true;
}

// Takes a point below the last one; false, said, for any other.
bool add_point(SoundSpeedProfile* profile, double depth, double speed, long number, FieldsProblem* problem)
{
    if (profile->count > 0 && depth <= profile->point[profile->count - 1].depth_m) {
        fields_say(problem, number, "depth %.3f m is not below line %ld's %.3f m (the cast's way down is taken)",
                   depth, profile->last_line, profile->point[profile->count - 1].depth_m);
        return false;
    }
    if (profile->count == SOUND_SPEED_POINTS_MAX) {
        fields_say(problem, number, "more than %d points", SOUND_SPEED_POINTS_MAX);
        return false;
    }
    profile->point[profile->count++] = SoundSpeedPoint{depth, speed, 0.0};
    profile->last_line = number;
    return true;
}

FieldsVerdict take_any(void* profile, const char* line, long number, FieldsProblem* problem)
{
    return sound_speed_take_line(static_cast<SoundSpeedProfile*>(profile), line, number, problem);
}

}  // namespace

void sound_speed_profile_start(SoundSpeedProfile* profile)
{
    profile->count = 0;
    profile->header_read = false;
    profile->header_missed = false;
    profile->separator = ',';
    profile->depth_column = profile->speed_column = -1;
    profile->last_line = 0;
}

FieldsVerdict sound_speed_take_line(SoundSpeedProfile* profile, const char* line, long number, FieldsProblem* problem)
{
    if (fields_is_blank_or_comment(line)) return FIELDS_NOTHING;
    if (!profile->header_read) return take_header(profile, line, number, problem);
    FieldsLine cut;
    double depth = 0, speed = 0;
    if (!fields_split(line, profile->separator, &cut) && cut.count == 0) {
        fields_say(problem, number, "cannot be cut into fields");
        return FIELDS_BAD;
    }
    if (!point_values(profile, &cut, number, &depth, &speed, problem) ||
        !add_point(profile, depth, speed, number, problem)) {
        return FIELDS_BAD;
    }
    return FIELDS_TAKEN;
}

bool sound_speed_finish(SoundSpeedProfile* profile, FieldsProblem* problem)
{
    if (profile->count == 0) {
        fields_no_point(problem, profile->header_read, 0, "the profile has no point");
        return false;
    }
    time_points(profile);
    return true;
}

bool sound_speed_read(SoundSpeedProfile* profile, const char* text, size_t size, FieldsSay say, void* context)
{
    sound_speed_profile_start(profile);
    fields_read(text, size, take_any, profile, say, context);
    FieldsProblem problem;
    if (sound_speed_finish(profile, &problem)) return true;
    say(context, &problem);
    return false;
}

bool sound_speed_profile_of(SoundSpeedProfile* profile, const double* depths_m, const double* speeds_m_s, int count)
{
    sound_speed_profile_start(profile);
    profile->header_read = true;
    FieldsProblem problem;
    for (int i = 0; i < count; ++i) {
        bool in_bounds = depths_m[i] >= 0 && depths_m[i] <= SOUND_SPEED_DEPTH_MAX_M &&
                         speeds_m_s[i] >= SOUND_SPEED_MIN_M_S && speeds_m_s[i] <= SOUND_SPEED_MAX_M_S;
        if (!in_bounds || !add_point(profile, depths_m[i], speeds_m_s[i], i + 1, &problem)) return false;
    }
    return sound_speed_finish(profile, &problem);
}

double sound_speed_scaled(double distance_m, double speed_m_s)
{
    return distance_m * speed_m_s / SOUND_SPEED_NOMINAL_M_S;
}

double sound_speed_through(const SoundSpeedProfile* profile, double start_depth_m, double distance_m)
{
    double start = start_depth_m > 0 ? start_depth_m : 0.0;
    double one_way_s = distance_m / SOUND_SPEED_NOMINAL_M_S;
    return depth_at(profile, time_to(profile, start) + one_way_s) - start;
}
