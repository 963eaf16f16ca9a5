// The tools' command-line convention: options among the files, "--", values
// joined by '=', and messages that name what is allowed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/cmdline.h"

namespace {

const CmdlineOption OPTIONS[] = {
    {1, "--png", CMDLINE_VALUE}, {2, "--csv", CMDLINE_FLAG}, {3, "-h", CMDLINE_FLAG}, {4, "--nav", CMDLINE_VALUES},
};

// What the walk reads, one "kind what;" an argument, up to its end or the first refusal.
std::string walk(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "tool");
    Cmdline line;
    cmdline_begin(&line, static_cast<int>(arguments.size()), arguments.data(), OPTIONS, 4);
    std::string seen;
    for (CmdlineRead read = cmdline_next(&line); read != CMDLINE_END; read = cmdline_next(&line)) {
        if (read == CMDLINE_BAD) return seen + "bad " + line.message + ";";
        if (read == CMDLINE_OPERAND) {
            seen += std::string("operand ") + line.value + ";";
            continue;
        }
        seen += std::string("option ") + line.name + (line.value ? std::string("=") + line.value : "");
        while (const char* more = line.option->arity == CMDLINE_VALUES ? cmdline_next_value(&line) : nullptr) {
            seen += std::string(",") + more;
        }
        seen += ";";
    }
    return seen;
}

}  // namespace

TEST(Cmdline, OptionsAmongTheFiles)
{
    struct {
        std::vector<const char*> arguments;
        std::string seen;
    } cases[] = {
        {{"a.QKV", "--png", "out.png", "b.QKV"}, "operand a.QKV;option --png=out.png;operand b.QKV;"},
        {{"--csv", "--", "--png", "-", "--"}, "option --csv;operand --png;operand -;operand --;"},
        {{"-", "--png=x=y", "--png="}, "operand -;option --png=x=y;option --png=;"},
        {{"--png", "--csv"}, "option --png=--csv;"},
        {{"--nav", "a.NAV", "b.NAV", "--csv", "c"}, "option --nav,a.NAV,b.NAV;option --csv;operand c;"},
        {{"--nav=a.NAV", "b.NAV", "--", "c"}, "option --nav=a.NAV,b.NAV;operand c;"},
        {{"-h", "x", "--png"}, "option -h;operand x;bad --png needs a value;"},
        {{"--csv=yes"}, "bad --csv takes no value;"},
        {{"--pgn", "out.png"}, "bad unknown option \"--pgn\";"},
        {{"--pngx=1"}, "bad unknown option \"--pngx\";"},
        {{"-x"}, "bad unknown option \"-x\";"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.seen, walk(c.arguments));
}

TEST(Cmdline, ValuesNameWhatIsAllowed)
{
    const char* argv[] = {"tool", "--rate", "4"};
    const CmdlineOption rate[] = {{1, "--rate", CMDLINE_VALUE}};
    Cmdline line;
    cmdline_begin(&line, 3, argv, rate, 1);
    ASSERT_EQ(CMDLINE_OPTION, cmdline_next(&line));
    long value = 0;
    EXPECT_TRUE(cmdline_number(&line, "10", "a number", 1, 10, &value));
    EXPECT_EQ(10, value);
    for (const char* bad : {"0", "11", "-3", "+3", " 3", "3x", "", "99999999999999999999999"}) {
        EXPECT_FALSE(cmdline_number(&line, bad, "a number", 1, 10, &value)) << bad;
        EXPECT_EQ("--rate must be a number from 1 to 10, not \"" + std::string(bad) + "\"", line.message);
    }
    const long rates[] = {1200, 4800, 9600};
    EXPECT_TRUE(cmdline_one_of(&line, "4800", rates, 3, &value));
    EXPECT_EQ(4800, value);
    for (const char* bad : {"4801", "0", "-4800", "4800x", "", " 4800", "99999999999999999999999"}) {
        EXPECT_FALSE(cmdline_one_of(&line, bad, rates, 3, &value)) << bad;
        EXPECT_EQ("--rate must be one of 1200, 4800 or 9600, not \"" + std::string(bad) + "\"", line.message);
    }
}

// A refusal: the message, the help's usage lines (the first and those indented after it), and where more is.
TEST(Cmdline, Complaint)
{
    char said[256] = "";
    FILE* err = fmemopen(said, sizeof said - 1, "w");
    ASSERT_NE(nullptr, err);
    EXPECT_EQ(2, cmdline_complain(err, "tool", "--csv needs --png",
                                  "usage: tool A\n       tool B\nDoes things.\n  --csv  rows\n"));
    fclose(err);
    EXPECT_STREQ("tool: --csv needs --png\nusage: tool A\n       tool B\nTry 'tool --help' for more information.\n",
                 said);
}
