// check FILE [FOLDER]: a pair verified, against its work folder too.
#include "Console.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive/folder/Check.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/WorkFolder.h"
#include "archive/pair/Unpack.h"
#include "io/FileIo.h"

namespace tamrel::cli {

namespace {

// check's result as one JSON document: the pair, the folder (or null), the
// streams found, whether all is well, the mismatches, and why it failed.
void PrintJson(const std::string& file, const std::string& folder, std::int32_t streams,
               const std::vector<std::string>& mismatches, const std::string& failure) {
    const nlohmann::json document = {
        {"pair", file},
        {"folder", folder.empty() ? nlohmann::json() : nlohmann::json(folder)},
        {"streams", streams},
        {"ok", failure.empty() && mismatches.empty()},
        {"mismatches", mismatches},
        {"failure", failure.empty() ? nlohmann::json() : nlohmann::json(failure)}};
    Print(document.dump(2) + "\n");
}

}  // namespace

int RunCheck(const Options& options, ConsoleWindow& window) {
    StreamTable pair;
    const std::string file = AsDialogPath(options.arguments[0]);
    const std::string folder =
        options.arguments.size() > 1 ? AsDialogPath(options.arguments[1]) : std::string();
    auto failed = [&](const std::string& why, std::int32_t streams) {
        if (options.json)
            PrintJson(file, folder, streams, {}, why);
        return kFailure;
    };
    if (!ListPair(pair, file, window)) {
        if (!options.json)
            Print("FAILED: the pair of " + file + " does not unpack\n");
        return failed("the pair of " + file + " does not unpack", 0);
    }
    const std::int32_t streams = pair.RowCount() - 1;
    if (folder.empty()) {
        if (options.json)
            PrintJson(file, folder, streams, {}, {});
        window.Success("OK: " + std::to_string(streams) +
                       " streams found, every bank reference consistent");
        return kSuccess;
    }

    if (SaidFileIsNoWorkFolder(folder, "check", window))
        return failed(folder + " is a file, not a work folder", streams);
    const Folder opened(folder);
    if (!opened.IsOpen() ||
        StatusAt(opened, PackNamesFor(folder).tableFileName, true).kind != NameStatus::Kind::File) {
        window.Error(ResourcesMissingText(folder));
        return failed(ResourcesMissingText(folder), streams);
    }
    // Listing the pair said it already when the folder is the pair's writer.
    if (folder != WriterFolderOf(file))
        NotePendingCommit(opened, window);
    const std::string archive = ReadWholeFile(UnpackNamesFor(file).archive);
    const std::vector<std::string> found = ComparePairWithFolder(pair, archive, opened);
    if (options.json) {
        PrintJson(file, folder, streams, found, {});
        return found.empty() ? kSuccess : kFailure;
    }
    for (const std::string& line : found)
        Print(line + "\n");
    const auto mismatches = static_cast<int>(found.size());
    if (mismatches != 0) {
        Print(Format("FAILED: %d mismatch%s between the pair of %s and %s\n", mismatches,
                     mismatches == 1 ? "" : "es", file.c_str(), folder.c_str()));
        return kFailure;
    }
    window.Success("OK: " + std::to_string(streams) +
                   " streams; addresses, bank positions and bytes match " + folder);
    return kSuccess;
}

}  // namespace tamrel::cli
