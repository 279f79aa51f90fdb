// The folder-selection dialog, "Browse for Folder": a tree of folders with the
// user's home and the file-system root at the top, hidden folders included.
#pragma once

#include <QDialog>
#include <QStandardItemModel>
#include <memory>

class QTreeView;
class QToolButton;
class QPushButton;

namespace tamrel {

class BalloonTipController;
class Boxes;
class DesktopBoxes;

class BrowseForFolderDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 358;
    static constexpr int kInitialHeight = 313;

    // prompts: the boxes the dialog shows (its question before a delete,
    // its failures); the desktop's own when null.
    // boxes: where the dialog's own messages and questions go; the
    // desktop's when null.
    explicit BrowseForFolderDialog(QWidget* parent = nullptr, Boxes* boxes = nullptr);
    ~BrowseForFolderDialog() override;

    // Brings back the size, window state and folder of the last showing (all
    // empty the first time: then the dialog opens centred at its first size).
    void Restore(const QByteArray& geometry, bool maximized, const QString& folder);

    // Expands the tree down to path and selects it; false when no item of
    // the tree leads there.
    bool SelectPath(const QString& path);
    // The selected folder's path: no trailing separator but for the root; the
    // empty text when nothing is selected.
    QString ChosenPath() const;

    QToolButton* CreateFolderButton() const { return createButton_; }
    QToolButton* DeleteButton() const { return deleteButton_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

    // Creates a new folder inside the selected one and starts editing its name.
    void CreateFolder();
    // Moves the selected folder to the desktop's trash, after asking.
    void DeleteFolder();

private:
    QStandardItem* AddFolderItem(QStandardItem* parent, const QString& path, const QString& text);
    void LoadChildren(QStandardItem* item);
    QStandardItem* SelectedItem() const;
    void UpdateButtons();
    void ShowContextMenu(const QPoint& pos);
    void RenameFolder(QStandardItem* item);

    QStandardItemModel model_;
    QTreeView* tree_;
    QToolButton* createButton_;
    QToolButton* deleteButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    BalloonTipController* tips_;
    std::unique_ptr<DesktopBoxes> ownBoxes_;
    Boxes* prompts_;
    bool renaming_ = false;
};

}  // namespace tamrel
