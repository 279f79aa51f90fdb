// A WindowServices for tests: it records every call as a line of text and
// answers the dialogs with what the test put in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/host/ProgressRange.h"
#include "archive/host/WindowServices.h"

namespace tamrel::test {

class RecordingWindow : public WindowServices {
public:
    std::vector<std::string> calls;
    int pumps = 0;
    ProgressRange progress;
    std::optional<std::string> fileToPick;
    std::optional<std::string> folderToPick;

    void WarningBox(const std::string& text, const std::string& caption) override {
        calls.push_back("warning " + caption + ": " + text);
    }
    void InformationBox(const std::string& text, const std::string& caption) override {
        calls.push_back("information " + caption + ": " + text);
    }
    void SetStatusPanel(int panel, const std::string& text) override {
        calls.push_back("panel " + std::to_string(panel) + " " + text);
    }
    void SetProgressMin(std::int32_t value) override { progress.SetMin(value); }
    void SetProgressMax(std::int32_t value) override { progress.SetMax(value); }
    void SetProgressPosition(std::int32_t value) override {
        progress.SetPosition(value);
        calls.push_back("position " + std::to_string(value));
    }
    void Busy() override { calls.push_back("busy"); }
    void Idle() override { calls.push_back("idle"); }
    void DisableWindow() override { calls.push_back("disable"); }
    void EnableWindow() override { calls.push_back("enable"); }
    void PumpEvents() override { ++pumps; }
    // The user's stop, asked for once events have been pumped this often.
    std::optional<int> stopAtPump;
    bool StopRequested() override { return stopAtPump && pumps >= *stopAtPump; }
    void Repaint() override {}
    std::optional<std::string> FileOpenDialog(const std::string& filter) override {
        calls.push_back("file dialog " + filter);
        return fileToPick;
    }
    std::optional<std::string> FolderSelectionDialog() override {
        calls.push_back("folder dialog");
        return folderToPick;
    }
};

}  // namespace tamrel::test
