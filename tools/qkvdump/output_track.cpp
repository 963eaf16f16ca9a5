// --geojson: the pings with a position as a GeoJSON track, written as they come.
#include <cerrno>

#include "tools/qkvdump/dump_output.h"
#include "tools/qkvdump/geojson_track.h"

namespace {

struct Track {
    TextOutput text;
    FILE* summary;
    const char* reference;  // where the depths are reduced
    bool attitude;
    long features;
    char feature[GEOJSON_FEATURE_SIZE];
};

Track* track_of(DumpOutput* output)
{
    return static_cast<Track*>(output->state);
}

const char* out(const DumpOptions* options)
{
    return options->geojson;
}

int begin(DumpOutput* output, const DumpSetup* setup)
{
    Track* track = track_of(output);
    track->summary = setup->summary;
    track->reference = setup->reduce != nullptr ? reduction_reference(&setup->reduce->settings) : nullptr;
    track->attitude = setup->reduce != nullptr && setup->reduce->settings.heave;
    if (!text_output_open(&track->text, &output->target)) return 1;
    if (fputs(GEOJSON_OPENING, track->text.file) == EOF) text_output_fail(&track->text, errno);
    return 0;
}

void ping(DumpOutput* output, const ExportPing* ping)
{
    Track* track = track_of(output);
    if (track->text.failed || !ping->position.known) return;
    size_t length = geojson_feature(ping, track->features == 0, track->reference, track->attitude, track->feature,
                                    sizeof track->feature);
    if (length == 0 || fwrite(track->feature, 1, length, track->text.file) != length) {
        text_output_fail(&track->text, length == 0 ? ENAMETOOLONG : errno);
        return;
    }
    ++track->features;
}

bool finish(DumpOutput* output, const DumpEnd* end)
{
    Track* track = track_of(output);
    OutputTarget* target = &output->target;
    if (end->why) dump_output_not_written(target, end->why);
    if (!track->text.failed && fputs(GEOJSON_CLOSING, track->text.file) == EOF) text_output_fail(&track->text, errno);
    if (!text_output_close(&track->text, target, end->keep && !end->why)) return false;
    fprintf(track->summary, "%s: %ld pings with a position\n", target->path, track->features);
    return true;
}

}  // namespace

const DumpOutputKind TRACK_OUTPUT = {{"--geojson", "track", OUTPUT_TRACK}, sizeof(Track), {out, begin, ping, finish}};
