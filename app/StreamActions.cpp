#include "StreamActions.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <cstring>
#include <set>
#include <stdexcept>

#include "ASFGrid.h"
#include "AppSetup.h"
#include "Prompts.h"
#include "SoundHost.h"
#include "StatusPanels.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderExport.h"
#include "archive/folder/Replace.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/NameList.h"
#include "archive/host/WindowServices.h"
#include "audio/AudioFile.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/Export.h"
#include "io/FileIo.h"
#include "io/Path.h"
#include "table/StreamTable.h"

namespace tamrel {

namespace {

constexpr int kDescriptionPanel = 2;
constexpr int kDurationPanel = 3;
constexpr int kPositionIntervalMs = 200;

// A path with ".wav" added when its file name has no extension.
std::string WithWavExtension(const std::string& path) {
    const std::string name = FileNamePart(path);
    return name.find('.') == std::string::npos ? path + ".wav" : path;
}

// The folder of a file's path, as Pack names a folder's parent.
std::string FolderOfFile(const std::string& path) {
    return PackNamesFor(path).parentFolder;
}

}  // namespace

StreamActions::StreamActions(SoundHost& form, ASFGrid& grid, StreamTable& table,
                             std::unique_ptr<AudioOutput> output)
    : form_(form), grid_(grid), table_(table), output_(std::move(output)) {
    output_->setParent(this);
    detailsTimer_.setSingleShot(true);
    detailsTimer_.setInterval(0);
    connect(&detailsTimer_, &QTimer::timeout, this, &StreamActions::ShowDetails);
    positionTimer_.setInterval(kPositionIntervalMs);
    connect(&positionTimer_, &QTimer::timeout, this, &StreamActions::ShowPlayingPosition);
    connect(output_.get(), &AudioOutput::Finished, this, [this] {
        positionTimer_.stop();
        SetPlayingRow(0);
        ShowDetails();
    });
    connect(output_.get(), &AudioOutput::Failed, this, &StreamActions::PlaybackFailed);
    // What the stream files on disk say of each row, drawn by the grid.
    grid_.SetDiskFacts([this](std::int32_t row) {
        RowOnDisk facts;
        const std::string path = StreamPath(row);
        // Only a plain file name of the folder is the row's stream file.
        const std::string& name = table_.CellText(kNameCol, row);
        if (path.empty() || !RowNameRefusal(name).empty())
            return facts;
        if (watch_.Gone()) {
            facts.missing = watch_.GoneText();
            return facts;
        }
        const NameStatus file = StatusOfPath(path, true);
        if (file.kind == NameStatus::Kind::File)
            facts.size = file.size;
        else if (file.kind == NameStatus::Kind::Missing && file.error == 0)
            facts.missing = "No stream file: the work folder holds no " + name + ".";
        facts.replaced = StatusOfPath(KeptOriginalOf(path), false).kind == NameStatus::Kind::File;
        return facts;
    });
    // The grid follows the folder on disk, whoever changes it.
    connect(&watch_, &FolderWatch::Changed, this, &StreamActions::ShowDisk);
    connect(&watch_, &FolderWatch::FolderGone, this, [this] {
        goneToSay_ = true;
        QTimer::singleShot(0, this, &StreamActions::SayFolderGone);
    });
    connect(&grid_, &ASFGrid::RowsInSightChanged, this, &StreamActions::WatchRowsInSight);
}

void StreamActions::SetWorkFolder(const std::string& folder) {
    workFolder_ = folder;
    goneToSay_ = false;
    watch_.SetFolder(folder);
    WatchRowsInSight();
    grid_.viewport()->update();
}

void StreamActions::WatchRowsInSight() {
    std::vector<std::string> paths;
    const auto [first, last] = grid_.RowsInSight();
    for (std::int32_t row = first; row <= last; ++row)
        if (const std::string path = StreamPath(row); !path.empty())
            paths.push_back(path);
    watch_.SetFiles(paths);
}

void StreamActions::SetPlayingRow(std::int32_t row) {
    playingRow_ = row;
    grid_.SetPlayingRow(row);
}

void StreamActions::ShowDisk() {
    grid_.viewport()->update();
    ScheduleDetails();
}

void StreamActions::SayFolderGone() {
    // Said when nothing else is running: a command that ran meanwhile has
    // said it already, or says it when it ends.
    if (!goneToSay_ || !watch_.Gone())
        return;
    if (form_.CommandRunning() || QApplication::activeModalWidget()) {
        QTimer::singleShot(200, this, &StreamActions::SayFolderGone);
        return;
    }
    goneToSay_ = false;
    StopPlayback();
    form_.WarningBox(watch_.GoneText(), "Error");
}

bool StreamActions::RefusedForFolderGone() {
    watch_.CheckNow();
    if (!watch_.Gone())
        return false;
    goneToSay_ = false;
    form_.WarningBox(watch_.GoneText(), "Error");
    return true;
}

StreamActions::~StreamActions() {
    positionTimer_.stop();
}

std::string StreamActions::StreamPath(std::int32_t row) const {
    if (workFolder_.empty() || row < 1 || row >= table_.RowCount())
        return {};
    const std::string& name = table_.CellText(kNameCol, row);
    if (name.empty())
        return {};
    return JoinPath(workFolder_, name);
}

std::unique_ptr<FileSource> StreamActions::OpenStream(std::int32_t row, std::string& why) const {
    if (StreamPath(row).empty()) {
        why = "no work folder is open";
        return nullptr;
    }
    // The file stays open once the folder that reached it is closed.
    const Folder work(workFolder_);
    if (!work.IsOpen()) {
        why =
            "the work folder " + workFolder_ + " cannot be opened: " + ErrorText(work.OpenError());
        return nullptr;
    }
    return OpenRowStream(work, table_.CellText(kNameCol, row), why);
}

std::optional<StreamInfo> StreamActions::InfoOf(std::int32_t row, std::string* whyNot) const {
    std::string why;
    const auto file = OpenStream(row, why);
    if (!file) {
        if (whyNot)
            *whyNot = why;
        return std::nullopt;
    }
    try {
        return ReadStreamInfo(*file);
    } catch (const std::exception&) {
        return std::nullopt;  // a file that cannot be read says nothing about its stream
    }
}

void StreamActions::ScheduleDetails() {
    detailsTimer_.start();
}

void StreamActions::ShowDetails() {
    // While a command runs, the status bar is the command's.
    if (form_.CommandRunning())
        return;
    const std::int32_t row = grid_.SelectedRow();
    StatusPanels& panels = *form_.StatusBar();
    if (StreamPath(row).empty()) {
        panels.SetPanelText(kDescriptionPanel, {});
        panels.SetPanelText(kDurationPanel, {});
        return;
    }
    const std::optional<StreamInfo> info = InfoOf(row);
    QString description = QStringLiteral("no stream file");
    const QString whole = info ? FromNative(FormatDescription(*info)) : description;
    if (info) {
        description = whole;
        // The panel is 170 pixels: what does not fit is cut from the codec's
        // name first, so that channels and rate ("32000 Hz") always show;
        // the whole text is the panel's balloon.
        const QFontMetrics metrics(panels.font());
        const int room = panels.PanelRect(kDescriptionPanel).width() - 6;
        const qsizetype comma = whole.indexOf(QStringLiteral(", "));
        if (info->hasHeader && comma > 0 && metrics.horizontalAdvance(whole) > room) {
            const QString rest = whole.mid(comma);
            description = metrics.elidedText(whole.left(comma), Qt::ElideRight,
                                             std::max(0, room - metrics.horizontalAdvance(rest))) +
                          rest;
        }
        description = metrics.elidedText(description, Qt::ElideRight, room);
    }
    panels.SetPanelText(kDescriptionPanel, description);
    // The balloon says why a codec the program decides not to decode is not.
    const char* why = info && info->hasHeader ? RecordOf(info->codec).whyNot : nullptr;
    panels.SetPanelHint(kDescriptionPanel,
                        why ? whole + QStringLiteral(": ") + FromNative(why) : whole);
    if (playingRow_ == row && output_->Playing()) {
        ShowPlayingPosition();
    } else {
        const QString length =
            info && info->hasHeader ? FromNative(FormatDuration(info->Duration())) : QString();
        panels.SetPanelText(kDurationPanel, length);
        panels.SetPanelHint(kDurationPanel, length);
    }
}

void StreamActions::ShowPlayingPosition() {
    if (!output_->Playing() || grid_.SelectedRow() != playingRow_)
        return;
    // The same length format at rest and while playing: "0:02.10 / 0:03.00".
    const QString text =
        FromNative(FormatDuration(static_cast<double>(output_->PositionMs()) / 1000.0) + " / " +
                   FormatDuration(playingDuration_));
    form_.StatusBar()->SetPanelText(kDurationPanel, text);
    form_.StatusBar()->SetPanelHint(kDurationPanel, text);
}

void StreamActions::PlaybackFailed(const QString& why) {
    const std::string name = playingRow_ > 0 && playingRow_ < table_.RowCount()
                                 ? table_.CellText(kNameCol, playingRow_)
                                 : std::string("the stream");
    positionTimer_.stop();
    SetPlayingRow(0);
    ShowDetails();
    form_.WarningBox("Cannot play " + name + ": " + ToNative(why) + ".", "Error");
}

QMenu* StreamActions::BuildMenu(std::int32_t row, QWidget* parent) {
    auto* menu = new QMenu(parent);
    std::string unread;
    const std::optional<StreamInfo> info = InfoOf(row, &unread);
    const std::string name = table_.CellText(kNameCol, row);
    const Verdict decode = info ? DecodeVerdict(*info, name) : Verdict{false, {}, {}};
    const Verdict encode = info ? EncodeVerdict(*info, name) : Verdict{false, {}, {}};
    if (!info) {
        // A name the rows may not use says so; else the file is not there.
        const std::string refused = RowNameRefusal(name);
        menu->addAction(StreamPath(row).empty() ? QStringLiteral("No work folder on disk")
                        : !refused.empty()      ? FromNative("T" + refused.substr(1))
                                                : QStringLiteral("No stream file"))
            ->setEnabled(false);
    } else if (!decode.ok) {
        // Why not, in a few words; the whole sentence as its tip.
        QAction* why = menu->addAction(FromNative(decode.brief));
        why->setToolTip(FromNative(decode.why));
        why->setEnabled(false);
        menu->setToolTipsVisible(true);
    }
    if (!menu->actions().isEmpty())
        menu->addSeparator();

    if (playingRow_ == row && output_->Playing()) {
        QAction* stop = menu->addAction(QStringLiteral("Stop"));
        connect(stop, &QAction::triggered, this, &StreamActions::StopPlayback);
    } else {
        QAction* play = menu->addAction(
            output_->Available() ? QStringLiteral("Play")
                                 : QStringLiteral("Play (%1)").arg(output_->UnavailableReason()));
        play->setEnabled(decode.ok && output_->Available());
        connect(play, &QAction::triggered, this, [this, row] { Play(row); });
    }
    QAction* exportOne = menu->addAction(QStringLiteral("Export as WAV..."));
    exportOne->setEnabled(decode.ok);
    connect(exportOne, &QAction::triggered, this, [this, row] { ExportRow(row); });
    menu->addSeparator();
    const std::string path = StreamPath(row);
    // A stream that is heard but not replaced says why; one that is not
    // heard said it above.
    QString replaceText = QStringLiteral("Replace with audio file...");
    if (decode.ok && !encode.ok)
        replaceText = QStringLiteral("Replace with audio file (%1)").arg(FromNative(encode.brief));
    QAction* replace = menu->addAction(replaceText);
    replace->setEnabled(encode.ok);
    connect(replace, &QAction::triggered, this, [this, row] { ReplaceRow(row); });
    QAction* restore = menu->addAction(QStringLiteral("Restore original..."));
    restore->setEnabled(!path.empty() &&
                        StatusOfPath(KeptOriginalOf(path), false).kind == NameStatus::Kind::File);
    connect(restore, &QAction::triggered, this, [this, row] { RestoreRow(row); });
    menu->addSeparator();
    AddFolderActions(menu);
    return menu;
}

void StreamActions::AddFolderActions(QMenu* menu) {
    // After Ctrl+A every row is highlighted: the export acts on all of them.
    const std::int32_t rows = table_.RowCount() - 1;
    QAction* exportAll =
        menu->addAction(grid_.AllRowsHighlighted() && rows > 0
                            ? QStringLiteral("Export %1 selected as WAV...").arg(rows)
                            : QStringLiteral("Export all as WAV..."));
    exportAll->setEnabled(!workFolder_.empty());
    connect(exportAll, &QAction::triggered, this, &StreamActions::ExportAll);
    QAction* fromFolder = menu->addAction(QStringLiteral("Replace from folder..."));
    fromFolder->setEnabled(!workFolder_.empty());
    connect(fromFolder, &QAction::triggered, this, &StreamActions::ReplaceFromFolder);
    QAction* restoreAll = menu->addAction(QStringLiteral("Restore all originals..."));
    restoreAll->setEnabled(!workFolder_.empty());
    connect(restoreAll, &QAction::triggered, this, &StreamActions::RestoreAll);
    QAction* open = menu->addAction(QStringLiteral("Open work folder..."));
    connect(open, &QAction::triggered, this, &StreamActions::OpenWorkFolderDialog);
}

QMenu* StreamActions::BuildFolderMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    AddFolderActions(menu);
    return menu;
}

void StreamActions::ShowFolderMenu(const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu(BuildFolderMenu(&grid_));
    menu->exec(globalPos);
}

void StreamActions::ReplaceFromFolder() {
    if (RefusedForFolderGone())
        return;
    const auto folder =
        form_.Dialogs().SelectFolder(form_.DialogParent(), Prompts::Purpose::ReplaceFromFolder);
    form_.ReturnFromModal();
    if (!folder)
        return;
    StopPlayback();  // every command that writes stops playing first
    form_.RunCommand([this, &folder] {
        std::vector<std::string> replaced, unchanged, failed;
        StoppableGuard stoppable(form_, "Replace from folder");
        const auto summary = tamrel::ReplaceFromFolder(
            workFolder_, NativePath(*folder), form_, [&](const FolderStreamResult& r) {
                if (r.kind == FolderStreamResult::Kind::Replaced)
                    replaced.push_back(r.name);
                else if (r.kind == FolderStreamResult::Kind::Unchanged)
                    unchanged.push_back(r.name);
                else
                    failed.push_back(r.name + " (" + r.why + ")");
                grid_.viewport()->update();  // its size and mark, as the files now are
            });
        stoppable.Release();
        if (!summary || form_.Quitting())
            return;
        std::string text = summary->Text();
        if (!replaced.empty())
            text += "\r\nReplaced: " + NameList(replaced);
        if (!unchanged.empty())
            text += "\r\nUnchanged: " + NameList(unchanged);
        if (!failed.empty())
            text += "\r\nFailed: " + NameList(failed);
        std::vector<std::string> unmatched;
        for (const std::string& file : summary->unmatched)
            unmatched.push_back(FileNamePart(file));
        if (!unmatched.empty())
            text += "\r\nMatched no stream: " + NameList(unmatched);
        // Nothing replaced or kept and something failed: that is a failure.
        if (summary->failed > 0 && summary->replaced == 0 && summary->unchanged == 0)
            form_.WarningBox(text, "Error");
        else
            form_.InformationBox(text, "Information");
    });
    ShowDisk();
}

void StreamActions::OpenWorkFolderDialog() {
    const auto folder =
        form_.Dialogs().SelectFolder(form_.DialogParent(), Prompts::Purpose::OpenFolder);
    form_.ReturnFromModal();
    if (folder)
        form_.OpenFolder(NativePath(*folder));
}

void StreamActions::ShowMenu(std::int32_t row, const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu(BuildMenu(row, &grid_));
    menu->exec(globalPos);
}

void StreamActions::Play(std::int32_t row) {
    StopPlayback();
    if (RefusedForFolderGone())
        return;
    form_.RunCommand([this, row] {
        const std::string& name = table_.CellText(kNameCol, row);
        std::string why;
        const auto file = OpenStream(row, why);
        if (!file)
            throw std::runtime_error("Cannot play " + name + ": " + why + ".");
        const StreamInfo info = ReadStreamInfo(*file);
        const std::vector<std::int16_t> samples = DecodeStream(*file, info, name);
        QByteArray bytes(reinterpret_cast<const char*>(samples.data()),
                         static_cast<qsizetype>(samples.size() * sizeof(std::int16_t)));
        SetPlayingRow(row);
        playingDuration_ = info.Duration();
        output_->Play(bytes, info.channels, info.sampleRate);
        positionTimer_.start();
    });
    ShowPlayingPosition();
}

void StreamActions::StopPlayback() {
    if (!output_->Playing() && playingRow_ == 0)
        return;
    output_->Stop();
    positionTimer_.stop();
    SetPlayingRow(0);
    ShowDetails();
}

void StreamActions::ExportRow(std::int32_t row) {
    if (RefusedForFolderGone())
        return;
    const std::string name = table_.CellText(kNameCol, row);
    const auto target = form_.Dialogs().SaveFile(
        form_.DialogParent(), FromNative(JoinPath(workFolder_, WavNameFor(name))),
        QStringLiteral("WAV files|*.wav"));
    form_.ReturnFromModal();
    if (!target)
        return;
    const std::string wavPath = WithWavExtension(NativePath(*target));
    form_.RunCommand([this, row, &name, &wavPath] {
        std::string why;
        const Folder work(workFolder_);
        const auto file = work.IsOpen() ? OpenRowStream(work, name, why) : nullptr;
        if (!file)
            throw std::runtime_error(
                "Cannot export " + name + ": " +
                (work.IsOpen() ? why
                               : "the work folder " + workFolder_ +
                                     " cannot be opened: " + ErrorText(work.OpenError())) +
                ".");
        const StreamInfo info = ReadStreamInfo(*file);
        // The file's folder is taken as every folder a command writes.
        const std::string wavName = FileNamePart(wavPath);
        auto taken = TakeExportFolder(work, FolderOfFile(wavPath), {wavName}, form_);
        if (!taken)
            return;
        DisabledWindowGuard disabled(form_);
        form_.SetProgressMin(0);
        form_.SetProgressMax(static_cast<std::int32_t>(info.dataBlocks.size()));
        ExportWav(*file, name, taken->Work(), wavName, [this](std::size_t block) {
            form_.SetProgressPosition(static_cast<std::int32_t>(block));
            form_.PumpEvents();
            return true;
        });
        taken->Release();
        disabled.Release();
        form_.InformationBox("Exported " + name + " to " + wavPath, "Information");
        form_.SetProgressPosition(0);
    });
}

void StreamActions::ExportAll() {
    if (RefusedForFolderGone())
        return;
    const auto folder =
        form_.Dialogs().SelectFolder(form_.DialogParent(), Prompts::Purpose::ExportAll);
    form_.ReturnFromModal();
    if (!folder)
        return;
    // WAV files of these names there already are the user's: asked first.
    {
        const std::string out = NativePath(*folder);
        std::vector<std::string> existing;
        for (std::int32_t row = 1; row < table_.RowCount(); ++row) {
            const std::string wav = WavNameFor(table_.CellText(kNameCol, row));
            if (StatusOfPath(JoinPath(out, wav), false).kind != NameStatus::Kind::Missing)
                existing.push_back(wav);
        }
        if (!existing.empty()) {
            const std::string text = "The folder " + out + " holds " +
                                     std::to_string(existing.size()) +
                                     (existing.size() == 1 ? " WAV file" : " WAV files") +
                                     " that the export would replace (" + NameList(existing) +
                                     "). Replace " + (existing.size() == 1 ? "it?" : "them?");
            const bool replace =
                form_.Dialogs().Question(FromNative(text), QStringLiteral("Confirm"),
                                         QStringLiteral("Replace"), QStringLiteral("Cancel"));
            form_.ReturnFromModal();
            if (!replace)
                return;
        }
    }
    form_.RunCommand([this, &folder] {
        const std::string out = NativePath(*folder);
        const std::int32_t rows = table_.RowCount() - 1;
        std::set<std::string> wavNames;
        std::vector<std::int32_t> all;
        for (std::int32_t row = 1; row <= rows; ++row) {
            wavNames.insert(WavNameFor(FileNamePart(table_.CellText(kNameCol, row))));
            all.push_back(row);
        }
        // The work folder is opened once and every stream read through it.
        const Folder work(workFolder_);
        if (!work.IsOpen())
            throw IoError(work.OpenError(), "Cannot open the folder " + workFolder_);
        auto taken = TakeExportFolder(work, out, wavNames, form_);
        if (!taken)
            return;
        // Busy, not disabled: "Cancel" stays at hand.
        BusyGuard busy(form_);
        StoppableGuard stoppable(form_, "Export");
        std::vector<std::string> skipped;
        const ExportCount count = ExportRows(StreamSources(table_, work), all, taken->Work(), form_,
                                             [&skipped](const ExportedRow& r) {
                                                 if (!r.written)
                                                     skipped.push_back(r.name);
                                             });
        taken->Release();
        stoppable.Release();
        busy.Release();
        if (form_.Quitting())
            return;  // the window closes: what was done stays, nothing to say
        std::string text = count.stopped ? "Stopped after " + std::to_string(count.done) + " of " +
                                               std::to_string(rows) + " streams. "
                                         : std::string();
        text += "Exported " + std::to_string(count.written) + " of " +
                std::to_string(count.stopped ? count.done : rows) + " streams as WAV files to " +
                out;
        if (!skipped.empty()) {
            text += "\r\nNot exported (no decoder, or damaged): " + NameList(skipped);
        }
        // Not one stream written: that is a failure, not a piece of news.
        if (count.written == 0 && count.done > 0)
            form_.WarningBox(text, "Error");
        else
            form_.InformationBox(text, "Information");
        form_.SetProgressPosition(0);
    });
}

void StreamActions::ReplaceRow(std::int32_t row) {
    if (RefusedForFolderGone())
        return;
    const auto audio = form_.Dialogs().OpenFile(
        form_.DialogParent(),
        QStringLiteral("Audio files|%1").arg(QString::fromLatin1(ReadableAudioPatterns())),
        Prompts::Purpose::ReplaceAudio);
    form_.ReturnFromModal();
    if (!audio)
        return;
    StopPlayback();  // every command that writes stops playing first
    const std::string name = table_.CellText(kNameCol, row);
    form_.RunCommand([this, &name, &audio] {
        ReplaceReport report;
        const ReplaceOutcome outcome =
            ReplaceStream(workFolder_, name, NativePath(*audio), form_, &report);
        if (outcome == ReplaceOutcome::Unchanged)
            form_.InformationBox(name + " is unchanged: it holds exactly what " +
                                     NativePath(*audio) + " encodes to.",
                                 "Information");
        if (outcome != ReplaceOutcome::Replaced)
            return;
        ShowDisk();
        form_.InformationBox("Replaced " + name + " with " + NativePath(*audio) +
                                 "\r\nbefore: " + std::to_string(report.oldSize) + " bytes, " +
                                 FormatDuration(report.oldSeconds) +
                                 "\r\nnow: " + std::to_string(report.newSize) + " bytes, " +
                                 FormatDuration(report.newSeconds) +
                                 (report.loopText.empty() ? "" : "\r\n" + report.loopText),
                             "Information");
    });
}

void StreamActions::RestoreRow(std::int32_t row) {
    if (RefusedForFolderGone())
        return;
    const std::string name = table_.CellText(kNameCol, row);
    const bool restore = form_.Dialogs().Question(
        FromNative("Restore the original of " + name + "? The replacement is discarded."),
        QStringLiteral("Confirm"), QStringLiteral("Restore"), QStringLiteral("Cancel"));
    form_.ReturnFromModal();
    if (!restore)
        return;
    StopPlayback();
    form_.RunCommand([this, &name] {
        if (RestoreStream(workFolder_, name, form_) != ReplaceOutcome::Restored)
            return;
        // The row shows the original again before the box says so.
        ShowDisk();
        form_.InformationBox("Restored the original of " + name, "Information");
    });
}

void StreamActions::RestoreAll() {
    if (RefusedForFolderGone())
        return;
    std::vector<std::string> names;
    for (std::int32_t row = 1; row < table_.RowCount(); ++row)
        if (grid_.FactsOf(row).replaced)
            names.push_back(table_.CellText(kNameCol, row));
    if (names.empty()) {
        form_.InformationBox("No original is kept in " + workFolder_ + ".", "Information");
        return;
    }
    const std::string streams = names.size() == 1
                                    ? "the replaced stream " + names.front()
                                    : "the " + std::to_string(names.size()) + " replaced streams";
    const bool restore = form_.Dialogs().Question(
        FromNative("Restore the originals of " + streams + "? The replacements are discarded."),
        QStringLiteral("Confirm"), QStringLiteral("Restore"), QStringLiteral("Cancel"));
    form_.ReturnFromModal();
    if (!restore)
        return;
    StopPlayback();
    form_.RunCommand([this, &names] {
        std::vector<std::string> failed;
        const auto summary = RestoreStreams(workFolder_, names, false, form_,
                                            [&](const std::string& name, const std::string& why) {
                                                if (!why.empty())
                                                    failed.push_back(name + " (" + why + ")");
                                            });
        if (!summary)
            return;
        // The rows show the originals again before the box says so.
        ShowDisk();
        std::string text = summary->Text();
        if (!failed.empty())
            text += "\r\nFailed: " + NameList(failed);
        form_.InformationBox(text, "Information");
    });
}

}  // namespace tamrel
