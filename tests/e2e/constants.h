// What the tests expect of the program, written down once: its file names,
// record layout and time limits, as a user or a reader of its files sees them.
#pragma once

#include <cstddef>

namespace e2e {

const char SETTINGS[] = "Halvex_StoreData.INI";  // in the working directory
const char SCREEN[] = "screen.txt";              // where a test redirects the program's output
const size_t RECORD = 8192;                       // one ping in a data file
const size_t TIME_FIELDS_START = 8;               // a record's date, time and hundredths texts
const size_t TIME_FIELDS_END = 32;
const size_t RECORD_GAIN_AT = 38;   // the gain in dB
const size_t RECORD_RANGE_AT = 44;  // the range's code
const size_t RECORD_IMAGE_AT = 100;  // the ping image, from packet 7's header
const int SILENCE_LIMIT_MS = 10000;  // a head silent this long fails the receive
const int PACKET_LIMIT_MS = 30000;   // so does a packet not whole this long after its command
const int PORT = 4040;
const char PROMPT[] = "Press any key to exit.";

}  // namespace e2e
