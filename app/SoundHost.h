// What the window's sound actions ask of the main window: its services as a
// command's window, its dialogs and status panels, and running a command
// inside the general error handler. StreamActions knows the window only so.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "archive/host/WindowServices.h"

namespace tamrel {

class Prompts;
class StatusPanels;

class SoundHost : public WindowServices {
public:
    // The parent of the dialogs the actions show.
    virtual QWidget* DialogParent() = 0;
    virtual Prompts& Dialogs() = 0;
    virtual StatusPanels* StatusBar() const = 0;
    // Runs an action inside the general error handler.
    virtual void RunCommand(const std::function<void()>& command) = 0;
    virtual bool CommandRunning() const = 0;
    // After a box or dialog has closed: activation and focus back.
    virtual void ReturnFromModal() = 0;
    // Opens a work folder in the window.
    virtual void OpenFolder(const std::string& folder) = 0;
};

}  // namespace tamrel
