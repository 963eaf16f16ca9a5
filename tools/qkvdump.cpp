// qkvdump: checks data files and lists their ping records.
//   qkvdump [--csv] FILE...
// Exit status 0 when every file is a whole number of well-formed records,
// 1 when any is malformed, torn or unreadable, 2 for a bad command line.
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "store/scan.h"

namespace {

const char USAGE[] =
    "usage: qkvdump [--csv] FILE...\n"
    "Checks that each data file is a whole number of well-formed 8192-byte ping\n"
    "records and prints one line per record (number, date and time, gain, range\n"
    "field, ping interval, end byte) and a summary per file.\n"
    "  --csv   print a CSV header and one row per record; summaries go to stderr\n"
    "  --help  print this text\n";

Scanner scanner;

long read_stream(void* source, uint8_t* bytes, size_t count)
{
    FILE* stream = static_cast<FILE*>(source);
    size_t got = fread(bytes, 1, count, stream);
    if (got < count && ferror(stream)) return -1;
    return static_cast<long>(got);
}

bool scan_path(const char* path)
{
    FILE* stream = fopen(path, "rb");
    if (stream == nullptr) {
        fprintf(stderr, "%s: cannot open: %s\n", path, strerror(errno));
        return false;
    }
    ScanTally tally;
    bool whole = scan_file(&scanner, path, read_stream, stream, &tally);
    fclose(stream);
    return whole;
}

}  // namespace

int main(int argc, char** argv)
{
    scanner.format = SCAN_TEXT;
    scanner.out = stdout;
    scanner.messages = stderr;
    int first_file = argc;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            fputs(USAGE, stdout);
            return 0;
        }
        if (strcmp(argument, "--csv") == 0) {
            scanner.format = SCAN_CSV;
        } else if (strcmp(argument, "--") == 0) {
            first_file = i + 1;
            break;
        } else if (argument[0] == '-' && argument[1] != 0) {
            fprintf(stderr, "qkvdump: unknown option %s\n%s", argument, USAGE);
            return 2;
        } else {
            first_file = i;
            break;
        }
    }
    if (first_file >= argc) {
        fputs(USAGE, stderr);
        return 2;
    }
    if (scanner.format == SCAN_CSV) scan_csv_header(&scanner);
    bool all_whole = true;
    for (int i = first_file; i < argc; ++i) all_whole = scan_path(argv[i]) && all_whole;
    return all_whole ? 0 : 1;
}
