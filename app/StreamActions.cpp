#include "StreamActions.h"

#include <QFontMetrics>
#include <QMenu>
#include <set>

#include "ASFGrid.h"
#include "AppSetup.h"
#include "StatusPanels.h"
#include "Unit1.h"
#include "archive/FolderCommit.h"
#include "archive/Path.h"
#include "archive/Replace.h"
#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "audio/AudioFile.h"
#include "audio/Decoder.h"
#include "audio/Export.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {

namespace {

constexpr int kDescriptionPanel = 2;
constexpr int kDurationPanel = 3;
constexpr int kPositionIntervalMs = 200;

// "0:12": minutes and whole seconds.
QString MinutesAndSeconds(double seconds) {
    const auto whole = static_cast<long long>(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// The folder of a file's path, as Pack names a folder's parent.
std::string FolderOfFile(const std::string& path) {
    return PackNamesFor(path).parentFolder;
}

}  // namespace

StreamActions::StreamActions(TForm1& form, ASFGrid& grid, StreamTable& table,
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
        playingRow_ = 0;
        ShowDuration();
    });
}

StreamActions::~StreamActions() {
    positionTimer_.stop();
}

std::string StreamActions::StreamPath(std::int32_t row) const {
    if (workFolder_.empty() || row < 1 || row >= table_.RowCount())
        return {};
    const std::string& name = table_.CellText(1, row);
    if (name.empty())
        return {};
    return JoinPath(workFolder_, name);
}

std::optional<StreamInfo> StreamActions::InfoOf(std::int32_t row) const {
    const std::string path = StreamPath(row);
    if (path.empty())
        return std::nullopt;
    const FileSource file(path);
    if (!file.IsOpen())
        return std::nullopt;
    try {
        return ReadStreamInfo(file);
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
    if (info) {
        description = FromNative(FormatDescription(*info));
        // The panel is 170 pixels: a long codec name gets the rate in kHz,
        // and what still does not fit is cut with an ellipsis.
        const QFontMetrics metrics(panels.font());
        const int room = panels.PanelRect(kDescriptionPanel).width() - 6;
        if (info->hasHeader && metrics.horizontalAdvance(description) > room) {
            description = FromNative(FormatDescription(*info));
            description.replace(QStringLiteral("stereo"), QStringLiteral("st."));
            description.replace(QStringLiteral(" %1 Hz").arg(info->sampleRate),
                                QStringLiteral(" %1 kHz").arg(info->sampleRate / 1000.0));
        }
        description = metrics.elidedText(description, Qt::ElideRight, room);
    }
    panels.SetPanelText(kDescriptionPanel, description);
    if (playingRow_ == row && output_->Playing())
        ShowPlayingPosition();
    else
        panels.SetPanelText(kDurationPanel, info && info->hasHeader
                                                ? FromNative(FormatDuration(info->Duration()))
                                                : QString());
}

void StreamActions::ShowPlayingPosition() {
    if (!output_->Playing() || grid_.SelectedRow() != playingRow_)
        return;
    form_.StatusBar()->SetPanelText(
        kDurationPanel, MinutesAndSeconds(static_cast<double>(output_->PositionMs()) / 1000.0) +
                            QStringLiteral(" / ") + MinutesAndSeconds(playingDuration_));
}

void StreamActions::ShowDuration() {
    ShowDetails();
}

QMenu* StreamActions::BuildMenu(std::int32_t row, QWidget* parent) {
    auto* menu = new QMenu(parent);
    const std::optional<StreamInfo> info = InfoOf(row);
    const bool decodable = info && CanDecode(*info);
    if (!info) {
        menu->addAction(StreamPath(row).empty() ? QStringLiteral("No work folder on disk")
                                                : QStringLiteral("No stream file"))
            ->setEnabled(false);
    } else if (!info->hasHeader) {
        menu->addAction(QStringLiteral("No stream header"))->setEnabled(false);
    } else if (const std::string refusal = info->PlausibilityRefusal(table_.CellText(1, row));
               !refusal.empty()) {
        menu->addAction(FromNative(refusal))->setEnabled(false);
    } else if (!decodable) {
        menu->addAction(FromNative(info->CodecName()) +
                        QStringLiteral(": no decoder, so no playing or export"))
            ->setEnabled(false);
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
        play->setEnabled(decodable && output_->Available());
        connect(play, &QAction::triggered, this, [this, row] { Play(row); });
    }
    QAction* exportOne = menu->addAction(QStringLiteral("Export as WAV..."));
    exportOne->setEnabled(decodable);
    connect(exportOne, &QAction::triggered, this, [this, row] { ExportRow(row); });
    QAction* exportAll = menu->addAction(QStringLiteral("Export all as WAV..."));
    exportAll->setEnabled(!workFolder_.empty());
    connect(exportAll, &QAction::triggered, this, &StreamActions::ExportAll);
    menu->addSeparator();
    const std::string path = StreamPath(row);
    QAction* replace = menu->addAction(QStringLiteral("Replace with audio file..."));
    replace->setEnabled(!path.empty() && IsExistingFile(path));
    connect(replace, &QAction::triggered, this, [this, row] { ReplaceRow(row); });
    QAction* restore = menu->addAction(QStringLiteral("Restore original"));
    restore->setEnabled(!path.empty() && IsExistingFile(KeptOriginalOf(path)));
    connect(restore, &QAction::triggered, this, [this, row] { RestoreRow(row); });
    return menu;
}

void StreamActions::ShowMenu(std::int32_t row, const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu(BuildMenu(row, &grid_));
    menu->exec(globalPos);
}

void StreamActions::Play(std::int32_t row) {
    StopPlayback();
    form_.RunCommand([this, row] {
        const std::string path = StreamPath(row);
        const FileSource file(path);
        if (!file.IsOpen())
            throw IoError(file.OpenError(), "Cannot open file " + path);
        const StreamInfo info = ReadStreamInfo(file);
        const std::vector<std::int16_t> samples = DecodeStream(file, info, table_.CellText(1, row));
        QByteArray bytes(reinterpret_cast<const char*>(samples.data()),
                         static_cast<qsizetype>(samples.size() * sizeof(std::int16_t)));
        playingRow_ = row;
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
    playingRow_ = 0;
    ShowDuration();
}

void StreamActions::ExportRow(std::int32_t row) {
    const std::string name = table_.CellText(1, row);
    const auto target =
        form_.Dialogs().SaveFile(&form_, FromNative(JoinPath(workFolder_, WavNameFor(name))),
                                 QStringLiteral("WAV files|*.wav"));
    form_.ReturnFromModal();
    if (!target)
        return;
    form_.RunCommand([this, row, &name, &target] {
        const std::string path = StreamPath(row);
        const FileSource file(path);
        if (!file.IsOpen())
            throw IoError(file.OpenError(), "Cannot open file " + path);
        const StreamInfo info = ReadStreamInfo(file);
        // The file's folder is taken as every folder a command writes.
        const std::string wavPath = ToNative(*target);
        const std::string wavName = FileNamePart(wavPath);
        auto taken = TakeFolder(FolderOfFile(wavPath), form_,
                                [&wavName](const std::string& t) { return t == wavName; });
        if (!taken)
            return;
        DisabledWindowGuard disabled(form_);
        form_.SetProgressMin(0);
        form_.SetProgressMax(static_cast<std::int32_t>(info.dataBlocks.size()));
        ExportWav(file, name, taken->Work(), wavName, [this](std::size_t block) {
            form_.SetProgressPosition(static_cast<std::int32_t>(block));
            form_.PumpEvents();
            return true;
        });
        taken->Release();
        disabled.Release();
        form_.InformationBox("Exported " + name + " to " + ToNative(*target), "Information");
        form_.SetProgressPosition(0);
    });
}

void StreamActions::ExportAll() {
    const auto folder = form_.Dialogs().SelectFolder(&form_);
    form_.ReturnFromModal();
    if (!folder)
        return;
    form_.RunCommand([this, &folder] {
        const std::string out = ToNative(*folder);
        const std::int32_t rows = table_.RowCount() - 1;
        std::set<std::string> wavNames;
        for (std::int32_t row = 1; row <= rows; ++row)
            wavNames.insert(WavNameFor(table_.CellText(1, row)));
        auto taken = TakeFolder(
            out, form_, [&wavNames](const std::string& t) { return wavNames.count(t) != 0; });
        if (!taken)
            return;
        DisabledWindowGuard disabled(form_);
        form_.SetProgressMin(0);
        form_.SetProgressMax(rows);
        int written = 0;
        std::vector<std::string> skipped;
        for (std::int32_t row = 1; row <= rows; ++row) {
            form_.SetProgressPosition(row);
            form_.PumpEvents();
            const std::string& name = table_.CellText(1, row);
            const FileSource file(StreamPath(row));
            try {
                if (!file.IsOpen())
                    throw DecodeError("no stream file");
                ExportWav(file, name, taken->Work(), WavNameFor(name));
                ++written;
            } catch (const DecodeError& e) {
                skipped.push_back(name);
            }
        }
        taken->Release();
        disabled.Release();
        std::string text = "Exported " + std::to_string(written) + " of " + std::to_string(rows) +
                           " streams as WAV files to " + out;
        if (!skipped.empty()) {
            text += "\r\nNot exported (no decoder, or damaged): ";
            for (std::size_t i = 0; i < skipped.size() && i < 10; ++i)
                text += (i ? ", " : "") + skipped[i];
            if (skipped.size() > 10)
                text += " and " + std::to_string(skipped.size() - 10) + " more";
        }
        form_.InformationBox(text, "Information");
        form_.SetProgressPosition(0);
    });
}

void StreamActions::ReplaceRow(std::int32_t row) {
    const auto audio = form_.Dialogs().OpenFile(
        &form_, QStringLiteral("Audio files|%1").arg(QString::fromLatin1(ReadableAudioPatterns())));
    form_.ReturnFromModal();
    if (!audio)
        return;
    StopPlayback();  // every command that writes stops playing first
    const std::string name = table_.CellText(1, row);
    form_.RunCommand([this, &name, &audio] {
        ReplaceReport report;
        if (ReplaceStream(workFolder_, name, ToNative(*audio), form_, &report) !=
            ReplaceOutcome::Replaced)
            return;
        form_.InformationBox("Replaced " + name + " with " + ToNative(*audio) +
                                 "\r\nbefore: " + std::to_string(report.oldSize) + " bytes, " +
                                 FormatDuration(report.oldSeconds) +
                                 "\r\nnow: " + std::to_string(report.newSize) + " bytes, " +
                                 FormatDuration(report.newSeconds) +
                                 (report.loopText.empty() ? "" : "\r\n" + report.loopText),
                             "Information");
    });
}

void StreamActions::RestoreRow(std::int32_t row) {
    StopPlayback();
    const std::string name = table_.CellText(1, row);
    form_.RunCommand([this, &name] {
        if (RestoreStream(workFolder_, name, form_) == ReplaceOutcome::Restored)
            form_.InformationBox("Restored the original of " + name, "Information");
    });
}

}  // namespace tamrel
