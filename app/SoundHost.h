// What the window's sound actions ask of the main window: its services as a
// command's window, its dialogs and status panels, and running a command
// inside the general error handler. StreamActions knows the window only so.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <utility>

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
    // A long command that can stop begins (its name, for the question when
    // the window is closed meanwhile) and ends: "Cancel" shows meanwhile.
    virtual void BeginStoppable(const std::string& what) = 0;
    virtual void EndStoppable() = 0;
    // The window is to close once the running command has ended.
    virtual bool Quitting() const = 0;
};

// Shows "Cancel" for its lifetime, so that every way out hides it again.
class StoppableGuard {
public:
    StoppableGuard(SoundHost& host, const std::string& what) : host_(&host) {
        host.BeginStoppable(what);
    }
    ~StoppableGuard() { Release(); }
    StoppableGuard(const StoppableGuard&) = delete;
    StoppableGuard& operator=(const StoppableGuard&) = delete;
    void Release() {
        if (host_)
            std::exchange(host_, nullptr)->EndStoppable();
    }

private:
    SoundHost* host_;
};

}  // namespace tamrel
