#include "io/CommitRecord.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sstream>

namespace tamrel {

namespace {

constexpr std::string_view kHeader = "tamrel commit record 1";
constexpr std::string_view kBy = "by ";
// Which folder "../" was when the record was written: a command that reaches
// the folder by another path finds another parent, and must not take the
// absence of a temporary file there for a rename already done.
constexpr std::string_view kParent = "parent ";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kUp = "../";

struct Entry {
    std::string temporary;  // relative to the record's folder
    std::string target;
};

struct Record {
    std::string command;
    std::optional<FileIdentity> parent;
    std::vector<Entry> entries;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The relative folder part of a record path ("" or "../") and its name.
std::pair<std::string, std::string> Split(const std::string& relative) {
    const auto slash = relative.find_last_of('/');
    if (slash == std::string::npos)
        return {"", relative};
    return {relative.substr(0, slash + 1), relative.substr(slash + 1)};
}

std::string IdentityText(const FileIdentity& identity) {
    return std::to_string(identity.device) + " " + std::to_string(identity.inode);
}

std::optional<FileIdentity> ParseIdentity(const std::string& text) {
    std::istringstream in(text);
    FileIdentity identity;
    if (!(in >> identity.device >> identity.inode) || !in.eof())
        return std::nullopt;
    return identity;
}

// Reads and checks the record; nothing when the folder has none.
std::optional<Record> ReadRecord(const Folder& folder,
                                 const std::vector<std::string>& allowedTargets) {
    const std::string path = folder.PathOf(kCommitRecordName);
    // A link at the record's name is damage, never followed elsewhere.
    InputFile file(folder, kCommitRecordName, /*noFollow=*/true);
    if (!file.IsOpen()) {
        if (file.OpenError() == ENOENT)
            return std::nullopt;
        if (file.OpenError() == ELOOP || file.OpenError() == EISDIR || file.OpenError() == ENODEV)
            throw DamagedCommitRecordError(path);
        throw IoError(file.OpenError(), "Cannot open file " + path);
    }
    const std::vector<std::string> lines = Lines(file.ReadAll());
    if (lines.size() < 3 || lines[0] != kHeader || lines[1].rfind(kBy, 0) != 0 ||
        lines.back() != kEnd)
        throw DamagedCommitRecordError(path);
    Record record;
    record.command = lines[1].substr(kBy.size());
    if (record.command.empty())
        throw DamagedCommitRecordError(path);
    std::size_t first = 2;
    if (lines[2].rfind(kParent, 0) == 0) {
        record.parent = ParseIdentity(lines[2].substr(kParent.size()));
        if (!record.parent)
            throw DamagedCommitRecordError(path);
        first = 3;
    }
    for (std::size_t i = first; i + 1 < lines.size(); ++i) {
        const auto tab = lines[i].find('\t');
        if (tab == std::string::npos)
            throw DamagedCommitRecordError(path);
        Entry entry{lines[i].substr(0, tab), lines[i].substr(tab + 1)};
        // Only this folder's own targets, each from a temporary file of its
        // own beside it: a record from elsewhere can move nothing else.
        const auto [targetFolder, targetName] = Split(entry.target);
        const auto [tempFolder, tempName] = Split(entry.temporary);
        if (std::find(allowedTargets.begin(), allowedTargets.end(), entry.target) ==
                allowedTargets.end() ||
            tempFolder != targetFolder || TargetOfTemporary(tempName) != targetName)
            throw DamagedCommitRecordError(path);
        record.entries.push_back(std::move(entry));
    }
    return record;
}

void RemoveRecord(const Folder& folder) {
    RemoveAt(folder, kCommitRecordName);
    folder.Sync();
}

}  // namespace

DamagedCommitRecordError::DamagedCommitRecordError(const std::string& path)
    : InputError("The commit record " + path +
                 " does not describe files of this folder; remove it to go on.") {}

CommitElsewhereError::CommitElsewhereError(const std::string& command, const std::string& folder)
    : InputError("An interrupted " + command + " of " + folder +
                 " wrote its files beside the folder by another path to it (a "
                 "symbolic link, or the folder such a link leads to), and they are not "
                 "beside " +
                 folder +
                 ". Give the command that path to complete it; "
                 "nothing was changed.") {}

void CommitTogether(const Folder& folder, const Folder& parent,
                    const std::vector<CommitItem>& items, const std::string& command) {
    for (const CommitItem& item : items)
        item.file->Finish();
    std::string text = std::string(kHeader) + "\n" + std::string(kBy) + command + "\n" +
                       std::string(kParent) + IdentityText(parent.Identity()) + "\n";
    for (const CommitItem& item : items)
        text += item.relativeFolder + item.file->TemporaryName() + "\t" + item.relativeFolder +
                item.file->TargetName() + "\n";
    text += std::string(kEnd) + "\n";

    ReplacingFileWriter record(folder, kCommitRecordName);
    record.Write(text);
    try {
        record.Commit();
    } catch (...) {
        // The record may be in place with its folder unsynced: without it
        // the targets stay old, and the writers remove their files.
        try {
            RemoveAt(folder, kCommitRecordName);
        } catch (const IoError&) {
            // The first failure is the one to report.
        }
        throw;
    }
    // From here the record owns the temporary files: a failure leaves them
    // for the next command, which completes the renames.
    for (const CommitItem& item : items)
        item.file->HandOver();
    for (const CommitItem& item : items)
        item.file->RenameIntoPlace();
    const bool up = std::any_of(items.begin(), items.end(),
                                [](const CommitItem& item) { return item.relativeFolder == kUp; });
    if (up)
        parent.Sync();
    folder.Sync();
    RemoveRecord(folder);
}

bool HasCommitRecord(const Folder& folder) {
    return StatusAt(folder, kCommitRecordName, false).kind != NameStatus::Kind::Missing;
}

std::string PendingCommand(const Folder& folder) {
    if (!HasCommitRecord(folder))
        return {};
    InputFile file(folder, kCommitRecordName, true);
    if (!file.IsOpen() || file.RawSize() > 4096)
        return "command";
    const std::vector<std::string> lines = Lines(file.ReadAll());
    if (lines.size() >= 2 && lines[0] == kHeader && lines[1].rfind(kBy, 0) == 0 &&
        lines[1].size() > kBy.size())
        return lines[1].substr(kBy.size());
    return "command";
}

std::string CompleteCommitRecord(const Folder& folder, const Folder& parent,
                                 const std::vector<std::string>& allowedTargets) {
    const std::optional<Record> record = ReadRecord(folder, allowedTargets);
    if (!record)
        return {};
    // By this path, "../" may be another folder than the writer's: there, a
    // temporary file that is not found may still wait beside the other one.
    const bool sameParent = !record->parent || *record->parent == parent.Identity();
    std::vector<const Entry*> pending;
    bool up = false;
    for (const Entry& entry : record->entries) {
        const auto [relative, name] = Split(entry.temporary);
        const Folder& where = relative == kUp ? parent : folder;
        up = up || relative == kUp;
        const NameStatus status = StatusAt(where, name, false);
        if (status.kind == NameStatus::Kind::File)
            pending.push_back(&entry);
        else if (relative == kUp && !sameParent)
            throw CommitElsewhereError(record->command, folder.Path());
        // Otherwise a temporary file that is gone was renamed before the interruption.
    }
    for (const Entry* entry : pending) {
        const auto [relative, temporary] = Split(entry->temporary);
        const Folder& where = relative == kUp ? parent : folder;
        RenameAt(where, temporary, Split(entry->target).second);
    }
    if (up)
        parent.Sync();
    folder.Sync();
    RemoveRecord(folder);
    return record->command;
}

}  // namespace tamrel
