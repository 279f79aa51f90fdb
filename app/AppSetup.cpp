#include "AppSetup.h"

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
    for (const char* file :
         {"/usr/share/wine/fonts/ms_sans_serif.ttf", "/usr/share/wine/fonts/tahoma.ttf",
          "/usr/share/wine/fonts/tahomabd.ttf"}) {
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

QFont WindowFont() {
    return FamilyFont("MS Sans Serif", 11, false);
}
QFont TahomaFont(int pixelSize, bool bold) {
    return FamilyFont("Tahoma", pixelSize, bold);
}
QFont SansSerifFont(int pixelSize) {
    return FamilyFont("MS Sans Serif", pixelSize, false);
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString FromNative(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string ToNative(const QString& text) {
    const QByteArray bytes = QFile::encodeName(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
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
