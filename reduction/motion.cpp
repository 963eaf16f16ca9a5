#include "reduction/motion.h"

#include <cmath>

#include "reduction/series_bracket.h"

namespace {

const MotionSample* sample_at(const MotionTrack* track, int i)
{
    return &track->sample[(track->first + i) % MOTION_SAMPLES_MAX];
}

// An angle as 0 to 360 degrees.
double full_circle(double degrees)
{
    double turned = std::fmod(degrees, 360.0);
    if (turned < 0) turned += 360.0;
    return turned >= 360.0 ? 0.0 : turned;
}

double between(const MotionTrack* track, double a, double b, double share)
{
    if (!track->angle) return a + share * (b - a);
    double turn = std::remainder(b - a, 360.0);  // the short way, -180 to 180
    return full_circle(a + share * turn);
}

}  // namespace

void motion_track_start(MotionTrack* track, bool angle)
{
    track->angle = angle;
    track->first = 0;
    track->count = 0;
    track->stepped_back = 0;
}

void motion_track_add(MotionTrack* track, int64_t utc_ms, double value)
{
    if (!std::isfinite(value)) return;
    if (track->angle) value = full_circle(value);
    if (track->count > 0) {
        MotionSample* latest = &track->sample[(track->first + track->count - 1) % MOTION_SAMPLES_MAX];
        if (utc_ms == latest->utc_ms) {
            latest->value = value;
            return;
        }
        if (utc_ms < latest->utc_ms) {
            ++track->stepped_back;
            track->count = 0;
        }
    }
    if (track->count == MOTION_SAMPLES_MAX) {
        track->first = (track->first + 1) % MOTION_SAMPLES_MAX;
        --track->count;
    }
    track->sample[(track->first + track->count) % MOTION_SAMPLES_MAX] = MotionSample{utc_ms, value};
    ++track->count;
}

bool motion_track_at(const MotionTrack* track, int64_t utc_ms, double* value)
{
    // A ping lies among the latest samples, the lines being read to just past it: the search starts from the
    // latest and widens back, so it touches a few recent samples rather than the whole ring.
    int from = track->count - 1, step = 1;
    while (from > 0 && sample_at(track, from)->utc_ms > utc_ms) {
        from = from > step ? from - step : 0;
        step *= 2;
    }
    from = from > 0 ? from : 0;
    int before = 0;
    double share = 0;
    auto time_of = [track, from](int i) { return sample_at(track, from + i)->utc_ms; };
    if (!series_bracket(track->count - from, time_of, utc_ms, MOTION_GAP_MAX_MS, &before, &share)) return false;
    before += from;
    const MotionSample* sample = sample_at(track, before);
    *value = share == 0.0 ? sample->value : between(track, sample->value, sample_at(track, before + 1)->value, share);
    return true;
}
