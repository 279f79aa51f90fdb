#include "Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <exception>

#include "ASFGrid.h"
#include "AppSetup.h"
#include "BalloonTip.h"
#include "HelpSupport.h"
#include "Icons.h"
#include "Prompts.h"
#include "RangeProgressBar.h"
#include "StatusPanels.h"
#include "StreamActions.h"
#include "Version.h"
#include "archive/folder/FolderTable.h"
#include "archive/host/NameList.h"
#include "archive/pair/Pack.h"
#include "archive/pair/Unpack.h"

namespace tamrel {

namespace {

constexpr int kToolBarHeight = 33;
constexpr int kStatusBarHeight = 25;
constexpr int kSeparatorWidth = 8;
constexpr int kButtonWidth = 23;
constexpr int kButtonHeight = 22;
// A repaint draws at most this often; in between, a pending update is drawn
// at the next pumping of events, so per-item repaints cost no more than the
// screen can show.
constexpr qint64 kRepaintIntervalMs = 16;
const QRect kProgressBarPlace(7, 280, 533, 13);
// "Cancel" takes the right end of the progress bar's row while it shows.
const QRect kCancelPlace(474, 276, 66, 17);
constexpr qint64 kPumpIntervalMs = 8;

QString CurrentTitle() {
    if (auto* app = TamrelApplication::Instance())
        return app->Title();
    return ApplicationTitleFromProgramFile(QCoreApplication::applicationFilePath());
}

}  // namespace

void ToolBarStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // An etched line along the top edge: shadow above, highlight below.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, 1, width() - 1, 1);
}

TForm1::TForm1(std::unique_ptr<Prompts> prompts, QWidget* parent,
               std::unique_ptr<AudioOutput> audio)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      prompts_(prompts ? std::move(prompts) : std::make_unique<DesktopPrompts>()),
      tips_(new BalloonTipController(this)) {
    prompts_->SetOwner(this);
    FormCreate(std::move(audio));
}

TForm1::~TForm1() {
    // The grid and the stream actions use the table, which goes with this
    // object before QWidget's destructor would delete the children.
    actions_.reset();
    delete ASFGrid_;
    ASFGrid_ = nullptr;
}

QString TForm1::Caption() {
    return QStringLiteral("Tamrel Ast-Abk Packer/Unpacker v") + QStringLiteral(TAMREL_VERSION);
}

void TForm1::FormCreate(std::unique_ptr<AudioOutput> audio) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFixedSize(kClientWidth, kClientHeight);
    move(271, 140);
    setAcceptDrops(true);

    ToolBar1 = new ToolBarStrip(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setGeometry(0, 0, kClientWidth, kToolBarHeight);
    int x = kSeparatorWidth;
    ExportButton =
        AddToolButton("ExportButton", QStringLiteral("unpack"), QStringLiteral("Unpack"), x);
    x += kButtonWidth + kSeparatorWidth;
    ImportButton = AddToolButton("ImportButton", QStringLiteral("pack"), QStringLiteral("Pack"), x);
    x += kButtonWidth + kSeparatorWidth;
    ToolButton9 =
        AddToolButton("ToolButton9", QStringLiteral("help"), QStringLiteral("Help / Support"), x);
    x += kButtonWidth + kSeparatorWidth;
    ToolButton8 = AddToolButton("ToolButton8", QStringLiteral("exit"), QStringLiteral("Exit"), x);
    connect(ExportButton, &QToolButton::clicked, this, &TForm1::ExportButtonClick);
    connect(ImportButton, &QToolButton::clicked, this, &TForm1::ImportButtonClick);
    connect(ToolButton9, &QToolButton::clicked, this, &TForm1::ToolButton9Click);
    connect(ToolButton8, &QToolButton::clicked, this, &TForm1::ToolButton8Click);
    // The tool bar from the keyboard, with no change to how it looks: each
    // key presses its button, and only while the button takes a click.
    const std::pair<QKeySequence, QToolButton*> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), ExportButton},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ImportButton},
        {QKeySequence(Qt::Key_F1), ToolButton9},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), ToolButton8},
    };
    for (const auto& [key, button] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled() && button->isVisible())
                button->click();
        });
    }

    ASFGrid_ = new ASFGrid(table_, this);
    ASFGrid_->setGeometry(7, 33, 533, 241);

    ProgressBar1 = new RangeProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(kProgressBarPlace);

    // Shown beside the progress bar only while a long command that can stop runs.
    CancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton_->setObjectName(QStringLiteral("CancelButton"));
    CancelButton_->setGeometry(kCancelPlace);
    CancelButton_->setFocusPolicy(Qt::NoFocus);
    CancelButton_->hide();
    connect(CancelButton_, &QPushButton::clicked, this, [this] {
        stopRequested_ = true;
        CancelButton_->setEnabled(false);  // once asked, it stops after the current stream
    });

    StatusBar1 = new StatusPanels(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);

    actions_ = std::make_unique<StreamActions>(*this, *ASFGrid_, table_,
                                               audio ? std::move(audio) : SystemAudioOutput());
    connect(ASFGrid_, &ASFGrid::SelectionChanged, actions_.get(), &StreamActions::ScheduleDetails);
    connect(ASFGrid_, &ASFGrid::StreamMenuRequested, actions_.get(), &StreamActions::ShowMenu);
    connect(ASFGrid_, &ASFGrid::FolderMenuRequested, actions_.get(),
            &StreamActions::ShowFolderMenu);
    // Balloons that explain what a cell or a panel shows.
    tips_->AddHintSource(ASFGrid_->viewport(),
                         [this](QPoint pos) { return ASFGrid_->HintAt(pos); });
    tips_->AddHintSource(StatusBar1, [this](QPoint pos) { return StatusBar1->HintAt(pos); });

    // The table is the only control that takes the keyboard focus.
    ASFGrid_->setFocus();
}

QToolButton* TForm1::AddToolButton(const char* name, const QString& picture, const QString& hint,
                                   int x) {
    auto* button = new QToolButton(ToolBar1);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(QIcon(Picture(picture)));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(false);  // raised buttons, not flat ones
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(x, 2, kButtonWidth, kButtonHeight);
    button->setAccessibleName(hint);
    tips_->AddHint(button, hint);
    return button;
}

void TForm1::RunCommand(const std::function<void()>& command) {
    commandRunning_ = true;
    try {
        command();
    } catch (const std::exception& e) {
        ShowError(FromNative(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
    commandRunning_ = false;
    // The status bar shows the selected stream again.
    actions_->ScheduleDetails();
    // Whatever was left to draw is drawn now, not at some later event.
    repaint();
    if (quitRequested_) {
        quitRequested_ = false;
        close();
    }
}

void TForm1::ShowError(const QString& message) {
    prompts_->MessageBox(Prompts::Icon::Error, ErrorBoxText(message), CurrentTitle());
    ReturnFromModal();
}

void TForm1::ReturnFromModal() {
    if (!isVisible())
        return;
    activateWindow();
    if (ASFGrid_->isEnabled() && isEnabled())
        ASFGrid_->setFocus(Qt::ActiveWindowFocusReason);
}

bool TForm1::ConfirmReplacingStreams(const std::string& folder, const std::string& archive,
                                     const std::vector<std::string>& names) {
    const std::string list = NameList(names);
    const bool one = names.size() == 1;
    const std::string text =
        "The work folder " + folder + " holds " + std::to_string(names.size()) +
        (one ? " stream file that differs from " : " stream files that differ from ") + archive +
        " (" + list + "). Unpacking again replaces " +
        (one ? "it. Replace it?" : "them. Replace them?");
    // Cancel is the default: Enter keeps the user's files.
    const bool replace = prompts_->Question(FromNative(text), QStringLiteral("Confirm"),
                                            QStringLiteral("Replace"), QStringLiteral("Cancel"));
    ReturnFromModal();
    if (!replace)
        declinedFolder_ = folder;
    return replace;
}

void TForm1::RunUnpack(const std::function<void()>& unpack) {
    actions_->StopPlayback();
    declinedFolder_.clear();
    RunCommand(unpack);
    // The user kept their edits: the window shows their folder, not the pair.
    if (!declinedFolder_.empty()) {
        const std::string folder = std::move(declinedFolder_);
        declinedFolder_.clear();
        OpenFolder(folder);
    }
}

void TForm1::ExportButtonClick() {
    RunUnpack([this] { Unpack(table_, *this); });
}

void TForm1::OpenFolder(const std::string& folder) {
    actions_->StopPlayback();
    OpenOutcome outcome = OpenOutcome::ResourcesMissing;
    RunCommand([this, folder, &outcome] { outcome = OpenWorkFolder(table_, *this, folder); });
    // The folder on screen is the one Pack and the other folder dialogs offer.
    if (outcome == OpenOutcome::Opened)
        prompts_->ChoseFolder(FromNative(folder));
}

void TForm1::OpenPath(const QString& path) {
    const QFileInfo item(path);
    const std::string picked = NativePath(QDir::cleanPath(item.absoluteFilePath()));
    if (item.isDir()) {
        OpenFolder(picked);
    } else if (item.isFile() &&
               (item.suffix() == QLatin1String("ast") || item.suffix() == QLatin1String("abk"))) {
        RunUnpack([this, picked] { UnpackPickedFile(table_, *this, picked); });
    } else {
        ShowError(
            FromNative(picked + " is neither a work folder nor a file of a pair (.ast, .abk)"));
    }
}

void TForm1::BeginStoppable(const std::string& what) {
    stoppable_ = what;
    stopRequested_ = false;
    ProgressBar1->setGeometry(kProgressBarPlace.adjusted(0, 0, -(kCancelPlace.width() + 4), 0));
    CancelButton_->setEnabled(true);
    CancelButton_->show();
}

void TForm1::EndStoppable() {
    stoppable_.clear();
    stopRequested_ = false;
    CancelButton_->hide();
    ProgressBar1->setGeometry(kProgressBarPlace);
}

namespace {

// 20000 as "20,000".
// (Built digit by digit: inserting into the string trips a false overlap
// warning of GCC 12 at -O3.)
std::string Grouped(std::int64_t n) {
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string grouped = n < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

void TForm1::ImportButtonClick() {
    actions_->StopPlayback();
    PackOutcome outcome = PackOutcome::Cancelled;
    RunCommand([this, &outcome] { outcome = Pack(table_, *this); });
    // The grid shows the packed folder's table: the panels name that folder.
    if (outcome == PackOutcome::Succeeded && !actions_->WorkFolder().empty())
        ShowFolderPanels(*this, actions_->WorkFolder(), table_);
}

void TForm1::SetWorkFolder(const std::string& folder) {
    actions_->SetWorkFolder(folder);
    // The folder dialogs start there before their first choice.
    if (!folder.empty())
        prompts_->SetStartFolder(FromNative(folder));
}

void TForm1::ToolButton9Click() {
    // A fresh dialog on every press: its links always start unvisited.
    {
        THelpSupport dialog(this, urlOpener_, helpDocuments_);
        dialog.exec();
    }
    ReturnFromModal();
}

void TForm1::ToolButton8Click() {
    close();
}

void TForm1::WarningBox(const std::string& text, const std::string& caption) {
    prompts_->MessageBox(Prompts::Icon::Warning, FromNative(text), FromNative(caption));
    ReturnFromModal();
}

void TForm1::InformationBox(const std::string& text, const std::string& caption) {
    prompts_->MessageBox(Prompts::Icon::Information, FromNative(text), FromNative(caption));
    ReturnFromModal();
}

void TForm1::SetStatusPanel(int panel, const std::string& text) {
    StatusBar1->SetPanelText(panel, FromNative(text));
}

void TForm1::SetProgressMin(std::int32_t value) {
    ProgressBar1->SetMin(value);
}
void TForm1::SetProgressMax(std::int32_t value) {
    ProgressBar1->SetMax(value);
}
void TForm1::SetProgressPosition(std::int32_t value) {
    ProgressBar1->SetPosition(value);
}

void TForm1::Busy() {
    ToolBar1->setEnabled(false);
    ASFGrid_->setEnabled(false);  // this also takes the keyboard focus away from it
}

void TForm1::Idle() {
    ToolBar1->setEnabled(true);
    ASFGrid_->setEnabled(true);
}

void TForm1::DisableWindow() {
    setEnabled(false);
}
void TForm1::EnableWindow() {
    setEnabled(true);
}

void TForm1::PumpEvents() {
    // Pumping once per item costs more than the item itself when items are
    // many and small; at this pace the window still follows the work and
    // answers the user at once.
    if (sinceLastPump_.isValid() && sinceLastPump_.elapsed() < kPumpIntervalMs)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceLastPump_.restart();
}

void TForm1::Repaint() {
    if (!sinceLastRepaint_.isValid() || sinceLastRepaint_.elapsed() >= kRepaintIntervalMs) {
        repaint();
        sinceLastRepaint_.restart();
    } else {
        update();
    }
}

std::optional<std::string> TForm1::FileOpenDialog(const std::string& filter) {
    auto path = prompts_->OpenFile(this, FromNative(filter));
    ReturnFromModal();
    if (!path)
        return std::nullopt;
    return NativePath(*path);
}

std::optional<std::string> TForm1::FolderSelectionDialog() {
    auto path = prompts_->SelectFolder(this);
    ReturnFromModal();
    if (!path)
        return std::nullopt;
    return NativePath(*path);
}

TForm1::DropAction TForm1::DropActionFor(const QList<QUrl>& urls, QString* path) const {
    // Nothing while a command runs or the window takes no input, and only
    // one local item.
    if (commandRunning_ || !isEnabled() || !ToolBar1->isEnabled() || urls.size() != 1 ||
        !urls.front().isLocalFile())
        return DropAction::None;
    const QFileInfo item(urls.front().toLocalFile());
    // The path as the dialogs give it: absolute, no separator at its end.
    QString picked = QDir::cleanPath(item.absoluteFilePath());
    if (path)
        *path = picked;
    if (item.isDir())
        return DropAction::Open;
    const QString suffix = item.suffix();
    if (item.isFile() && (suffix == QLatin1String("ast") || suffix == QLatin1String("abk")))
        return DropAction::Unpack;
    return DropAction::None;
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() &&
        DropActionFor(event->mimeData()->urls()) != DropAction::None)
        event->acceptProposedAction();
    else
        event->ignore();  // the pointer shows that nothing would happen
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls() &&
        DropActionFor(event->mimeData()->urls()) != DropAction::None)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent* event) {
    QString path;
    const DropAction action = event->mimeData()->hasUrls()
                                  ? DropActionFor(event->mimeData()->urls(), &path)
                                  : DropAction::None;
    if (action == DropAction::None) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // A pair's file unpacks exactly as if picked; a folder opens (Pack stays
    // the button's, never a drop's).
    OpenPath(path);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // While disabled, the close box, the system menu and Alt+F4 do nothing;
    // while a command runs, the close waits for its end.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    if (commandRunning_) {
        // A long command that can stop asks first; Continue is the default.
        if (!stoppable_.empty() && !stopRequested_) {
            const ProgressRange& range = ProgressBar1->Range();
            const std::string text = stoppable_ + " is running (" + Grouped(range.Position()) +
                                     " of " + Grouped(range.Max()) + "). Stop it and quit?";
            const bool quit =
                prompts_->Question(FromNative(text), QStringLiteral("Confirm"),
                                   QStringLiteral("Stop and quit"), QStringLiteral("Continue"));
            ReturnFromModal();
            if (!quit) {
                event->ignore();
                return;
            }
            stopRequested_ = true;
        }
        quitRequested_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TForm1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FocusGridIfNothingFocused();
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FocusGridIfNothingFocused();
    return QWidget::event(event);
}

void TForm1::FocusGridIfNothingFocused() {
    if (!focusWidget() || !focusWidget()->isEnabled() || !focusWidget()->hasFocus()) {
        if (ASFGrid_->isEnabled() && isEnabled())
            ASFGrid_->setFocus(Qt::ActiveWindowFocusReason);
    }
}

}  // namespace tamrel
