// Follows the work folder on screen: other programs may add, change, remove
// or move its stream files, or the folder itself, while the window shows it.
// The folder and the stream files of the rows in sight are watched, and
// looked at once a second besides (a watcher misses what some file systems
// never report); a burst of changes is told once.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <map>
#include <string>

#include "io/FileIo.h"

namespace tamrel {

class FolderWatch : public QObject {
    Q_OBJECT
public:
    explicit FolderWatch(QObject* parent = nullptr);

    // The folder to follow; empty for none.
    void SetFolder(const std::string& folder);
    // The files to follow besides the folder (the rows in sight's).
    void SetFiles(const std::vector<std::string>& paths);

    // True while the folder is not there; GoneText() says so, with the cause:
    // "The work folder PATH is no longer there (No such file or directory)."
    bool Gone() const { return !goneText_.empty(); }
    const std::string& GoneText() const { return goneText_; }

    // Looks at the folder and the files now.
    void CheckNow();

signals:
    // Something of the folder changed on disk (told once per burst).
    void Changed();
    // The folder went away; told once each time it goes.
    void FolderGone();

private:
    void Rewatch();
    // What the files look like now: their sizes and times, to compare.
    std::string Signature() const;

    std::string folder_;
    std::vector<std::string> files_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer poll_;
    std::string goneText_;
    std::string signature_;
};

}  // namespace tamrel
