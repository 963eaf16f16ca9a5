// The keys that end a tool, shared by both terminal backends: pure byte work,
// no system calls.
#include "platform/terminal.h"

namespace {

const uint8_t ESCAPE = 0x1B;
const uint8_t CTRL_C = 0x03;

// An escape sequence's final byte: a letter, '~' or another of 0x40 to 0x7E.
bool ends_sequence(uint8_t byte) { return byte >= 0x40 && byte <= 0x7E; }

}  // namespace

bool plat_terminal_keys_quit(const uint8_t* keys, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        uint8_t key = keys[i];
        if (key == 'q' || key == 'Q' || key == CTRL_C) return true;
        if (key != ESCAPE) continue;
        if (i + 1 == count) return true;
        uint8_t introducer = keys[++i];
        if (introducer != '[' && introducer != 'O') continue;  // Alt and a key
        while (i + 1 < count && !ends_sequence(keys[i + 1])) ++i;
        ++i;  // the sequence's final byte
    }
    return false;
}
