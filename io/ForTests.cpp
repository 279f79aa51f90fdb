// For tests and benchmarks only: conveniences the programs do not need,
// kept out of them. They are linked from tamrel_io_for_tests, which no
// program links, so a program that calls one fails to link.
#include "io/FileIo.h"

namespace tamrel {

LockResult FolderLock::TryLock(const std::string& path) {
    folder_ = Folder(path);
    if (!folder_.IsOpen())
        return LockResult::Failed;
    int error = 0;
    const LockResult result = LockFolder(folder_, error);
    if (result != LockResult::Locked)
        folder_ = Folder();
    return result;
}

}  // namespace tamrel
