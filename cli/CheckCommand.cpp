// check FILE [FOLDER]: a pair verified, against its work folder too.
#include "Console.h"

#include <cstdio>

#include "archive/folder/Check.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/WorkFolder.h"
#include "archive/pair/Unpack.h"
#include "io/FileIo.h"

namespace tamrel::cli {

int RunCheck(const Options& options, ConsoleWindow& window) {
    StreamTable pair;
    const std::string file = AsDialogPath(options.arguments[0]);
    if (!ListPair(pair, file, window)) {
        Print("FAILED: the pair of " + file + " does not unpack\n");
        return kFailure;
    }
    const std::int32_t streams = pair.RowCount() - 1;
    if (options.arguments.size() == 1) {
        window.Success("OK: " + std::to_string(streams) +
                       " streams found, every bank reference consistent");
        return kSuccess;
    }

    const std::string folder = AsDialogPath(options.arguments[1]);
    if (SaidFileIsNoWorkFolder(folder, "check", window))
        return kFailure;
    const Folder opened(folder);
    if (!opened.IsOpen() ||
        StatusAt(opened, PackNamesFor(folder).tableFileName, true).kind != NameStatus::Kind::File) {
        window.Error(ResourcesMissingText(folder));
        return kFailure;
    }
    // Listing the pair said it already when the folder is the pair's writer.
    if (folder != WriterFolderOf(file))
        NotePendingCommit(opened, window);
    const std::string archive = ReadWholeFile(UnpackNamesFor(file).archive);
    const std::vector<std::string> found = ComparePairWithFolder(pair, archive, opened);
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
