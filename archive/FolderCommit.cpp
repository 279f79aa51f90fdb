#include "archive/FolderCommit.h"

#include "archive/Path.h"
#include "archive/WindowServices.h"
#include "io/CommitRecord.h"

namespace tamrel {

std::vector<std::string> CommitTargetsOf(const std::string& folder) {
    const std::string name = FileNamePart(folder);
    return {"../" + name + ".ast", "../" + name + ".abk", name + ".ida", name + ".tba"};
}

std::string FolderInUseText(const std::string& folder) {
    return folder + " is in use by another command of this program.";
}

void CompleteInterruptedCommit(const std::string& folder, WindowServices& window) {
    const std::string command = CompleteCommitRecord(folder, CommitTargetsOf(folder));
    if (!command.empty())
        window.Notice("An interrupted " + command + " of " + folder + " was completed.");
}

void NotePendingCommit(const std::string& folder, WindowServices& window) {
    if (IsExistingFolder(folder) && HasCommitRecord(folder))
        window.Notice("An interrupted Pack of " + folder +
                      " is pending; the next Pack completes it.");
}

}  // namespace tamrel
