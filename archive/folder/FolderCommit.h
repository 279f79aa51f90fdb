// The one way a command takes a work folder that it writes: open it once by
// the path as given (and its parent beside it), lock it, complete a write
// that a crash interrupted, and remove what a killed run of the command left
// behind. Everything the command then does in the folder goes through the
// descriptors opened here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/FileIo.h"

namespace tamrel {

class WindowServices;

// The files a commit record of the folder may name, relative to the folder:
// its table file and bank image, and the new pair beside it.
std::vector<std::string> CommitTargetsOf(const std::string& folder);

// "FOLDER is in use by another command of this program."
std::string FolderInUseText(const std::string& folder);

// Accepts the names of the targets whose leftover temporary files are the
// command's own.
using LeftoverFilter = std::function<bool(const std::string& target)>;

// A work folder taken by a command, locked while the object holds it.
class TakenFolder {
public:
    TakenFolder(Folder folder, Folder parent)
        : folder_(std::move(folder)), parent_(std::move(parent)) {}

    const Folder& Work() const { return folder_; }
    const Folder& Parent() const { return parent_; }
    const std::string& Path() const { return folder_.Path(); }
    // Lets the folder go: before any box or dialog waits for the user.
    void Release() {
        folder_ = Folder();
        parent_ = Folder();
    }

private:
    Folder folder_, parent_;
};

// Takes the folder at path: nothing when another command has it (the box
// said so). Leftovers are removed where ours (in the folder) and oursBeside
// (in its parent) accept them. A completed commit is said after the lock was
// let go and taken again, so that no box waits while the folder is locked.
// Throws IoError with the cause when the folder or its parent cannot be
// opened or locked, DamagedCommitRecordError or CommitElsewhereError when an
// interrupted commit cannot be completed.
std::optional<TakenFolder> TakeFolder(const std::string& path, WindowServices& window,
                                      const LeftoverFilter& ours,
                                      const LeftoverFilter& oursBeside = {});

// For the commands that only read: says that an interrupted commit is
// pending in folder, if one is; nothing is written.
void NotePendingCommit(const std::string& folder, WindowServices& window);
// The same for a folder the command has opened.
void NotePendingCommit(const Folder& folder, WindowServices& window);

}  // namespace tamrel
