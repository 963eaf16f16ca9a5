// A quantity a sensor gives many times a second (the heave, roll and pitch of
// a motion sensor's $PASHR, the heading of $--HDT, a receiver's height), kept
// as its samples come and interpolated linearly to a ping's time. Samples
// are stamped with the computer's clock, as the pings are, so a ping joins
// them as it joins the fixes.
#pragma once

#include <cstdint>

// The samples kept: the latest MOTION_SAMPLES_MAX, 40 seconds at a motion
// sensor's 100 Hz: room for a ping joined after the lines were read on past
// it to the next fix, across a gap of the fixes too.
constexpr int MOTION_SAMPLES_MAX = 4096;
// The widest gap between two samples interpolated across: a sensor sending
// once a second, with its sentences' arrival jitter; a missed sentence of
// such a sensor makes a gap.
constexpr int64_t MOTION_GAP_MAX_MS = 1500;

struct MotionSample {
    int64_t utc_ms;
    double value;
};

struct MotionTrack {
    bool angle;         // degrees clockwise, interpolated the short way round and given as 0 to 360
    int first;          // the oldest sample's place in the ring
    int count;
    MotionSample sample[MOTION_SAMPLES_MAX];
    long stepped_back;  // samples that came earlier than the one before: the clock set back
};

void motion_track_start(MotionTrack* track, bool angle);
// The next sample. One earlier than the latest begins the track anew (the
// computer's clock was set back); one at the latest's time replaces it; a
// value that is not finite is left out.
void motion_track_add(MotionTrack* track, int64_t utc_ms, double value);
// The value at a time: on a sample, or between the two around it when they
// are at most MOTION_GAP_MAX_MS apart; false otherwise (before the oldest
// kept, after the latest, across a gap).
bool motion_track_at(const MotionTrack* track, int64_t utc_ms, double* value);
