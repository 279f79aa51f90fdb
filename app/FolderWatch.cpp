#include "FolderWatch.h"

#include <cerrno>

#include "AppSetup.h"

namespace tamrel {

namespace {

// Changes come in bursts (a copy writes a file in many steps): told once
// they have settled this long.
constexpr int kSettleMs = 150;
// The look that catches what no watcher reports.
constexpr int kPollMs = 1000;

}  // namespace

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &FolderWatch::CheckNow);
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &FolderWatch::CheckNow);
    auto settle = [this] { settle_.start(); };
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, settle);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, settle);
}

void FolderWatch::SetFolder(const std::string& folder) {
    folder_ = folder;
    files_.clear();
    goneText_.clear();
    signature_.clear();
    Rewatch();
    if (folder_.empty()) {
        poll_.stop();
        settle_.stop();
        return;
    }
    signature_ = Signature();
    poll_.start();
}

void FolderWatch::SetFiles(const std::vector<std::string>& paths) {
    if (paths == files_)
        return;
    files_ = paths;
    Rewatch();
    signature_ = Signature();
}

void FolderWatch::Rewatch() {
    if (!watcher_.files().isEmpty())
        watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
    if (folder_.empty() || Gone())
        return;
    QStringList paths{FromNative(folder_)};
    for (const std::string& file : files_)
        if (StatusOfPath(file, true).kind == NameStatus::Kind::File)
            paths << FromNative(file);
    watcher_.addPaths(paths);
}

std::string FolderWatch::Signature() const {
    std::string signature;
    signature += std::to_string(static_cast<int>(StatusOfPath(folder_, true).kind)) + ";";
    for (const std::string& file : files_) {
        const NameStatus status = StatusOfPath(file, true);
        signature += std::to_string(static_cast<int>(status.kind)) + "," +
                     std::to_string(status.size) + "," + std::to_string(status.identity.inode) +
                     ";";
    }
    return signature;
}

void FolderWatch::CheckNow() {
    if (folder_.empty())
        return;
    const bool wasGone = Gone();
    if (IsExistingFolder(folder_)) {
        goneText_.clear();
    } else if (!wasGone) {
        const NameStatus folder = StatusOfPath(folder_, true);
        const int cause = folder.error != 0                          ? folder.error
                          : folder.kind == NameStatus::Kind::Missing ? ENOENT
                                                                     : ENOTDIR;
        goneText_ =
            "The work folder " + folder_ + " is no longer there (" + ErrorText(cause) + ").";
    }
    const std::string now = Signature();
    const bool changed = now != signature_ || wasGone != Gone();
    signature_ = now;
    // A folder that came back, or files replaced by rename, are watched anew.
    if (changed)
        Rewatch();
    if (Gone() && !wasGone)
        emit FolderGone();
    if (changed)
        emit Changed();
}

}  // namespace tamrel
