#include "AppSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <exception>

namespace tamrel {

QString ApplicationTitleFromProgramFile(const QString& programFilePath) {
    QString name = QFileInfo(programFilePath).fileName();
    const auto dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1).toUpper() + name.mid(1).toLower();
}

void RegisterBundledFonts() {
    // The free Tahoma Bold draws one-pixel stems at the sizes the window
    // uses, so it reads as regular. Without it, Qt emboldens the regular
    // face itself, which gives the stems of a bold face; so it is left out.
    for (const char* file :
         {"/usr/share/wine/fonts/ms_sans_serif.ttf", "/usr/share/wine/fonts/tahoma.ttf"}) {
        if (QFile::exists(QString::fromLatin1(file)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    }
}

namespace {
QFont FamilyFont(const char* family, int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QString::fromLatin1(family), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
}  // namespace

// The free "MS Sans Serif" is a bitmap face with a single strike of 13
// pixels: at other sizes its text would be drawn at 13 all the same, so
// Tahoma, its outline successor of the same design, stands in for it there.
constexpr int kSansSerifStrike = 13;

QFont WindowFont() {
    return SansSerifFont(11);
}
QFont TahomaFont(int pixelSize, bool bold) {
    return FamilyFont("Tahoma", pixelSize, bold);
}
QFont SansSerifFont(int pixelSize) {
    return FamilyFont(pixelSize == kSansSerifStrike ? "MS Sans Serif" : "Tahoma", pixelSize, false);
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

// The core's paths and texts are the system's bytes on Linux and UTF-8 on
// Windows, where the core turns them into the system's UTF-16 itself (the
// ANSI code page QFile::encodeName uses there cannot hold every name).
QString FromNative(const std::string& bytes) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
#else
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
#endif
}

std::string ToNative(const QString& text) {
#ifdef Q_OS_WIN
    const QByteArray bytes = text.toUtf8();
#else
    const QByteArray bytes = QFile::encodeName(text);
#endif
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string NativePath(const QString& path) {
    return ToNative(QDir::toNativeSeparators(path));
}

TamrelApplication::TamrelApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      title_(ApplicationTitleFromProgramFile(QString::fromLocal8Bit(argv[0]))) {}

TamrelApplication* TamrelApplication::Instance() {
    return qobject_cast<TamrelApplication*>(QCoreApplication::instance());
}

void TamrelApplication::ReportError(const QString& message) {
    if (reporter_) {
        reporter_(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title_, ErrorBoxText(message), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool TamrelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ReportError(FromNative(e.what()));
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
    return false;
}

}  // namespace tamrel
