#include "io/FaultInjection.h"

#include <array>
#include <cerrno>

namespace tamrel {

namespace {
// One thread only, as the header says; only tests set the fault.
std::optional<IoFault> gFault;
std::array<int, kIoOperations> gCounts{};
}  // namespace

void SetIoFault(std::optional<IoFault> fault) {
    gFault = std::move(fault);
    gCounts.fill(0);
}

int IoCallCount(IoOperation operation) {
    return gCounts[static_cast<std::size_t>(operation)];
}

bool IoCallFails(IoOperation operation) {
    const int count = ++gCounts[static_cast<std::size_t>(operation)];
    if (!gFault || gFault->operation != operation || gFault->nth != count)
        return false;
    if (gFault->before) {
        // Once only, and without the fault itself, in case the step does file work.
        const std::function<void()> step = std::move(gFault->before);
        gFault.reset();
        step();
        return false;
    }
    errno = gFault->error;
    return true;
}

}  // namespace tamrel
