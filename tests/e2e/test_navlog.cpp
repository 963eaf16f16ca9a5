// navlog's scenario table on Linux: navlog run for real under a
// pseudo-terminal that the test holds, a serial line named by a link to a
// pseudo-terminal standing in for the receiver.
#include <gtest/gtest.h>

#include "tests/e2e/navlog_scenario.h"

using namespace e2e;

namespace {

std::string device_link(size_t, const std::string& directory, std::string* link)
{
    *link = directory + "/gnss0";
    return *link;
}

NavlogBuild linux_navlog()
{
    return {"linux", NAVLOG_LINUX, navlog_options({}), std::string("timeout 5 ") + NAVLOG, "/dev/null", 0, device_link};
}

class Navlog : public testing::TestWithParam<NavlogCase> {};

}  // namespace

TEST_P(Navlog, Row) { run_navlog_scenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Linux, Navlog, testing::ValuesIn(navlog_cases({linux_navlog()})), navlog_case_name);
