#include "io/CommitRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "io/FaultInjection.h"

namespace tamrel {

namespace {

constexpr std::string_view kHeader = "tamrel commit record 1";
constexpr std::string_view kBy = "by ";
constexpr std::string_view kEnd = "end";

std::string FileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

struct Entry {
    std::string temporary;  // relative to the record's folder
    std::string target;
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

void Rename(const std::string& from, const std::string& to) {
    if (IoCallFails(IoOperation::Rename) || ::rename(from.c_str(), to.c_str()) != 0)
        throw IoError(errno, "Cannot replace " + to);
}

void RemoveRecord(const std::string& folder) {
    const std::string path = folder + "/" + kCommitRecordName;
    if (IoCallFails(IoOperation::Remove) || (::unlink(path.c_str()) != 0 && errno != ENOENT))
        throw IoError(errno, "Cannot remove " + path);
    SyncFolder(folder);
}

// Renames every pending entry, syncs the folders involved, removes the record.
void Complete(const std::string& folder, const std::vector<Entry>& entries) {
    std::set<std::string> folders = {folder};
    for (const Entry& entry : entries) {
        const std::string temporary = folder + "/" + entry.temporary;
        const std::string target = folder + "/" + entry.target;
        folders.insert(folder + "/" + Split(entry.target).first);
        struct stat st {};
        // A temporary file that is gone was renamed before the interruption.
        if (::lstat(temporary.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        Rename(temporary, target);
    }
    for (const std::string& f : folders)
        SyncFolder(f);
    RemoveRecord(folder);
}

}  // namespace

DamagedCommitRecordError::DamagedCommitRecordError(const std::string& path)
    : std::runtime_error("The commit record " + path +
                         " does not describe files of this folder; remove it to go on.") {}

void CommitTogether(const std::string& folder, const std::vector<CommitItem>& items,
                    const std::string& command) {
    for (const CommitItem& item : items)
        item.file->Finish();
    std::string text = std::string(kHeader) + "\n" + std::string(kBy) + command + "\n";
    std::vector<Entry> entries;
    for (const CommitItem& item : items) {
        Entry entry{item.relativeFolder + FileNameOf(item.file->TemporaryPath()),
                    item.relativeFolder + FileNameOf(item.file->TargetPath())};
        text += entry.temporary + "\t" + entry.target + "\n";
        entries.push_back(std::move(entry));
    }
    text += std::string(kEnd) + "\n";

    ReplacingFileWriter record(folder + "/" + kCommitRecordName);
    record.Write(text);
    try {
        record.Commit();
    } catch (...) {
        // The record may be in place with its folder unsynced: without it
        // the targets stay old, and the writers remove their files.
        ::unlink((folder + "/" + kCommitRecordName).c_str());
        throw;
    }
    // From here the record owns the temporary files: a failure leaves them
    // for the next command, which completes the renames.
    for (const CommitItem& item : items)
        item.file->HandOver();
    for (const CommitItem& item : items)
        item.file->RenameIntoPlace();
    std::set<std::string> folders;
    for (const CommitItem& item : items)
        folders.insert(folder + "/" + item.relativeFolder);
    for (const std::string& f : folders)
        SyncFolder(f);
    RemoveRecord(folder);
}

bool HasCommitRecord(const std::string& folder) {
    struct stat st {};
    return ::lstat((folder + "/" + kCommitRecordName).c_str(), &st) == 0;
}

std::string CompleteCommitRecord(const std::string& folder,
                                 const std::vector<std::string>& allowedTargets) {
    const std::string path = folder + "/" + kCommitRecordName;
    InputFile file(path);
    if (!file.IsOpen()) {
        if (file.OpenError() == ENOENT)
            return {};
        throw IoError(file.OpenError(), "Cannot open file " + path);
    }
    const std::vector<std::string> lines = Lines(file.ReadAll());
    if (lines.size() < 3 || lines[0] != kHeader || lines[1].rfind(kBy, 0) != 0 ||
        lines.back() != kEnd)
        throw DamagedCommitRecordError(path);
    std::string command = lines[1].substr(kBy.size());
    if (command.empty())
        throw DamagedCommitRecordError(path);
    std::vector<Entry> entries;
    for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
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
        entries.push_back(std::move(entry));
    }
    Complete(folder, entries);
    return command;
}

}  // namespace tamrel
