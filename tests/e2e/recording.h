// Recordings for the end-to-end tests of the data file and its readers: a
// run of the store-on program until the head closes, and records made here.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "store/record.h"
#include "tests/e2e/harness.h"

namespace e2e {

// A run with no terminal that ends by itself when the head closes after `commands` replies.
inline void run_until_head_closes(const TempDir& dir, const std::string& address, int commands,
                                  ClientOptions options = {})
{
    write_settings(dir, address, "Range=40\nGain=7\n");
    HeadSim head(address, {"--once", "--fault", "close@" + std::to_string(commands + 1)});
    ASSERT_TRUE(head.ready());
    options.with_terminal = false;
    if (options.program == PROGRAM) options.program = PROGRAM_STORE_ON;
    Client client(dir.path(), options);
    ExitInfo exit = client.wait_exit(10000);
    ASSERT_TRUE(exit.ended);
    EXPECT_EQ(1, exit.status) << "signal " << exit.signal;
}

// One well-formed record of a ping recorded at 10:00:00 plus hundredths, with the data bytes given or all 0.
inline std::string make_record(const char* hundredths, int interval_ms, const uint8_t* samples = nullptr)
{
    uint8_t image[PING_IMAGE_SIZE] = {'I', 'U', 'X', 0, 0, 7};
    image[PING_IMAGE_END] = RETURN_END_BYTE;
    if (samples != nullptr) memcpy(image + PING_IMAGE_SAMPLES, samples, PING_SAMPLE_COUNT);
    RecordFields fields = {"08-DEC-2026", "10:00:00", hundredths, 3, 180, interval_ms, image};
    uint8_t record[RECORD_SIZE];
    record_build(record, &fields);
    return std::string(reinterpret_cast<const char*>(record), RECORD_SIZE);
}

}  // namespace e2e
