// A seam for tests: makes the Nth call of one kind of file operation fail
// with a chosen OS error (or run a chosen step just before it, such as
// swapping a folder away), so that every way a command can be interrupted is
// tried. Nothing in the program sets it; every file operation of io/ asks it.
//
// One thread only: the program does all its file work on one thread (the
// window's included), and the fault and the counts are plain globals that
// nothing guards. File work on a second thread would race on them: make the
// counts atomic and the fault per thread before adding any.
#pragma once

#include <functional>
#include <optional>

namespace tamrel {

enum class IoOperation {
    Open,
    Write,
    Sync,
    Rename,
    Remove,
    Close,
    Read,
    Truncate,
    Mkdir,
    OpenFolder
};
inline constexpr int kIoOperations = 10;

struct IoFault {
    IoOperation operation = IoOperation::Write;
    int nth = 1;  // the first call counted after the fault is set is 1
    int error = 0;
    // When set, runs at that call instead of making it fail (error is then ignored).
    std::function<void()> before;
};

// Sets (or with nothing, clears) the fault and restarts the counts.
void SetIoFault(std::optional<IoFault> fault);
// How many calls of that kind were made since the fault was last set.
int IoCallCount(IoOperation operation);
// Counts a call; true (with errno set) when this call is to fail.
bool IoCallFails(IoOperation operation);

}  // namespace tamrel
