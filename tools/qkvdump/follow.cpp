// qkvdump --follow: the data file followed as store/follower.h does it, 20
// looks a second; the picture and the status line are drawn again when
// anything changed. Everything it holds is in one program-wide record:
// nothing is allocated per record.
#include "tools/qkvdump/follow.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "navfile/nmea.h"
#include "platform/datagram_out.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "store/follower.h"
#include "store/printable.h"
#include "tools/qkvdump/cells.h"
#include "navfile/ping_time.h"

namespace {

const int LOOK_EVERY_MS = 50;
const size_t OUTPUT_SIZE = 64 * 1024;
const size_t REASON_SIZE = 128;
static_assert(OUTPUT_SIZE >= CELLS_ROW_BYTES_MAX, "a row fits the output block");
static_assert(sizeof(CellsStatus::note) >= FOLLOWER_NOTE_SIZE, "the follower's note fits the status line's");

// --nmea-out sends, as a sounder does, the depths of pings that come while it
// runs: never of those a file already held when it was taken, which a chart
// plotter would log as current at its present position. Only a recording
// begun while it follows (a file newer than the one followed before it, or
// the first one come after a wait) is sent from its first ping. Nor is a ping
// sent whose record is not of now (FOLLOWER_LIVE_WITHIN_MS of this computer's
// clock), however it came: a copy of an old recording is no sounder.
struct Sending {
    bool looked;           // the first look is done
    bool followed;         // a file has been taken
    char name[DATA_NAME_SIZE];
    int64_t created;       // the file taken last, in the system's units
    bool catching_up;      // taking what the file held when taken
    long live_from;        // the first ping of the file whose depth is sent
};

// What a ping waiting for the picker's verdict, and with a reduction for the spike test's, leaves behind.
struct Pending {
    double range_m;
    bool live;       // its record was of now when it came: its depth may be sent
    bool time_known;
    int64_t utc_ms;  // the record's time, made UTC by this computer's zone
};
constexpr int PENDING_MAX = DEPTH_LOOKAHEAD + SPIKE_HALF_WINDOW_MAX + 1;

struct View {
    FollowDepth depth;
    PlatDatagram nmea;  // --nmea-out; closed: none
    Sending sending;
    DepthTracker tracker;
    long offered;                             // pings offered to the tracker in this file
    Pending pending[PENDING_MAX];             // of the pings not yet judged, by their number
    bool any_time;
    int64_t previous_utc_ms;
    PingTimeZoneMinute zone_minute;
    Follower follower;
    bool picture_changed;
    bool status_changed;
    CellsStatus status;
    CellsPicture picture;
    size_t used;
    char output[OUTPUT_SIZE];
};

View view;

// A file taken from its start: a new recording's pings are all sent; of any
// other, only those that come after what it holds now.
void start_sending(Sending* sending, const char* name)
{
    PlatFileLook look = {};
    bool looked_at = plat_file_look(name, &look);
    bool same_name = sending->followed && strcmp(name, sending->name) == 0;
    bool newer = !sending->followed || (looked_at && look.created > sending->created);
    bool recording_begun = sending->looked && !same_name && newer;
    sending->followed = true;
    snprintf(sending->name, sizeof sending->name, "%s", name);
    sending->created = looked_at ? look.created : sending->created;
    sending->catching_up = !recording_begun;
    sending->live_from = recording_begun ? 0 : LONG_MAX;
}

// After a look: what a file held when taken has been taken once the follower is no longer behind.
void note_look(Sending* sending, bool behind, long offered)
{
    sending->looked = true;
    if (behind || !sending->catching_up) return;
    sending->catching_up = false;
    sending->live_from = offered;
}

// A file newly followed: an empty picture, its pings counted from the first.
void file_started(void* context, const char* name)
{
    View* v = static_cast<View*>(context);
    start_sending(&v->sending, name);
    cells_clear(&v->picture);
    v->status = CellsStatus{};
    snprintf(v->status.file_name, sizeof v->status.file_name, "%s", name);
    printable_text(v->status.file_name);
    v->status.depth_shown = v->depth.on;
    depth_tracker_start(&v->tracker, &v->depth.settings);  // a new file: no bottom followed yet
    for (ReductionResult left; v->depth.reduce != nullptr && ping_reduce_flush(v->depth.reduce, &left);) {
    }
    v->status.depth_note[0] = 0;
    v->offered = 0;
    v->picture_changed = true;
}

const Pending* pending_of(const View* v, int64_t tag)
{
    return &v->pending[tag % PENDING_MAX];
}

// A ping's depth sentences: DPT and DBT below the transducer, DBS below the surface where the draft is known; their
// depth fields empty (NAN) for a ping with no bottom.
void send_depth(View* v, int64_t tag, double below_transducer_m, double below_surface_m)
{
    if (v->nmea.socket < 0 || !pending_of(v, tag)->live || static_cast<long>(tag) < v->sending.live_from) return;
    char sentence[NMEA_DEPTH_SENTENCE_SIZE];
    size_t length = nmea_dpt(below_transducer_m, v->depth.dpt_offset_m, pending_of(v, tag)->range_m, sentence,
                             sizeof sentence);
    plat_datagram_send(&v->nmea, sentence, length);
    length = nmea_dbt(below_transducer_m, sentence, sizeof sentence);
    plat_datagram_send(&v->nmea, sentence, length);
    if (!v->depth.draft_known) return;
    length = nmea_dbs(below_surface_m, sentence, sizeof sentence);
    plat_datagram_send(&v->nmea, sentence, length);
}

// The spike test's verdict on a ping: its depth below the reference, or its flags, in the status line; its depth
// sent unless flagged for it.
void take_judged(View* v, const ReductionResult* judged)
{
    CellsStatus* status = &v->status;
    char flags[REDUCTION_FLAGS_TEXT_SIZE];
    reduction_flags_text(judged->flags, flags);
    status->have_depth = judged->has_depth;
    status->depth_m = judged->depth_m;
    int used = judged->has_depth ? snprintf(status->depth_note, sizeof status->depth_note, " below %s",
                                            reduction_reference(&v->depth.reduce->settings))
                                 : 0;
    if (flags[0] != 0) snprintf(status->depth_note + used, sizeof status->depth_note - used, " (%s)", flags);
    if (flags[0] == 0) status->depth_note[used] = 0;
    v->status_changed = true;
    if ((judged->flags & (REDUCTION_FLAGS_JUDGED | REDUCTION_FLAG_REJECTED)) != 0) return;
    bool bottom = judged->has_distance;
    send_depth(v, judged->tag, bottom ? judged->distance_m + judged->sound_speed_m : NAN,
               bottom ? judged->surface_depth_m : NAN);
}

// The picker's verdict on a ping already drawn: its bottom on it; without a reduction the latest depth in the
// status line, sent as it is; with one, offered to the reduction.
void take_depth(View* v, const DepthResult* result)
{
    long age = v->offered - 1 - static_cast<long>(result->tag);
    const Pending* ping = pending_of(v, result->tag);
    cells_set_bottom(&v->picture, static_cast<int>(age), result->has_depth ? result->depth_m / ping->range_m : -1.0);
    if (v->depth.reduce != nullptr) {
        ReductionPing reduced = {};
        reduced.tag = result->tag;
        reduced.time_known = ping->time_known;
        reduced.utc_ms = ping->utc_ms;
        reduced.has_bottom = result->has_depth || result->dropped;
        reduced.distance_m = result->dropped ? result->dropped_m : result->depth_m;
        reduced.quality = result->dropped ? result->dropped_quality : result->quality;
        reduced.dropped = result->dropped;
        ReductionResult judged;
        if (ping_reduce_offer(v->depth.reduce, &reduced, &judged)) take_judged(v, &judged);
        return;
    }
    v->status.have_depth = result->has_depth;
    v->status.depth_m = result->depth_m + v->depth.draft_m;
    v->status_changed = true;
    send_depth(v, result->tag, result->has_depth ? result->depth_m : NAN,
               result->has_depth ? result->depth_m + v->depth.draft_m : NAN);
}

// A ping's range, whether its record was of now when it came, and for a reduction its UTC time, kept until it is
// judged.
void keep_pending(View* v, const RecordView* record)
{
    Pending* ping = &v->pending[v->offered % PENDING_MAX];
    ping->range_m = depth_range_of_record(record);
    PlatLocalTime now;
    plat_local_time(&now);
    ping->live = follower_record_is_live(record, &now);
    int64_t local_ms = 0;
    ping->time_known = v->depth.reduce != nullptr && pingtime_from_record(record, &local_ms);
    if (!ping->time_known) return;
    ping->utc_ms = pingtime_machine_utc(local_ms, v->any_time ? &v->previous_utc_ms : nullptr, &v->zone_minute);
    v->any_time = true;
    v->previous_utc_ms = ping->utc_ms;
}

void take_ping(void* context, const RecordView* record)
{
    View* v = static_cast<View*>(context);
    CellsStatus* status = &v->status;
    cells_add_ping(&v->picture, record->image + PING_IMAGE_SAMPLES);
    ++status->pings;
    status->have_record = true;
    snprintf(status->time_text, sizeof status->time_text, "%s%s", record->time_text, record->hundredths_text);
    printable_text(status->time_text);
    status->gain = record->gain;
    status->range_field = record->range_field;
    status->interval_ms = record->ping_interval_ms;
    v->picture_changed = true;
    if (!v->depth.on) return;
    DepthResult result;
    keep_pending(v, record);
    if (depth_tracker_offer_record(&v->tracker, record, v->offered++, &result)) take_depth(v, &result);
}

// What the follower says and how long the file has been quiet, for the status line. Past the mark
// it counts whole seconds: it is drawn again when the count changes.
void update_status(View* v, int64_t now)
{
    const Follower* f = &v->follower;
    CellsStatus* status = &v->status;
    if (strcmp(status->note, f->note) != 0) {
        snprintf(status->note, sizeof status->note, "%s", f->note);
        v->status_changed = true;
    }
    if (status->malformed != f->malformed) {
        status->malformed = f->malformed;
        v->status_changed = true;
    }
    if (!f->open) return;
    int64_t quiet_ms = now - f->last_news_ms;
    int64_t shown = status->quiet_ms > CELLS_QUIET_MARK_MS ? status->quiet_ms / 1000 : -1;
    int64_t to_show = quiet_ms > CELLS_QUIET_MARK_MS ? quiet_ms / 1000 : -1;
    if (shown != to_show) v->status_changed = true;
    status->quiet_ms = quiet_ms;
}

void flush_output(View* v)
{
    plat_terminal_write(v->output, v->used);
    v->used = 0;
}

char* room_for_row(View* v)
{
    if (OUTPUT_SIZE - v->used < CELLS_ROW_BYTES_MAX) flush_output(v);
    return v->output + v->used;
}

void draw(View* v)
{
    if (v->picture_changed) {
        for (int row = 0; row + 1 < v->picture.rows; ++row) {
            v->used += cells_picture_row(&v->picture, row, room_for_row(v));
        }
    }
    if (v->picture_changed || v->status_changed) {
        v->used += cells_status_line(&v->picture, &v->status, room_for_row(v));
        flush_output(v);
    }
    v->picture_changed = false;
    v->status_changed = false;
}

void take_size(View* v)
{
    int rows = 0;
    int columns = 0;
    plat_terminal_size(&rows, &columns);
    cells_resize(&v->picture, rows, columns);
    v->picture_changed = true;
}

void start(View* v)
{
    int rows = 0;
    int columns = 0;
    plat_terminal_size(&rows, &columns);
    cells_start(&v->picture, plat_terminal_24_bit() ? CELLS_24_BIT : CELLS_256_COLOURS, rows, columns);
}

}  // namespace

int follow_run(const char* path, const FollowDepth* depth)
{
    View* v = &view;
    v->depth = *depth;
    v->nmea.socket = -1;
    char reason[REASON_SIZE];
    if (depth->nmea_address != nullptr &&
        !plat_datagram_open(&v->nmea, depth->nmea_address, depth->nmea_port, reason, sizeof reason)) {
        fprintf(stderr, "qkvdump: --nmea-out %s:%u: %s\n", depth->nmea_address, depth->nmea_port, reason);
        return 2;
    }
    // The file is opened before the terminal is taken; the open never waits (a pipe is refused).
    FollowerEvents events = {file_started, take_ping, v};
    bool opened = follower_start(&v->follower, path, &events, plat_monotonic_ms(), reason, sizeof reason);
    const char* refusal = plat_terminal_start(PLAT_TERMINAL_DRAWN);
    // Run as a service with depth sentences to send: nothing drawn, the ends still caught.
    bool drawn = refusal == nullptr;
    if (!drawn && v->nmea.socket >= 0) refusal = plat_terminal_start(PLAT_TERMINAL_STATUS);
    if (refusal != nullptr) {
        follower_stop(&v->follower);
        plat_datagram_close(&v->nmea);
        fprintf(stderr, "qkvdump: --follow draws on a terminal: %s\n", refusal);
        return 2;
    }
    if (!opened) {
        plat_terminal_stop();
        plat_datagram_close(&v->nmea);
        fprintf(stderr, "%s: cannot open: %s\n", path, reason);
        return 1;
    }
    start(v);
    if (drawn) plat_terminal_write(CELLS_ENTER, strlen(CELLS_ENTER));
    v->picture_changed = true;
    PlatTerminalEvent event = PLAT_TERMINAL_NOTHING;
    while (event != PLAT_TERMINAL_QUIT && event != PLAT_TERMINAL_GONE) {
        int64_t now = plat_monotonic_ms();
        bool behind = follower_look(&v->follower, now);
        note_look(&v->sending, behind, v->offered);
        update_status(v, now);
        if (drawn) draw(v);
        event = plat_terminal_wait(behind ? 0 : LOOK_EVERY_MS);
        if (event == PLAT_TERMINAL_RESIZED) take_size(v);
        if (!drawn && event == PLAT_TERMINAL_GONE) event = PLAT_TERMINAL_NOTHING;  // no terminal to hang up
    }
    if (drawn) plat_terminal_write(CELLS_LEAVE, strlen(CELLS_LEAVE));
    follower_stop(&v->follower);
    plat_datagram_close(&v->nmea);
    plat_terminal_stop();
    return 0;
}
