#include "FolderDialog.h"

#include "Boxes.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "BalloonTip.h"
#include "Icons.h"

namespace tamrel {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kLoadedRole = Qt::UserRole + 2;

// Shows the hourglass for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString CleanFolderPath(const QString& path) {
    return QDir::cleanPath(path);
}

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

// Whether the clean path target is folder or lies below it (a root such as
// "/" or "C:/" ends with its separator already).
bool Within(const QString& target, const QString& folder) {
    if (target.compare(folder, kPathCase) == 0)
        return true;
    return target.startsWith(folder.endsWith(u'/') ? folder : folder + u'/', kPathCase);
}

}  // namespace

BrowseForFolderDialog::BrowseForFolderDialog(QWidget* parent, Boxes* boxes)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      tips_(new BalloonTipController(this)),
      ownBoxes_(boxes ? nullptr : std::make_unique<DesktopBoxes>()),
      prompts_(boxes ? boxes : ownBoxes_.get()) {
    WaitCursor wait;
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setSizeGripEnabled(true);

    createButton_ = new QToolButton(this);
    createButton_->setObjectName(QStringLiteral("CreateFolderButton"));
    createButton_->setAutoRaise(true);
    createButton_->setIcon(Picture(QStringLiteral("newfolder")));
    createButton_->setFocusPolicy(Qt::NoFocus);
    tips_->AddHint(createButton_, QStringLiteral("Create Folder"));
    deleteButton_ = new QToolButton(this);
    deleteButton_->setObjectName(QStringLiteral("DeleteButton"));
    deleteButton_->setAutoRaise(true);
    deleteButton_->setIcon(Picture(QStringLiteral("delete")));
    deleteButton_->setFocusPolicy(Qt::NoFocus);
    tips_->AddHint(deleteButton_, QStringLiteral("Delete"));

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("FolderTree"));
    tree_->setModel(&model_);
    tree_->setHeaderHidden(true);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);

    auto* tools = new QHBoxLayout;
    tools->addStretch();
    tools->addWidget(createButton_);
    tools->addWidget(deleteButton_);
    tools->setSpacing(0);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 8);
    layout->setSpacing(4);
    layout->addLayout(tools);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);

    // The home folder, then every drive (on Linux, the one root).
    AddFolderItem(model_.invisibleRootItem(), QDir::homePath(),
                  QDir::toNativeSeparators(QDir::homePath()));
    for (const QFileInfo& drive : QDir::drives())
        AddFolderItem(model_.invisibleRootItem(), drive.absoluteFilePath(),
                      QDir::toNativeSeparators(drive.absoluteFilePath()));

    connect(tree_, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { LoadChildren(model_.itemFromIndex(index)); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &BrowseForFolderDialog::UpdateButtons);
    connect(tree_, &QWidget::customContextMenuRequested, this,
            &BrowseForFolderDialog::ShowContextMenu);
    // Only an edited name renames a folder: changes of the items' other data
    // (their paths, whether they were read) come with other roles.
    connect(&model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex&, const QList<int>& roles) {
                if (roles.contains(Qt::EditRole) || roles.contains(Qt::DisplayRole))
                    RenameFolder(model_.itemFromIndex(topLeft));
            });
    connect(createButton_, &QToolButton::clicked, this, &BrowseForFolderDialog::CreateFolder);
    connect(deleteButton_, &QToolButton::clicked, this, &BrowseForFolderDialog::DeleteFolder);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    // It cannot be made smaller than it first opens.
    setMinimumSize(kInitialWidth, kInitialHeight);
    resize(kInitialWidth, kInitialHeight);
    tree_->setCurrentIndex(model_.index(0, 0));
    UpdateButtons();
}

BrowseForFolderDialog::~BrowseForFolderDialog() = default;

void BrowseForFolderDialog::Restore(const QByteArray& geometry, bool maximized,
                                    const QString& folder) {
    WaitCursor wait;
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        resize(kInitialWidth, kInitialHeight);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    if (maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    if (!folder.isEmpty())
        SelectPath(folder);
}

QStandardItem* BrowseForFolderDialog::AddFolderItem(QStandardItem* parent, const QString& path,
                                                    const QString& text) {
    auto* item = new QStandardItem(text);
    item->setData(path, kPathRole);
    item->setData(false, kLoadedRole);
    item->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    // Only folder names below the top items can be edited (F2 or a new folder).
    item->setEditable(parent != model_.invisibleRootItem());
    // A stand-in child gives the item its expand arrow until it is opened.
    auto* placeholder = new QStandardItem;
    placeholder->setEditable(false);
    placeholder->setSelectable(false);
    item->appendRow(placeholder);
    parent->appendRow(item);
    return item;
}

void BrowseForFolderDialog::LoadChildren(QStandardItem* item) {
    if (!item || item->data(kLoadedRole).toBool())
        return;
    WaitCursor wait;
    item->setData(true, kLoadedRole);
    item->removeRows(0, item->rowCount());
    const QString path = item->data(kPathRole).toString();
    QDir dir(path);
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                            QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names)
        AddFolderItem(item, dir.filePath(name), name);
}

bool BrowseForFolderDialog::SelectPath(const QString& wanted) {
    const QString target = CleanFolderPath(QFileInfo(wanted).absoluteFilePath());
    // Below the home folder the home item leads there, elsewhere the drive
    // it is on.
    QStandardItem* top = nullptr;
    for (int row = 0; row < model_.rowCount() && !top; ++row)
        if (Within(target, CleanFolderPath(model_.item(row)->data(kPathRole).toString())))
            top = model_.item(row);
    if (!top)
        return false;
    QStandardItem* item = top;
    while (CleanFolderPath(item->data(kPathRole).toString()).compare(target, kPathCase) != 0) {
        LoadChildren(item);
        QStandardItem* next = nullptr;
        for (int row = 0; row < item->rowCount() && !next; ++row) {
            QStandardItem* child = item->child(row);
            if (Within(target, CleanFolderPath(child->data(kPathRole).toString())))
                next = child;
        }
        if (!next)
            return false;
        tree_->expand(item->index());
        item = next;
    }
    tree_->setCurrentIndex(item->index());
    tree_->scrollTo(item->index());
    return true;
}

QStandardItem* BrowseForFolderDialog::SelectedItem() const {
    QStandardItem* item = model_.itemFromIndex(tree_->currentIndex());
    if (!item || item->data(kPathRole).toString().isEmpty())
        return nullptr;
    return item;
}

QString BrowseForFolderDialog::ChosenPath() const {
    const QStandardItem* item = SelectedItem();
    return item ? CleanFolderPath(item->data(kPathRole).toString()) : QString();
}

void BrowseForFolderDialog::UpdateButtons() {
    const QStandardItem* item = SelectedItem();
    createButton_->setEnabled(item != nullptr);
    // Neither the home folder nor the root can be deleted from here.
    deleteButton_->setEnabled(item != nullptr && item->parent() != nullptr);
}

void BrowseForFolderDialog::CreateFolder() {
    QStandardItem* parent = SelectedItem();
    if (!parent)
        return;
    const QDir dir(parent->data(kPathRole).toString());
    QString name = QStringLiteral("New Folder");
    for (int n = 2; dir.exists(name); ++n)
        name = QStringLiteral("New Folder (%1)").arg(n);
    if (!dir.mkdir(name)) {
        prompts_->MessageBox(Boxes::Icon::Warning,
                             QStringLiteral("Cannot create the folder %1.")
                                 .arg(QDir::toNativeSeparators(dir.filePath(name))),
                             windowTitle());
        return;
    }
    // Reload the parent's folders so the new one stands in its place in the order.
    parent->setData(false, kLoadedRole);
    LoadChildren(parent);
    tree_->expand(parent->index());
    for (int row = 0; row < parent->rowCount(); ++row) {
        if (parent->child(row)->text() == name) {
            tree_->setCurrentIndex(parent->child(row)->index());
            tree_->edit(parent->child(row)->index());
            break;
        }
    }
}

void BrowseForFolderDialog::DeleteFolder() {
    QStandardItem* item = SelectedItem();
    if (!item || !item->parent())
        return;
    const QString path = item->data(kPathRole).toString();
    if (!prompts_->Question(
            QStringLiteral("Move the folder \"%1\" and everything in it to the trash?")
                .arg(QDir::toNativeSeparators(path)),
            QStringLiteral("Delete Folder"), QStringLiteral("Yes"), QStringLiteral("No")))
        return;
    if (!QFile::moveToTrash(path)) {
        prompts_->MessageBox(Boxes::Icon::Warning,
                             QStringLiteral("The folder %1 could not be moved to the trash.")
                                 .arg(QDir::toNativeSeparators(path)),
                             QStringLiteral("Delete Folder"));
        return;
    }
    QStandardItem* parent = item->parent();
    parent->removeRow(item->row());
    tree_->setCurrentIndex(parent->index());
}

void BrowseForFolderDialog::RenameFolder(QStandardItem* item) {
    // The top items (home, root) are never renamed from here.
    if (renaming_ || !item || !item->parent() || item->data(kPathRole).toString().isEmpty())
        return;
    const QString oldPath = item->data(kPathRole).toString();
    const QFileInfo oldInfo(oldPath);
    if (item->text() == oldInfo.fileName())
        return;
    const QString newPath = oldInfo.dir().filePath(item->text());
    renaming_ = true;
    if (item->text().isEmpty() || item->text().contains(u'/') || !QDir().rename(oldPath, newPath)) {
        item->setText(oldInfo.fileName());
        prompts_->MessageBox(
            Boxes::Icon::Warning,
            QStringLiteral("Cannot rename the folder %1.").arg(QDir::toNativeSeparators(oldPath)),
            windowTitle());
    } else {
        item->setData(newPath, kPathRole);
        // Its subfolders' paths changed with it: read them again when opened.
        item->setData(false, kLoadedRole);
        item->removeRows(0, item->rowCount());
        item->appendRow(new QStandardItem);
        tree_->collapse(item->index());
    }
    renaming_ = false;
}

void BrowseForFolderDialog::ShowContextMenu(const QPoint& pos) {
    const QModelIndex index = tree_->indexAt(pos);
    if (!index.isValid())
        return;
    tree_->setCurrentIndex(index);
    const QString path = ChosenPath();
    if (path.isEmpty())
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("New Folder"), this, &BrowseForFolderDialog::CreateFolder)
        ->setEnabled(createButton_->isEnabled());
    menu.addAction(QStringLiteral("Delete"), this, &BrowseForFolderDialog::DeleteFolder)
        ->setEnabled(deleteButton_->isEnabled());
    menu.addSeparator();
    menu.addAction(QStringLiteral("Copy Path"), this,
                   [path] { QGuiApplication::clipboard()->setText(path); });
    menu.addAction(QStringLiteral("Open in File Manager"), this,
                   [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
    menu.exec(tree_->viewport()->mapToGlobal(pos));
}

}  // namespace tamrel
