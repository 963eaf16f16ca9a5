// The scenario table on both Linux builds, the program run under a
// pseudo-terminal that the test holds.
#include <gtest/gtest.h>

#include "tests/e2e/scenario.h"

using namespace e2e;

namespace {

ClientOptions linux_program(const char* program)
{
    ClientOptions start;
    start.program = program;
    return start;
}

const int HOLD_PASS_17_MS = 1500;

class Scenarios : public testing::TestWithParam<ScenarioCase> {};

}  // namespace

TEST_P(Scenarios, Row) { run_scenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Linux, Scenarios,
                         testing::ValuesIn(scenario_cases({
                             {"store_off", LINUX_STORE_OFF, linux_program(PROGRAM), HOLD_PASS_17_MS},
                             {"store_on", LINUX_STORE_ON, linux_program(PROGRAM_STORE_ON), HOLD_PASS_17_MS},
                         })),
                         scenario_case_name);
