// Making BlockAllocate and ThreadStart fail on demand in the search tests.
#include "fault_injection.h"

#include <atomic>
#include <cstddef>

#include "platform/system.h"

namespace {
std::atomic<int32_t> failSize{0};
std::atomic<int32_t> failCountdown{0};
std::atomic<bool> failThreadStart{false};
}  // namespace

void FailAllocation(int32_t size, int32_t count) {
    failCountdown = count;
    failSize = size;
}
void FailNextThreadStart() { failThreadStart = true; }
void DisarmFailures() {
    failSize = 0;
    failCountdown = 0;
    failThreadStart = false;
}

// The linker's names for BlockAllocate(int32_t) and ThreadStart(ThreadProcedure, void*).
extern "C" void* __real__Z13BlockAllocatei(int32_t size);
extern "C" void* __wrap__Z13BlockAllocatei(int32_t size) {
    if (size == failSize.load() && failCountdown.fetch_sub(1) == 1) {
        failSize = 0;
        return nullptr;
    }
    return __real__Z13BlockAllocatei(size);
}

extern "C" int32_t __real__Z11ThreadStartPFvPvES_(ThreadProcedure procedure, void* argument);
extern "C" int32_t __wrap__Z11ThreadStartPFvPvES_(ThreadProcedure procedure, void* argument) {
    if (failThreadStart.exchange(false)) return 0;
    return __real__Z11ThreadStartPFvPvES_(procedure, argument);
}
