// The window's tests run offscreen inside one application object, named as
// the program is, so that the application title is the program's.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "AppSetup.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    char programName[] = "/usr/bin/tamrel";
    int appArgc = 1;
    char* appArgv[] = {programName, nullptr};
    tamrel::TamrelApplication app(appArgc, appArgv);
    tamrel::RegisterBundledFonts();
    return RUN_ALL_TESTS();
}
