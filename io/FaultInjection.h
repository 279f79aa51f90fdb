// A seam for tests: makes the Nth call of one kind of file operation fail
// with a chosen OS error, so that every way a write can fail is tried.
// Nothing in the program sets it; every file operation of io/ asks it.
#pragma once

#include <optional>

namespace tamrel {

enum class IoOperation { Open, Write, Sync, Rename, Remove, Close };

struct IoFault {
    IoOperation operation = IoOperation::Write;
    int nth = 1;  // the first call counted after the fault is set is 1
    int error = 0;
};

// Sets (or with nothing, clears) the fault and restarts the counts.
void SetIoFault(std::optional<IoFault> fault);
// How many calls of that kind were made since the fault was last set.
int IoCallCount(IoOperation operation);
// Counts a call; true (with errno set) when this call is to fail.
bool IoCallFails(IoOperation operation);

}  // namespace tamrel
