// Replacing several files as one step that a crash cannot split: every
// temporary file is complete and synced first, then a commit record that
// names them is written, then they are renamed, then the record is removed.
// A command that finds a record completes it, so each target is wholly old or
// wholly new, and the set of them too once the record is completed.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "io/FileIo.h"

namespace tamrel {

// The record's name in the folder that it belongs to.
inline constexpr const char* kCommitRecordName = ".tamrel-commit";

struct CommitItem {
    ReplacingFileWriter* file;
    // Where the target lies, relative to the record's folder: "" for the
    // folder itself, "../" for the folder that holds it (the parent of the
    // folder's path as the command was given it).
    std::string relativeFolder;
};

// Commits the files, written but not yet finished, as one step; the record
// lives in folder, and "../" means parent. A failure before the record
// leaves every target as it was and no temporary file; a failure after it
// leaves the record for the next command to complete.
// command names the command in the record ("Pack"), for the message of the
// one that completes it.
void CommitTogether(const Folder& folder, const Folder& parent,
                    const std::vector<CommitItem>& items, const std::string& command);

// True when the folder holds a commit record (or anything of its name).
bool HasCommitRecord(const Folder& folder);
// The command that wrote the folder's pending record ("Pack", "Unpack"), or
// "command" when the record does not say; empty when there is none.
std::string PendingCommand(const Folder& folder);

// A commit record that does not name this folder's own files as the program
// writes them, or that is no plain file: it is not acted on.
class DamagedCommitRecordError : public InputError {
public:
    explicit DamagedCommitRecordError(const std::string& path);
};

// A record written while the folder was reached by another path (a link, or
// the folder a link leads to), whose files beside the folder are not beside
// it by this path: it is left for a command given that path.
class CommitElsewhereError : public InputError {
public:
    CommitElsewhereError(const std::string& command, const std::string& folder);
};

// Completes the record in folder, if there is one: renames what is still
// pending and removes the record. Only targets in allowedTargets (relative
// to folder, as the record names them) are accepted. Returns the command
// that wrote the record, or empty when there was none.
std::string CompleteCommitRecord(const Folder& folder, const Folder& parent,
                                 const std::vector<std::string>& allowedTargets);

}  // namespace tamrel
