#include "tools/qkvdump/listing.h"

#include <cmath>

#include "navfile/ping_time.h"

namespace {

const char NAV_CSV_HEADER[] = ",time_utc,lat,lon,fix_quality,fix_age_ms,speed_kn,course_deg";
const char RANGE_CSV_HEADER[] = ",range_m";
const char DEPTH_CSV_HEADER[] = ",depth_m,depth_quality";
const char REDUCED_CSV_HEADER[] = ",depth_reference,below_transducer_m,sound_speed_m,draft_m,heave_m,water_level_m";
const char ATTITUDE_CSV_HEADER[] = ",roll_deg,pitch_deg";
const char FLAG_CSV_HEADER[] = ",flag";
constexpr int CSV_HEADER_SIZE = 512;

void print_decimal(FILE* out, bool known, int decimals, double value)
{
    fputc(',', out);
    if (known) fprintf(out, "%.*f", decimals, value);
}

// The position columns of a CSV row: empty cells where there is no position.
void nav_columns(const ExportPing* ping, FILE* out)
{
    const PingPosition* p = &ping->position;
    char time[PINGTIME_ISO_SIZE] = "";
    if (ping->time_known) pingtime_iso_utc(ping->utc_ms, time);
    fprintf(out, ",%s", time);
    print_decimal(out, p->known, p->decimals, p->latitude);
    print_decimal(out, p->known, p->decimals, p->longitude);
    fputc(',', out);
    if (p->known) fprintf(out, "%d", p->fix_quality);
    fputc(',', out);
    if (p->known) fprintf(out, "%ld", p->fix_age_ms);
    print_decimal(out, p->known && p->motion_known, 1, p->speed_knots);
    print_decimal(out, p->known && p->motion_known, 1, p->course_degrees);
}

// A correction's metres (or an angle's degrees), 3 decimals; an empty cell where it was asked for and is missing
// (NaN).
void metres_cell(double metres, FILE* out)
{
    char text[EXPORT_DEPTH_TEXT_SIZE];
    fputc(',', out);
    if (!std::isnan(metres)) fputs(export_depth_text(metres, text), out);
}

// The reference, the distance below the transducer, each correction's value, with --heave roll and pitch, and the
// flags' words.
void reduced_columns(const ExportPing* ping, const char* reference, bool attitude, FILE* out)
{
    const ReductionResult* r = &ping->reduction;
    fputc(',', out);
    fputs(reference, out);
    metres_cell(r->has_distance ? r->distance_m : NAN, out);
    metres_cell(r->sound_speed_m, out);
    metres_cell(r->draft_m, out);
    metres_cell(r->heave_m, out);
    metres_cell(r->water_level_m, out);
    if (attitude) {
        const PingMotion* m = &ping->motion;
        metres_cell(m->has_roll ? m->roll_degrees : NAN, out);  // degrees, as precise as metres
        metres_cell(m->has_pitch ? m->pitch_degrees : NAN, out);
    }
    char flags[REDUCTION_FLAGS_TEXT_SIZE];
    fputc(',', out);
    fputs(reduction_flags_text(r->flags, flags), out);
}

// The depth and its quality: an empty depth in CSV where there is none.
void depth_columns(const PingBottom* b, bool csv, FILE* out)
{
    char text[EXPORT_DEPTH_TEXT_SIZE];
    if (csv) {
        fputc(',', out);
        if (b->has_depth) fputs(export_depth_text(b->depth_m, text), out);
        fprintf(out, ",%d", b->quality);
    } else if (b->has_depth) {
        fprintf(out, "  depth_m %s  depth_quality %d", export_depth_text(b->depth_m, text), b->quality);
    } else {
        fputs("  depth_m none", out);
    }
}

}  // namespace

void listing_header(const Scanner* scanner, const DumpOptions* options)
{
    char more[CSV_HEADER_SIZE];
    bool reduced = options->reduction.asked;
    snprintf(more, sizeof more, "%s%s%s%s%s%s", options->nav_count > 0 ? NAV_CSV_HEADER : "", RANGE_CSV_HEADER,
             options->depth ? DEPTH_CSV_HEADER : "", reduced ? REDUCED_CSV_HEADER : "",
             reduced && options->reduction.settings.heave ? ATTITUDE_CSV_HEADER : "", reduced ? FLAG_CSV_HEADER : "");
    scan_csv_header(scanner, more);
}

void listing_line(const Scanner* scanner, const DumpOptions* options, const char* reference, RecordView* view,
                  const ExportPing* ping)
{
    if (!scan_record_line(scanner, ping->file_name, ping->record, view)) return;
    FILE* out = scanner->out;
    bool csv = scanner->format == SCAN_CSV;
    if (csv && options->nav_count > 0) nav_columns(ping, out);
    fprintf(out, csv ? ",%g" : "  range_m %g", range_code_metres(view->range_field));
    if (options->depth) depth_columns(&ping->bottom, csv, out);
    if (ping->reduced && csv) reduced_columns(ping, reference, options->reduction.settings.heave, out);
    char flags[REDUCTION_FLAGS_TEXT_SIZE];
    if (ping->reduced && !csv && ping->reduction.flags != 0) {
        fprintf(out, "  flag %s", reduction_flags_text(ping->reduction.flags, flags));
    }
    fputc('\n', out);
}
