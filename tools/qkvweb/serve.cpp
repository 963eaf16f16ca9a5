// qkvweb's server: libmicrohttpd run in this one thread, between the looks at
// the survey; the sockets are the library's. It never waits on a client: a
// page's stream is written only when its socket takes more, and a stream with
// nothing new is suspended until the survey changes, so a slow or stalled page
// delays no other, nor the reading. A connection on which nothing moves for
// CONNECTION_TIMEOUT_S (a stalled page's stream, a request never finished) is
// closed. Past --max-clients connections the page is answered 503, while
// monitoring has a budget of its own: room for CONNECTIONS_MAX connections in
// all, at most half of them from one address, so that hundreds of idle or
// trickling ones, which take room but never a turn, leave /health, /status and
// /metrics answered at once. Only the page's files and the endpoints are
// answered, by their exact paths as sent (never decoded), and only to GET and
// HEAD: no path names a file on the disk, and none is ever opened for a
// request.
#include "tools/qkvweb/serve.h"

#include <microhttpd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/terminal.h"
#include "tools/qkvweb/page_files.h"
#include "tools/qkvweb/web_texts.h"

namespace {

constexpr int LOOK_EVERY_MS = 50;                 // as qkvdump --follow looks
// While the files hold more than a look takes (a long file taken up, a sparse one), looks follow one
// another for CATCH_UP_MS, then pause three times as long as they took: catching up takes about a
// quarter of a core at most, beside the recorder, and the clients are served between the looks.
constexpr int64_t CATCH_UP_MS = 25;
constexpr int CATCH_UP_PAUSE_TIMES = 3;
constexpr int64_t STATUS_EVERY_MS = 1000;         // the ages move on
constexpr int64_t STATUS_CHANGED_AFTER_MS = 200;  // while records come, at most so often
constexpr unsigned CONNECTION_TIMEOUT_S = 10;
constexpr size_t CONNECTION_MEMORY = 32 * 1024;   // each connection's, the library's whole
constexpr size_t STREAM_BLOCK = 16 * 1024;
// Connections accepted at once, within the 1024 files a process may have open by default; past
// --max-clients only to be answered 503, or monitoring's short answers.
constexpr unsigned CONNECTIONS_MAX = 960;
constexpr unsigned CONNECTIONS_PER_ADDRESS = CONNECTIONS_MAX / 2;
constexpr int PAGE_FILES_MAX = 8;
constexpr size_t ANSWER_SIZE = 16 * 1024;
constexpr size_t LOG_SIZE = 256;
constexpr int END_PASSES = 10;  // of the library's, to end the streams before it stops
static_assert(STREAM_BLOCK >= WEB_STREAM_ROOM + 64, "a stream's block holds the largest event and its chunk's frame");

const char CONTENT_JSON[] = "application/json";
const char CONTENT_TEXT[] = "text/plain; charset=utf-8";
const char CONTENT_METRICS[] = "text/plain; version=0.0.4; charset=utf-8";
const char CONTENT_EVENTS[] = "text/event-stream";
// The page takes nothing from anywhere but qkvweb itself.
const char PAGE_POLICY[] = "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                           "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
const char NOT_FOUND[] = "not found: qkvweb serves its page at /, /status, /health and /metrics\n";
const char NOT_ALLOWED[] = "only GET and HEAD: qkvweb only shows\n";

enum Route { ROUTE_WATERFALL, ROUTE_STATUS, ROUTE_HEALTH, ROUTE_METRICS, ROUTE_EVENTS };
struct Endpoint {
    const char* path;
    Route route;
};
const Endpoint ENDPOINTS[] = {
    {"/waterfall.json", ROUTE_WATERFALL}, {"/status", ROUTE_STATUS}, {"/health", ROUTE_HEALTH},
    {"/metrics", ROUTE_METRICS},          {"/events", ROUTE_EVENTS},
};

struct Stream {
    bool used;
    bool suspended;
    MHD_Connection* connection;
    WebCursor cursor;
};

struct Server {
    const WebOptions* options;
    MHD_Daemon* daemon;
    WebSurvey survey;
    WebStatus status;
    char status_json[WEB_STATUS_SIZE];
    long status_version;
    int64_t status_taken_ms;
    int64_t next_status_ms;
    long changes_shown;  // the survey's changes the streams were woken for
    int64_t catch_up_from_ms;  // monotonic: when the catch-up's share under way began; -1 when not behind
    int connections;
    long refused;
    bool ending;  // the streams are ended, not suspended, so the library can stop
    Stream streams[WEB_MAX_CLIENTS_LIMIT];
    MHD_Response* page_files[PAGE_FILES_MAX];  // made once, answered again and again
    MHD_Response* waterfall;
    MHD_Response* events_head;
    char waterfall_json[8192];
    char answer[ANSWER_SIZE];
    char log[LOG_SIZE];  // the library's last complaint
};

Server server;
PingReduce reduce;

void add_safety_headers(MHD_Response* response, const char* type)
{
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
}

MHD_Response* fixed_response(const char* bytes, size_t size, const char* type)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(size, const_cast<char*>(bytes), MHD_RESPMEM_PERSISTENT);
    if (response != nullptr) add_safety_headers(response, type);
    return response;
}

enum Refusal { ANSWERED, CROWDED };

// A crowd's refusal asks to come back later, on a connection of its own.
MHD_Result answer_text(MHD_Connection* connection, unsigned code, const char* type, const char* text, size_t length,
                       Refusal refusal = ANSWERED)
{
    MHD_Response* response = MHD_create_response_from_buffer(length, const_cast<char*>(text), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    add_safety_headers(response, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (code == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    if (refusal == CROWDED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "5");
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    MHD_Result queued = MHD_queue_response(connection, code, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer_too_many(MHD_Connection* connection)
{
    ++server.refused;
    int length = snprintf(server.answer, sizeof server.answer,
                          "too many clients: %d connections open, at most %ld are served; try again later\n",
                          server.connections, server.options->max_clients);
    return answer_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE, CONTENT_TEXT, server.answer,
                       static_cast<size_t>(length), CROWDED);
}

void take_status(Server* s, int64_t now)
{
    PlatPreciseTime utc;
    plat_precise_time(&utc);
    web_status_take(&s->survey, s->options->stale_after_s, now, utc.seconds * 1000 + utc.milliseconds, &s->status);
    s->status.clients = s->connections;
    s->status.refused = s->refused;
}

// ---- The page's stream ---------------------------------------------------------

ssize_t read_stream(void* context, uint64_t, char* buffer, size_t max)
{
    Stream* stream = static_cast<Stream*>(context);
    if (server.ending) return MHD_CONTENT_READER_END_OF_STREAM;
    size_t count =
        web_stream_next(&server.survey, server.status_json, server.status_version, &stream->cursor, buffer, max);
    if (count == 0) {
        // Nothing new: the stream waits, off the library's polling, for the survey to change.
        MHD_suspend_connection(stream->connection);
        stream->suspended = true;
    }
    return static_cast<ssize_t>(count);
}

void close_stream(void* context)
{
    Stream* stream = static_cast<Stream*>(context);
    stream->used = false;
    stream->suspended = false;
}

MHD_Result answer_events(MHD_Connection* connection, bool head)
{
    if (head) return MHD_queue_response(connection, MHD_HTTP_OK, server.events_head);
    Stream* stream = nullptr;
    for (Stream& candidate : server.streams) {
        if (!candidate.used) {
            stream = &candidate;
            break;
        }
    }
    if (stream == nullptr) return answer_too_many(connection);
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, STREAM_BLOCK, read_stream, stream, close_stream);
    if (response == nullptr) return MHD_NO;
    *stream = Stream{true, false, connection, {}};
    web_cursor_start(&stream->cursor);
    add_safety_headers(response, CONTENT_EVENTS);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

void wake_streams(Server* s)
{
    for (Stream& stream : s->streams) {
        if (stream.used && stream.suspended) {
            stream.suspended = false;
            MHD_resume_connection(stream.connection);
        }
    }
}

// ---- Requests ------------------------------------------------------------------

MHD_Result answer_endpoint(MHD_Connection* connection, Route route, bool head)
{
    Server* s = &server;
    if (route == ROUTE_WATERFALL) return MHD_queue_response(connection, MHD_HTTP_OK, s->waterfall);
    if (route == ROUTE_EVENTS) return answer_events(connection, head);
    take_status(s, plat_monotonic_ms());
    size_t length = 0;
    unsigned code = MHD_HTTP_OK;
    const char* type = CONTENT_TEXT;
    if (route == ROUTE_STATUS) {
        length = web_status_json(&s->survey, &s->status, s->answer, sizeof s->answer);
        type = CONTENT_JSON;
    } else if (route == ROUTE_HEALTH) {
        length = web_health_text(&s->survey, &s->status, s->answer, sizeof s->answer);
        if (s->status.state != WEB_RECORDING) code = MHD_HTTP_SERVICE_UNAVAILABLE;
    } else {
        length = web_metrics_text(&s->survey, &s->status, s->answer, sizeof s->answer);
        type = CONTENT_METRICS;
    }
    return answer_text(connection, code, type, s->answer, length);
}

bool comes_with_body(MHD_Connection* connection)
{
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return (length != nullptr && strcmp(length, "0") != 0) ||
           MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
}

MHD_Result answer_request(void*, MHD_Connection* connection, const char* url, const char* method, const char*,
                          const char*, size_t* upload_size, void** request)
{
    bool head = strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!head && strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
        return answer_text(connection, MHD_HTTP_METHOD_NOT_ALLOWED, CONTENT_TEXT, NOT_ALLOWED, sizeof NOT_ALLOWED - 1);
    }
    // Answered at the second call, once the request is read whole: an answer queued at the first
    // makes the library close the connection after it, and a browser would connect again for each.
    // A request that comes with a body is answered as it starts, and its connection closed.
    static int request_read;
    if (*request == nullptr && !comes_with_body(connection)) {
        *request = &request_read;
        return MHD_YES;
    }
    if (*upload_size != 0) {
        *upload_size = 0;  // not asked for: dropped
        return MHD_YES;
    }
    // Past the cap the page is refused; the monitoring's short answers still go out, so a crowd of
    // browsers never makes a recording look failed.
    bool crowded = server.connections > server.options->max_clients;
    for (int i = 0; i < WEB_PAGE_FILE_COUNT; ++i) {
        if (strcmp(url, WEB_PAGE_FILES[i].path) != 0) continue;
        if (crowded) return answer_too_many(connection);
        return MHD_queue_response(connection, MHD_HTTP_OK, server.page_files[i]);
    }
    for (const Endpoint& endpoint : ENDPOINTS) {
        if (strcmp(url, endpoint.path) != 0) continue;
        bool for_page = endpoint.route == ROUTE_EVENTS || endpoint.route == ROUTE_WATERFALL;
        return crowded && for_page ? answer_too_many(connection) : answer_endpoint(connection, endpoint.route, head);
    }
    return answer_text(connection, MHD_HTTP_NOT_FOUND, CONTENT_TEXT, NOT_FOUND, sizeof NOT_FOUND - 1);
}

void note_connection(void*, MHD_Connection*, void**, MHD_ConnectionNotificationCode code)
{
    server.connections += code == MHD_CONNECTION_NOTIFY_STARTED ? 1 : -1;
}

// Paths are taken as they come, never decoded: those answered are plain, and "%2e%2e" or "%00" in
// one is then no more than characters that match none of them.
size_t leave_escaped(void*, MHD_Connection*, char* text)
{
    return strlen(text);
}

void keep_log(void*, const char* format, va_list values)
{
    vsnprintf(server.log, sizeof server.log, format, values);
    size_t length = strlen(server.log);
    while (length > 0 && (server.log[length - 1] == '\n' || server.log[length - 1] == '.')) server.log[--length] = 0;
}

// ---- Start, run, stop ------------------------------------------------------------

bool make_responses(Server* s)
{
    static_assert(sizeof s->page_files / sizeof s->page_files[0] == PAGE_FILES_MAX, "room for the page's files");
    if (WEB_PAGE_FILE_COUNT > PAGE_FILES_MAX) return false;
    bool made = true;
    for (int i = 0; i < WEB_PAGE_FILE_COUNT; ++i) {
        const WebPageFile* file = &WEB_PAGE_FILES[i];
        s->page_files[i] = fixed_response(file->bytes, file->size, file->type);
        made = made && s->page_files[i] != nullptr;
        if (s->page_files[i] != nullptr && strcmp(file->path, "/") == 0) {
            MHD_add_response_header(s->page_files[i], "Content-Security-Policy", PAGE_POLICY);
        }
    }
    size_t length = web_waterfall_json(s->waterfall_json, sizeof s->waterfall_json);
    s->waterfall = fixed_response(s->waterfall_json, length, CONTENT_JSON);
    s->events_head = fixed_response("", 0, CONTENT_EVENTS);
    return made && length > 0 && s->waterfall != nullptr && s->events_head != nullptr;
}

void free_responses(Server* s)
{
    for (MHD_Response*& response : s->page_files) {
        if (response != nullptr) MHD_destroy_response(response);
        response = nullptr;
    }
    if (s->waterfall != nullptr) MHD_destroy_response(s->waterfall);
    if (s->events_head != nullptr) MHD_destroy_response(s->events_head);
}

bool start_daemon(Server* s)
{
    PlatSocket listening = PLAT_NO_SOCKET;
    if (plat_net_listen(s->options->address, s->options->port, &listening, s->log, sizeof s->log) != PLAT_OK) {
        return false;
    }
    s->daemon = MHD_start_daemon(MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, s->options->port,
                                 nullptr, nullptr, answer_request, nullptr,
                                 MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listening),
                                 MHD_OPTION_CONNECTION_LIMIT, CONNECTIONS_MAX,
                                 MHD_OPTION_PER_IP_CONNECTION_LIMIT, CONNECTIONS_PER_ADDRESS,
                                 MHD_OPTION_CONNECTION_TIMEOUT, CONNECTION_TIMEOUT_S,
                                 MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY,
                                 MHD_OPTION_NOTIFY_CONNECTION, note_connection, nullptr,
                                 MHD_OPTION_UNESCAPE_CALLBACK, leave_escaped, nullptr,
                                 MHD_OPTION_EXTERNAL_LOGGER, keep_log, nullptr,
                                 MHD_OPTION_END);
    if (s->daemon == nullptr) plat_net_close(listening);
    return s->daemon != nullptr;
}

// The status taken again once a second, as its ages move on, and soon after the survey changed;
// the streams woken for either.
void refresh(Server* s, int64_t now)
{
    bool changed = s->survey.changes != s->changes_shown;
    if (changed && s->next_status_ms > s->status_taken_ms + STATUS_CHANGED_AFTER_MS) {
        s->next_status_ms = s->status_taken_ms + STATUS_CHANGED_AFTER_MS;
    }
    if (now >= s->next_status_ms) {
        take_status(s, now);
        web_status_json(&s->survey, &s->status, s->status_json, sizeof s->status_json);
        ++s->status_version;
        s->status_taken_ms = now;
        s->next_status_ms = now + STATUS_EVERY_MS;
        changed = true;
    }
    if (!changed) return;
    s->changes_shown = s->survey.changes;
    wake_streams(s);
}

// When to look next: in LOOK_EVERY_MS, or while behind at once, within the catch-up's share of a core.
int64_t next_look_after(Server* s, bool behind, int64_t started)
{
    int64_t now = plat_monotonic_ms();
    if (!behind) {
        s->catch_up_from_ms = -1;
        return now + LOOK_EVERY_MS;
    }
    if (s->catch_up_from_ms < 0) s->catch_up_from_ms = started;
    int64_t looking_ms = now - s->catch_up_from_ms;
    if (looking_ms < CATCH_UP_MS) return now;
    s->catch_up_from_ms = now + looking_ms * CATCH_UP_PAUSE_TIMES;
    return s->catch_up_from_ms;
}

void serve_until_asked_to_end(Server* s)
{
    int64_t next_look = 0;
    s->catch_up_from_ms = -1;
    PlatTerminalEvent event = PLAT_TERMINAL_NOTHING;
    while (event != PLAT_TERMINAL_QUIT) {
        int64_t now = plat_monotonic_ms();
        if (now >= next_look) next_look = next_look_after(s, survey_look(&s->survey, now), now);
        refresh(s, now);
        int64_t wait_ms = next_look - plat_monotonic_ms();
        if (wait_ms < 0) wait_ms = 0;
        MHD_run_wait(s->daemon, static_cast<int32_t>(wait_ms > LOOK_EVERY_MS ? LOOK_EVERY_MS : wait_ms));
        event = plat_terminal_wait(0);  // the ends asked by the system are taken here
    }
}

// The library stops only with no connection suspended: each stream is woken and ended.
void end_streams(Server* s)
{
    s->ending = true;
    for (int pass = 0; pass < END_PASSES; ++pass) {
        bool suspended = false;
        for (const Stream& stream : s->streams) suspended = suspended || (stream.used && stream.suspended);
        if (!suspended) return;
        wake_streams(s);
        MHD_run(s->daemon);
    }
}

}  // namespace

const char WEB_SERVE_CANNOT[] = "";

int web_serve(const WebOptions* options)
{
    Server* s = &server;
    s->options = options;
    if (options->reducing && !ping_reduce_begin(&reduce, &options->reduction, "qkvweb")) return 2;
    plat_terminal_start(PLAT_TERMINAL_STATUS);
    survey_start(&s->survey, plat_monotonic_ms());
    survey_set_depth(&s->survey, options->reducing ? &reduce : nullptr, options->reduction.settings.draft_m,
                     options->draft_given);
    bool serving = make_responses(s) && start_daemon(s);
    if (!serving) {
        fprintf(stderr, "qkvweb: cannot serve on %s: %s\n", options->listen_text,
                s->log[0] ? s->log : "the page could not be made");
    } else {
        printf("qkvweb: showing the survey of this directory at http://%s/\n", options->listen_text);
        fflush(stdout);
        serve_until_asked_to_end(s);
        end_streams(s);
        MHD_stop_daemon(s->daemon);
    }
    free_responses(s);
    survey_stop(&s->survey);
    if (options->reducing) ping_reduce_end(&reduce);
    plat_terminal_stop();
    return serving ? 0 : 2;
}
