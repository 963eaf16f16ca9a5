#include "reduction/ping_reduce.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Where a file's problems are said: its option and name, the first PING_REDUCE_SAID_MAX of its lines.
struct Telling {
    const char* program;
    const char* option;
    const char* path;
    long said;
};

void tell(void* context, const FieldsProblem* problem)
{
    Telling* t = static_cast<Telling*>(context);
    if (t->said++ < PING_REDUCE_SAID_MAX || problem->line == 0) {
        fprintf(stderr, "%s: %s %s: %s\n", t->program, t->option, t->path, problem->text);
    }
}

void tell_the_rest(const Telling* t)
{
    if (t->said > PING_REDUCE_SAID_MAX) {
        fprintf(stderr, "%s: %s %s: and %ld lines more, left out\n", t->program, t->option, t->path,
                t->said - PING_REDUCE_SAID_MAX);
    }
}

// The whole of a file (or what a pipe gives) in a buffer made for it, *text null where it cannot be read (said).
size_t read_whole(const char* program, const char* option, const char* path, char** text)
{
    size_t size = 0;
    char reason[160];
    if (!plat_file_read_whole(path, PING_REDUCE_FILE_MAX, text, &size, reason, sizeof reason)) {
        fprintf(stderr, "%s: %s %s: %s\n", program, option, path, reason);
    }
    return size;
}

typedef bool (*Parse)(void* parsed, const char* text, size_t size, FieldsSay say, void* context);

bool parse_profile(void* p, const char* t, size_t n, FieldsSay s, void* c)
{
    return sound_speed_read(static_cast<SoundSpeedProfile*>(p), t, n, s, c);
}
bool parse_series(void* p, const char* t, size_t n, FieldsSay s, void* c)
{
    return water_level_read(static_cast<WaterLevelSeries*>(p), t, n, s, c);
}
bool parse_edits(void* p, const char* t, size_t n, FieldsSay s, void* c)
{
    return edits_read(static_cast<EditList*>(p), t, n, s, c);
}

// A file of the reduction read into a record made for it; null, said, where it gives nothing.
void* read_file(const char* program, const char* option, const char* path, size_t record_size, Parse parse)
{
    char* text = nullptr;
    size_t size = read_whole(program, option, path, &text);
    void* parsed = text != nullptr ? calloc(1, record_size) : nullptr;
    Telling telling = {program, option, path, 0};
    bool taken = parsed != nullptr && parse(parsed, text, size, tell, &telling);
    if (text != nullptr && parsed == nullptr) fprintf(stderr, "%s: %s %s: out of memory\n", program, option, path);
    tell_the_rest(&telling);
    free(text);
    if (!taken) free(parsed);
    return taken ? parsed : nullptr;
}

// Appends "; " and a part of the corrections' words.
void add_words(char* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void add_words(char* text, const char* format, ...)
{
    size_t used = strlen(text);
    if (used > 0 && used + 2 < PING_REDUCE_TEXT_SIZE) {
        memcpy(text + used, "; ", 3);
        used += 2;
    }
    va_list values;
    va_start(values, format);
    vsnprintf(text + used, PING_REDUCE_TEXT_SIZE - used, format, values);
    va_end(values);
}

void describe(PingReduce* stage, const ReductionAsked* r)
{
    const ReductionSettings* s = &stage->settings;
    char* text = stage->corrections;
    text[0] = 0;
    switch (s->speed) {
    case REDUCTION_SPEED_NOMINAL: add_words(text, "sound speed %g m/s (the nominal)", SOUND_SPEED_NOMINAL_M_S); break;
    case REDUCTION_SPEED_CONSTANT: add_words(text, "sound speed %g m/s (a bar check)", s->sound_speed_m_s); break;
    case REDUCTION_SPEED_PROFILE:
        add_words(text, "sound speed through the profile of %s (%d points)", r->profile, s->profile->count);
        break;
    }
    add_words(text, "draft %g m", s->draft_m);
    if (s->level == REDUCTION_LEVEL_RTK) {
        add_words(text, "heave within the RTK heights");
    } else {
        add_words(text, s->heave ? "heave of the motion sensor ($PASHR)" : "no heave");
    }
    switch (s->level) {
    case REDUCTION_LEVEL_NONE: add_words(text, "no water level"); break;
    case REDUCTION_LEVEL_SERIES:
        add_words(text, "water level above %s from %s (%d points)", s->datum, r->water_level, s->series->count);
        break;
    case REDUCTION_LEVEL_RTK:
        add_words(text, "water level above %s from the RTK heights (GGA), the antenna %g m above the waterline, the "
                        "datum %g m above the WGS 84 ellipsoid", s->datum, s->antenna_above_waterline_m,
                  s->datum_above_ellipsoid_m);
        break;
    }
    if (s->forward_m != 0 || s->starboard_m != 0) {
        add_words(text, "transducer %g m forward and %g m to starboard of the antenna", s->forward_m, s->starboard_m);
    }
    if (s->gates) add_words(text, "depth gates %g to %g m", s->gate_min_m, s->gate_max_m);
    add_words(text, "low quality below %d", s->quality_min);
    const SpikeSettings* k = &stage->spike_settings;
    add_words(text, "spikes off the median of %d pings either side by over %g m or %g%%", k->half_window,
              k->threshold_m, 100 * k->threshold_share);
    if (r->edits != nullptr) add_words(text, "edits of %s (%d)", r->edits, s->edits->count);
}

struct Unused {
    const char* program;
    const char* path;
    FILE* messages;
};

void tell_unused(void* context, const FieldsProblem* problem)
{
    const Unused* unused = static_cast<const Unused*>(context);
    fprintf(unused->messages, "%s: --edits %s: %s\n", unused->program, unused->path, problem->text);
}

}  // namespace

bool ping_reduce_begin(PingReduce* stage, const ReductionAsked* r, const char* program)
{
    *stage = PingReduce{};
    stage->program = program;
    stage->settings = r->settings;
    bool read = true;
    if (r->profile != nullptr) {
        stage->profile = static_cast<SoundSpeedProfile*>(
            read_file(program, "--sound-speed-profile", r->profile, sizeof(SoundSpeedProfile), parse_profile));
        read = stage->profile != nullptr;
    }
    if (read && r->water_level != nullptr) {
        stage->series = static_cast<WaterLevelSeries*>(
            read_file(program, "--water-level", r->water_level, sizeof(WaterLevelSeries), parse_series));
        read = stage->series != nullptr;
    }
    if (read && r->edits != nullptr) {
        stage->edits = static_cast<EditList*>(read_file(program, "--edits", r->edits, sizeof(EditList), parse_edits));
        stage->edits_path = r->edits;
        read = stage->edits != nullptr;
    }
    stage->settings.profile = stage->profile;
    stage->settings.series = stage->series;
    stage->settings.edits = stage->edits;
    char why[160];
    if (read && !reduction_settings_check(&stage->settings, why, sizeof why)) {
        fprintf(stderr, "%s: %s\n", program, why);
        read = false;
    }
    if (!read) {
        ping_reduce_end(stage);
        return false;
    }
    spike_settings_default(&stage->spike_settings);
    spike_start(&stage->spike, &stage->spike_settings);
    describe(stage, r);
    return true;
}

void ping_reduce_end(PingReduce* stage)
{
    free(stage->profile);
    free(stage->series);
    free(stage->edits);
    stage->profile = nullptr;
    stage->series = nullptr;
    stage->edits = nullptr;
}

int ping_reduce_held(const PingReduce* stage)
{
    return stage->spike.settings.half_window;
}

bool ping_reduce_offer(PingReduce* stage, const ReductionPing* ping, ReductionResult* judged)
{
    ReductionResult result;
    reduction_reduce(&stage->settings, ping, &result);
    return spike_offer(&stage->spike, &result, judged);
}

bool ping_reduce_flush(PingReduce* stage, ReductionResult* judged)
{
    if (spike_flush(&stage->spike, judged)) return true;
    spike_start(&stage->spike, &stage->spike_settings);
    return false;
}

void ping_reduce_tell(const PingReduce* stage, FILE* messages)
{
    Unused unused = {stage->program, stage->edits_path, messages};
    if (stage->edits != nullptr) edits_report_unused(stage->edits, tell_unused, &unused);
}
