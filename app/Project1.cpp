// Project1: the program. It takes no command line and keeps no settings: it
// shows the main window and runs the event loop until that window closes.
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
    return app.exec();
}
