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
    std::optional<QString> OpenFile(QWidget*, const QString& filter) override {
        shared_.filters << filter;
        return shared_.file;
    }
    std::optional<QString> SelectFolder(QWidget*) override { return shared_.folder; }

private:
    Shared& shared_;
};

}  // namespace tamrel::test
