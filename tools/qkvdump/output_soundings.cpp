// --xyz: "lon lat depth" of each ping with a position and a depth, and beside
// it an OGR virtual layer of them, so that gdal_grid grids them and ogrinfo
// and QGIS open them without being told the columns.
#include <cerrno>
#include <cstring>

#include "tools/qkvdump/dump_output.h"

namespace {

struct Soundings {
    TextOutput xyz;
    FILE* summary;
    long count;
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

// The length of a file name without its extension (from its last dot on).
size_t stem_length(const char* name)
{
    const char* dot = strrchr(name, '.');
    return dot != nullptr ? static_cast<size_t>(dot - name) : strlen(name);
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

// GDAL's CSV driver reads the lines (blanks between the fields, no header), their longitude, latitude and depth
// make points with a depth on WGS 84.
void write_vrt(FILE* out, const char* xyz)
{
    const char* name = last_part(xyz);
    fputs(OUTPUT_SOUNDINGS_VRT_OPENING, out);
    fputs("    <SrcDataSource relativeToVRT=\"1\">CSV:", out);
    print_xml_text(out, name, strlen(name));
    fputs("</SrcDataSource>\n    <OpenOptions><OOI key=\"HEADERS\">NO</OOI></OpenOptions>\n    <SrcLayer>", out);
    print_xml_text(out, name, stem_length(name));
    fputs("</SrcLayer>\n"
          "    <GeometryType>wkbPoint25D</GeometryType>\n"
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
    write_vrt(s->vrt.file, xyz_target->path);
    if (ferror(s->vrt.file)) text_output_fail(&s->vrt, errno);
}

int begin(DumpOutput* output, const DumpSetup* setup)
{
    Soundings* s = soundings_of(output);
    s->summary = setup->summary;
    if (!text_output_open(&s->xyz, &output->target)) return 1;
    begin_vrt(s, &output->target, setup->inputs);
    return 0;
}

void ping(DumpOutput* output, const ExportPing* ping)
{
    Soundings* s = soundings_of(output);
    if (s->xyz.failed || !ping->position.known || !ping->bottom.known) return;
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
    if (why == nullptr && !end->abandoned && s->count == 0) why = "no ping has both a position and a depth";
    if (why) dump_output_not_written(target, why);
    bool kept = text_output_close(&s->xyz, target, end->keep && why == nullptr);
    if (kept) {
        fprintf(s->summary, "%s: %ld soundings (pings with a position and a depth)\n", target->path, s->count);
    }
    if (s->vrt.file == nullptr) return kept;
    if (!text_output_close(&s->vrt, &s->vrt_target, kept)) return false;
    fprintf(s->summary, "%s: the soundings as a layer for GDAL and QGIS\n", s->vrt_target.path);
    return kept;
}

}  // namespace

const DumpOutputKind SOUNDINGS_OUTPUT = {
    {"--xyz", "soundings", OUTPUT_XYZ}, sizeof(Soundings), {out, begin, ping, finish}};
