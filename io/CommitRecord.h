// Replacing several files as one step that a crash cannot split: every
// temporary file is complete and synced first, then a commit record that
// names them is written, then they are renamed, then the record is removed.
// A command that finds a record completes it, so each target is wholly old or
// wholly new, and the set of them too once the record is completed.
#pragma once

#include <string>
#include <vector>

#include "io/FileIo.h"

namespace tamrel {

// The record's name in the folder that it belongs to.
inline constexpr const char* kCommitRecordName = ".tamrel-commit";

struct CommitItem {
    ReplacingFileWriter* file;
    // Where the target lies, relative to the record's folder: "" for the
    // folder itself, "../" for the folder that holds it.
    std::string relativeFolder;
};

// Commits the files, written but not yet finished, as one step; the record
// lives in folder. A failure before the record leaves every target as it was
// and no temporary file; a failure after it leaves the record for the next
// command to complete.
// command names the command in the record ("Pack"), for the message of the
// one that completes it.
void CommitTogether(const std::string& folder, const std::vector<CommitItem>& items,
                    const std::string& command);

// True when folder holds a commit record.
bool HasCommitRecord(const std::string& folder);

// A commit record that does not name this folder's own files as the program
// writes them: it is not acted on.
class DamagedCommitRecordError : public std::runtime_error {
public:
    explicit DamagedCommitRecordError(const std::string& path);
};

// Completes the record in folder, if there is one: renames what is still
// pending and removes the record. Only targets in allowedTargets (relative
// to folder, as the record names them) are accepted. Returns the command
// that wrote the record, or empty when there was none.
std::string CompleteCommitRecord(const std::string& folder,
                                 const std::vector<std::string>& allowedTargets);

}  // namespace tamrel
