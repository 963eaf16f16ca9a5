// --png: the pings as a PNG waterfall, or with --axes the echogram. Its file
// is made at the first well-formed ping, so that without one nothing is
// touched.
#include <cerrno>
#include <cstring>

#include "tools/qkvdump/dump_output.h"
#include "tools/qkvdump/echogram.h"
#include "tools/qkvdump/picture.h"
#include "waterfall/waterfall.h"

namespace {

constexpr size_t REASON_SIZE = 256;

struct Drawing {
    const DumpOptions* options;
    FILE* summary;
    long pings;  // counted beforehand for the groups or the echogram
    FILE* file;
    bool cannot_open;
    char title_name[OUTPUT_PATH_SIZE];  // the first file's name in the echogram's title, in UTF-8
    Picture picture;
    Echogram echogram;
};

Drawing* drawing_of(DumpOutput* output)
{
    return static_cast<Drawing*>(output->state);
}

const char* out(const DumpOptions* options)
{
    return options->png;
}

// The echogram and the rows of a height share the pings out: they are counted first.
unsigned survey(const DumpOptions* options)
{
    return options->groups > 0 || options->axes ? SURVEY_PINGS : 0;
}

int begin(DumpOutput* output, const DumpSetup* setup)
{
    Drawing* d = drawing_of(output);
    d->options = setup->options;
    d->summary = setup->summary;
    d->pings = survey(setup->options) != 0 ? setup->survey->pings : 0;
    return 0;
}

bool open_picture(DumpOutput* output)
{
    Drawing* d = drawing_of(output);
    const DumpOptions* o = d->options;
    if (d->cannot_open) return false;
    d->file = output_target_open(&output->target);
    if (d->file == nullptr) {
        d->cannot_open = true;
        return false;
    }
    plat_name_utf8(o->files[0], d->title_name, sizeof d->title_name);
    EchogramStyle style;
    style.bins = o->bins;
    style.grey = o->gray;
    style.depth_line = o->depth;
    style.axes = o->axes;
    style.columns = o->axes ? echogram_columns(o->bins, d->pings, o->groups) : 0;
    style.draft_m = o->draft_m;
    style.name = d->title_name;
    PictureKind kind = echogram_kind(&style);
    // The colour picture's pixels index the colour map by the column means.
    picture_begin(&d->picture, d->file, echogram_picture_width(&style), kind,
                  kind == PICTURE_INDEXED ? WATERFALL_COLOURS : nullptr);
    echogram_begin(&d->echogram, &style, &d->picture, d->pings, o->axes ? 0 : o->groups);
    return true;
}

void ping(DumpOutput* output, const ExportPing* ping)
{
    Drawing* d = drawing_of(output);
    if (d->file == nullptr && !open_picture(output)) return;
    echogram_add(&d->echogram, ping);
}

// Finishes the picture and moves it over OUT; one that could not be written whole is removed, and OUT keeps what
// it held. Not kept: the run failed on its listing, or, as every output of the run, the .NAV files fell short or
// gave no ping a position; the picture is dropped.
bool finish(DumpOutput* output, const DumpEnd* end)
{
    Drawing* d = drawing_of(output);
    OutputTarget* target = &output->target;
    if (d->cannot_open) return false;
    if (d->file == nullptr) {
        if (end->keep) fprintf(stderr, "%s: no picture written: no well-formed record\n", target->path);
        return false;
    }
    if (end->why) dump_output_not_written(target, end->why);
    bool keep = end->keep && !end->why;
    echogram_finish(&d->echogram);
    bool written = picture_finish(&d->picture);
    char reason[REASON_SIZE];
    snprintf(reason, sizeof reason, "%s", strerror(d->picture.error));
    if (fclose(d->file) != 0 && written) {
        written = false;
        snprintf(reason, sizeof reason, "%s", strerror(errno));
    }
    d->file = nullptr;
    if (!written) {
        output_target_finish(target, false);
        if (keep) fprintf(stderr, "%s: cannot write: %s\n", target->path, reason);
        return false;
    }
    if (!output_target_finish(target, keep)) return false;
    const DumpOptions* o = d->options;
    fprintf(d->summary, "%s: %lu x %lu pixels, %s%s%s\n", target->path,
            static_cast<unsigned long>(d->picture.width), static_cast<unsigned long>(d->picture.rows),
            o->gray ? "grey levels" : WATERFALL_COLOURS_NAME, o->axes ? ", with axes" : "",
            o->depth ? ", the depth in red" : "");
    return true;
}

}  // namespace

const DumpOutputKind PICTURE_OUTPUT = {
    {"--png", "picture", OUTPUT_PICTURE}, sizeof(Drawing), {out, begin, ping, finish}, survey};
