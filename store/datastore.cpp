#include "store/datastore.h"

#include <cstring>

namespace {

// Tries the numbers from the first one on, going round from 9999 to 1, until
// a file is made or every name of the day (at most 0000 to 9999) is taken.
PlatResult create_from(DataStore* store, uint32_t number)
{
    PlatResult created = PLAT_ERR_EXISTS;
    for (uint32_t tried = 0; tried <= NAME_NUMBER_MAX && created == PLAT_ERR_EXISTS; ++tried) {
        naming_set_number(store->name, number);
        created = plat_file_create_new(store->name, &store->file);
        number = naming_next_number(number);
    }
    return created;
}

}  // namespace

bool datastore_open(DataStore* store, TimestampClock* clock)
{
    store->open = false;
    store->file = PLAT_NO_FILE;
    store->bytes_written = 0;
    store->failing = false;
    store->records_lost = 0;
    uint32_t number = naming_build(store->name, clock);
    store->failure = create_from(store, number);
    if (store->failure != PLAT_OK) {
        store->error = plat_last_error();
        store->file = PLAT_NO_FILE;
        return false;
    }
    plat_file_remove_empty_at_end(store->file, store->name);
    store->open = true;
    store->unsynced = false;
    store->last_sync_ms = plat_monotonic_ms();
    return true;
}

StoreChange datastore_write(DataStore* store, const RecordFields* fields)
{
    record_build(store->record, fields);
    PlatResult written = plat_file_write(store->file, store->record, RECORD_SIZE);
    StoreChange change = STORE_GOES_ON;
    if (written == PLAT_OK) {
        store->bytes_written += RECORD_SIZE;
        if (store->failing) change = STORE_RESUMED;
        store->failing = false;
    } else {
        if (!store->failing) {
            change = STORE_STOPPED;
            store->records_lost = 0;
            store->failure = written;
            store->error = plat_last_error();
        }
        store->failing = true;
        ++store->records_lost;
        plat_file_truncate(store->file, store->bytes_written);
    }
    store->unsynced = true;
    datastore_sync_when_due(store);
    return change;
}

void datastore_sync(DataStore* store)
{
    if (!store->open) return;
    plat_file_sync(store->file);
    store->unsynced = false;
}

// At most once a second, so the loop is not held up by the disk.
void datastore_sync_when_due(DataStore* store)
{
    if (!store->unsynced) return;
    int64_t now = plat_monotonic_ms();
    if (now - store->last_sync_ms < DATASTORE_SYNC_EVERY_MS) return;
    datastore_sync(store);
    store->last_sync_ms = now;
}

void datastore_close(DataStore* store)
{
    if (!store->open) return;
    if (store->bytes_written == 0) {
        plat_file_close_removing_empty(store->file, store->name);
    } else {
        plat_file_sync(store->file);
        plat_file_close(store->file);
    }
    store->file = PLAT_NO_FILE;
    store->open = false;
}

void datastore_failure_exit(DataStore* store)
{
    if (store->bytes_written == 0) {
        datastore_close(store);
    } else {
        datastore_sync(store);
    }
}
