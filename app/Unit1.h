// TForm1: the main window. It owns the stream table and its view, and gives
// the commands the services they ask for (WindowServices).
#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

#include "AudioOutput.h"
#include "HelpSupport.h"
#include "Prompts.h"
#include "SoundHost.h"
#include "archive/host/WindowServices.h"
#include "table/StreamTable.h"

class QPushButton;
class QToolButton;

namespace tamrel {

class ASFGrid;
class BalloonTipController;
class StreamActions;
class RangeProgressBar;
class StatusPanels;

// The tool bar's strip: full width, 33 high, an etched line along its top.
class ToolBarStrip : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TForm1 : public QWidget, public SoundHost {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 548;
    static constexpr int kClientHeight = 319;

    // prompts: the boxes and dialogs; audio: where streams play. The real
    // ones when null.
    explicit TForm1(std::unique_ptr<Prompts> prompts = nullptr, QWidget* parent = nullptr,
                    std::unique_ptr<AudioOutput> audio = nullptr);
    ~TForm1() override;

    // The window's caption.
    static QString Caption();

    StreamTable& Table() { return table_; }
    ASFGrid* Grid() const { return ASFGrid_; }
    RangeProgressBar* ProgressBar() const { return ProgressBar1; }
    StatusPanels* StatusBar() const override { return StatusBar1; }
    QWidget* ToolBar() const { return ToolBar1; }
    BalloonTipController* Tips() const { return tips_; }
    StreamActions& Actions() { return *actions_; }
    Prompts& Dialogs() override { return *prompts_; }
    QWidget* DialogParent() override { return this; }

    // Runs a command inside the general error handler: an error it does not
    // catch ends it and is shown in the error box. A close request that came
    // in while it ran is carried out when it has ended.
    void RunCommand(const std::function<void()>& command) override;
    // Shows the error box: the stop icon, the application title as caption.
    void ShowError(const QString& message);
    bool CommandRunning() const override { return commandRunning_; }

    // The desktop's open action for the help dialog's links (tests replace it).
    void SetUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener_ = std::move(opener); }
    // Where the help dialog finds the README and the manual (tests replace it).
    void SetHelpDocuments(const HelpDocuments& documents) { helpDocuments_ = documents; }

    // Opens a work folder in the window (the grid's menu, a dropped folder,
    // the command line), as the command OpenWorkFolder does.
    void OpenFolder(const std::string& folder) override;
    void BeginStoppable(const std::string& what) override;
    void EndStoppable() override;
    bool Quitting() const override { return quitRequested_; }
    // "Cancel" beside the progress bar, shown while a long command that can
    // stop runs.
    QPushButton* CancelButton() const { return CancelButton_; }
    // What a path on the command line or dropped on the window does: a
    // folder opens, a pair's file (.ast or .abk) is unpacked as if picked.
    void OpenPath(const QString& path);

    // Tool-bar handlers.
    void ExportButtonClick();
    void ImportButtonClick();
    void ToolButton9Click();
    void ToolButton8Click();

    // WindowServices
    void WarningBox(const std::string& text, const std::string& caption) override;
    void InformationBox(const std::string& text, const std::string& caption) override;
    void SetStatusPanel(int panel, const std::string& text) override;
    void SetProgressMin(std::int32_t value) override;
    void SetProgressMax(std::int32_t value) override;
    void SetProgressPosition(std::int32_t value) override;
    void Busy() override;
    void Idle() override;
    void DisableWindow() override;
    void EnableWindow() override;
    void PumpEvents() override;
    bool StopRequested() override { return stopRequested_; }
    void Repaint() override;
    std::optional<std::string> FileOpenDialog(const std::string& filter) override;
    std::optional<std::string> FolderSelectionDialog() override;
    void SetWorkFolder(const std::string& folder) override;
    bool ConfirmReplacingStreams(const std::string& folder, const std::string& archive,
                                 const std::vector<std::string>& names) override;

    // After a box or dialog has closed: the main window is activated again
    // and the grid gets the focus when it takes input, with or without a
    // window manager to do it.
    void ReturnFromModal() override;

    // What a drop of these URLs would run: an Unpack of one .ast or .abk
    // file, the opening of one folder; nothing for anything else.
    enum class DropAction { None, Unpack, Open };
    DropAction DropActionFor(const QList<QUrl>& urls, QString* path = nullptr) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void FormCreate(std::unique_ptr<AudioOutput> audio);
    QToolButton* AddToolButton(const char* name, const QString& picture, const QString& hint,
                               int x);
    void FocusGridIfNothingFocused();
    // Runs an Unpack; when the user kept the edited stream files, the work
    // folder's own table is shown afterwards.
    void RunUnpack(const std::function<void()>& unpack);

    StreamTable table_;
    std::unique_ptr<Prompts> prompts_;
    BalloonTipController* tips_;
    ToolBarStrip* ToolBar1;
    QToolButton* ExportButton;
    QToolButton* ImportButton;
    QToolButton* ToolButton9;
    QToolButton* ToolButton8;
    ASFGrid* ASFGrid_;
    RangeProgressBar* ProgressBar1;
    QPushButton* CancelButton_;
    StatusPanels* StatusBar1;
    std::unique_ptr<StreamActions> actions_;
    std::function<bool(const QUrl&)> urlOpener_;
    HelpDocuments helpDocuments_ = HelpDocuments::Installed();
    QElapsedTimer sinceLastPump_;
    QElapsedTimer sinceLastRepaint_;
    bool commandRunning_ = false;
    bool quitRequested_ = false;
    std::string stoppable_;  // the long command that runs and can stop, if one does
    bool stopRequested_ = false;
    std::string declinedFolder_;  // the folder whose edits the user just kept
};

}  // namespace tamrel
