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

void read_settings()
{
    settings_build_path(settings_path, PLAT_DIR_SEPARATOR);
    settings_defaults(&head_settings);
    settings_read(&head_settings, settings_path);
}

// The data store plugs in at four moments, each a function named after it.
// At start-up, after the ping assembly is reset. A failed open leaves the store closed
// and the run goes on without storing.
void store_open()
{
    datastore_open(&data_store, &timestamp_clock);
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
    datastore_write(&data_store, &fields);
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
int failure_exit(TraceFailure failure)
{
    if (STORE_SWITCH) datastore_failure_exit(&data_store);
    trace_failure(failure);
    trace_exit_prompt();
    plat_key_read();
    return 1;
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
    read_settings();
    trace_settings(&head_settings);

    headlink_init(&head_link, head_settings.range);
    LinkStart started = headlink_start(&head_link, head_settings.address, head_settings.port);
    if (started != LINK_STARTED) return failure_exit(start_failure(started));
    assembly_reset(&head_link.assembly);
    if (STORE_SWITCH) store_open();

    while (!plat_key_waiting()) {
        TraceFailure failure = FAILED_RECEIVE;
        if (!run_pass(&failure)) return failure_exit(failure);
    }

    if (STORE_SWITCH) store_close();
    if (!headlink_close(&head_link)) return failure_exit(FAILED_CLOSE);
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
