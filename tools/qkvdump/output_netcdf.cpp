// --netcdf: all the pings as one netCDF-4 file (netcdf_export.h).
#include "tools/qkvdump/dump_output.h"
#include "tools/qkvdump/netcdf_export.h"

namespace {

struct Netcdf {
    FILE* summary;
    NetcdfOut file;
};

Netcdf* netcdf_of(DumpOutput* output)
{
    return static_cast<Netcdf*>(output->state);
}

const char* out(const DumpOptions* options)
{
    return options->netcdf;
}

// The samples' distances are one coordinate where every ping has the same range.
unsigned survey(const DumpOptions*)
{
    return SURVEY_RANGE;
}

int begin(DumpOutput* output, const DumpSetup* setup)
{
    Netcdf* n = netcdf_of(output);
    OutputTarget* target = &output->target;
    n->summary = setup->summary;
    const DumpOptions* o = setup->options;
    NetcdfSource source;
    source.files = o->files;
    source.file_count = o->file_count;
    source.with_position = o->nav_count > 0;
    source.with_depth = o->depth;
    source.draft_m = o->draft_m;
    source.reference = setup->reduce != nullptr ? reduction_reference(&setup->reduce->settings) : nullptr;
    source.corrections = setup->reduce != nullptr ? setup->reduce->corrections : nullptr;
    source.attitude = setup->reduce != nullptr && setup->reduce->settings.heave;
    source.time_basis = setup->time_basis;
    source.single_range_m = setup->survey->single_range_m;
    const char* name = nullptr;
    if (!output_target_name(target, &name)) return 1;
    if (netcdf_begin(&n->file, name, &source)) return 0;
    fprintf(stderr, "%s: %s\n", target->path, n->file.reason);
    netcdf_finish(&n->file);
    output_target_finish(target, false);
    return 1;
}

void ping(DumpOutput* output, const ExportPing* ping)
{
    netcdf_add_ping(&netcdf_of(output)->file, ping);
}

bool finish(DumpOutput* output, const DumpEnd* end)
{
    Netcdf* n = netcdf_of(output);
    OutputTarget* target = &output->target;
    if (end->why) dump_output_not_written(target, end->why);
    if (!netcdf_finish(&n->file)) {
        output_target_finish(target, false);
        fprintf(stderr, "%s: cannot write: %s\n", target->path, n->file.reason);
        return false;
    }
    if (!output_target_finish(target, end->keep && !end->why)) return false;
    fprintf(n->summary, "%s: %ld pings\n", target->path, n->file.pings);
    return true;
}

}  // namespace

const DumpOutputKind NETCDF_OUTPUT = {
    {"--netcdf", "netCDF file", OUTPUT_NETCDF}, sizeof(Netcdf), {out, begin, ping, finish}, survey,
    {netcdf_supported, "qkvdump: --netcdf: this build has no netCDF library (the Linux build writes netCDF files)"}};
