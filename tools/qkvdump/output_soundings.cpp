// --xyz: "lon lat depth" of each ping with a position and a depth, and beside
// it an OGR virtual layer of them, so that gdal_grid grids them and ogrinfo
// and QGIS open them without being told the columns. Where the depths are
// reduced, a flagged sounding is left out (unless --xyz-flagged), and the
// layer's metadata names the reference and the corrections: the soundings
// file has no room of its own for them, and the layer is what GDAL and QGIS
// open and show.
#include <cerrno>
#include <cstring>

#include "tools/qkvdump/dump_output.h"

namespace {

struct Soundings {
    TextOutput xyz;
    FILE* summary;
    const PingReduce* reduce;  // null: the depths are not reduced
    bool flagged_too;
    long count;
    long flagged_left_out;
    OutputTarget vrt_target;
    char vrt_path[OUTPUT_PATH_SIZE];
    TextOutput vrt;  // file null: none beside the soundings
};

Soundings* soundings_of(DumpOutput* output)
{
    return static_cast<Soundings*>(output->state);
}

const char* out(const DumpOptions* options)
{
    return options->xyz;
}

// Where a path's last part starts: after its last directory separator.
const char* last_part(const char* path)
{
    const char* part = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == PLAT_DIR_SEPARATOR) part = c + 1;
    }
    return part;
}

// The length of a file name without its extension (from its last dot on). A name that is only a dot and an
// extension (".xyz") is all stem, as GDAL's CSV driver names its layer: the VRT goes beside it as ".xyz.vrt".
size_t stem_length(const char* name)
{
    const char* dot = strrchr(name, '.');
    return dot != nullptr && dot != name ? static_cast<size_t>(dot - name) : strlen(name);
}

// The VRT beside the soundings: OUT's name with its extension, or none, made .vrt. False when it would be too long.
bool vrt_name(const char* xyz, char* vrt, size_t size)
{
    const char* name = last_part(xyz);
    size_t kept = static_cast<size_t>(name - xyz) + stem_length(name);
    int length = snprintf(vrt, size, "%.*s.vrt", static_cast<int>(kept), xyz);
    return length > 0 && static_cast<size_t>(length) < size;
}

void print_xml_text(FILE* out, const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
        case '&': fputs("&amp;", out); break;
        case '<': fputs("&lt;", out); break;
        case '>': fputs("&gt;", out); break;
        case '"': fputs("&quot;", out); break;
        default: fputc(text[i], out); break;
        }
    }
}

void print_metadata_item(FILE* out, const char* key, const char* value)
{
    fprintf(out, "      <MDI key=\"%s\">", key);
    print_xml_text(out, value, strlen(value));
    fputs("</MDI>\n", out);
}

// The reduced depths' reference and corrections, and what became of the flagged soundings, as the layer's metadata.
void write_metadata(FILE* out, const Soundings* s)
{
    fputs("    <Metadata>\n", out);
    print_metadata_item(out, "depth_reference", reduction_reference(&s->reduce->settings));
    print_metadata_item(out, "depth_positive", "down");
    print_metadata_item(out, "corrections", s->reduce->corrections);
    print_metadata_item(out, "flagged_soundings", s->flagged_too ? "included (--xyz-flagged)" : "left out");
    fputs("    </Metadata>\n", out);
}

// GDAL's CSV driver reads the lines (blanks between the fields, no header), their longitude, latitude and depth
// make points with a depth on WGS 84.
void write_vrt(FILE* out, const char* xyz, const Soundings* s)
{
    const char* name = last_part(xyz);
    fputs(OUTPUT_SOUNDINGS_VRT_OPENING, out);
    fputs("    <SrcDataSource relativeToVRT=\"1\">CSV:", out);
    print_xml_text(out, name, strlen(name));
    fputs("</SrcDataSource>\n    <OpenOptions><OOI key=\"HEADERS\">NO</OOI></OpenOptions>\n    <SrcLayer>", out);
    print_xml_text(out, name, stem_length(name));
    fputs("</SrcLayer>\n", out);
    if (s->reduce != nullptr) write_metadata(out, s);
    fputs("    <GeometryType>wkbPoint25D</GeometryType>\n"
          "    <LayerSRS>WGS84</LayerSRS>\n"
          "    <GeometryField encoding=\"PointFromColumns\" x=\"field_1\" y=\"field_2\" z=\"field_3\"/>\n"
          "    <Field name=\"depth\" src=\"field_3\" type=\"Real\"/>\n"
          "  </OGRVRTLayer>\n"
          "</OGRVRTDataSource>\n",
          out);
}

// Begins the VRT beside the soundings. Where there is a file of another kind, said, and the soundings are written
// without it: the soundings are what --xyz asks for.
void begin_vrt(Soundings* s, const OutputTarget* xyz_target, OutputInputs* inputs)
{
    OutputTarget* target = &s->vrt_target;
    if (xyz_target->in_place || !vrt_name(xyz_target->path, s->vrt_path, sizeof s->vrt_path)) return;
    target->option = xyz_target->option;
    target->what = "VRT of the soundings";
    target->kind = OUTPUT_SOUNDINGS_VRT;
    target->path = s->vrt_path;
    if (!output_target_check(target, inputs) || !text_output_open(&s->vrt, target)) {
        fprintf(stderr, "qkvdump: %s: the soundings are written without it\n", target->path);
        return;
    }
    write_vrt(s->vrt.file, xyz_target->path, s);
    if (ferror(s->vrt.file)) text_output_fail(&s->vrt, errno);
}

int begin(DumpOutput* output, const DumpSetup* setup)
{
    Soundings* s = soundings_of(output);
    s->summary = setup->summary;
    s->reduce = setup->reduce;
    s->flagged_too = setup->options->reduction.xyz_flagged;
    if (!text_output_open(&s->xyz, &output->target)) return 1;
    begin_vrt(s, &output->target, setup->inputs);
    return 0;
}

void ping(DumpOutput* output, const ExportPing* ping)
{
    Soundings* s = soundings_of(output);
    if (s->xyz.failed || !ping->position.known || !ping->bottom.has_depth) return;
    if (ping->reduced && ping->reduction.flags != 0 && !s->flagged_too) {
        ++s->flagged_left_out;
        return;
    }
    char depth[EXPORT_DEPTH_TEXT_SIZE];
    const char* depth_text = export_depth_text(ping->bottom.depth_m, depth);
    if (fprintf(s->xyz.file, "%.*f %.*f %s\n", EXPORT_SOUNDING_DECIMALS, ping->position.longitude,
                EXPORT_SOUNDING_DECIMALS, ping->position.latitude, depth_text) < 0) {
        text_output_fail(&s->xyz, errno);
        return;
    }
    ++s->count;
}

// Soundings without a single one are no export either, though the other outputs are; the VRT goes with them.
bool finish(DumpOutput* output, const DumpEnd* end)
{
    Soundings* s = soundings_of(output);
    OutputTarget* target = &output->target;
    const char* why = end->why;
    if (why == nullptr && !end->abandoned && s->count == 0) {
        why = s->flagged_left_out > 0 ? "every ping with a position and a depth is flagged (--xyz-flagged writes them)"
                                      : "no ping has both a position and a depth";
    }
    if (why) dump_output_not_written(target, why);
    bool kept = text_output_close(&s->xyz, target, end->keep && why == nullptr);
    if (kept) {
        fprintf(s->summary, "%s: %ld soundings (pings with a position and a depth", target->path, s->count);
        if (s->reduce != nullptr && s->flagged_too) fputs(", flagged ones too", s->summary);
        if (s->reduce != nullptr && !s->flagged_too) fprintf(s->summary, ", %ld flagged left out", s->flagged_left_out);
        fputs(")\n", s->summary);
    }
    if (s->vrt.file == nullptr) return kept;
    if (!text_output_close(&s->vrt, &s->vrt_target, kept)) return false;
    fprintf(s->summary, "%s: the soundings as a layer for GDAL and QGIS\n", s->vrt_target.path);
    return kept;
}

}  // namespace

const DumpOutputKind SOUNDINGS_OUTPUT = {
    {"--xyz", "soundings", OUTPUT_XYZ}, sizeof(Soundings), {out, begin, ping, finish}};
