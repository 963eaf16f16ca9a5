#include "store/scan.h"

#include <cstring>

namespace {

const char CSV_FORMULA_STARTS[] = "=+-@\t\r";

// Where a record starts in the file; in 64 bits, as data files outgrow 2 GiB.
long long offset_of(long record_index)
{
    return static_cast<long long>(record_index) * RECORD_SIZE;
}

// A text field of a CSV row. One that a spreadsheet would take for a formula (=, +, -, @, a tab or a CR first)
// starts with an apostrophe, which shows it as text.
void print_csv_text(FILE* out, const char* text)
{
    bool quote = false;
    for (const char* c = text; *c; ++c) quote = quote || *c == ',' || *c == '"' || *c == '\n' || *c == '\r';
    const char* neutral = text[0] != 0 && strchr(CSV_FORMULA_STARTS, text[0]) != nullptr ? "'" : "";
    if (!quote) {
        fprintf(out, "%s%s", neutral, text);
        return;
    }
    fprintf(out, "\"%s", neutral);
    for (const char* c = text; *c; ++c) {
        if (*c == '"') fputc('"', out);
        fputc(*c, out);
    }
    fputc('"', out);
}

// The data bytes as CSV columns, put together for one write per record: a
// long recording has billions of them.
void print_csv_samples(FILE* out, const uint8_t* samples)
{
    char text[PING_SAMPLE_COUNT * 4];
    char* at = text;
    for (int i = 0; i < PING_SAMPLE_COUNT; ++i) {
        int value = samples[i];
        *at++ = ',';
        if (value >= 100) *at++ = static_cast<char>('0' + value / 100);
        if (value >= 10) *at++ = static_cast<char>('0' + value / 10 % 10);
        *at++ = static_cast<char>('0' + value % 10);
    }
    fwrite(text, 1, static_cast<size_t>(at - text), out);
}

void print_record_line(const Scanner* scanner, const char* name, long number, RecordView* view)
{
    if (scanner->format == SCAN_QUIET || scanner->format == SCAN_SUMMARY) return;
    scan_make_printable(view->date_text);
    scan_make_printable(view->time_text);
    scan_make_printable(view->hundredths_text);
    if (scanner->format == SCAN_CSV) {
        char time[RECORD_TIME_SIZE + RECORD_HUNDREDTHS_SIZE + 1];
        snprintf(time, sizeof time, "%s%s", view->time_text, view->hundredths_text);
        print_csv_text(scanner->out, name);
        fprintf(scanner->out, ",%ld,", number);
        print_csv_text(scanner->out, view->date_text);
        fputc(',', scanner->out);
        print_csv_text(scanner->out, time);
        fprintf(scanner->out, ",%d,%d,%d,0x%02X", view->gain, view->range_field, view->ping_interval_ms,
                view->end_byte);
        if (scanner->samples) print_csv_samples(scanner->out, view->image + PING_IMAGE_SAMPLES);
    } else {
        fprintf(scanner->out, "record %ld: %s %s%s  gain %d dB  range %d  interval %d ms  end 0x%02X", number,
                view->date_text, view->time_text, view->hundredths_text, view->gain, view->range_field,
                view->ping_interval_ms, view->end_byte);
    }
    if (scanner->row_end) scanner->row_end(scanner->each_context, view, scanner->out);
    fputc('\n', scanner->out);
}

// A well-formed record's line and its callbacks.
void list_record(Scanner* scanner, const char* name, long number, const uint8_t* bytes)
{
    RecordView view;
    record_parse(bytes, &view);
    scanner->record_number = number;
    print_record_line(scanner, name, number, &view);
    if (scanner->each) scanner->each(scanner->each_context, &view);
}

// Parses the record just read; a well-formed one is listed now, or with
// reading ahead waits in the ring; a malformed one is said.
void check_record(Scanner* scanner, const char* name, const uint8_t* bytes, ScanTally* tally)
{
    RecordView view;
    RecordStatus status = record_parse(bytes, &view);
    ++tally->records;
    if (status == RECORD_OK) {
        if (scanner->ahead == 0) {
            list_record(scanner, name, tally->records, bytes);
            return;
        }
        scanner->arrive(scanner->each_context, &view, tally->records);
        return;
    }
    ++tally->malformed;
    if (scanner->messages == nullptr) return;
    fprintf(scanner->messages, "%s: record %ld is malformed at byte offset %lld: %s\n", name, tally->records,
            offset_of(tally->records - 1) + view.fault_offset, record_status_text(status));
}

void print_summary(const Scanner* scanner, const char* name, const ScanTally* tally)
{
    if (scanner->format == SCAN_QUIET) return;
    FILE* out = scanner->format == SCAN_CSV ? scanner->messages : scanner->out;
    fprintf(out, "%s: %ld records (%lld bytes)", name, tally->records, offset_of(tally->records));
    if (tally->malformed > 0) fprintf(out, ", %ld malformed", tally->malformed);
    if (tally->tail_bytes > 0) fprintf(out, ", torn tail of %ld bytes", tally->tail_bytes);
    if (tally->read_failed) fprintf(out, ", read error");
    bool whole = tally->malformed == 0 && tally->tail_bytes == 0 && !tally->read_failed;
    fprintf(out, whole ? ", all well-formed\n" : "\n");
}

}  // namespace

void scan_printable_note(char* text, size_t size, const char* format, va_list values)
{
    vsnprintf(text, size, format, values);
    scan_make_printable(text);
}

void scan_make_printable(char* text)
{
    for (; *text; ++text) {
        if (*text < 0x20 || *text > 0x7E) *text = '?';
    }
}

long scan_read_stream(void* source, uint8_t* bytes, size_t count)
{
    FILE* stream = static_cast<FILE*>(source);
    size_t got = fread(bytes, 1, count, stream);
    if (got < count && ferror(stream)) return -1;
    return static_cast<long>(got);
}

void scan_csv_header(const Scanner* scanner)
{
    fprintf(scanner->out, "file,record,date,time,gain_db,range_field,interval_ms,end_byte");
    for (int i = 0; scanner->samples && i < PING_SAMPLE_COUNT; ++i) fprintf(scanner->out, ",s%d", i);
    if (scanner->extra_header) fputs(scanner->extra_header, scanner->out);
    fputc('\n', scanner->out);
}

bool scan_file(Scanner* scanner, const char* name, ScanRead read, void* source, ScanTally* tally)
{
    *tally = ScanTally{};
    int slots = scanner->ahead + 1;
    int oldest = 0, waiting = 0;  // the ring's records waiting to be listed
    bool out_failed = false;
    for (;;) {
        uint8_t* bytes = scanner->ahead > 0 ? scanner->ring[(oldest + waiting) % slots] : scanner->record;
        long got = read(source, bytes, RECORD_SIZE);
        if (got < 0) {
            tally->read_failed = true;
            if (scanner->messages == nullptr) break;
            fprintf(scanner->messages, "%s: read error after record %ld (byte offset %lld)\n", name,
                    tally->records, offset_of(tally->records));
            break;
        }
        if (got < RECORD_SIZE) {
            tally->tail_bytes = got;
            if (got > 0 && scanner->messages != nullptr) {
                fprintf(scanner->messages, "%s: torn tail: %ld bytes after record %ld (byte offset %lld)\n",
                        name, got, tally->records, offset_of(tally->records));
            }
            break;
        }
        long malformed = tally->malformed;
        check_record(scanner, name, bytes, tally);
        if (scanner->ahead > 0 && tally->malformed == malformed) {
            scanner->ring_numbers[(oldest + waiting) % slots] = tally->records;
            if (++waiting > scanner->ahead) {
                list_record(scanner, name, scanner->ring_numbers[oldest], scanner->ring[oldest]);
                oldest = (oldest + 1) % slots;
                --waiting;
            }
        }
        out_failed = scanner->out != nullptr && ferror(scanner->out);
        if (out_failed) break;
    }
    if (scanner->ahead > 0) {
        scanner->file_end(scanner->each_context);
        for (; waiting > 0 && !out_failed; --waiting, oldest = (oldest + 1) % slots) {
            list_record(scanner, name, scanner->ring_numbers[oldest], scanner->ring[oldest]);
            out_failed = scanner->out != nullptr && ferror(scanner->out);
        }
    }
    // A listing that could not be written whole gets no summary: the caller reports the output's failure.
    if (out_failed || (scanner->out != nullptr && (fflush(scanner->out) != 0 || ferror(scanner->out)))) return false;
    print_summary(scanner, name, tally);
    return tally->malformed == 0 && tally->tail_bytes == 0 && !tally->read_failed;
}
