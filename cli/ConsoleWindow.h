// The commands' window on a terminal: boxes become lines on stdout and
// stderr, the progress bar a single redrawn line when stderr is a terminal
// (or, asked for, plain lines in a log): the step the command is at, what
// it counts in units a user knows, and the time left.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive/host/ProgressRange.h"
#include "archive/host/WindowServices.h"

namespace tamrel {

class ConsoleWindow : public WindowServices {
public:
    enum class Progress {
        None,
        Line,  // one line redrawn in place: stderr is a terminal
        Log,   // plain lines, at most one a second: stderr is a log
    };
    // force: Unpack replaces stream files that differ from the pair's streams.
    ConsoleWindow(std::FILE* out, std::FILE* err, Progress progress, bool quiet,
                  bool force = false);
    ~ConsoleWindow() override;

    // Boxes are kept until the command has ended: ReportBoxes() then says
    // them where its outcome belongs.
    void WarningBox(const std::string& text, const std::string& caption) override;
    void InformationBox(const std::string& text, const std::string& caption) override;
    bool ConfirmReplacingStreams(const std::string& folder, const std::string& archive,
                                 const std::vector<std::string>& names) override;
    void SetStatusPanel(int panel, const std::string& text) override;
    // Said on stderr, so that listings on stdout stay clean.
    void Notice(const std::string& text) override { Error(text); }
    void SetProgressMin(std::int32_t value) override;
    void SetProgressMax(std::int32_t value) override;
    void SetProgressPosition(std::int32_t value) override;
    void BeginProgressPhase(const ProgressPhase& phase) override;
    void Busy() override {}
    void Idle() override {}
    void DisableWindow() override {}
    void EnableWindow() override {}
    void PumpEvents() override;
    void Repaint() override {}
    std::optional<std::string> FileOpenDialog(const std::string&) override { return std::nullopt; }
    std::optional<std::string> FolderSelectionDialog() override { return std::nullopt; }

    // An error or a note for the user, on stderr behind the program's name.
    void Error(const std::string& text);
    // Says the boxes the command showed: after a success on stdout (nothing
    // with quiet), after any other end on stderr behind the program's name.
    void ReportBoxes(bool succeeded);
    // A success message of the console's own, on stdout unless quiet.
    void Success(const std::string& text);
    // The status panels in one line, e.g. "intro.abk - intro.ast, Asf count: 3".
    std::string StatusLine() const;
    // Removes the progress line, if one is drawn.
    void EraseProgress();

private:
    void DrawProgress(bool force);
    // The progress as words: the phase, what is done of what, the time left.
    std::string ProgressText(std::chrono::steady_clock::time_point now) const;
    // A log's last line of the phase: where it ended.
    void FinishPhase();

    std::FILE* out_;
    std::FILE* err_;
    Progress progress_;
    bool quiet_;
    bool force_;
    std::vector<std::string> boxes_;
    ProgressRange range_;
    std::string panels_[4];
    bool progressDrawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point rangeStart_ = std::chrono::steady_clock::now();
    std::optional<ProgressPhase> phase_;
    std::int64_t phaseDone_ = 0;  // the most done so far: it never goes back
    bool phaseLogged_ = false;    // the log holds the phase's latest state
    std::chrono::steady_clock::time_point phaseStart_{};
};

}  // namespace tamrel
