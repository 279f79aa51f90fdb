// pack FOLDER: the work folder into a new pair; with --dry-run its plan.
#include "Console.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive/folder/WorkFolder.h"
#include "archive/pair/Pack.h"
#include "archive/pair/PackPlan.h"

namespace tamrel::cli {

namespace {

void PrintPlan(const PackPlan& plan) {
    Print(Format("%6s  %-24s %10s %10s %8s %11s %11s  %s\n", "#", "Stream file", "Old size",
                 "New size", "Padding", "Old addr", "New addr", "Bank patch"));
    // Both lists are in row order; each moved stream has one patch.
    auto patch = plan.patches.begin();
    for (const PackPlan::Stream& stream : plan.streams) {
        std::string patchText;
        while (patch != plan.patches.end() && patch->row < stream.row)
            ++patch;
        if (patch != plan.patches.end() && patch->row == stream.row)
            patchText = std::to_string(patch->position) + ": " + std::to_string(patch->oldAddress) +
                        " -> " + std::to_string(patch->newAddress);
        Print(Format("%6d  %-24s %10u %10u %8u %11u %11u  %s\n", stream.row, stream.name.c_str(),
                     stream.oldSize, stream.newSize, stream.newSize - stream.fileSize,
                     stream.oldAddress, stream.address, patchText.c_str()));
    }
    Print(Format("New archive: %u bytes\n", plan.archiveSize));
}

// The plan as one JSON document: the folder, the new archive's size, and
// per stream its sizes, padding, addresses and the bank patch (or null).
void PrintPlanJson(const PackPlan& plan, const std::string& folder) {
    nlohmann::json streams = nlohmann::json::array();
    auto patch = plan.patches.begin();
    for (const PackPlan::Stream& stream : plan.streams) {
        while (patch != plan.patches.end() && patch->row < stream.row)
            ++patch;
        nlohmann::json patchJson;
        if (patch != plan.patches.end() && patch->row == stream.row)
            patchJson = {{"position", patch->position},
                         {"oldAddress", patch->oldAddress},
                         {"newAddress", patch->newAddress}};
        streams.push_back({{"row", stream.row},
                           {"name", stream.name},
                           {"oldSize", stream.oldSize},
                           {"newSize", stream.newSize},
                           {"padding", stream.newSize - stream.fileSize},
                           {"oldAddress", stream.oldAddress},
                           {"newAddress", stream.address},
                           {"patch", patchJson}});
    }
    const nlohmann::json document = {
        {"folder", folder}, {"archiveSize", plan.archiveSize}, {"streams", streams}};
    Print(document.dump(2) + "\n");
}

}  // namespace

int RunPack(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string folder = AsDialogPath(options.arguments[0]);
    if (SaidFileIsNoWorkFolder(folder, "pack", window))
        return kFailure;
    PackPlan plan;
    const PackOutcome outcome = options.dryRun ? PlanPackFolder(table, window, folder, plan)
                                               : PackFolder(table, window, folder);
    const bool succeeded = outcome == PackOutcome::Succeeded;
    window.ReportBoxes(succeeded);
    if (outcome == PackOutcome::EmptyBankImage)
        window.Error("nothing was written: the bank image " + PackNamesFor(folder).bankImage +
                     " holds no bytes");
    if (!succeeded)
        return kFailure;
    if (options.dryRun && options.json)
        PrintPlanJson(plan, folder);
    else if (options.dryRun)
        PrintPlan(plan);
    return kSuccess;
}

}  // namespace tamrel::cli
