// The tools' command lines, read one way. As GNU tools take them, options
// and operands (the files) come in any order, "--" ends the options (all
// after it are operands) and "-" alone is an operand; an option's value is
// the next argument ("--png OUT") or follows '=' ("--png=OUT"). Each tool
// lists its options in a table; the walk names what it met, and the checks
// of values name the values allowed.
//
// One style for every tool:
//   help:   "usage: PROG SYNOPSIS", further synopsis lines indented under
//           PROG, then what it does, then the options, each indented.
//   errors: "PROG: MESSAGE", the help's usage lines, and
//           "Try 'PROG --help' for more information."; exit status 2.
//   messages: unknown option "--x" / --x needs a value / --x takes no value /
//           --x must be ALLOWED, not "VALUE" / --x needs --y / --x goes with --y.
#pragma once

#include <cstdio>

constexpr int CMDLINE_MESSAGE_SIZE = 512;
constexpr int CMDLINE_NAME_SIZE = 64;
constexpr int CMDLINE_BAD_STATUS = 2;  // a bad command line's exit status

enum CmdlineArity {
    CMDLINE_FLAG,    // no value
    CMDLINE_VALUE,   // one value
    CMDLINE_VALUES,  // one or more: the first as a value, the rest taken by the tool (cmdline_next_value)
};

struct CmdlineOption {
    int id;              // the tool's own; spellings of one option share it ("--help", "-h")
    const char* name;
    CmdlineArity arity;
};

struct Cmdline {
    int argc;
    const char* const* argv;
    const CmdlineOption* options;
    int option_count;
    int next;                       // the argument read next
    bool options_ended;             // "--" came
    const CmdlineOption* option;    // the option read
    char name[CMDLINE_NAME_SIZE];   // as given, without its "=VALUE"
    const char* value;              // the option's value (null for none), or the operand
    int at;                         // the index in argv of what was read
    char message[CMDLINE_MESSAGE_SIZE];  // why, after CMDLINE_BAD or a check that failed
};

enum CmdlineRead { CMDLINE_END, CMDLINE_OPTION, CMDLINE_OPERAND, CMDLINE_BAD };

void cmdline_begin(Cmdline* line, int argc, const char* const* argv, const CmdlineOption* options, int count);
// Reads the next option with its value, or operand. CMDLINE_BAD: an unknown
// option, a value missing or one given to a flag.
CmdlineRead cmdline_next(Cmdline* line);
// The same for a tool that takes no operands: one is CMDLINE_BAD, "unexpected argument "X"".
CmdlineRead cmdline_next_option(Cmdline* line);
// For an option of CMDLINE_VALUES: takes the next argument as its next value
// when it is neither an option nor "--"; null, taking nothing, otherwise.
const char* cmdline_next_value(Cmdline* line);
// Looks at that argument without taking it.
const char* cmdline_peek_value(const Cmdline* line);

// The checks of a value of the option read. Each is false, with the message
// "--x must be ALLOWED, not "TEXT"", when the text is not such.
// Plain digits making a number from low to high; what: "a number", "a port".
bool cmdline_number(Cmdline* line, const char* text, const char* what, long low, long high, long* value);
// Digits with a decimal point or none ("2.5"), from low to high; what: "metres".
bool cmdline_decimal(Cmdline* line, const char* text, const char* what, double low, double high, double* value);
// 1 to most such numbers apart by commas ("2,5,10"), each with a minus sign where low is below 0; what: "depths
// in metres".
bool cmdline_decimals(Cmdline* line, const char* text, const char* what, double low, double high, double* values,
                      int most, int* count);
// One of the numbers allowed, listed in the message.
bool cmdline_one_of(Cmdline* line, const char* text, const long* allowed, int count, long* value);
// The message for a value a tool's own check refuses.
bool cmdline_refuse(Cmdline* line, const char* allowed, const char* text);
// Any other message ("--samples needs --csv"), printf-formatted: false.
bool cmdline_fail(Cmdline* line, const char* format, ...) __attribute__((format(printf, 2, 3)));

// To err: "PROGRAM: MESSAGE", help's usage lines, and where more is said.
// Returns CMDLINE_BAD_STATUS.
int cmdline_complain(FILE* err, const char* program, const char* message, const char* help);
