// The data file: created at start-up under a fresh name, one ping record
// appended per completed ping, closed at shut-down. The file only ever holds
// whole records, and an existing file is never replaced; one that got no
// record is removed at the end, only while its name still denotes it.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "store/naming.h"
#include "store/record.h"
#include "store/timestamp.h"

constexpr int64_t DATASTORE_SYNC_EVERY_MS = 1000;

struct DataStore {
    PlatFile file;
    bool open;               // records are written only while set
    char name[DATA_NAME_SIZE];
    int64_t bytes_written;   // whole records only
    bool unsynced;           // written since the last sync
    int64_t last_sync_ms;
    PlatResult failure;      // of the create, or of the latest record that could not be written
    int error;               // the system's code behind it (plat_last_error)
    bool failing;            // the latest record could not be written
    int records_lost;        // since writing last failed
    uint8_t record[RECORD_SIZE];  // built here, so writing takes no memory
};
static_assert(sizeof(DataStore::record) == RECORD_SIZE, "one record goes to the file as it was built");

// What a record's write changed: storing is heard of once when it stops
// working and once when it works again, never once a ping.
enum StoreChange { STORE_GOES_ON, STORE_STOPPED, STORE_RESUMED };

// Names the file from the clock (updating it) and creates it; when the name
// is taken, tries the next numbers, going round from 9999 to 0001. False,
// closed, when no file could be created (all names taken: failure
// PLAT_ERR_EXISTS; or none can be made: the failure, with the name tried):
// the run then goes on without storing. Until the close, a run ended by a
// signal removes the file while it is still empty.
bool datastore_open(DataStore* store, TimestampClock* clock);
// Appends one record (the driver prints the writing line). A record that cannot be
// written whole is cut off again and not counted.
StoreChange datastore_write(DataStore* store, const RecordFields* fields);
// Puts what was written on the disk itself (when the file is open).
void datastore_sync(DataStore* store);
// The same, at most once a second and only when something was written since.
// Called after every record and while the program waits, so a record is on
// the disk about a second after it was written however the head goes on.
void datastore_sync_when_due(DataStore* store);
// Closes the file; a file that got no record is removed, so a run without
// a ping leaves no empty file behind.
void datastore_close(DataStore* store);
// At a failure exit: the records so far go to the disk and the file stays
// open until the process ends; a file that got no record is closed and
// removed as at the close.
void datastore_failure_exit(DataStore* store);
