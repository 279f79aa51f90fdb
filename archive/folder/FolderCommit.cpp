#include "archive/folder/FolderCommit.h"

#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "io/CommitRecord.h"
#include "io/Path.h"

namespace tamrel {

std::vector<std::string> CommitTargetsOf(const std::string& folder) {
    const PackNames names = PackNamesFor(folder);
    return {"../" + names.newArchiveName, "../" + names.newBankName, names.bankImageName,
            names.tableFileName};
}

std::string FolderInUseText(const std::string& folder) {
    return folder + " is in use by another command of this program.";
}

namespace {

// Opens and locks the folder and its parent; nothing when another command
// has it.
std::optional<TakenFolder> OpenAndLock(const std::string& path) {
    Folder folder(path);
    if (!folder.IsOpen())
        throw IoError(folder.OpenError(), "Cannot open the folder " + path);
    int error = 0;
    const LockResult locked = LockFolder(folder, error);
    if (locked == LockResult::InUse)
        return std::nullopt;
    if (locked == LockResult::Failed)
        throw IoError(error, "Cannot lock the folder " + path);
    const std::string parentPath = PackNamesFor(path).parentFolder;
    Folder parent(parentPath);
    if (!parent.IsOpen())
        throw IoError(parent.OpenError(), "Cannot open the folder " + parentPath);
    return TakenFolder(std::move(folder), std::move(parent));
}

}  // namespace

std::optional<TakenFolder> TakeFolder(const std::string& path, WindowServices& window,
                                      const LeftoverFilter& ours,
                                      const LeftoverFilter& oursBeside) {
    std::optional<TakenFolder> taken = OpenAndLock(path);
    if (taken) {
        const std::string command =
            CompleteCommitRecord(taken->Work(), taken->Parent(), CommitTargetsOf(path));
        if (!command.empty()) {
            // Said with the folder let go, then taken again.
            taken->Release();
            window.Notice("An interrupted " + command + " of " + path + " was completed.");
            taken = OpenAndLock(path);
            if (taken)
                CompleteCommitRecord(taken->Work(), taken->Parent(), CommitTargetsOf(path));
        }
    }
    if (!taken) {
        window.WarningBox(FolderInUseText(path), "Error");
        return std::nullopt;
    }
    // The record's own temporary file is every writing command's leftover.
    RemoveLeftoverTemporaries(taken->Work(), [&ours](const std::string& target) {
        return target == kCommitRecordName || (ours && ours(target));
    });
    if (oursBeside)
        RemoveLeftoverTemporaries(taken->Parent(), oursBeside);
    return taken;
}

void NotePendingCommit(const std::string& folder, WindowServices& window) {
    const Folder opened(folder);
    if (opened.IsOpen())
        NotePendingCommit(opened, window);
}

void NotePendingCommit(const Folder& folder, WindowServices& window) {
    if (const std::string command = PendingCommand(folder); !command.empty())
        window.Notice("An interrupted " + command + " of " + folder.Path() +
                      " is pending; the next command that writes the folder completes it.");
}

}  // namespace tamrel
