// Project1: the program. It keeps no settings: it shows the main window and
// runs the event loop until that window closes. A path on the command line
// (as "Open with" passes a pair's file) opens a work folder or unpacks a pair.
#include <QTimer>

#include "AppSetup.h"
#include "Icons.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    tamrel::TamrelApplication app(argc, argv);
    app.setWindowIcon(tamrel::ProgramIcon());
    tamrel::RegisterBundledFonts();

    tamrel::TForm1 form;
    app.SetErrorReporter([&form](const QString& message) { form.ShowError(message); });
    form.show();
    if (argc > 1) {
        const QString path = QString::fromLocal8Bit(argv[1]);
        QTimer::singleShot(0, &form, [&form, path] { form.OpenPath(path); });
    }
    return app.exec();
}
