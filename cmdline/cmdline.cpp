#include "cmdline/cmdline.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool is_option(const char* argument)
{
    return argument[0] == '-' && argument[1] != 0;
}

const CmdlineOption* find(const Cmdline* line, const char* name)
{
    for (int i = 0; i < line->option_count; ++i) {
        if (strcmp(line->options[i].name, name) == 0) return &line->options[i];
    }
    return nullptr;
}

// Plain digits, as a long.
bool plain_number(const char* text, long* value)
{
    if (text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    *value = strtol(text, &end, 10);
    return *end == 0 && errno == 0;
}

// Digits with at most one decimal point among or after them ("2", "2.5", "0.25"); no sign, exponent or name.
bool plain_decimal(const char* text, double* value)
{
    if (text[0] < '0' || text[0] > '9') return false;
    int points = 0;
    for (const char* c = text; *c; ++c) {
        if (*c == '.') {
            ++points;
        } else if (*c < '0' || *c > '9') {
            return false;
        }
    }
    *value = strtod(text, nullptr);
    return points <= 1;
}

// Appends text to the message, as far as it has room.
void add(Cmdline* line, size_t* length, const char* text)
{
    int added = snprintf(line->message + *length, sizeof line->message - *length, "%s", text);
    if (added > 0) *length += static_cast<size_t>(added);
    if (*length >= sizeof line->message) *length = sizeof line->message - 1;
}

}  // namespace

void cmdline_begin(Cmdline* line, int argc, const char* const* argv, const CmdlineOption* options, int count)
{
    *line = Cmdline{};
    line->argc = argc;
    line->argv = argv;
    line->options = options;
    line->option_count = count;
    line->next = 1;
}

CmdlineRead cmdline_next(Cmdline* line)
{
    line->option = nullptr;
    line->value = nullptr;
    line->name[0] = 0;
    if (line->next < line->argc && !line->options_ended && strcmp(line->argv[line->next], "--") == 0) {
        line->options_ended = true;
        ++line->next;
    }
    if (line->next >= line->argc) return CMDLINE_END;
    line->at = line->next++;
    const char* argument = line->argv[line->at];
    if (line->options_ended || !is_option(argument)) {
        line->value = argument;
        return CMDLINE_OPERAND;
    }
    // "--name=value": the value after the first '='.
    size_t name_length = argument[1] == '-' ? strcspn(argument, "=") : strlen(argument);
    const char* joined = argument[name_length] == '=' ? argument + name_length + 1 : nullptr;
    snprintf(line->name, sizeof line->name, "%.*s", static_cast<int>(name_length), argument);
    line->option = name_length < sizeof line->name ? find(line, line->name) : nullptr;
    if (line->option == nullptr) {
        cmdline_fail(line, "unknown option \"%s\"", line->name);
        return CMDLINE_BAD;
    }
    CmdlineArity arity = line->option->arity;
    line->value = joined;
    if (arity == CMDLINE_FLAG && joined != nullptr) {
        cmdline_fail(line, "%s takes no value", line->name);
        return CMDLINE_BAD;
    }
    if (arity == CMDLINE_VALUE && joined == nullptr) {
        if (line->next >= line->argc) {
            cmdline_fail(line, "%s needs a value", line->name);
            return CMDLINE_BAD;
        }
        line->value = line->argv[line->next++];
    }
    return CMDLINE_OPTION;
}

const char* cmdline_peek_value(const Cmdline* line)
{
    if (line->next >= line->argc || line->argv[line->next][0] == '-') return nullptr;
    return line->argv[line->next];
}

CmdlineRead cmdline_next_option(Cmdline* line)
{
    CmdlineRead read = cmdline_next(line);
    if (read != CMDLINE_OPERAND) return read;
    cmdline_fail(line, "unexpected argument \"%s\"", line->value);
    return CMDLINE_BAD;
}

const char* cmdline_next_value(Cmdline* line)
{
    const char* value = cmdline_peek_value(line);
    if (value != nullptr) line->at = line->next++;
    return value;
}

bool cmdline_number(Cmdline* line, const char* text, const char* what, long low, long high, long* value)
{
    long number = 0;
    if (plain_number(text, &number) && number >= low && number <= high) {
        *value = number;
        return true;
    }
    return cmdline_fail(line, "%s must be %s from %ld to %ld, not \"%s\"", line->name, what, low, high, text);
}

bool cmdline_decimal(Cmdline* line, const char* text, const char* what, double low, double high, double* value)
{
    double number = 0;
    if (plain_decimal(text, &number) && number >= low && number <= high) {
        *value = number;
        return true;
    }
    return cmdline_fail(line, "%s must be %s from %g to %g, not \"%s\"", line->name, what, low, high, text);
}

bool cmdline_decimals(Cmdline* line, const char* text, const char* what, double low, double high, double* values,
                      int most, int* count)
{
    *count = 0;
    bool good = true;
    for (const char* at = text; good; ++at) {
        bool negative = low < 0 && *at == '-';
        size_t length = strcspn(at += negative, ",");
        char item[CMDLINE_NAME_SIZE];
        double number = 0;
        good = *count < most && length < sizeof item;
        if (good) snprintf(item, sizeof item, "%.*s", static_cast<int>(length), at);
        good = good && plain_decimal(item, &number);
        if (negative) number = -number;
        good = good && number >= low && number <= high;
        if (good) values[(*count)++] = number;
        at += length;
        if (*at == 0) break;
    }
    if (good) return true;
    return cmdline_fail(line, "%s must be 1 to %d %s from %g to %g apart by commas, not \"%s\"", line->name, most,
                        what, low, high, text);
}

bool cmdline_one_of(Cmdline* line, const char* text, const long* allowed, int count, long* value)
{
    long number = 0;
    for (int i = 0; i < count && plain_number(text, &number); ++i) {
        if (number == allowed[i]) {
            *value = number;
            return true;
        }
    }
    size_t length = 0;
    line->message[0] = 0;
    add(line, &length, line->name);
    add(line, &length, " must be one of ");
    for (int i = 0; i < count; ++i) {
        char number_text[24];
        snprintf(number_text, sizeof number_text, "%ld%s", allowed[i],
                 i + 2 < count ? ", " : i + 2 == count ? " or " : "");
        add(line, &length, number_text);
    }
    add(line, &length, ", not \"");
    add(line, &length, text);
    add(line, &length, "\"");
    return false;
}

bool cmdline_refuse(Cmdline* line, const char* allowed, const char* text)
{
    return cmdline_fail(line, "%s must be %s, not \"%s\"", line->name, allowed, text);
}

bool cmdline_fail(Cmdline* line, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    vsnprintf(line->message, sizeof line->message, format, values);
    va_end(values);
    return false;
}

int cmdline_complain(FILE* err, const char* program, const char* message, const char* help)
{
    // What was typed comes back in the message: its control characters shown as '?', so an
    // argument cannot drive the terminal.
    char shown[CMDLINE_MESSAGE_SIZE];
    snprintf(shown, sizeof shown, "%s", message);
    for (char* c = shown; *c != 0; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
    }
    // The usage lines: the first, and those after it that are indented.
    const char* end = help;
    do {
        const char* line_end = strchr(end, '\n');
        end = line_end == nullptr ? end + strlen(end) : line_end + 1;
    } while (*end == ' ');
    fprintf(err, "%s: %s\n%.*sTry '%s --help' for more information.\n", program, shown,
            static_cast<int>(end - help), help, program);
    return CMDLINE_BAD_STATUS;
}
