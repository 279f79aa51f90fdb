// Prompts for tests: every box is recorded instead of shown, and the dialogs
// answer what the test put in.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "Prompts.h"

namespace tamrel::test {

class RecordingPrompts : public Prompts {
public:
    struct Shared {
        QStringList boxes;  // "icon|caption|text"
        std::optional<QString> file;
        std::optional<QString> folder;
        QStringList filters;
        std::function<void()> onBox;  // runs while a box is "open"
        std::optional<QString> saveFile;
        QStringList saveSuggestions;
        bool answer = false;  // to questions
        QStringList questions;
        QList<int> purposes;  // of the dialogs shown, in order
        QString startFolder;
        QString chosenFolder;  // a folder opened, as every folder dialog's choice
    };
    explicit RecordingPrompts(Shared& shared) : shared_(shared) {}

    void MessageBox(Icon icon, const QString& text, const QString& caption) override {
        const char* name = icon == Icon::Warning       ? "warning"
                           : icon == Icon::Information ? "information"
                                                       : "error";
        shared_.boxes << QStringLiteral("%1|%2|%3").arg(QString::fromLatin1(name), caption, text);
        if (shared_.onBox)
            shared_.onBox();
    }
    std::optional<QString> OpenFile(QWidget*, const QString& filter, Purpose purpose) override {
        shared_.filters << filter;
        shared_.purposes << static_cast<int>(purpose);
        return shared_.file;
    }
    std::optional<QString> SelectFolder(QWidget*, Purpose purpose) override {
        shared_.purposes << static_cast<int>(purpose);
        return shared_.folder;
    }
    void SetStartFolder(const QString& folder) override { shared_.startFolder = folder; }
    void ChoseFolder(const QString& folder) override { shared_.chosenFolder = folder; }
    std::optional<QString> SaveFile(QWidget*, const QString& suggested,
                                    const QString& filter) override {
        shared_.saveSuggestions << suggested;
        shared_.filters << filter;
        return shared_.saveFile;
    }
    bool Question(const QString& text, const QString& caption, const QString& yes,
                  const QString& no) override {
        shared_.questions << QStringLiteral("%1|%2|%3|%4").arg(caption, text, yes, no);
        return shared_.answer;
    }

private:
    Shared& shared_;
};

}  // namespace tamrel::test
