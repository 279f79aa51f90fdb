// Project1: the program. It keeps no settings: it shows the main window and
// runs the event loop until that window closes. A path on the command line
// (as "Open with" passes a pair's file) opens a work folder or unpacks a pair.
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "AppSetup.h"
#include "Icons.h"
#include "Unit1.h"
#include "Version.h"
#include "io/FileIo.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char* const kUsageText =
    "Usage: tamrel [FOLDER|FILE]\n"
    "The Tamrel window: unpack a stream archive (.ast) and its bank (.abk) into a\n"
    "work folder, hear, export and replace its streams, and pack it into a new pair.\n"
    "\n"
    "  FOLDER         open this work folder\n"
    "  FILE           unpack the pair of FILE (either file of the pair)\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "tamrel-cli does the same from a terminal.\n";

// --help and --version are answered on the terminal, without a window (and
// so without a display); nothing when the program is to start.
std::optional<int> AnswerOnTerminal(int argc, char** argv) {
    if (argc < 2)
        return std::nullopt;
    const std::string first = argv[1];
#ifdef Q_OS_WIN
    // A window program started from a console is not given it: the answer
    // goes to the console it was started from, when nothing else takes it.
    if ((first == "-h" || first == "--help" || first == "--version") &&
        !::GetStdHandle(STD_OUTPUT_HANDLE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
    if (first == "-h" || first == "--help")
        tamrel::WriteText(stdout, kUsageText);
    else if (first == "--version")
        tamrel::WriteText(stdout, std::string("tamrel ") + TAMREL_VERSION + "\n");
    else
        return std::nullopt;
    if (const int error = tamrel::CloseStandardOutput(); error != 0) {
        tamrel::WriteText(stderr,
                          std::string("tamrel: write error: ") + tamrel::ErrorText(error) + "\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = AnswerOnTerminal(argc, argv))
        return *status;
    tamrel::TamrelApplication app(argc, argv);
    app.setWindowIcon(tamrel::ProgramIcon());
    tamrel::RegisterBundledFonts();

    tamrel::TForm1 form;
    app.SetErrorReporter([&form](const QString& message) { form.ShowError(message); });
    form.show();
    if (argc > 1) {
        // Qt's own list: on Windows it is read from the wide command line,
        // so names outside the ANSI code page arrive whole.
        const QString path = QCoreApplication::arguments().value(1);
        QTimer::singleShot(0, &form, [&form, path] { form.OpenPath(path); });
    }
    return app.exec();
}
