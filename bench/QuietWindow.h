// A window that does nothing, as the commands see it when nobody watches.
#pragma once

#include <string>

#include "archive/host/WindowServices.h"

namespace tamrel::bench {

class QuietWindow : public WindowServices {
public:
    std::string lastBox;  // the text of the last box, for a failure's report
    void WarningBox(const std::string& text, const std::string&) override { lastBox = text; }
    void InformationBox(const std::string& text, const std::string&) override { lastBox = text; }
    void SetStatusPanel(int, const std::string&) override {}
    void SetProgressMin(std::int32_t) override {}
    void SetProgressMax(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void Busy() override {}
    void Idle() override {}
    void DisableWindow() override {}
    void EnableWindow() override {}
    void PumpEvents() override {}
    void Repaint() override {}
    std::optional<std::string> FileOpenDialog(const std::string&) override { return {}; }
    std::optional<std::string> FolderSelectionDialog() override { return {}; }
};

}  // namespace tamrel::bench
