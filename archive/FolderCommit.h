// What every command that writes a work folder does first: take the
// folder's lock, complete a write that a crash interrupted, and remove what
// a killed run left behind.
#pragma once

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

// Completes an interrupted commit in folder, if there is one, and says so.
// The caller holds the folder's lock.
void CompleteInterruptedCommit(const std::string& folder, WindowServices& window);

// For the commands that only read: says that an interrupted commit is
// pending in folder, if one is; nothing is written.
void NotePendingCommit(const std::string& folder, WindowServices& window);

}  // namespace tamrel
