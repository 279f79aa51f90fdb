// The modal boxes and dialogs the window shows, behind one interface so that
// tests can answer them without a person.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <map>
#include <optional>

#include "Boxes.h"

namespace tamrel {

class Prompts : public Boxes {
public:
    // What a dialog is for: each remembers its own last choice while the
    // program runs, so that one purpose never pre-fills another's dialog.
    enum class Purpose { Unpack, Pack, OpenFolder, ExportAll, ReplaceAudio, ReplaceFromFolder };

    // The main window: every box and dialog is its child, so that closing
    // one gives activation back to it, with or without a window manager.
    virtual void SetOwner(QWidget* owner) { (void)owner; }
    // The file-open dialog: one existing file, filtered; nothing on cancel.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& filter,
                                            Purpose purpose = Purpose::Unpack) = 0;
    // The folder-selection dialog: a folder's path, or nothing on cancel.
    virtual std::optional<QString> SelectFolder(QWidget* parent,
                                                Purpose purpose = Purpose::Pack) = 0;
    // The folder a folder dialog starts at before its first "OK": the open
    // work folder.
    virtual void SetStartFolder(const QString& folder) { (void)folder; }
    // A work folder the user opened (from the menu, by a drop, on the command
    // line) counts as chosen: every folder dialog selects it next.
    virtual void ChoseFolder(const QString& folder) { (void)folder; }
    // The save dialog, starting at suggested; the chosen path or nothing.
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& suggested,
                                            const QString& filter) = 0;
};

// Turns a filter of "label|patterns" pairs (patterns separated by ";") into
// Qt's name filters, e.g. "*.ast;*.abk|*.ast;*.abk" -> "*.ast;*.abk (*.ast *.abk)".
QStringList QtNameFilters(const QString& filter);

// The real boxes and dialogs, remembering within one run the file chosen last
// and the folder dialog's size, state and folder.
class DesktopPrompts : public Prompts {
public:
    void SetOwner(QWidget* owner) override {
        owner_ = owner;
        boxes_.SetOwner(owner);
    }
    void MessageBox(Icon icon, const QString& text, const QString& caption) override;
    std::optional<QString> OpenFile(QWidget* parent, const QString& filter,
                                    Purpose purpose = Purpose::Unpack) override;
    std::optional<QString> SelectFolder(QWidget* parent, Purpose purpose = Purpose::Pack) override;
    void SetStartFolder(const QString& folder) override { startFolder_ = folder; }
    void ChoseFolder(const QString& folder) override {
        for (Purpose purpose :
             {Purpose::Pack, Purpose::OpenFolder, Purpose::ExportAll, Purpose::ReplaceFromFolder})
            lastFolder_[purpose] = folder;
    }
    std::optional<QString> SaveFile(QWidget* parent, const QString& suggested,
                                    const QString& filter) override;
    bool Question(const QString& text, const QString& caption, const QString& yes,
                  const QString& no) override;

private:
    QWidget* owner_ = nullptr;
    DesktopBoxes boxes_;
    std::map<Purpose, QString> lastFile_;
    std::map<Purpose, QString> lastFolder_;
    QString startFolder_;
    QByteArray folderDialogGeometry_;
    bool folderDialogMaximized_ = false;
};

}  // namespace tamrel
