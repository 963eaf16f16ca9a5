#include "tools/qkvweb/web_texts.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "waterfall/waterfall.h"

const char* const WEB_STATE_WORDS[] = {"recording", "stale", "no data file", "file deleted"};

namespace {

constexpr int TRACK_POINTS_PER_EVENT = 64;
constexpr int COVERAGE_CELLS_PER_EVENT = 96;  // about 3 KB
const char BASE64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Text appended to a buffer of fixed size; once something does not fit, nothing more is.
struct Text {
    char* out;
    size_t size;
    size_t used;
    bool full;
};

Text text_in(char* out, size_t size)
{
    if (size > 0) out[0] = '\0';
    return Text{out, size, 0, size == 0};
}

void put_list(Text* t, const char* format, va_list values)
{
    if (t->full) return;
    int count = vsnprintf(t->out + t->used, t->size - t->used, format, values);
    if (count < 0 || static_cast<size_t>(count) >= t->size - t->used) {
        t->full = true;
        t->out[t->used] = '\0';
        return;
    }
    t->used += static_cast<size_t>(count);
}

void put(Text* t, const char* format, ...) __attribute__((format(printf, 2, 3)));
void put(Text* t, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    put_list(t, format, values);
    va_end(values);
}

// A JSON string; null for an empty text. What is not printable ASCII (a fix's fields come from the .NAV
// file as they are, checked only by their checksum) shows as '?'.
void put_string(Text* t, const char* text)
{
    if (text[0] == '\0') {
        put(t, "null");
        return;
    }
    put(t, "\"");
    for (const char* c = text; *c && !t->full; ++c) {
        char shown = *c >= ' ' && *c <= '~' ? *c : '?';
        put(t, shown == '"' || shown == '\\' ? "\\%c" : "%c", shown);
    }
    put(t, "\"");
}

void put_seconds(Text* t, int64_t ms)
{
    if (ms < 0) {
        put(t, "null");
    } else {
        put(t, "%.1f", ms / 1000.0);
    }
}

void put_base64(Text* t, const uint8_t* bytes, size_t count)
{
    char group[5] = {};
    for (size_t i = 0; i < count && !t->full; i += 3) {
        uint32_t bits = bytes[i] << 16;
        if (i + 1 < count) bits |= bytes[i + 1] << 8;
        if (i + 2 < count) bits |= bytes[i + 2];
        for (int k = 0; k < 4; ++k) group[k] = BASE64_DIGITS[(bits >> (18 - 6 * k)) & 63];
        if (i + 1 >= count) group[2] = '=';
        if (i + 2 >= count) group[3] = '=';
        put(t, "%s", group);
    }
}

// A label value of the text exposition: backslash, quote and line feed escaped.
void put_label(Text* t, const char* text)
{
    for (const char* c = text; *c && !t->full; ++c) put(t, *c == '"' || *c == '\\' ? "\\%c" : "%c", *c);
}

void put_metric(Text* t, const char* name, const char* type, const char* help, const char* value_format, ...)
    __attribute__((format(printf, 5, 6)));
void put_metric(Text* t, const char* name, const char* type, const char* help, const char* value_format, ...)
{
    put(t, "# HELP %s %s\n# TYPE %s %s\n%s ", name, help, name, type, name);
    va_list values;
    va_start(values, value_format);
    put_list(t, value_format, values);
    va_end(values);
    put(t, "\n");
}

bool has_fix(const WebStatus* status)
{
    return status->fix_age_ms >= 0;
}

// One event of the page's stream, whole or not at all; false when it did not fit.
bool event_fits(Text* t, size_t mark)
{
    if (!t->full) return true;
    t->used = mark;
    t->out[mark] = '\0';
    return false;
}

bool put_file_event(Text* t, const WebSurvey* s)
{
    size_t mark = t->used;
    put(t, "event: file\ndata: {\"generation\":%ld,\"file\":", s->generation);
    put_string(t, s->generation > 0 ? s->file : "");
    put(t, "}\n\n");
    return event_fits(t, mark);
}

bool put_ping_event(Text* t, const WebRow* row)
{
    size_t mark = t->used;
    put(t, "event: ping\ndata: {\"n\":%lld,\"range_m\":%.3f,\"time\":", static_cast<long long>(row->ping),
        row->range_m);
    put_string(t, row->time);
    put(t, ",\"means\":\"");
    put_base64(t, row->means, WEB_COLUMNS);
    put(t, "\"}\n\n");
    return event_fits(t, mark);
}

bool put_depth_event(Text* t, const WebRow* row)
{
    size_t mark = t->used;
    put(t, "event: depth\ndata: {\"n\":%lld,\"depth_m\":", static_cast<long long>(row->ping));
    if (row->has_depth) {
        put(t, "%.2f}\n\n", row->depth_m);
    } else {
        put(t, "null}\n\n");
    }
    return event_fits(t, mark);
}

// The next points of the track, from the first when the page has another generation of it.
bool put_track_event(Text* t, const WebSurvey* s, WebCursor* c)
{
    size_t mark = t->used;
    int last = c->track_sent + TRACK_POINTS_PER_EVENT < s->track_count ? c->track_sent + TRACK_POINTS_PER_EVENT
                                                                        : s->track_count;
    put(t, "event: track\ndata: {\"generation\":%ld,\"from\":%d,\"points\":[", s->track_generation, c->track_sent);
    for (int i = c->track_sent; i < last; ++i) {
        put(t, "%s[%.7f,%.7f]", i > c->track_sent ? "," : "", s->track[i].latitude, s->track[i].longitude);
    }
    put(t, "]}\n\n");
    if (!event_fits(t, mark)) return false;
    c->track_sent = last;
    return true;
}

// The next cells of the coverage's copy, or of its changes since the one the page has whole; the page shows a
// version once it has all of them.
bool put_coverage_event(Text* t, const WebCoverage* coverage, WebCursor* c)
{
    size_t mark = t->used;
    int count = c->coverage_whole ? coverage->cell_count : coverage->changed_count;
    int last = c->coverage_sent + COVERAGE_CELLS_PER_EVENT < count ? c->coverage_sent + COVERAGE_CELLS_PER_EVENT : count;
    put(t, "event: coverage\ndata: {\"version\":%ld,\"whole\":%s,\"from\":%d,\"count\":%d,\"cell_m\":%g,"
           "\"cells\":[", coverage->version, c->coverage_whole ? "true" : "false", c->coverage_sent, count,
        coverage->cell_m);
    for (int i = c->coverage_sent; i < last; ++i) {
        const CoverageCell* cell = &coverage->cells[c->coverage_whole ? i : coverage->changed[i]];
        put(t, "%s[%.7f,%.7f,%.2f]", i > c->coverage_sent ? "," : "", cell->latitude, cell->longitude, cell->depth_m);
    }
    put(t, "]}\n\n");
    if (!event_fits(t, mark)) return false;
    c->coverage_sent = last;
    c->coverage_had = last == count;
    return true;
}

void put_number_or_null(Text* t, bool known, double value)
{
    if (known) {
        put(t, "%.2f", value);
    } else {
        put(t, "null");
    }
}

}  // namespace

void web_status_take(const WebSurvey* s, long stale_after_s, int64_t now_ms, int64_t utc_ms, WebStatus* status)
{
    *status = WebStatus{};
    status->stale_after_s = stale_after_s;
    status->pings_per_second = survey_ping_rate(s, now_ms);
    status->disk_known = plat_disk_free(".", &status->disk_free_bytes);
    status->fix_age_ms = -1;
    if (s->fix.present) status->fix_age_ms = utc_ms > s->fix_utc_ms ? utc_ms - s->fix_utc_ms : 0;
    if (!s->follower.open) {
        status->state = WEB_NO_DATA_FILE;
        status->last_record_age_ms = -1;
        snprintf(status->reason, sizeof status->reason, "%s",
                 s->follower.note[0] ? s->follower.note : "no data file of today");
        return;
    }
    status->last_record_age_ms = now_ms > s->last_record_ms ? now_ms - s->last_record_ms : 0;
    // A .NAV file deleted counts while navlog still writes to it.
    bool stale = status->last_record_age_ms > stale_after_s * 1000;
    bool nav_lost = s->nav.gone && now_ms - s->nav_line_ms <= stale_after_s * 1000;
    const char* deleted = s->follower.gone ? s->file : nav_lost ? s->nav_file : nullptr;
    if (s->follower.gone || (nav_lost && !stale)) {
        status->state = WEB_FILE_DELETED;
        snprintf(status->reason, sizeof status->reason, "%s was deleted while followed: what is written to it now is lost",
                 deleted);
    } else if (stale) {
        status->state = WEB_STALE;
        snprintf(status->reason, sizeof status->reason, "the last record of %s is %.1f s old, more than %ld s", s->file,
                 status->last_record_age_ms / 1000.0, stale_after_s);
    } else if (s->pings == 0 && !s->catching_up) {
        status->state = WEB_STALE;
        snprintf(status->reason, sizeof status->reason, "%s holds no well-formed record", s->file);
    } else {
        status->state = WEB_RECORDING;
    }
}

size_t web_status_json(const WebSurvey* s, const WebStatus* status, char* out, size_t size)
{
    Text t = text_in(out, size);
    put(&t, "{\"state\":\"%s\",\"reason\":", WEB_STATE_WORDS[status->state]);
    put_string(&t, status->reason);
    put(&t, ",\"file\":");
    put_string(&t, s->follower.open ? s->file : "");
    put(&t, ",\"records\":%lld,\"malformed\":%ld,\"bytes\":%lld,\"pings_per_second\":%.1f,\"last_record_age_s\":",
        static_cast<long long>(s->pings), s->follower.malformed,
        static_cast<long long>(s->follower.open ? s->follower.size : 0), status->pings_per_second);
    put_seconds(&t, status->last_record_age_ms);
    put(&t, ",\"stale_after_s\":%ld,\"free_disk_bytes\":", status->stale_after_s);
    if (status->disk_known) {
        put(&t, "%lld", static_cast<long long>(status->disk_free_bytes));
    } else {
        put(&t, "null");
    }
    put(&t, ",\"depth_m\":");
    put_number_or_null(&t, s->has_depth, s->depth_m);
    put(&t, ",\"depth_reference\":");
    put_string(&t, s->reference);
    put(&t, ",\"depth_flags\":");
    put_string(&t, s->depth_flags);
    put(&t, ",\"corrections\":");
    put_string(&t, s->reduce != nullptr ? s->reduce->corrections : "");
    const WebCoverage* coverage = &s->coverage;
    bool cells = coverage->cell_count > 0;
    put(&t, ",\"coverage_cells\":%d,\"coverage_cell_m\":", coverage->cell_count);
    put_number_or_null(&t, cells, coverage->cell_m);
    put(&t, ",\"coverage_depth_min_m\":");
    put_number_or_null(&t, cells, coverage->depth_min_m);
    put(&t, ",\"coverage_depth_max_m\":");
    put_number_or_null(&t, cells, coverage->depth_max_m);
    put(&t, ",\"coverage_soundings\":%lld,\"coverage_unplaced\":%lld", static_cast<long long>(coverage->binned),
        static_cast<long long>(coverage->unplaced));
    put(&t, ",\"nav_file\":");
    put_string(&t, s->nav_file);
    put(&t, ",\"nav_note\":");
    put_string(&t, s->nav.note);
    put(&t, ",\"fix_quality\":");
    put_string(&t, s->fix.present ? s->fix.quality : "");
    put(&t, ",\"fix_age_s\":");
    put_seconds(&t, status->fix_age_ms);
    put(&t, ",\"latitude_text\":");
    put_string(&t, s->fix.present ? s->fix.latitude : "");
    put(&t, ",\"longitude_text\":");
    put_string(&t, s->fix.present ? s->fix.longitude : "");
    if (s->has_position) {
        put(&t, ",\"latitude\":%.7f,\"longitude\":%.7f", s->position.latitude, s->position.longitude);
    } else {
        put(&t, ",\"latitude\":null,\"longitude\":null");
    }
    put(&t, ",\"clients\":%d}", status->clients);
    return t.full ? 0 : t.used;
}

size_t web_health_text(const WebSurvey* s, const WebStatus* status, char* out, size_t size)
{
    Text t = text_in(out, size);
    if (status->state == WEB_RECORDING) {
        put(&t, "recording: %s, %lld records, the last %.1f s ago\n", s->file, static_cast<long long>(s->pings),
            status->last_record_age_ms / 1000.0);
    } else {
        put(&t, "%s: %s\n", WEB_STATE_WORDS[status->state], status->reason);
    }
    return t.used;
}

size_t web_metrics_text(const WebSurvey* s, const WebStatus* status, char* out, size_t size)
{
    Text t = text_in(out, size);
    put_metric(&t, "qkvweb_recording", "gauge",
               "1 while the data file followed gets records (the last one no older than the stale limit), else 0.",
               "%d", status->state == WEB_RECORDING ? 1 : 0);
    put_metric(&t, "qkvweb_data_file_present", "gauge",
               "1 while a data file written today is followed and not deleted, else 0.", "%d",
               status->state == WEB_NO_DATA_FILE || s->follower.gone ? 0 : 1);
    put_metric(&t, "qkvweb_stale_after_seconds", "gauge",
               "The age of the last record past which the recording is stale.", "%ld", status->stale_after_s);
    put_metric(&t, "qkvweb_pings_per_second", "gauge", "Records come a second, over the last nine seconds.", "%.1f",
               status->pings_per_second);
    if (status->state != WEB_NO_DATA_FILE) {
        put(&t, "# HELP qkvweb_data_file_info The data file followed, by name.\n# TYPE qkvweb_data_file_info gauge\n"
                "qkvweb_data_file_info{file=\"");
        put_label(&t, s->file);
        put(&t, "\"} 1\n");
        put_metric(&t, "qkvweb_data_file_records", "gauge", "Well-formed records in the data file followed.", "%lld",
                   static_cast<long long>(s->pings));
        put_metric(&t, "qkvweb_data_file_malformed_records", "gauge", "Malformed records in the data file followed.",
                   "%ld", s->follower.malformed);
        put_metric(&t, "qkvweb_data_file_bytes", "gauge", "The size of the data file followed.", "%lld",
                   static_cast<long long>(s->follower.size));
        put_metric(&t, "qkvweb_last_record_age_seconds", "gauge", "Seconds since the last record was written.", "%.3f",
                   status->last_record_age_ms / 1000.0);
    }
    if (status->disk_known) {
        put_metric(&t, "qkvweb_disk_free_bytes", "gauge", "Bytes free to the recorder on the disk of the data files.",
                   "%lld", static_cast<long long>(status->disk_free_bytes));
    }
    if (s->has_depth) {
        put(&t, "# HELP qkvweb_depth_meters The latest depth shown, below the reference named.\n"
                "# TYPE qkvweb_depth_meters gauge\nqkvweb_depth_meters{reference=\"");
        put_label(&t, s->reference);
        put(&t, "\"} %.2f\n", s->depth_m);
    }
    put_metric(&t, "qkvweb_coverage_cells", "gauge", "Cells of the coverage drawn on the track.", "%d",
               s->coverage.cell_count);
    if (s->coverage.cell_count > 0) {
        put_metric(&t, "qkvweb_coverage_cell_meters", "gauge", "The side of the coverage's cells.", "%g",
                   s->coverage.cell_m);
    }
    if (has_fix(status)) {
        put_metric(&t, "qkvweb_fix_age_seconds", "gauge", "Seconds since the last GGA or RMC sentence was logged.",
                   "%.3f", status->fix_age_ms / 1000.0);
        put_metric(&t, "qkvweb_fix_quality", "gauge",
                   "GGA's fix quality of the last fix: 0 none, 1 GPS, 2 DGPS, 4 RTK, 5 float RTK, ...", "%d",
                   s->fix_quality);
    }
    put_metric(&t, "qkvweb_clients", "gauge", "Connections open to qkvweb.", "%d", status->clients);
    put_metric(&t, "qkvweb_refused_clients_total", "counter", "Connections answered 503 as one too many.", "%ld",
               status->refused);
    return t.full ? 0 : t.used;
}

size_t web_waterfall_json(char* out, size_t size)
{
    Text t = text_in(out, size);
    put(&t, "{\"colours_name\":\"%s\",\"columns\":%d,\"rows\":%d,\"colours\":[", WATERFALL_COLOURS_NAME, WEB_COLUMNS,
        WEB_ROWS);
    for (int level = 0; level < WATERFALL_LEVELS; ++level) {
        const uint8_t* c = WATERFALL_COLOURS[level];
        put(&t, "%s[%d,%d,%d]", level > 0 ? "," : "", c[0], c[1], c[2]);
    }
    put(&t, "]}");
    return t.full ? 0 : t.used;
}

void web_cursor_start(WebCursor* c)
{
    *c = WebCursor{-1, 0, 0, 0, 0, -1, 0, -1, true, 0, false, -1};
}

size_t web_stream_next(const WebSurvey* s, const char* status_json, long status_version, WebCursor* c, char* out,
                       size_t size)
{
    Text t = text_in(out, size);
    if (c->generation != s->generation) {
        if (!put_file_event(&t, s)) return 0;
        c->generation = s->generation;
        c->next_ping = c->next_verdict = c->final_sent = survey_first_kept(s);
        c->previews_withdrawn = s->previews_withdrawn;
    }
    if (c->status_version != status_version) {
        size_t mark = t.used;
        put(&t, "event: status\ndata: %s\n\n", status_json);
        if (!event_fits(&t, mark)) return t.used;
        c->status_version = status_version;
    }
    int64_t first = survey_first_kept(s);
    if (c->next_ping < first) c->next_ping = first;
    for (; c->next_ping < s->pings; ++c->next_ping) {
        const WebRow* row = survey_row(s, c->next_ping);
        if (row != nullptr && !put_ping_event(&t, row)) return t.used;
    }
    if (c->previews_withdrawn != s->previews_withdrawn) {
        // Verdicts sent on the file as it stood may change with the pings come since: sent again as they come.
        if (c->next_verdict > c->final_sent) c->next_verdict = c->final_sent;
        c->previews_withdrawn = s->previews_withdrawn;
    }
    if (c->next_verdict < first) c->next_verdict = first;
    for (; c->next_verdict < s->verdicts; ++c->next_verdict) {
        const WebRow* row = survey_row(s, c->next_verdict);
        if (row != nullptr && row->decided && !put_depth_event(&t, row)) return t.used;
        if (c->next_verdict < s->decided) c->final_sent = c->next_verdict + 1;
    }
    if (c->track_generation != s->track_generation) {
        // From the first point, or none: the page starts its track again.
        c->track_sent = 0;
        if (!put_track_event(&t, s, c)) return t.used;
        c->track_generation = s->track_generation;
    }
    while (c->track_sent < s->track_count) {
        if (!put_track_event(&t, s, c)) return t.used;
    }
    const WebCoverage* coverage = &s->coverage;
    if (c->coverage_version != coverage->version) {
        // The changes alone to a page that has the copy before whole.
        c->coverage_whole = coverage->whole || !c->coverage_had || c->coverage_version != coverage->version - 1;
        c->coverage_version = coverage->version;
        c->coverage_sent = 0;
        c->coverage_had = false;
        if (!put_coverage_event(&t, coverage, c)) return t.used;
    }
    while (!c->coverage_had) {
        if (!put_coverage_event(&t, coverage, c)) return t.used;
    }
    return t.used;
}
