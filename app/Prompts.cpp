#include "Prompts.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "FolderDialog.h"

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

void DesktopPrompts::MessageBox(Icon icon, const QString& text, const QString& caption) {
    const QMessageBox::Icon boxIcon = icon == Icon::Warning       ? QMessageBox::Warning
                                      : icon == Icon::Information ? QMessageBox::Information
                                                                  : QMessageBox::Critical;
    // No parent: the box stands centred on the screen of the active window,
    // and application-modal keeps every window of the program out meanwhile.
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

std::optional<QString> DesktopPrompts::OpenFile(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
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
    BrowseForFolderDialog dialog(parent);
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
    QMessageBox box(QMessageBox::Question, caption, text);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(no, QMessageBox::RejectRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == yesButton;
}

}  // namespace tamrel
