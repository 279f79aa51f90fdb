#include "Prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

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
    boxes_.MessageBox(icon, text, caption);
}

std::optional<QString> DesktopPrompts::OpenFile(QWidget* parent, const QString& filter,
                                                Purpose purpose) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The filter's label stands as given ("*.ast;*.abk"), without Qt's
    // list of patterns after it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtNameFilters(filter));
    // Unpack's name field shows the pair chosen last time in this run; an
    // audio file's dialog opens where the last one was found.
    const QString last = lastFile_[purpose];
    if (purpose == Purpose::Unpack && !last.isEmpty()) {
        dialog.selectFile(last);
        // selectFile() shows the bare name; the field is to hold the full path.
        if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(last);
    } else if (!last.isEmpty()) {
        dialog.setDirectory(QFileInfo(last).absolutePath());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    lastFile_[purpose] = dialog.selectedFiles().constFirst();
    return lastFile_[purpose];
}

std::optional<QString> DesktopPrompts::SelectFolder(QWidget* parent, Purpose purpose) {
    BrowseForFolderDialog dialog(parent, this);
    // The folder of this purpose's last "OK"; before the first, the open work folder.
    const QString last = lastFolder_[purpose];
    dialog.Restore(folderDialogGeometry_, folderDialogMaximized_,
                   last.isEmpty() ? startFolder_ : last);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    folderDialogGeometry_ = dialog.saveGeometry();
    folderDialogMaximized_ = dialog.isMaximized();
    if (!accepted)
        return std::nullopt;
    lastFolder_[purpose] = dialog.ChosenPath();
    return lastFolder_[purpose];
}

}  // namespace tamrel

namespace tamrel {

std::optional<QString> DesktopPrompts::SaveFile(QWidget* parent, const QString& suggested,
                                                const QString& filter) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtNameFilters(filter));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

bool DesktopPrompts::Question(const QString& text, const QString& caption, const QString& yes,
                              const QString& no) {
    return boxes_.Question(text, caption, yes, no);
}

}  // namespace tamrel
