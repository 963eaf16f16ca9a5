#include "tools/qkvdump/run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "tools/qkvdump/listing.h"

namespace {

// The outputs, in the order they are checked, begun, handed each ping and finished. A new output is a row here.
const DumpOutputKind* const OUTPUTS[] = {&PICTURE_OUTPUT, &TRACK_OUTPUT,  &SOUNDINGS_OUTPUT,
                                         &NETCDF_OUTPUT,  &GRID_OUTPUT,   &CONTOURS_OUTPUT};
static_assert(sizeof OUTPUTS / sizeof OUTPUTS[0] <= DUMP_OUTPUTS_MAX, "a place for each output");

// A failed write to standard output stops the run: what it was to hold is not whole.
bool output_failed(DumpRun* run)
{
    if (run->output_error == 0 && ferror(stdout)) run->output_error = errno != 0 ? errno : EIO;
    return run->output_error != 0;
}

void add_output(DumpRun* run, const DumpOutputKind* kind, const char* out)
{
    DumpOutput* output = &run->outputs[run->output_count++];
    *output = DumpOutput{};
    output->kind = kind;
    output->target.option = kind->name.option;
    output->target.what = kind->name.what;
    output->target.kind = kind->name.content;
    output->target.path = out;
}

// The outputs asked for; the listing, whose lines an output takes the place of; the files read. The run's record
// is too large for the stack: its fields are set one by one.
void start(DumpRun* run, const DumpOptions* o)
{
    run->options = o;
    run->output_count = 0;
    run->survey = DumpSurvey{};
    run->queue.first = run->queue.count = run->queue.decided = run->queue.judged = run->queue.ahead = 0;
    run->queue.held = 0;
    run->reducing = false;
    run->offered = 0;
    run->pings = 0;
    run->output_error = 0;
    run->scanner.each = run->surveyor.each = nullptr;
    run->gridding = o->grid != nullptr || o->contours != nullptr;
    for (const DumpOutputKind* kind : OUTPUTS) {
        if (kind->steps.out(o) != nullptr) add_output(run, kind, kind->steps.out(o));
    }
    run->scanner.format = o->csv ? SCAN_CSV : run->output_count > 0 ? SCAN_SUMMARY : SCAN_TEXT;
    run->scanner.out = stdout;
    run->scanner.messages = stderr;
    run->scanner.samples = o->samples;
    run->summary = o->csv ? stderr : stdout;
    run->surveyor.format = SCAN_QUIET;
    run->surveyor.out = nullptr;
    run->surveyor.messages = nullptr;
    OutputInputs* inputs = &run->inputs;
    *inputs = OutputInputs{};
    inputs->files = o->files;
    inputs->file_count = o->file_count;
    inputs->nav_files = o->nav_files;
    inputs->nav_count = o->nav_count;
    for (const char* settings : {o->reduction.profile, o->reduction.water_level, o->reduction.edits}) {
        if (settings != nullptr) inputs->settings_files[inputs->settings_count++] = settings;
    }
    inputs->force = o->force;
}

// 2 when this build cannot make an output asked for, or an OUT may not be written (said); else 0.
int check_outputs(DumpRun* run)
{
    for (int i = 0; i < run->output_count; ++i) {
        const DumpOutputKind* kind = run->outputs[i].kind;
        if (kind->support.supported != nullptr && !kind->support.supported()) {
            fprintf(stderr, "%s\n", kind->support.unsupported);
            return 2;
        }
    }
    for (int i = 0; i < run->output_count; ++i) {
        if (!output_target_check(&run->outputs[i].target, &run->inputs)) return 2;
    }
    return 0;
}

// A .NAV file that cannot be read fails the run before any output is made (said).
bool nav_files_readable(const DumpOptions* o)
{
    for (int i = 0; i < o->nav_count; ++i) {
        if (!output_input_is_file(o->nav_files[i], "qkvdump: --nav ")) return false;
    }
    return nav_lines_readable(o->nav_files, o->nav_count);
}

// The pings of the files read ahead, and their ranges.
struct Surveyed {
    long pings;
    int range_code;  // -1 before the first ping
    bool ranges_differ;
    bool unread;     // a file read only once was left for the run
};

void survey_ping(void* context, const RecordView* view)
{
    Surveyed* s = static_cast<Surveyed*>(context);
    ++s->pings;
    if (s->range_code >= 0 && s->range_code != view->range_field) s->ranges_differ = true;
    s->range_code = view->range_field;
}

// A file that can be read again, to be read ahead: false for one that is not there, no file (said when it is read),
// or a pipe or a device, which *once is set for.
bool readable_again(const char* path, bool* once)
{
    char device[16];
    PlatFileLook look;
    if (plat_names_device(path, device, sizeof device) || !plat_file_look(path, &look)) return false;
    *once = look.stream;
    return look.regular;
}

// Reads the files ahead for what the outputs need (dump_output.h). False, said, where the pings are to be counted
// and a file can be read only once.
bool survey_files(DumpRun* run)
{
    const DumpOptions* o = run->options;
    unsigned needs = 0;
    for (int i = 0; i < run->output_count; ++i) {
        if (run->outputs[i].kind->survey) needs |= run->outputs[i].kind->survey(o);
    }
    if (needs == 0) return true;
    Surveyed s = {0, -1, false, false};
    run->surveyor.each = survey_ping;
    run->surveyor.each_context = &s;
    for (int i = 0; i < o->file_count && !(needs == SURVEY_RANGE && (s.ranges_differ || s.unread)); ++i) {
        bool once = false;
        if (!readable_again(o->files[i], &once)) {
            if (once && (needs & SURVEY_PINGS) != 0) {
                fprintf(stderr, "qkvdump: %s counts the pings before it draws them: %s is a pipe or a device, read "
                                "only once\n", o->axes ? "--axes" : "--height", o->files[i]);
                return false;
            }
            s.unread = s.unread || once;
            continue;
        }
        FILE* stream = fopen(o->files[i], "rb");
        if (stream == nullptr) continue;  // said when read
        ScanTally tally;
        scan_file(&run->surveyor, o->files[i], scan_read_stream, stream, &tally);
        fclose(stream);
    }
    run->survey.pings = s.pings;
    bool single = s.range_code > 0 && !s.ranges_differ && !s.unread;
    run->survey.single_range_m = single ? range_code_metres(s.range_code) : 0.0;
    return true;
}

// What the reduction asks of the .NAV lines' sensors: NAV_MOTION_WANT_ bits.
unsigned motion_wanted(const DumpOptions* o)
{
    const ReductionSettings* s = &o->reduction.settings;
    if (!o->reduction.asked) return 0;
    return (s->heave ? NAV_MOTION_WANT_ATTITUDE : 0) |
           (s->forward_m != 0 || s->starboard_m != 0 ? NAV_MOTION_WANT_HEADING : 0) |
           (s->level == REDUCTION_LEVEL_RTK ? NAV_MOTION_WANT_HEIGHT : 0);
}

// The pings' times and positions, and their bottoms, as the run reads them.
void begin_reading(DumpRun* run)
{
    const DumpOptions* o = run->options;
    PingLocator* l = &run->locator;
    *l = PingLocator{};
    l->basis = o->nav_count > 0 ? PING_BASIS_NAV : o->utc_offset ? PING_BASIS_OFFSET : PING_BASIS_MACHINE;
    l->offset_seconds = o->offset_seconds;
    if (o->nav_count > 0) {
        nav_lines_open(&run->lines, o->nav_files, o->nav_count);
        unsigned wanted = motion_wanted(o);
        if (wanted != 0) {
            nav_motion_begin(&run->motion, nav_lines_next, &run->lines, wanted);
            nav_join_begin(&run->join, nav_motion_next, &run->motion);
            l->motion = &run->motion;
        } else {
            nav_join_begin(&run->join, nav_lines_next, &run->lines);
        }
        l->join = &run->join;
    }
    // A picture's axes are in UTC too.
    l->timed = o->nav_count > 0 || dump_exports_asked(o) || o->axes;
    l->with_depth = o->depth;
    l->draft_m = o->draft_m;
    ping_locate_begin(l);
    ping_locate_basis_text(l, run->time_basis);
    if (o->depth) {
        ping_depth_begin(&run->depth, &o->depth_settings);
        run->queue.ahead = ping_depth_ahead(&run->depth);
    }
    if (run->reducing) run->queue.held = ping_reduce_held(&run->reduce);
}

// The outputs begun so far, ended without a word as the run stops before reading.
void abandon(DumpRun* run, int begun)
{
    DumpEnd end = {};
    end.abandoned = true;
    for (int i = 0; i < begun; ++i) run->outputs[i].kind->steps.finish(&run->outputs[i], &end);
}

// 0 when every output is begun; else 1, the run stopped (said).
int begin_outputs(DumpRun* run)
{
    DumpSetup setup;
    setup.options = run->options;
    setup.inputs = &run->inputs;
    setup.survey = &run->survey;
    setup.time_basis = run->time_basis;
    setup.cells = &run->cells;
    setup.summary = run->summary;
    setup.reduce = run->reducing ? &run->reduce : nullptr;
    for (int i = 0; i < run->output_count; ++i) {
        DumpOutput* output = &run->outputs[i];
        output->state = calloc(1, output->kind->state_size);
        if (output->state == nullptr) fprintf(stderr, "%s: cannot write: out of memory\n", output->target.path);
        int failed = output->state == nullptr ? 1 : output->kind->steps.begin(output, &setup);
        if (failed != 0) {
            abandon(run, i);
            return failed;
        }
    }
    return 0;
}

PingSlot* slot_at(PingQueue* queue, int index)
{
    return &queue->slots[(queue->first + index) % PING_QUEUE_SIZE];
}

// The spike test's verdict on the oldest ping not yet judged.
void judge(DumpRun* run, const ReductionResult* judged)
{
    export_reduction_apply(judged, &slot_at(&run->queue, run->queue.judged++)->ping);
}

// The oldest undecided ping of the queue: its bottom (the picker's verdict), its time and place, and where the
// depths are reduced its depth below the reference, offered to the spike test.
void decide(DumpRun* run, int file_index)
{
    const DumpOptions* o = run->options;
    PingSlot* slot = slot_at(&run->queue, run->queue.decided++);
    PingDepth depth = {};
    if (o->depth) ping_depth_next(&run->depth, &depth);
    ExportPing* ping = &slot->ping;
    *ping = ExportPing{};
    ping->view = &slot->view;
    ping->file_name = o->files[file_index];
    ping->file_index = file_index;
    ping->record = slot->record;
    ping_locate(&run->locator, &depth, ping);
    if (!run->reducing) {
        run->queue.judged = run->queue.decided;
        return;
    }
    ReductionPing reduced;
    ReductionResult judged;
    export_reduction_of(ping, run->offered++, &reduced);
    if (ping_reduce_offer(&run->reduce, &reduced, &judged)) judge(run, &judged);
}

// At a file's end: the verdicts on its pings still waiting for the spike test.
void judge_the_rest(DumpRun* run)
{
    ReductionResult judged;
    while (run->reducing && ping_reduce_flush(&run->reduce, &judged)) judge(run, &judged);
}

// The oldest ping of the queue, decided: listed and given to every output.
void hand_on(DumpRun* run)
{
    PingQueue* queue = &run->queue;
    PingSlot* slot = slot_at(queue, 0);
    const char* reference = run->reducing ? reduction_reference(&run->reduce.settings) : nullptr;
    listing_line(&run->scanner, run->options, reference, &slot->view, &slot->ping);
    if (run->gridding) ping_grid_add(&run->cells, &slot->ping);
    for (int i = 0; i < run->output_count; ++i) run->outputs[i].kind->steps.ping(&run->outputs[i], &slot->ping);
    ++run->pings;
    queue->first = (queue->first + 1) % PING_QUEUE_SIZE;
    --queue->count;
    --queue->decided;
    --queue->judged;
}

// Decides the pings that have waited long enough, and hands on those judged; at a file's end, all.
bool move_on(DumpRun* run, int file_index, bool file_end)
{
    PingQueue* queue = &run->queue;
    bool failed = output_failed(run);
    while (!failed && queue->count - queue->decided > (file_end ? 0 : queue->ahead)) decide(run, file_index);
    if (!failed && file_end) judge_the_rest(run);
    for (; !failed && queue->judged > 0; failed = output_failed(run)) hand_on(run);
    return failed;
}

// The queue's pings of a file read no further; with the run failing, only their verdicts are taken.
bool drain(DumpRun* run, int file_index, bool failed)
{
    PingQueue* queue = &run->queue;
    if (run->options->depth) ping_depth_file_end(&run->depth);
    if (!failed) failed = move_on(run, file_index, true);
    for (PingDepth depth; queue->count > queue->decided && run->options->depth; ++queue->decided) {
        ping_depth_next(&run->depth, &depth);
    }
    for (ReductionResult judged; run->reducing && ping_reduce_flush(&run->reduce, &judged);) {
    }
    queue->first = queue->count = queue->decided = queue->judged = 0;
    return failed;
}

// One data file, each record read once: a well-formed one queued, and moved on as the pings after it come. True
// when the file is a whole number of well-formed records and standard output took them.
bool read_file(DumpRun* run, int index)
{
    const char* path = run->options->files[index];
    if (!output_input_is_file(path, "")) return false;
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) {
        fprintf(stderr, "%s: cannot open: %s\n", path, strerror(errno));
        return false;
    }
    PingQueue* queue = &run->queue;
    ScanTally tally = {};
    bool failed = false;
    while (!failed) {
        PingSlot* slot = slot_at(queue, queue->count);
        ScanStep step = scan_next_record(&run->scanner, path, scan_read_stream, stream, slot->bytes, &tally,
                                         &slot->view);
        if (step == SCAN_FILE_END) break;
        if (step == SCAN_WELL_FORMED) {
            slot->record = tally.records;
            ++queue->count;
            if (run->options->depth) ping_depth_arrive(&run->depth, &slot->view);
        }
        failed = move_on(run, index, false);
    }
    failed = drain(run, index, failed);
    bool whole = scan_file_end(&run->scanner, path, &tally, failed);
    fclose(stream);
    return whole;
}

// Why the exports of positions and times are not written, when they are not.
const char* why_not_written(const DumpRun* run, bool nav_whole)
{
    if (!nav_whole) return "a .NAV file could not be read whole";
    if (run->pings == 0) return "no well-formed record";
    if (ping_locate_none_placed(&run->locator)) return "no ping has a position";
    return nullptr;
}

// Ends the outputs, each moved over its OUT when whole; false when any failed, was not written, or the .NAV
// files fell short (said).
bool finish(DumpRun* run)
{
    const DumpOptions* o = run->options;
    if (o->depth) ping_depth_end(&run->depth);
    bool nav_whole = o->nav_count == 0 || nav_lines_close(&run->lines);
    if (run->gridding) ping_grid_end(&run->cells);
    DumpEnd end = {};
    end.keep = !output_failed(run);
    end.why = why_not_written(run, nav_whole);
    bool whole = true;
    for (int i = 0; i < run->output_count; ++i) {
        whole = run->outputs[i].kind->steps.finish(&run->outputs[i], &end) && whole;
    }
    if (o->nav_count > 0) ping_locate_tell(&run->locator, stderr);
    if (run->reducing) ping_reduce_tell(&run->reduce, stderr);
    bool exports_whole = end.why == nullptr || !dump_exports_asked(o);
    return whole && nav_whole && !ping_locate_none_placed(&run->locator) && exports_whole;
}

void release(DumpRun* run)
{
    if (run->gridding) ping_grid_free(&run->cells);
    for (int i = 0; i < run->output_count; ++i) {
        free(run->outputs[i].state);
        run->outputs[i].state = nullptr;
    }
}

// Reads and hands on every file, and finishes the outputs: the exit status.
int read_all(DumpRun* run)
{
    const DumpOptions* o = run->options;
    if (o->csv) listing_header(&run->scanner, o);
    bool all_whole = true;
    for (int i = 0; i < o->file_count && !output_failed(run); ++i) all_whole = read_file(run, i) && all_whole;
    all_whole = finish(run) && all_whole;
    if (fflush(stdout) != 0 && run->output_error == 0) run->output_error = errno;
    if (output_failed(run)) {
        fprintf(stderr, "qkvdump: cannot write to standard output: %s\n", strerror(run->output_error));
        return 1;
    }
    return all_whole ? 0 : 1;
}

}  // namespace

int dump_run(DumpRun* run, const DumpOptions* options)
{
    start(run, options);
    if (int refused = check_outputs(run)) return refused;
    if (!nav_files_readable(options)) return 1;
    if (!survey_files(run)) return 2;
    if (options->reduction.asked) {
        if (!dump_reduce_begin(&run->reduce, options)) return 1;
        run->reducing = true;
    }
    const char* reference = run->reducing ? reduction_reference(&run->reduce.settings) : REDUCTION_SURFACE;
    if (run->gridding && !ping_grid_begin(&run->cells, options, reference)) {
        if (run->reducing) ping_reduce_end(&run->reduce);
        return 2;
    }
    begin_reading(run);
    int status = begin_outputs(run);
    if (status == 0) {
        status = read_all(run);
    } else if (options->depth) {
        ping_depth_end(&run->depth);
    }
    if (run->reducing) ping_reduce_end(&run->reduce);
    release(run);
    return status;
}
