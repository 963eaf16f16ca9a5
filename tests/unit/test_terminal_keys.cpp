// The one rule of the keys that end a tool, over the bytes a terminal sends.
#include <gtest/gtest.h>

#include <string>

#include "platform/terminal.h"

TEST(TerminalKeys, QuitRule)
{
    struct Case {
        std::string keys;
        bool quits;
    };
    const Case cases[] = {
        {"q", true},        {"Q", true},          {"\x03", true},      {"\x1b", true},       {"x", false},
        {"\x1b[A", false},  {"\x1bOP", false},    {"\x1b[15~", false}, {"\x1bx", false},     {"\x1b[A\x1b", true},
        {"\x1b[1;5Cq", true}, {"ab\x1b[B", false}, {"\x1b[", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.quits, plat_terminal_keys_quit(reinterpret_cast<const uint8_t*>(c.keys.data()), c.keys.size()))
            << testing::PrintToString(c.keys);
    }
}
