// Program-wide pieces of the window: the application title, fonts, text
// conversion between the core's byte strings and Qt, and the general error
// handler's text rule.
#pragma once

#include <QApplication>
#include <QFont>
#include <QString>
#include <functional>
#include <string>

namespace tamrel {

// The title from the program file's name: without its folder, cut at the
// first ".", every letter after the first in lower case, and the first in
// upper case (so the program file tamrel gives Tamrel).
QString ApplicationTitleFromProgramFile(const QString& programFilePath);

// Registers the free "MS Sans Serif" and "Tahoma" families of fonts-wine when
// they are installed; without them the system's sans-serif font stands in.
void RegisterBundledFonts();

// The window's font: "MS Sans Serif", 11 pixels.
QFont WindowFont();
// "Tahoma" at a character height in pixels.
QFont TahomaFont(int pixelSize, bool bold = false);
// "MS Sans Serif" at a character height in pixels.
QFont SansSerifFont(int pixelSize);

// The error box's text: the message, with a "." appended when it is not
// empty and its last character's code is above that of ".".
QString ErrorBoxText(const QString& message);

// Paths and cell texts travel through the core as the file system's bytes.
QString FromNative(const std::string& bytes);
std::string ToNative(const QString& text);
// A path Qt gives (always with "/") as the core takes it and the user reads
// it: with the system's separators ("\" on Windows).
std::string NativePath(const QString& path);

// The application: it knows its title, and as the last resort it catches an
// error that escapes an event handler, so that no error crosses the event loop.
class TamrelApplication : public QApplication {
    Q_OBJECT
public:
    TamrelApplication(int& argc, char** argv);

    static TamrelApplication* Instance();
    const QString& Title() const { return title_; }

    // Shows an escaped error; the window sets this to its own error box.
    void SetErrorReporter(std::function<void(const QString&)> reporter) {
        reporter_ = std::move(reporter);
    }
    void ReportError(const QString& message);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    QString title_;
    std::function<void(const QString&)> reporter_;
};

}  // namespace tamrel
