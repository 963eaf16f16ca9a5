#include "store/scan.h"

#include <cstring>

#include "store/printable.h"

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

// A well-formed record's whole line, then the caller's look at it.
void list_record(const Scanner* scanner, const char* name, long number, RecordView* view)
{
    if (scan_record_line(scanner, name, number, view)) fputc('\n', scanner->out);
    if (scanner->each) scanner->each(scanner->each_context, view);
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

long scan_read_stream(void* source, uint8_t* bytes, size_t count)
{
    FILE* stream = static_cast<FILE*>(source);
    size_t got = fread(bytes, 1, count, stream);
    if (got < count && ferror(stream)) return -1;
    return static_cast<long>(got);
}

void scan_csv_header(const Scanner* scanner, const char* more)
{
    fprintf(scanner->out, "file,record,date,time,gain_db,range_field,interval_ms,end_byte");
    for (int i = 0; scanner->samples && i < PING_SAMPLE_COUNT; ++i) fprintf(scanner->out, ",s%d", i);
    if (more) fputs(more, scanner->out);
    fputc('\n', scanner->out);
}

ScanStep scan_next_record(const Scanner* scanner, const char* name, ScanRead read, void* source, uint8_t* bytes,
                          ScanTally* tally, RecordView* view)
{
    long got = read(source, bytes, RECORD_SIZE);
    if (got < 0) {
        tally->read_failed = true;
        if (scanner->messages == nullptr) return SCAN_FILE_END;
        fprintf(scanner->messages, "%s: read error after record %ld (byte offset %lld)\n", name, tally->records,
                offset_of(tally->records));
        return SCAN_FILE_END;
    }
    if (got < RECORD_SIZE) {
        tally->tail_bytes = got;
        if (got > 0 && scanner->messages != nullptr) {
            fprintf(scanner->messages, "%s: torn tail: %ld bytes after record %ld (byte offset %lld)\n", name, got,
                    tally->records, offset_of(tally->records));
        }
        return SCAN_FILE_END;
    }
    RecordStatus status = record_parse(bytes, view);
    ++tally->records;
    if (status == RECORD_OK) return SCAN_WELL_FORMED;
    ++tally->malformed;
    if (scanner->messages != nullptr) {
        fprintf(scanner->messages, "%s: record %ld is malformed at byte offset %lld: %s\n", name, tally->records,
                offset_of(tally->records - 1) + view->fault_offset, record_status_text(status));
    }
    return SCAN_MALFORMED;
}

bool scan_record_line(const Scanner* scanner, const char* name, long number, RecordView* view)
{
    if (scanner->format == SCAN_QUIET || scanner->format == SCAN_SUMMARY) return false;
    printable_text(view->date_text);
    printable_text(view->time_text);
    printable_text(view->hundredths_text);
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
    return true;
}

bool scan_file_end(const Scanner* scanner, const char* name, const ScanTally* tally, bool out_failed)
{
    // A listing that could not be written whole gets no summary: the caller reports the output's failure.
    if (out_failed || (scanner->out != nullptr && (fflush(scanner->out) != 0 || ferror(scanner->out)))) return false;
    print_summary(scanner, name, tally);
    return tally->malformed == 0 && tally->tail_bytes == 0 && !tally->read_failed;
}

bool scan_file(Scanner* scanner, const char* name, ScanRead read, void* source, ScanTally* tally)
{
    *tally = ScanTally{};
    RecordView view;
    bool out_failed = false;
    while (!out_failed) {
        ScanStep step = scan_next_record(scanner, name, read, source, scanner->record, tally, &view);
        if (step == SCAN_FILE_END) break;
        if (step == SCAN_WELL_FORMED) list_record(scanner, name, tally->records, &view);
        out_failed = scanner->out != nullptr && ferror(scanner->out);
    }
    return scan_file_end(scanner, name, tally, out_failed);
}
