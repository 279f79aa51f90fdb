// export SOURCE: streams as WAV files.
#include "Console.h"

#include <cerrno>
#include <cstring>
#include <set>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderExport.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/NameList.h"
#include "audio/Export.h"
#include "io/FileIo.h"
#include "io/Path.h"
#include "table/StreamColumns.h"

namespace tamrel::cli {

namespace {

// The rows --rows names, or every row; nothing (the usage error said, its
// status in status) when the list is malformed.
std::optional<std::vector<std::int32_t>> ChosenRows(const Options& options, std::int32_t last,
                                                    int& status) {
    std::vector<std::int32_t> rows;
    if (options.rows) {
        std::string why;
        auto parsed = ParseRowList(*options.rows, last, "--rows", why);
        if (!parsed)
            status = UsageError(why);
        return parsed;
    }
    for (std::int32_t r = 1; r <= last; ++r)
        rows.push_back(r);
    return rows;
}

// WAV files there already are the user's: kept unless --force.
void SayExisting(const std::string& outFolder, const std::vector<std::string>& existing,
                 ConsoleWindow& window) {
    window.Error(outFolder + " holds " + std::to_string(existing.size()) +
                 (existing.size() == 1 ? " WAV file" : " WAV files") +
                 " that export would replace (" + NameList(existing) +
                 "); nothing was written. --force replaces them.");
}

int Exported(int written, std::size_t rows, const std::string& outFolder, ConsoleWindow& window) {
    window.Success("Exported " + std::to_string(written) + " of " + std::to_string(rows) +
                   " streams as WAV files to " + outFolder);
    return written == static_cast<int>(rows) ? kSuccess : kFailure;
}

void SaySkipped(const ExportedRow& row, ConsoleWindow& window) {
    if (!row.written)
        window.Error(row.why);
}

// export FOLDER: the work folder opened once, everything read through it.
int ExportFolder(const Options& options, const std::string& folder, ConsoleWindow& window) {
    const std::string outFolder =
        options.outputFolder ? AsDialogPath(*options.outputFolder) : folder;
    int status = kFailure;
    const FolderExportResult result = ExportWorkFolder(
        folder, outFolder, options.force,
        [&](const StreamTable& table) { return ChosenRows(options, table.RowCount() - 1, status); },
        window, [&window](const ExportedRow& row) { SaySkipped(row, window); });
    if (!result.existing.empty())
        SayExisting(outFolder, result.existing, window);
    if (!result.started) {
        window.ReportBoxes(false);
        return status;
    }
    return Exported(result.count.written, static_cast<std::size_t>(result.rows), outFolder, window);
}

}  // namespace

int RunExport(const Options& options, ConsoleWindow& window) {
    const std::string source = AsDialogPath(options.arguments[0]);
    if (IsExistingFolder(source))
        return ExportFolder(options, source, window);

    // A pair is read into memory; nothing is unpacked.
    StreamTable table;
    if (!ListPair(table, source, window))
        return kFailure;
    std::string archive = ReadWholeFile(UnpackNamesFor(source).archive);
    int status = kSuccess;
    const auto rows = ChosenRows(options, table.RowCount() - 1, status);
    if (!rows)
        return status;
    const std::string outFolder = options.outputFolder ? AsDialogPath(*options.outputFolder)
                                                       : UnpackNamesFor(source).workFolder;
    if (const int error = CreateFolder(outFolder); error != 0 && error != EEXIST) {
        window.Error("Cannot create the folder " + outFolder + ": " + ErrorText(error));
        return kFailure;
    }
    std::set<std::string> wavNames;
    for (std::int32_t row : *rows)
        wavNames.insert(WavNameFor(FileNamePart(table.CellText(kNameCol, row))));
    // The output folder is taken as any folder a command writes: locked, and
    // the leftovers of a killed export of these files removed.
    auto taken = TakeFolder(outFolder, window, [&wavNames](const std::string& target) {
        return wavNames.count(target) != 0;
    });
    if (!taken) {
        window.ReportBoxes(false);
        return kFailure;
    }
    if (!options.force) {
        std::vector<std::string> existing;
        for (const std::string& wav : wavNames)
            if (StatusAt(taken->Work(), wav, false).kind != NameStatus::Kind::Missing)
                existing.push_back(wav);
        if (!existing.empty()) {
            SayExisting(outFolder, existing, window);
            return kFailure;
        }
    }
    const int written =
        ExportRows(StreamSources(table, std::move(archive)), *rows, taken->Work(), window,
                   [&window](const ExportedRow& row) { SaySkipped(row, window); })
            .written;
    taken->Release();
    return Exported(written, rows->size(), outFolder, window);
}

}  // namespace tamrel::cli
