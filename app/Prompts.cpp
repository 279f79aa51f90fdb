#include "Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "FolderDialog.h"
#include "Placement.h"

namespace tamrel {

QStringList QtNameFilters(const QString& filter) {
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return filters;
}

QWidget* DesktopPrompts::BoxParent() const {
    // A box over an open dialog belongs to that dialog; otherwise to the
    // main window.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return owner_;
}

void DesktopPrompts::MessageBox(Icon icon, const QString& text, const QString& caption) {
    const QMessageBox::Icon boxIcon = icon == Icon::Warning       ? QMessageBox::Warning
                                      : icon == Icon::Information ? QMessageBox::Information
                                                                  : QMessageBox::Critical;
    // The main window is the parent, for activation when the box closes; the
    // box itself stands centred on the screen, and application-modal keeps
    // every window of the program out meanwhile.
    CentredMessageBox box(boxIcon, caption, text, QMessageBox::Ok, BoxParent());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

std::optional<QString> DesktopPrompts::OpenFile(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The filter's label stands as given ("*.ast;*.abk"), without Qt's
    // list of patterns after it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtNameFilters(filter));
    // The name field shows the file chosen last time in this run.
    if (!lastFile_.isEmpty()) {
        dialog.selectFile(lastFile_);
        // selectFile() shows the bare name; the field is to hold the full path.
        if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(lastFile_);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    lastFile_ = dialog.selectedFiles().constFirst();
    return lastFile_;
}

std::optional<QString> DesktopPrompts::SelectFolder(QWidget* parent) {
    BrowseForFolderDialog dialog(parent, this);
    dialog.Restore(folderDialogGeometry_, folderDialogMaximized_, lastFolder_);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    folderDialogGeometry_ = dialog.saveGeometry();
    folderDialogMaximized_ = dialog.isMaximized();
    if (!accepted)
        return std::nullopt;
    lastFolder_ = dialog.ChosenPath();
    return lastFolder_;
}

}  // namespace tamrel

namespace tamrel {

std::optional<QString> DesktopPrompts::SaveFile(QWidget* parent, const QString& suggested,
                                                const QString& filter) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtNameFilters(filter));
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

bool DesktopPrompts::Question(const QString& text, const QString& caption, const QString& yes,
                              const QString& no) {
    CentredMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, BoxParent());
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(no, QMessageBox::RejectRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == yesButton;
}

}  // namespace tamrel
