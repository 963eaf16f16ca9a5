#include "tools/qkvweb/survey.h"

#include <cstdio>
#include <cstring>

#include "store/printable.h"
#include "waterfall/waterfall.h"

namespace {

// A recording that has been quiet this long shows the picker's verdict on its last pings as the file
// stands: no more pings will come to look ahead to for a while. The tracker itself waits for them, so
// the verdicts stay those of qkvdump --depth on the file, however far apart the pings come.
constexpr int64_t DEPTH_PREVIEW_QUIET_MS = 1000;

void count_arrival(WebSurvey* s, int64_t now)
{
    int64_t second = now / 1000;
    for (int64_t gone = s->rate_second + 1; gone <= second && gone <= s->rate_second + WEB_RATE_SECONDS; ++gone) {
        s->rate_counts[gone % WEB_RATE_SECONDS] = 0;
    }
    if (second > s->rate_second) s->rate_second = second;
    ++s->rate_counts[second % WEB_RATE_SECONDS];
}

// The last record's time: now, or where the records were written before they were read, the file's last write.
void note_record_time(WebSurvey* s)
{
    int64_t age_ms = 0;
    if (s->catching_up && s->follower.path != nullptr && plat_file_age_ms(s->follower.path, &age_ms)) {
        s->last_record_ms = s->now_ms - age_ms;
    } else {
        s->last_record_ms = s->now_ms;
    }
}

// The picker's verdict on its row; without a reduction, the depth shown: the distance and the draft.
void show_verdict(WebSurvey* s, const DepthResult* result)
{
    WebRow* row = &s->rows[result->tag % WEB_ROWS];
    if (row->ping == result->tag) {
        row->decided = true;
        row->has_depth = result->has_depth;
        row->depth_m = static_cast<float>(result->depth_m);
    }
    if (s->verdicts < result->tag + 1) s->verdicts = result->tag + 1;
    if (s->reduce == nullptr) {
        s->has_depth = result->has_depth;
        s->depth_m = static_cast<float>(result->depth_m + s->draft_m);
    }
    ++s->changes;
}

// The spike test's verdict on a ping: the depth shown, with its flags; unflagged, a sounding of the coverage.
void show_judged(WebSurvey* s, const ReductionResult* judged, bool final)
{
    s->has_depth = judged->has_depth;
    s->depth_m = static_cast<float>(judged->depth_m);
    // The reduction is given no position, as qkvdump --follow gives it none: the coverage places the depths.
    reduction_flags_text(judged->flags & ~REDUCTION_FLAG_NO_POSITION, s->depth_flags);
    ++s->changes;
    const WebRow* row = survey_row(s, judged->tag);
    bool clean = judged->has_depth && (judged->flags & (REDUCTION_FLAGS_JUDGED | REDUCTION_FLAG_REJECTED)) == 0;
    if (final && clean && row != nullptr && row->time_known) coverage_sounding(&s->coverage, row->utc_ms, judged->depth_m);
}

// What the reduction knows of a ping when the picker has decided it: as qkvdump --follow offers it.
void reduction_ping_of(const WebSurvey* s, const DepthResult* result, ReductionPing* ping)
{
    const WebRow* row = survey_row(s, result->tag);
    *ping = ReductionPing{};
    ping->tag = result->tag;
    ping->time_known = row != nullptr && row->time_known;
    ping->utc_ms = ping->time_known ? row->utc_ms : 0;
    ping->has_bottom = result->has_depth || result->dropped;
    ping->distance_m = result->dropped ? result->dropped_m : result->depth_m;
    ping->quality = result->dropped ? result->dropped_quality : result->quality;
    ping->dropped = result->dropped;
}

void take_verdict(WebSurvey* s, const DepthResult* result)
{
    s->decided = result->tag + 1;
    show_verdict(s, result);
    const WebRow* row = survey_row(s, result->tag);
    if (s->reduce == nullptr) {
        if (result->has_depth && row != nullptr && row->time_known) {
            coverage_sounding(&s->coverage, row->utc_ms, result->depth_m + s->draft_m);
        }
        return;
    }
    ReductionPing ping;
    reduction_ping_of(s, result, &ping);
    ReductionResult judged;
    if (ping_reduce_offer(s->reduce, &ping, &judged)) show_judged(s, &judged, true);
}

// The verdicts on the pings still waiting for the next ones, as if the file ended here, and the spike
// test's on them as it stands; the tracker and the test go on waiting.
void preview_verdicts(WebSurvey* s)
{
    DepthTracker as_it_stands = s->tracker;
    static PingReduce reduce_as_it_stands;  // the spike test's window is large for the stack
    if (s->reduce != nullptr) reduce_as_it_stands = *s->reduce;
    DepthResult result;
    ReductionResult judged;
    while (depth_tracker_flush(&as_it_stands, &result)) {
        show_verdict(s, &result);
        ReductionPing ping;
        reduction_ping_of(s, &result, &ping);
        if (s->reduce != nullptr && ping_reduce_offer(&reduce_as_it_stands, &ping, &judged)) {
            show_judged(s, &judged, false);
        }
    }
    while (s->reduce != nullptr && ping_reduce_flush(&reduce_as_it_stands, &judged)) show_judged(s, &judged, false);
}

// A ping's time as qkvdump --follow takes it: the record's local time in the machine's zone.
void note_ping_time(WebSurvey* s, const RecordView* view, WebRow* row)
{
    int64_t local_ms = 0;
    row->time_known = pingtime_from_record(view, &local_ms);
    if (!row->time_known) return;
    row->utc_ms = pingtime_machine_utc(local_ms, s->any_time ? &s->previous_utc_ms : nullptr, &s->zone_minute);
    s->any_time = true;
    s->previous_utc_ms = row->utc_ms;
}

void file_started(void* context, const char* name)
{
    WebSurvey* s = static_cast<WebSurvey*>(context);
    ++s->generation;
    snprintf(s->file, sizeof s->file, "%s", name);
    printable_text(s->file);
    s->pings = 0;
    s->decided = s->verdicts = 0;
    s->has_depth = false;
    s->depth_flags[0] = 0;
    s->catching_up = true;
    for (WebRow& row : s->rows) row.ping = -1;
    // The pings of the file before wait for no more: a new file is a stream of its own, as for qkvdump --follow.
    for (ReductionResult left; s->reduce != nullptr && ping_reduce_flush(s->reduce, &left);) {
    }
    DepthSettings settings;
    depth_settings_default(&settings);
    depth_tracker_start(&s->tracker, &settings);
    note_record_time(s);
    ++s->changes;
}

void take_ping(void* context, const RecordView* view)
{
    WebSurvey* s = static_cast<WebSurvey*>(context);
    WebRow* row = &s->rows[s->pings % WEB_ROWS];
    row->ping = s->pings;
    row->range_m = static_cast<float>(depth_range_of_record(view));
    snprintf(row->time, sizeof row->time, "%s%s", view->time_text, view->hundredths_text);
    row->decided = false;
    row->has_depth = false;
    note_ping_time(s, view, row);
    waterfall_column_means(view->image + PING_IMAGE_SAMPLES, WEB_COLUMNS, row->means);
    if (s->verdicts > s->decided) {
        s->verdicts = s->decided;
        ++s->previews_withdrawn;
    }
    DepthResult result;
    if (depth_tracker_offer_record(&s->tracker, view, s->pings, &result)) take_verdict(s, &result);
    ++s->pings;
    if (!s->catching_up) count_arrival(s, s->now_ms);
    ++s->changes;
}

void start_track(WebSurvey* s)
{
    ++s->track_generation;
    s->track_count = 0;
    s->track_stride = 1;
    s->track_skipped = 0;
}

// Every fix's position is the latest; the track keeps one in track_stride, and when full, every other one of
// those, so a day of fixes fits.
void keep_position(WebSurvey* s, double latitude, double longitude)
{
    s->position = WebPoint{latitude, longitude};
    s->has_position = true;
    if (++s->track_skipped < s->track_stride) return;
    s->track_skipped = 0;
    if (s->track_count == WEB_TRACK_POINTS) {
        for (int i = 0; i < WEB_TRACK_POINTS / 2; ++i) s->track[i] = s->track[2 * i];
        s->track_count = WEB_TRACK_POINTS / 2;
        s->track_stride *= 2;
        ++s->track_generation;
    }
    s->track[s->track_count++] = s->position;
}

void nav_started(void* context, const char* name)
{
    WebSurvey* s = static_cast<WebSurvey*>(context);
    snprintf(s->nav_file, sizeof s->nav_file, "%s", name);
    printable_text(s->nav_file);
    nmea_fix_clear(&s->fix);
    s->has_position = false;
    start_track(s);
    coverage_start(&s->coverage);  // the coverage is the track's: a new day's starts again
    ++s->changes;
}

void take_line(void* context, const char* line)
{
    WebSurvey* s = static_cast<WebSurvey*>(context);
    s->nav_line_ms = s->now_ms;
    NavTime stamp;
    const char* sentence = nullptr;
    NmeaPosition position;
    if (!navfile_line_split(line, &stamp, &sentence) || !nmea_read_position(sentence, &position)) return;
    // A line whose position cannot be (latitude 91) is skipped whole, as qkvdump skips it: its text shown as
    // the latest fix would sit beside the position before it.
    if (position.impossible || !nmea_take_fix(sentence, &s->fix)) return;
    s->fix_quality = position.quality;
    s->fix_utc_ms = timestamp_civil_ms(&stamp) - stamp.utc_offset_seconds * 1000LL;
    // One entered by hand or simulated is shown as what it is, and is no place the vessel was.
    bool measured = position.quality > 0 && position.quality <= NMEA_GGA_MEASURED_MAX;
    if (position.has_position && measured) {
        keep_position(s, position.latitude, position.longitude);
        coverage_fix(&s->coverage, s->fix_utc_ms, position.latitude, position.longitude);
    }
    ++s->changes;
}

}  // namespace

void survey_start(WebSurvey* s, int64_t now_ms)
{
    *s = WebSurvey{};
    s->now_ms = now_ms;
    for (WebRow& row : s->rows) row.ping = -1;
    nmea_fix_clear(&s->fix);
    start_track(s);
    survey_set_depth(s, nullptr, 0.0, false);
    coverage_start(&s->coverage);
    FollowerEvents events = {file_started, take_ping, s};
    char reason[8];
    follower_start(&s->follower, nullptr, &events, now_ms, reason, sizeof reason);
    NavFollowerEvents nav_events = {nav_started, take_line, s};
    nav_follower_start(&s->nav, &nav_events);
}

void survey_set_depth(WebSurvey* s, PingReduce* reduce, double draft_m, bool draft_given)
{
    s->reduce = reduce;
    s->draft_m = draft_m;
    const char* reference = reduce != nullptr ? reduction_reference(&reduce->settings)
                            : draft_given     ? REDUCTION_SURFACE
                                              : WEB_TRANSDUCER;
    snprintf(s->reference, sizeof s->reference, "%s", reference);
}

bool survey_look(WebSurvey* s, int64_t now_ms)
{
    s->now_ms = now_ms;
    int64_t pings_before = s->pings;
    long generation_before = s->generation;
    bool behind = follower_look(&s->follower, now_ms);
    if (s->pings != pings_before || s->generation != generation_before) note_record_time(s);
    if (!behind && s->catching_up) {
        s->catching_up = false;
        if (s->rate_since_ms == 0) s->rate_since_ms = now_ms;
    }
    bool quiet = !s->catching_up && now_ms - s->last_record_ms > DEPTH_PREVIEW_QUIET_MS;
    if (s->follower.open && quiet && s->verdicts == s->decided && s->tracker.pending_count > 0) preview_verdicts(s);
    bool nav_behind = nav_follower_look(&s->nav, now_ms);
    if (coverage_update(&s->coverage, now_ms)) ++s->changes;
    return behind || nav_behind;
}

void survey_stop(WebSurvey* s)
{
    follower_stop(&s->follower);
    nav_follower_stop(&s->nav);
    coverage_stop(&s->coverage);
}

const WebRow* survey_row(const WebSurvey* s, int64_t ping)
{
    if (ping < 0) return nullptr;
    const WebRow* row = &s->rows[ping % WEB_ROWS];
    return row->ping == ping ? row : nullptr;
}

int64_t survey_first_kept(const WebSurvey* s)
{
    return s->pings > WEB_ROWS ? s->pings - WEB_ROWS : 0;
}

double survey_ping_rate(const WebSurvey* s, int64_t now_ms)
{
    // The whole seconds since records were first counted, the last nine at most: the second
    // under way is not over yet, nor was the one they started in.
    int64_t second = now_ms / 1000;
    int64_t span = s->rate_since_ms == 0 ? 0 : second - s->rate_since_ms / 1000 - 1;
    if (span > WEB_RATE_SECONDS - 1) span = WEB_RATE_SECONDS - 1;
    int counted = 0;
    for (int64_t back = 1; back <= span; ++back) {
        int64_t at = second - back;
        bool kept = at <= s->rate_second && at > s->rate_second - WEB_RATE_SECONDS;
        if (kept) counted += s->rate_counts[at % WEB_RATE_SECONDS];
    }
    return span > 0 ? counted / static_cast<double>(span) : 0.0;
}
