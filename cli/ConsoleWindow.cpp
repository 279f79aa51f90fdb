#include "ConsoleWindow.h"

#include "archive/host/NameList.h"
#include "io/FileIo.h"

#include <algorithm>

namespace tamrel {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // ten times a second
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

}  // namespace

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, bool showProgress, bool quiet,
                             bool force)
    : out_(out), err_(err), showProgress_(showProgress && !quiet), quiet_(quiet), force_(force) {}

ConsoleWindow::~ConsoleWindow() {
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
    DrawProgress(false);
}

void ConsoleWindow::PumpEvents() {
    DrawProgress(false);
}

void ConsoleWindow::DrawProgress(bool force) {
    if (!showProgress_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && progressDrawn_ && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    const double span = static_cast<double>(range_.Max()) - range_.Min();
    const double done =
        span > 0 ? (static_cast<double>(range_.ShownPosition()) - range_.Min()) / span : 0.0;
    const int filled = static_cast<int>(done * kBarWidth);
    const double seconds = std::chrono::duration<double>(now - rangeStart_).count();
    const double rate = seconds > 0 ? (range_.ShownPosition() - range_.Min()) / seconds : 0.0;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
    const double count = static_cast<double>(range_.ShownPosition()) - range_.Min();
    // Ranges of many mebibytes are bytes (the archive being searched);
    // smaller ones count streams or positions.
    char line[160];
    if (span >= kMiB)
        std::snprintf(line, sizeof line, "\r[%s] %3d%%  %.0f/%.0f MiB  %.0f MiB/s\033[K",
                      bar.c_str(), static_cast<int>(done * 100), count / kMiB, span / kMiB,
                      rate / kMiB);
    else
        std::snprintf(line, sizeof line, "\r[%s] %3d%%  %.0f/%.0f  %.0f/s\033[K", bar.c_str(),
                      static_cast<int>(done * 100), count, span, rate);
    WriteText(err_, line);
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
