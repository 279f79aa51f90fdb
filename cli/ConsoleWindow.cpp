#include "ConsoleWindow.h"

#include "archive/host/NameList.h"
#include "io/FileIo.h"

#include <algorithm>
#include <cstdio>

namespace tamrel {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // ten times a second
constexpr auto kLogInterval = std::chrono::seconds(1);
constexpr int kBarWidth = 30;
constexpr double kMiB = 1024.0 * 1024.0;

// A box's line breaks (carriage return and line feed) as the terminal's.
std::string TerminalText(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out.push_back(text[i]);
    }
    return out;
}

// "0:07" or "1:02:07".
std::string Clock(double seconds) {
    const auto whole = static_cast<long long>(seconds < 0 ? 0 : seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// What is done of the whole, in the phase's unit.
std::string DoneOfTotal(ProgressPhase::Unit unit, std::int64_t done, std::int64_t total) {
    char text[96];
    switch (unit) {
        case ProgressPhase::Unit::Bytes:
            std::snprintf(text, sizeof text, "%.0f of %.0f MiB", static_cast<double>(done) / kMiB,
                          static_cast<double>(total) / kMiB);
            return text;
        case ProgressPhase::Unit::AudioMilliseconds:
            return Clock(static_cast<double>(done) / 1000) + " / " +
                   Clock(static_cast<double>(total) / 1000) + " of audio";
        case ProgressPhase::Unit::Streams:
            break;
    }
    std::snprintf(text, sizeof text, "%lld of %lld stream%s", static_cast<long long>(done),
                  static_cast<long long>(total), total == 1 ? "" : "s");
    return text;
}

}  // namespace

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, Progress progress, bool quiet,
                             bool force)
    : out_(out), err_(err), progress_(progress), quiet_(quiet), force_(force) {}

ConsoleWindow::~ConsoleWindow() {
    FinishPhase();
    EraseProgress();
}

void ConsoleWindow::Error(const std::string& text) {
    EraseProgress();
    WriteText(err_, "tamrel-cli: " + TerminalText(text) + "\n");
    FlushText(err_);
}

void ConsoleWindow::WarningBox(const std::string& text, const std::string&) {
    boxes_.push_back(text);
}

void ConsoleWindow::InformationBox(const std::string& text, const std::string&) {
    boxes_.push_back(text);
}

void ConsoleWindow::ReportBoxes(bool succeeded) {
    for (const std::string& text : boxes_) {
        if (succeeded)
            Success(text);
        else
            Error(text);
    }
    boxes_.clear();
}

void ConsoleWindow::Success(const std::string& text) {
    EraseProgress();
    if (quiet_)
        return;
    WriteText(out_, TerminalText(text) + "\n");
    FlushText(out_);
}

bool ConsoleWindow::ConfirmReplacingStreams(const std::string& folder, const std::string& archive,
                                            const std::vector<std::string>& names) {
    if (force_)
        return true;
    const std::string text = "the work folder " + folder + " holds " +
                             std::to_string(names.size()) +
                             (names.size() == 1 ? " stream file that differs from "
                                                : " stream files that differ from ") +
                             archive + ":\n  " + NameList(names, "\n  ");
    Error(text);
    Error("nothing was written; --force replaces them");
    return false;
}

void ConsoleWindow::SetStatusPanel(int panel, const std::string& text) {
    if (panel >= 0 && panel < 4)
        panels_[panel] = text;
}

std::string ConsoleWindow::StatusLine() const {
    std::string line;
    for (const std::string& panel : panels_) {
        if (panel.empty())
            continue;
        if (!line.empty())
            line += ", ";
        line += panel;
    }
    return line;
}

void ConsoleWindow::SetProgressMin(std::int32_t value) {
    range_.SetMin(value);
    rangeStart_ = std::chrono::steady_clock::now();
}

void ConsoleWindow::SetProgressMax(std::int32_t value) {
    range_.SetMax(value);
    rangeStart_ = std::chrono::steady_clock::now();
}

void ConsoleWindow::SetProgressPosition(std::int32_t value) {
    range_.SetPosition(value);
    if (phase_ && phase_->last > phase_->first) {
        const double share = static_cast<double>(value - phase_->first) /
                             static_cast<double>(phase_->last - phase_->first);
        const auto done = static_cast<std::int64_t>(
            std::clamp(share, 0.0, 1.0) * static_cast<double>(phase_->total) + 0.5);
        // Positions set back for the window's bar leave the words as they were.
        if (done > phaseDone_) {
            phaseDone_ = done;
            phaseLogged_ = false;
        }
    }
    DrawProgress(false);
}

void ConsoleWindow::BeginProgressPhase(const ProgressPhase& phase) {
    FinishPhase();
    phase_ = phase;
    phaseDone_ = 0;
    phaseLogged_ = false;
    phaseStart_ = std::chrono::steady_clock::now();
    DrawProgress(false);
}

void ConsoleWindow::FinishPhase() {
    if (progress_ == Progress::Log && phase_ && !phaseLogged_) {
        WriteText(err_, ProgressText(std::chrono::steady_clock::now()) + "\n");
        FlushText(err_);
    }
    phase_.reset();
}

std::string ConsoleWindow::ProgressText(std::chrono::steady_clock::time_point now) const {
    const ProgressPhase& phase = *phase_;
    std::string text = phase.name + ": " + DoneOfTotal(phase.unit, phaseDone_, phase.total);
    if (phase.total > 0) {
        text += " (" + std::to_string(phaseDone_ * 100 / phase.total) + "%)";
        // The time left, once a second has shown the pace.
        const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
        if (seconds >= 1 && phaseDone_ > 0 && phaseDone_ < phase.total)
            text += ", about " +
                    Clock(seconds * static_cast<double>(phase.total - phaseDone_) /
                          static_cast<double>(phaseDone_)) +
                    " left";
    }
    return text;
}

void ConsoleWindow::PumpEvents() {
    DrawProgress(false);
}

void ConsoleWindow::DrawProgress(bool force) {
    if (progress_ == Progress::None)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (progress_ == Progress::Log) {
        // Lines of what a phase has done, at most one a second.
        if (!phase_ || phaseLogged_ || (!force && now - lastDraw_ < kLogInterval))
            return;
        lastDraw_ = now;
        WriteText(err_, ProgressText(now) + "\n");
        FlushText(err_);
        phaseLogged_ = true;
        return;
    }
    if (!force && progressDrawn_ && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    const double span = static_cast<double>(range_.Max()) - range_.Min();
    double done =
        span > 0 ? (static_cast<double>(range_.ShownPosition()) - range_.Min()) / span : 0.0;
    if (phase_ && phase_->total > 0)
        done = static_cast<double>(phaseDone_) / static_cast<double>(phase_->total);
    const int filled = static_cast<int>(std::clamp(done, 0.0, 1.0) * kBarWidth);
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::string line = "\r[" + bar + "] ";
    if (phase_) {
        line += ProgressText(now);
    } else {
        // A range no step has named: its count alone.
        char text[64];
        std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(done * 100));
        line += text;
    }
    WriteText(err_, line + "\033[K");
    FlushText(err_);
    progressDrawn_ = true;
}

void ConsoleWindow::EraseProgress() {
    if (!progressDrawn_)
        return;
    WriteText(err_, "\r\033[K");
    FlushText(err_);
    progressDrawn_ = false;
}

}  // namespace tamrel
