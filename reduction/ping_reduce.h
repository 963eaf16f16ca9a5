// The reduction stage of the tools that reduce depths (qkvdump's run and its
// --follow, qkvweb): the files the options name read (a sound-speed cast, a water-level series, an edit list, each
// parsed by reduction/ and every bad line said with its file and number), and
// each ping, once the picker has decided it and it is located, reduced to a
// depth below the reference (reduction.h) and offered to the spike test
// (spike.h), whose verdict on a ping comes the half window of pings after it.
// Each data file is a stream of its own for the spike test, as for the
// picker: its window is one-sided at a file's start and end.
#pragma once

#include <cstdio>

#include "reduction/reduction.h"
#include "reduction/spike.h"

// The largest file of the reduction read: a year of six-minute levels in a gauge's widest CSV.
constexpr long PING_REDUCE_FILE_MAX = 64L * 1024 * 1024;
// Bad lines said of a file; past them, how many more.
constexpr int PING_REDUCE_SAID_MAX = 20;
// What the reduction applied, in words for the outputs.
constexpr int PING_REDUCE_TEXT_SIZE = 2048;

// What a tool's options ask of the reduction: its settings (the draft among them) and the files read into them.
struct ReductionAsked {
    ReductionSettings settings;
    const char* profile;      // --sound-speed-profile FILE; null: none
    const char* water_level;  // --water-level FILE
    const char* edits;        // --edits FILE
};

struct PingReduce {
    const char* program;          // the messages' first word: "qkvdump"
    ReductionSettings settings;   // with the files' contents
    SoundSpeedProfile* profile;   // made where a file is read; null: none
    WaterLevelSeries* series;
    EditList* edits;
    const char* edits_path;
    SpikeSettings spike_settings;
    SpikeStream spike;
    char corrections[PING_REDUCE_TEXT_SIZE];  // "sound speed 1487 m/s (a bar check); draft 0.6 m; ..."
};

// Reads the files of the reduction asked for and makes its settings; false, said, when a file cannot be read, holds
// nothing taken, or the settings do not make one reduction.
bool ping_reduce_begin(PingReduce* stage, const ReductionAsked* asked, const char* program);
void ping_reduce_end(PingReduce* stage);
// The pings the spike test holds back: its verdict on a ping comes this many offers later.
int ping_reduce_held(const PingReduce* stage);
// Reduces the next ping and offers it to the spike test; true, with judged filled, when this gives the verdict on
// the ping offered ping_reduce_held offers before.
bool ping_reduce_offer(PingReduce* stage, const ReductionPing* ping, ReductionResult* judged);
// At a data file's end: true, with judged filled, while pings of it wait for their verdict; then the next file
// begins a stream of its own.
bool ping_reduce_flush(PingReduce* stage, ReductionResult* judged);
// After the last ping: each edit that named no ping read, on messages.
void ping_reduce_tell(const PingReduce* stage, FILE* messages);
