#include "tools/headsim/sea.h"

#include <cmath>

namespace {

const double PI = 3.14159265358979323846;
// The harmonics' speeds in degrees an hour: the principal lunar (a period of
// 12.42 hours) and the principal solar (12 hours) semi-diurnal tides.
const double HARMONIC_DEGREES_AN_HOUR[SEA_HARMONICS] = {28.9841042, 30.0};
const double MS_AN_HOUR = 3600000.0;
// Simpson's rule over this many steps of each stretch between two of the
// profile's points, where 1 / speed is smooth: far finer than a millimetre.
constexpr int SIMPSON_STEPS = 16;

// The one-way time through a stretch of water in which the speed changes smoothly.
double stretch_seconds(const SeaPlan* plan, double top_m, double bottom_m)
{
    double step = (bottom_m - top_m) / SIMPSON_STEPS;
    double sum = 1 / sea_speed_at(plan, top_m) + 1 / sea_speed_at(plan, bottom_m);
    for (int k = 1; k < SIMPSON_STEPS; ++k) sum += (k % 2 == 1 ? 4.0 : 2.0) / sea_speed_at(plan, top_m + k * step);
    return sum * step / 3;
}

}  // namespace

double sea_level_at(const SeaPlan* plan, int64_t utc_ms)
{
    if (!plan->tide) return 0.0;
    double hours = static_cast<double>(utc_ms) / MS_AN_HOUR;
    double level = plan->mean_level_m;
    for (int i = 0; i < SEA_HARMONICS; ++i) {
        double degrees = std::fmod(HARMONIC_DEGREES_AN_HOUR[i] * hours, 360.0) - plan->phase_degrees[i];
        level += plan->amplitude_m[i] * std::cos(degrees * PI / 180);
    }
    return level;
}

double sea_speed_at(const SeaPlan* plan, double depth_m)
{
    int count = plan->speed_points;
    if (count == 0) return SEA_HEAD_SPEED_M_S;
    if (depth_m <= plan->speed_depth_m[0]) return plan->speed_m_s[0];
    for (int i = 1; i < count; ++i) {
        double top = plan->speed_depth_m[i - 1], bottom = plan->speed_depth_m[i];
        if (depth_m > bottom) continue;
        double share = (depth_m - top) / (bottom - top);
        return plan->speed_m_s[i - 1] + share * (plan->speed_m_s[i] - plan->speed_m_s[i - 1]);
    }
    return plan->speed_m_s[count - 1];
}

double sea_echo_m(const SeaPlan* plan, double from_m, double to_m)
{
    if (plan->speed_points == 0 || to_m <= from_m) return to_m - from_m;
    double seconds = 0.0, top = from_m;
    for (int i = 0; i < plan->speed_points && top < to_m; ++i) {
        double point = plan->speed_depth_m[i];
        if (point <= top) continue;
        double bottom = point < to_m ? point : to_m;
        seconds += stretch_seconds(plan, top, bottom);
        top = bottom;
    }
    if (top < to_m) seconds += stretch_seconds(plan, top, to_m);
    return seconds * SEA_HEAD_SPEED_M_S;
}
