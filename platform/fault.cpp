// Fault hooks: counters the backends consult right beside their system calls,
// so a test can make the nth send, receive, write or rename fail.
#include "platform/platform.h"

namespace {

struct Fault {
    int countdown;  // 0: disarmed
    PlatResult result;
};

Fault faults[PLAT_FAULT_COUNT];

}  // namespace

void plat_fault_arm(PlatFaultPoint point, int nth, PlatResult result)
{
    faults[point].countdown = nth;
    faults[point].result = result;
}

bool plat_fault_fires(PlatFaultPoint point, PlatResult* result)
{
    Fault& fault = faults[point];
    if (fault.countdown == 0 || --fault.countdown != 0) return false;
    *result = fault.result;
    return true;
}
