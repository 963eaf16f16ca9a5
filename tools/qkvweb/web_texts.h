// What qkvweb says of the survey, as text into the caller's buffers: the
// status (JSON for /status and the page), the health (/health), the metrics
// (Prometheus' text exposition, /metrics), and the page's stream of events
// (Server-Sent Events: the file, each ping's row, the picker's depths, the
// track, the coverage's cells and the status). Plain functions: nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/qkvweb/survey.h"

enum WebState { WEB_RECORDING, WEB_STALE, WEB_NO_DATA_FILE, WEB_FILE_DELETED };
extern const char* const WEB_STATE_WORDS[];  // "recording", "stale", "no data file", "file deleted"

constexpr int WEB_REASON_SIZE = DATA_NAME_SIZE + FOLLOWER_NOTE_SIZE + 96;
constexpr size_t WEB_STATUS_SIZE = 8192;  // room for the reduction's words

// The figures of one moment.
struct WebStatus {
    WebState state;
    char reason[WEB_REASON_SIZE];  // for a state other than recording: why, in words
    long stale_after_s;
    int64_t last_record_age_ms;    // -1: no data file
    double pings_per_second;
    bool disk_known;
    int64_t disk_free_bytes;
    int64_t fix_age_ms;            // -1: no fix yet
    int clients;                   // connections open
    long refused;                  // connections answered "too many clients" so far
};

// The status now: ages from now_ms (monotonic) and utc_ms (the wall clock).
void web_status_take(const WebSurvey* survey, long stale_after_s, int64_t now_ms, int64_t utc_ms, WebStatus* status);
size_t web_status_json(const WebSurvey* survey, const WebStatus* status, char* out, size_t size);
// "recording: ..." or the state and its reason, one line.
size_t web_health_text(const WebSurvey* survey, const WebStatus* status, char* out, size_t size);
size_t web_metrics_text(const WebSurvey* survey, const WebStatus* status, char* out, size_t size);
// The colour map and the waterfall's size, for the page: {"colours_name":...,"colours":[[r,g,b],...],...}.
size_t web_waterfall_json(char* out, size_t size);

// Where one page's stream has got to. A page that falls behind the rows kept
// skips to the oldest still kept: nothing waits for a slow page.
struct WebCursor {
    long generation;        // of the data file the page shows; -1 before any
    int64_t next_ping;      // the next row to send
    int64_t next_verdict;   // the next depth to send
    int64_t final_sent;     // the depths sent before this one were final
    long previews_withdrawn;  // of the survey's, as of the depths sent
    long track_generation;  // of the track the page draws
    int track_sent;         // its points sent
    long coverage_version;  // of the coverage's cells the page has or is being sent
    bool coverage_whole;    // being sent whole, not as the changes since the one before
    int coverage_sent;      // its cells sent, or its changes
    bool coverage_had;      // the page has all of coverage_version's
    long status_version;    // of the status sent last
};

void web_cursor_start(WebCursor* cursor);
// The next whole events that fit in size bytes, at most; 0 when there is
// nothing new, given room for the largest (WEB_STREAM_ROOM). status_json is
// the latest status, of status_version.
constexpr size_t WEB_STREAM_ROOM = WEB_STATUS_SIZE + 64;
size_t web_stream_next(const WebSurvey* survey, const char* status_json, long status_version, WebCursor* cursor,
                       char* out, size_t size);
