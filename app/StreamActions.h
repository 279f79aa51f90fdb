// What the window does with one stream: shows what it is in the status bar,
// and offers in the grid's context menu to play it, export it (or all) as
// WAV, and replace it with an audio file or restore its original.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "AudioOutput.h"
#include "FolderWatch.h"
#include "audio/StreamInfo.h"

class QMenu;

namespace tamrel {

class ASFGrid;
class StreamTable;
class SoundHost;

class StreamActions : public QObject {
    Q_OBJECT
public:
    StreamActions(SoundHost& form, ASFGrid& grid, StreamTable& table,
                  std::unique_ptr<AudioOutput> output);
    ~StreamActions() override;

    // The folder whose stream files the rows name; empty for none.
    void SetWorkFolder(const std::string& folder);
    const std::string& WorkFolder() const { return workFolder_; }
    // Status panels 2 and 3 for the selected row, now.
    void ShowDetails();
    // The same at the next turn of the event loop, once for many changes.
    void ScheduleDetails();

    // The context menu of a data row, built afresh (the caller owns it).
    QMenu* BuildMenu(std::int32_t row, QWidget* parent);
    void ShowMenu(std::int32_t row, const QPoint& globalPos);
    // The menu of the header, the empty area or an empty table: the work
    // folder's actions.
    QMenu* BuildFolderMenu(QWidget* parent);
    void ShowFolderMenu(const QPoint& globalPos);
    // Asks for a work folder and opens it.
    void OpenWorkFolderDialog();
    // Asks for a folder of audio files and replaces every stream one names.
    void ReplaceFromFolder();

    void Play(std::int32_t row);
    void StopPlayback();
    std::int32_t PlayingRow() const { return playingRow_; }
    void ExportRow(std::int32_t row);
    void ExportAll();
    void ReplaceRow(std::int32_t row);
    void RestoreRow(std::int32_t row);
    // Every replaced stream's original back, after a question.
    void RestoreAll();

    AudioOutput& Output() { return *output_; }
    FolderWatch& Watch() { return watch_; }

private:
    std::string StreamPath(std::int32_t row) const;
    // The row's stream file, opened through the work folder by the rule
    // every reader keeps; nothing (with why) when it cannot be.
    std::unique_ptr<FileSource> OpenStream(std::int32_t row, std::string& why) const;
    // What the row's stream is; nothing (whyNot then says why, if given)
    // when its file cannot be read.
    std::optional<StreamInfo> InfoOf(std::int32_t row, std::string* whyNot = nullptr) const;
    void ShowPlayingPosition();
    void PlaybackFailed(const QString& why);
    // Adds "Export all as WAV..." (or the highlighted rows') and "Open work folder...".
    void AddFolderActions(QMenu* menu);
    // Says that the work folder is gone (a warning box) and returns true
    // when it is: what needs the folder refuses with that cause.
    bool RefusedForFolderGone();
    // The stream files of the rows in sight, watched with the folder.
    void WatchRowsInSight();
    // The folder went away while nothing ran: said once.
    void SayFolderGone();
    // The grid and the status bar as the files now are.
    void ShowDisk();
    // The row whose stream plays, shown in the grid; 0 for none.
    void SetPlayingRow(std::int32_t row);

    SoundHost& form_;
    ASFGrid& grid_;
    StreamTable& table_;
    std::unique_ptr<AudioOutput> output_;
    std::string workFolder_;
    FolderWatch watch_;
    bool goneToSay_ = false;
    QTimer detailsTimer_;
    QTimer positionTimer_;
    std::int32_t playingRow_ = 0;
    double playingDuration_ = 0;
};

}  // namespace tamrel
