#include "acquisition/driver.h"

#include "acquisition/settings.h"
#include "acquisition/trace.h"
#include "headlink/headlink.h"
#include "platform/platform.h"
#include "store/datastore.h"
#include "store/interval.h"
#include "store/timestamp.h"

// Fixed when the program is built (HALVEX_STORE_SWITCH); nothing changes it at run time.
constexpr bool STORE_SWITCH = HALVEX_STORE_SWITCH != 0;

namespace {

HeadSettings head_settings;
char settings_path[SETTINGS_PATH_SIZE];
HeadLink head_link;
TimestampClock timestamp_clock;
IntervalMeter interval_meter;
DataStore data_store;
// Standard error is no terminal (a service's journal, a file): it is told
// what the screen would not say.
bool explaining;

// False when the file is there but cannot be read: its settings are not
// replaced by the defaults.
bool read_settings()
{
    settings_build_path(settings_path, PLAT_DIR_SEPARATOR);
    settings_defaults(&head_settings);
    SettingsText text;
    if (settings_read(&head_settings, settings_path, &text) != PLAT_OK) {
        trace_settings_unreadable(plat_last_error());
        return false;
    }
    trace_settings(&head_settings);
    if (explaining) trace_settings_replaced(&text, &head_settings);
    return true;
}

// The data store plugs in at four moments, each a function named after it.
// At start-up, after the ping assembly is reset. A failed open leaves the store closed
// and the run goes on without storing.
void store_open()
{
    if (!datastore_open(&data_store, &timestamp_clock)) {
        trace_store_not_created(data_store.name, data_store.failure, data_store.error);
    } else if (explaining) {
        trace_recording_to(data_store.name, &head_settings);
    }
}

// While the program waits, records written lately still go to the disk.
void store_idle()
{
    if (STORE_SWITCH) datastore_sync_when_due(&data_store);
}

// At the start of every pass, whatever the store switch says.
void store_pass_start()
{
    timestamp_update_now(&timestamp_clock);
    store_idle();
}

// After every completed ping; the meter runs whatever the store switch says.
void store_ping_complete()
{
    interval_update_now(&interval_meter);
    if (!data_store.open) return;
    RecordFields fields;
    fields.date_text = timestamp_clock.date_text;
    fields.time_text = timestamp_clock.time_text;
    fields.hundredths_text = timestamp_clock.hundredths_text;
    fields.gain = head_settings.gain;
    fields.range_by_six = head_link.range_by_six;
    fields.ping_interval_ms = interval_meter.ping_interval;
    fields.image = head_link.assembly.image;
    StoreChange change = datastore_write(&data_store, &fields);
    if (change == STORE_STOPPED) trace_store_stopped(data_store.name, data_store.error);
    if (change == STORE_RESUMED) trace_store_resumed(data_store.name, data_store.records_lost);
    trace_writing(data_store.name, data_store.bytes_written);
}

// At shut-down, before the socket is closed.
void store_close()
{
    datastore_close(&data_store);
}

// The failure exit closes nothing, but the records so far go to the disk
// before the program waits for the operator (and a data file without any
// is removed).
int failure_exit()
{
    if (STORE_SWITCH) datastore_failure_exit(&data_store);
    trace_exit_prompt();
    plat_key_read();
    return 1;
}

// A call of the head link failed: its message, and why where that is heard.
int link_failure_exit(TraceFailure failure)
{
    trace_failure(failure);
    if (explaining) trace_link_failure(failure, &head_link.failure, &head_settings);
    return failure_exit();
}

TraceFailure start_failure(LinkStart started)
{
    switch (started) {
    case LINK_NO_SERVICE: return FAILED_SERVICE;
    case LINK_NO_SOCKET: return FAILED_SOCKET;
    default: return FAILED_CONNECT;
    }
}

// A packet the assembly accepted is traced, and the ping it completes.
void take_packet(int delivered)
{
    OfferOutcome outcome = headlink_offer(&head_link, delivered);
    if (outcome == OFFER_DROPPED) return;
    trace_packet(head_link.ser_buf_tcp, delivered);
    if (outcome != OFFER_PING_COMPLETE) return;
    trace_ping(head_link.assembly.ping_count);
    store_ping_complete();
}

// One pass: one switch command, one return packet. Returns false with the
// failure when the link failed.
bool run_pass(TraceFailure* failure)
{
    store_pass_start();
    headlink_build_command(&head_link, head_settings.range, head_settings.gain);
    trace_send_line(head_settings.range, head_settings.gain);
    if (!headlink_send_command(&head_link)) {
        *failure = FAILED_SEND;
        return false;
    }
    int delivered = 0;
    if (!headlink_receive(&head_link, &delivered, store_idle)) {
        *failure = FAILED_RECEIVE;
        return false;
    }
    if (delivered <= 0) {
        trace_no_data();
        return true;
    }
    take_packet(delivered);
    return true;
}

int run()
{
    explaining = !plat_errors_on_terminal();
    if (!read_settings()) return failure_exit();

    headlink_init(&head_link, head_settings.range);
    LinkStart started = headlink_start(&head_link, head_settings.address, head_settings.port);
    if (started != LINK_STARTED) return link_failure_exit(start_failure(started));
    assembly_reset(&head_link.assembly);
    if (STORE_SWITCH) {
        store_open();
    } else if (explaining) {
        trace_recording_nothing(&head_settings);
    }

    while (!plat_key_waiting()) {
        TraceFailure failure = FAILED_RECEIVE;
        if (!run_pass(&failure)) return link_failure_exit(failure);
    }

    if (STORE_SWITCH) store_close();
    if (!headlink_close(&head_link)) return link_failure_exit(FAILED_CLOSE);
    plat_key_read();
    trace_exit_prompt();
    plat_key_read();
    settings_write(&head_settings, settings_path);
    return 0;
}

}  // namespace

int acquisition_run()
{
    plat_console_start();
    int status = run();
    plat_console_stop();
    return status;
}
