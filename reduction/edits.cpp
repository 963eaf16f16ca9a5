#include "reduction/edits.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char EDITS_FIRST_LINE[] = "edit-list 1";

namespace {

constexpr long RECORD_MAX = 1000000000L;  // far beyond any data file (8 TB)
constexpr int TOKEN_SIZE = FIELDS_LINE_MAX + 1;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(const char* a, const char* b)
{
    for (; *a != 0 && lower(*a) == lower(*b); ++a, ++b) {
    }
    return *a == 0 && *b == 0;
}

// The name without its directories, of either system.
const char* base_name(const char* path)
{
    const char* base = path;
    for (const char* at = path; *at != 0; ++at) {
        if (*at == '/' || *at == '\\') base = at + 1;
    }
    return base;
}

// The next blank-separated token from *at, or a double-quoted one; false at the line's end or an unclosed quote.
bool next_token(const char** at, char token[TOKEN_SIZE])
{
    const char* start = *at;
    while (is_blank(*start)) ++start;
    if (*start == 0) return false;
    const char* end = start;
    if (*start == '"') {
        end = strchr(start + 1, '"');
        if (end == nullptr) return false;
        ++start;
    } else {
        while (*end != 0 && !is_blank(*end)) ++end;
    }
    size_t length = static_cast<size_t>(end - start);
    memcpy(token, start, length);
    token[length] = 0;
    *at = *end == '"' ? end + 1 : end;
    return true;
}

// Digits from *at on as a record number; false for none, or past RECORD_MAX.
bool record_at(const char** at, long* value)
{
    int64_t number = 0;
    const char* digit = *at;
    for (; *digit >= '0' && *digit <= '9'; ++digit) {
        number = number * 10 + (*digit - '0');
        if (number > RECORD_MAX) return false;
    }
    if (digit == *at) return false;
    *at = digit;
    *value = static_cast<long>(number);
    return true;
}

// "120" or "130-145".
bool records_of(const char* text, long* first, long* last)
{
    const char* at = text;
    if (!record_at(&at, first)) return false;
    *last = *first;
    if (*at == '-') {
        ++at;
        if (!record_at(&at, last)) return false;
    }
    return *at == 0 && *first >= 1 && *first <= *last;
}

// The list's file of that name, added when new; -1 when there is no room.
int file_of(EditList* list, const char* name)
{
    for (int i = 0; i < list->file_count; ++i) {
        if (same_name(list->file[i].name, name)) return i;
    }
    if (list->file_count == EDITS_FILES_MAX) return -1;
    EditFile* file = &list->file[list->file_count];
    snprintf(file->name, sizeof file->name, "%s", name);
    file->read = false;
    file->last_record = 0;
    return list->file_count++;
}

// The reason: the rest of the line, without the blanks around it.
bool reason_of(const char* rest, char reason[EDITS_REASON_SIZE], long number, FieldsProblem* problem)
{
    while (is_blank(*rest)) ++rest;
    size_t length = strlen(rest);
    while (length > 0 && (is_blank(rest[length - 1]) || rest[length - 1] == '\r' || rest[length - 1] == '\n')) --length;
    if (length == 0) {
        fields_say(problem, number, "no reason given: an edit says why");
        return false;
    }
    if (length >= EDITS_REASON_SIZE) {
        fields_say(problem, number, "a reason of more than %d characters", EDITS_REASON_SIZE - 1);
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (c < 0x20 || c == 0x7F) {
            fields_say(problem, number, "a control character in the reason");
            return false;
        }
    }
    memcpy(reason, rest, length);
    reason[length] = 0;
    return true;
}

// The span of an edit: a file and records, or two times.
bool span_of(EditList* list, const char** at, Edit* edit, long number, FieldsProblem* problem)
{
    char first[TOKEN_SIZE], second[TOKEN_SIZE];
    if (!next_token(at, first) || !next_token(at, second)) {
        fields_say(problem, number, "an edit names a file and its records, or a first and a last UTC time");
        return false;
    }
    edit->by_time = fields_utc_time(first, false, &edit->from_ms);
    if (edit->by_time) {
        if (!fields_utc_time(second, false, &edit->to_ms) || edit->to_ms < edit->from_ms) {
            fields_say(problem, number, "\"%.32s\" is no UTC time at or after the first", second);
            return false;
        }
        return true;
    }
    const char* name = base_name(first);
    if (name[0] == 0 || strlen(name) >= static_cast<size_t>(EDITS_NAME_SIZE)) {
        fields_say(problem, number, "\"%.40s\" is no data file's name (1 to %d characters)", first, EDITS_NAME_SIZE - 1);
        return false;
    }
    if (!records_of(second, &edit->first_record, &edit->last_record)) {
        fields_say(problem, number, "\"%.32s\" is no record (120) or records (130-145), counted from 1", second);
        return false;
    }
    edit->file = file_of(list, name);
    if (edit->file < 0) {
        fields_say(problem, number, "more than %d data files named", EDITS_FILES_MAX);
        return false;
    }
    return true;
}

bool before_in_order(const EditList* list, int a, int b)
{
    const Edit* x = &list->edit[a];
    const Edit* y = &list->edit[b];
    if (x->by_time != y->by_time) return !x->by_time;
    if (x->by_time) return x->from_ms < y->from_ms;
    return x->file != y->file ? x->file < y->file : x->first_record < y->first_record;
}

// The later of two edits by line.
const Edit* later(const Edit* a, const Edit* b) { return a == nullptr || (b != nullptr && b->line > a->line) ? b : a; }

// Among order[begin, end), sorted by key, the place after the last whose key is at most value.
template <typename Key> int after_last_at_most(const EditList* list, int begin, int end, Key key, int64_t value)
{
    while (begin < end) {
        int middle = (begin + end) / 2;
        if (key(&list->edit[list->order[middle]]) <= value) begin = middle + 1;
        else end = middle;
    }
    return begin;
}

const Edit* record_edit(EditList* list, int file, long record)
{
    auto key = [file](const Edit* e) { return static_cast<int64_t>(e->file) * (RECORD_MAX + 1) + e->first_record; };
    int at = after_last_at_most(list, 0, list->record_edits, key, static_cast<int64_t>(file) * (RECORD_MAX + 1) + record);
    const Edit* found = nullptr;
    for (int i = at - 1; i >= 0; --i) {
        Edit* e = &list->edit[list->order[i]];
        if (e->file != file || e->first_record < record - list->widest_records) break;
        if (e->last_record < record) continue;
        ++e->pings;
        found = later(found, e);
    }
    return found;
}

const Edit* time_edit(EditList* list, int64_t utc_ms)
{
    auto key = [](const Edit* e) { return e->from_ms; };
    int at = after_last_at_most(list, list->record_edits, list->count, key, utc_ms);
    const Edit* found = nullptr;
    for (int i = at - 1; i >= list->record_edits; --i) {
        Edit* e = &list->edit[list->order[i]];
        if (e->from_ms < utc_ms - list->widest_ms) break;
        if (e->to_ms < utc_ms) continue;
        ++e->pings;
        found = later(found, e);
    }
    return found;
}

void say_unused(const EditList* list, const Edit* e, FieldsProblem* problem)
{
    if (e->by_time) {
        char from[FIELDS_TIME_TEXT_SIZE], to[FIELDS_TIME_TEXT_SIZE];
        fields_utc_text(e->from_ms, from);
        fields_utc_text(e->to_ms, to);
        fields_say(problem, e->line, "no ping from %s to %s", from, to);
        return;
    }
    const EditFile* file = &list->file[e->file];
    if (!file->read) {
        fields_say(problem, e->line, "%s was not read: an edit for another recording?", file->name);
    } else if (e->first_record == e->last_record) {
        fields_say(problem, e->line, "%s has no record %ld (the last read is %ld)", file->name, e->first_record,
                   file->last_record);
    } else {
        fields_say(problem, e->line, "%s has no record from %ld to %ld (the last read is %ld)", file->name,
                   e->first_record, e->last_record, file->last_record);
    }
}

FieldsVerdict take_any(void* list, const char* line, long number, FieldsProblem* problem)
{
    return edits_take_line(static_cast<EditList*>(list), line, number, problem);
}

}  // namespace

void edits_start(EditList* list)
{
    list->header_read = false;
    list->count = 0;
    list->file_count = 0;
    list->record_edits = 0;
    list->widest_records = 0;
    list->widest_ms = 0;
    list->last_name[0] = 0;
    list->last_file = -1;
}

FieldsVerdict edits_take_line(EditList* list, const char* line, long number, FieldsProblem* problem)
{
    if (strlen(line) > static_cast<size_t>(FIELDS_LINE_MAX)) {
        fields_say(problem, number, "longer than %d characters", FIELDS_LINE_MAX);
        return FIELDS_BAD;
    }
    if (fields_is_blank_or_comment(line)) return FIELDS_NOTHING;
    const char* at = line;
    char action[TOKEN_SIZE];
    next_token(&at, action);
    if (!list->header_read) {
        char version[TOKEN_SIZE];
        bool first = strcmp(action, "edit-list") == 0 && next_token(&at, version) && strcmp(version, "1") == 0 &&
                     !next_token(&at, version);
        if (!first) {
            fields_say(problem, number, "an edit list starts with the line \"%s\"", EDITS_FIRST_LINE);
            return FIELDS_BAD;
        }
        list->header_read = true;
        return FIELDS_NOTHING;
    }
    Edit edit = {};
    edit.action = strcmp(action, "reject") == 0 ? EDIT_REJECT : strcmp(action, "accept") == 0 ? EDIT_ACCEPT : EDIT_NONE;
    edit.line = number;
    if (edit.action == EDIT_NONE) {
        fields_say(problem, number, "\"%.24s\" is neither reject nor accept", action);
        return FIELDS_BAD;
    }
    if (list->count == EDITS_MAX) {
        fields_say(problem, number, "more than %d edits", EDITS_MAX);
        return FIELDS_BAD;
    }
    if (!span_of(list, &at, &edit, number, problem) || !reason_of(at, edit.reason, number, problem)) {
        return FIELDS_BAD;
    }
    list->edit[list->count++] = edit;
    return FIELDS_TAKEN;
}

bool edits_finish(EditList* list, FieldsProblem* problem)
{
    if (!list->header_read) {
        fields_say(problem, 0, "no \"%s\" line: not an edit list", EDITS_FIRST_LINE);
        return false;
    }
    list->record_edits = 0;
    list->widest_records = 0;
    list->widest_ms = 0;
    for (int i = 0; i < list->count; ++i) {
        const Edit* e = &list->edit[i];
        list->order[i] = i;
        if (e->by_time) {
            list->widest_ms = std::max(list->widest_ms, e->to_ms - e->from_ms);
        } else {
            ++list->record_edits;
            list->widest_records = std::max(list->widest_records, e->last_record - e->first_record);
        }
    }
    std::sort(list->order, list->order + list->count, [list](int a, int b) { return before_in_order(list, a, b); });
    return true;
}

bool edits_read(EditList* list, const char* text, size_t size, FieldsSay say, void* context)
{
    edits_start(list);
    fields_read(text, size, take_any, list, say, context);
    FieldsProblem problem;
    if (edits_finish(list, &problem)) return true;
    say(context, &problem);
    return false;
}

const Edit* edits_apply(EditList* list, const char* file_name, long record, bool time_known, int64_t utc_ms)
{
    const char* name = base_name(file_name != nullptr ? file_name : "");
    if (!same_name(list->last_name, name)) {
        snprintf(list->last_name, sizeof list->last_name, "%s", name);
        list->last_file = -1;
        for (int i = 0; i < list->file_count; ++i) {
            if (same_name(list->file[i].name, name)) list->last_file = i;
        }
    }
    const Edit* found = nullptr;
    if (list->last_file >= 0) {
        EditFile* file = &list->file[list->last_file];
        file->read = true;
        file->last_record = std::max(file->last_record, record);
        found = record_edit(list, list->last_file, record);
    }
    return time_known ? later(found, time_edit(list, utc_ms)) : found;
}

int edits_report_unused(const EditList* list, FieldsSay say, void* context)
{
    FieldsProblem problem;
    int files_read = 0;
    for (int i = 0; i < list->file_count; ++i) files_read += list->file[i].read ? 1 : 0;
    if (list->file_count > 0 && files_read == 0) {
        fields_say(&problem, 0, "the edit list names no data file that was read: it is for another recording");
        say(context, &problem);
    }
    int said = 0;
    for (int i = 0; i < list->count; ++i) {
        if (list->edit[i].pings > 0) continue;
        say_unused(list, &list->edit[i], &problem);
        say(context, &problem);
        ++said;
    }
    return said;
}
