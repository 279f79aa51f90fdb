#include "io/FaultInjection.h"

#include <array>
#include <cerrno>

namespace tamrel {

namespace {
// The commands run on one thread; the seam is only ever set by tests.
std::optional<IoFault> gFault;
std::array<int, 6> gCounts{};
}  // namespace

void SetIoFault(std::optional<IoFault> fault) {
    gFault = fault;
    gCounts.fill(0);
}

int IoCallCount(IoOperation operation) {
    return gCounts[static_cast<std::size_t>(operation)];
}

bool IoCallFails(IoOperation operation) {
    const int count = ++gCounts[static_cast<std::size_t>(operation)];
    if (gFault && gFault->operation == operation && gFault->nth == count) {
        errno = gFault->error;
        return true;
    }
    return false;
}

}  // namespace tamrel
