// What a command asks of the window it runs in. The main window implements it
// with real widgets; the console host and the tests implement it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamrel {

// What a step of a command counts, and how its progress positions map onto
// that: the positions first to last stand for 0 to total.
struct ProgressPhase {
    enum class Unit { Bytes, Streams, AudioMilliseconds };
    std::string name;  // "Reading", "Writing streams", "Encoding"
    Unit unit = Unit::Streams;
    std::int64_t total = 0;
    std::int64_t first = 0, last = 0;
};

class WindowServices {
public:
    virtual ~WindowServices() = default;

    // Modal box with the warning icon and one "OK"; returns when closed.
    virtual void WarningBox(const std::string& text, const std::string& caption) = 0;
    // The same with the information icon.
    virtual void InformationBox(const std::string& text, const std::string& caption) = 0;
    // Something the user should know that is not the command's own result
    // (an interrupted write completed, one pending): the window shows it in
    // an information box, the console on stderr.
    virtual void Notice(const std::string& text) { InformationBox(text, "Information"); }
    // Unpack is about to replace stream files of folder (names) whose bytes
    // differ from archive's streams: the user's edits. True to replace them.
    virtual bool ConfirmReplacingStreams(const std::string& folder, const std::string& archive,
                                         const std::vector<std::string>& names) {
        (void)folder, (void)archive, (void)names;
        return true;
    }
    // The work folder whose stream files the table now names, once a command
    // has written it; empty when the table names none on disk.
    virtual void SetWorkFolder(const std::string& folder) { (void)folder; }
    // Status panel 0 to 3 shows text; the empty text empties it.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;

    // Progress bar range and position. A minimum above the maximum, or a
    // maximum below the minimum, is refused with an error and the range stays.
    virtual void SetProgressMin(std::int32_t value) = 0;
    virtual void SetProgressMax(std::int32_t value) = 0;
    // Any value is accepted; the bar shows it limited to the range.
    virtual void SetProgressPosition(std::int32_t value) = 0;
    // A new step of the command, for a host that says in words what the
    // positions that follow count ("Writing streams: 8123 of 20000
    // streams"); the window's bar does not show it.
    virtual void BeginProgressPhase(const ProgressPhase& phase) { (void)phase; }

    // Busy: the tool bar, then the table view, stop taking input. Idle undoes it.
    virtual void Busy() = 0;
    virtual void Idle() = 0;
    // The whole main window stops / starts again taking input.
    virtual void DisableWindow() = 0;
    virtual void EnableWindow() = 0;

    // Handles every waiting window message, then returns.
    virtual void PumpEvents() = 0;
    // True once the user asked a long command that can stop (an export of
    // many streams, a replacement from a folder) to stop after its current
    // item; what is done stays, what is not is left as it is.
    virtual bool StopRequested() { return false; }
    // Brings the window's picture up to date at once.
    virtual void Repaint() = 0;

    // Full path of the chosen existing file, or nothing on cancel.
    virtual std::optional<std::string> FileOpenDialog(const std::string& filter) = 0;
    // Path of the chosen folder, or nothing on cancel.
    virtual std::optional<std::string> FolderSelectionDialog() = 0;
};

// Repaints at the first item, and once more for each of the points count
// div 5, 10, 15, 20 and 25 that item reaches: the window follows a long loop
// without a repaint per item.
inline void RepaintAtMilestones(WindowServices& window, std::int32_t item, std::int32_t count) {
    if (item == 1)
        window.Repaint();
    for (std::int32_t divisor : {5, 10, 15, 20, 25})
        if (count / divisor == item)
            window.Repaint();
}

// Keeps the tool bar and table busy for its lifetime, so that every way out
// of a command, errors included, leaves them idle.
class BusyGuard {
public:
    explicit BusyGuard(WindowServices& window) : window_(&window) { window.Busy(); }
    ~BusyGuard() { Release(); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    // Idle now, at the point where the command's own steps go idle.
    void Release() {
        if (window_)
            std::exchange(window_, nullptr)->Idle();
    }

private:
    WindowServices* window_;
};

// Keeps the main window disabled for its lifetime.
class DisabledWindowGuard {
public:
    explicit DisabledWindowGuard(WindowServices& window) : window_(&window) {
        window.DisableWindow();
    }
    ~DisabledWindowGuard() { Release(); }
    DisabledWindowGuard(const DisabledWindowGuard&) = delete;
    DisabledWindowGuard& operator=(const DisabledWindowGuard&) = delete;
    // Enabled now, at the point where the command's own steps enable it.
    void Release() {
        if (window_)
            std::exchange(window_, nullptr)->EnableWindow();
    }

private:
    WindowServices* window_;
};

}  // namespace tamrel
