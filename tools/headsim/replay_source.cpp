// The recorded source: the pings of a data file the program wrote, read one
// record at a time, so memory stays the same whatever the file's size.
#include "tools/headsim/reply_source.h"

#include <cstdio>
#include <cstring>

#include "store/record.h"
#include "store/scan.h"
#include "store/timestamp.h"
#include "tools/headsim/wire.h"

namespace {

constexpr long WAIT_CAP_MS = 10000;  // a stall or a clock change in the recording is not waited out

struct Replay {
    FILE* file;
    bool loop;
    uint8_t record[RECORD_SIZE];
    RecordView view;           // of the current ping; its image points into record
    bool previous_time_known;  // the previous ping's time, for a record without an interval
    long long previous_time_ms;
};

Replay replay;
Scanner scanner;

// The file is checked when opened, but may have changed since: a short or
// malformed record ends the recording here too.
bool read_record()
{
    return scan_read_stream(replay.file, replay.record, RECORD_SIZE) == RECORD_SIZE &&
           record_parse(replay.record, &replay.view) == RECORD_OK;
}

// The ping interval the record carries or, where it is 0, the time since the
// previous record; never negative, never beyond the cap.
long recorded_wait_ms()
{
    long long wait = replay.view.ping_interval_ms;
    long long time_ms = 0;
    bool time_known = timestamp_parse_ms(replay.view.date_text, replay.view.time_text,
                                         replay.view.hundredths_text, &time_ms);
    if (wait == 0 && time_known && replay.previous_time_known) wait = time_ms - replay.previous_time_ms;
    replay.previous_time_known = time_known;
    replay.previous_time_ms = time_ms;
    if (wait < 0) return 0;
    return wait > WAIT_CAP_MS ? WAIT_CAP_MS : static_cast<long>(wait);
}

void replay_rewind()
{
    rewind(replay.file);
    replay.previous_time_known = false;
}

bool replay_next_ping(long* wait_ms)
{
    if (!read_record()) {
        if (!replay.loop) return false;
        replay_rewind();
        if (!read_record()) return false;
    }
    *wait_ms = recorded_wait_ms();
    return true;
}

// The record's ping header with the packet number asked for, the data slot of
// that number and the record's end byte; bytes 12 to 31 stay zero.
void replay_build(uint8_t packet[RETURN_PACKET_SIZE], const SwitchCommand*, int packet_number)
{
    const uint8_t* image = replay.view.image;
    int number = packet_number & 7;
    return_packet_build(packet, number, image + ping_image_slot(number));
    memcpy(packet, image, RETURN_HEADER_SIZE);
    return_packet_set_number(packet, image[RETURN_PACKET_NUMBER], number);
    packet[RETURN_END] = image[PING_IMAGE_END];
}

}  // namespace

bool replay_open(const char* path, bool loop)
{
    replay.file = wire_open_recording(path);
    if (replay.file == nullptr) return false;
    replay.loop = loop;
    scanner.format = SCAN_QUIET;
    scanner.messages = stderr;
    ScanTally tally;
    if (!scan_file(&scanner, path, scan_read_stream, replay.file, &tally)) {
        fprintf(stderr, "headsim: %s is not a whole number of well-formed ping records; not serving it\n", path);
        return false;
    }
    if (tally.records == 0) {
        fprintf(stderr, "headsim: %s holds no ping to serve\n", path);
        return false;
    }
    fprintf(stderr, "headsim: serving %ld pings from %s\n", tally.records, path);
    replay_rewind();
    return true;
}

const ReplySource REPLAY_SOURCE = {replay_rewind, replay_next_ping, replay_build};
