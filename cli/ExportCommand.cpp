// export SOURCE: streams as WAV files.
#include "Console.h"

#include <cerrno>
#include <cstring>
#include <set>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/Path.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/NameList.h"
#include "archive/pair/StreamColumns.h"
#include "audio/Decoder.h"
#include "audio/Export.h"
#include "io/FileIo.h"

namespace tamrel::cli {

int RunExport(const Options& options, ConsoleWindow& window) {
    const std::string source = AsDialogPath(options.arguments[0]);
    StreamTable table;
    std::string archive, folder, outFolder;
    if (IsExistingFolder(source)) {
        folder = source;
        if (!ReadWorkTable(table, folder, window))
            return kFailure;
        outFolder = folder;
    } else {
        if (!ListPair(table, source, window))
            return kFailure;
        archive = ReadWholeFile(UnpackNamesFor(source).archive);
        outFolder = UnpackNamesFor(source).workFolder;
    }
    const std::int32_t last = table.RowCount() - 1;
    std::vector<std::int32_t> rows;
    if (options.rows) {
        std::string why;
        const auto parsed = ParseRowList(*options.rows, last, "--rows", why);
        if (!parsed)
            return UsageError(why);
        rows = *parsed;
    } else {
        for (std::int32_t r = 1; r <= last; ++r)
            rows.push_back(r);
    }
    if (options.outputFolder)
        outFolder = AsDialogPath(*options.outputFolder);
    if (const int error = CreateFolder(outFolder); error != 0 && error != EEXIST) {
        window.Error("Cannot create the folder " + outFolder + ": " + std::strerror(error));
        return kFailure;
    }
    // The output folder is taken as any folder a command writes: locked, and
    // the leftovers of a killed export of these files removed.
    std::set<std::string> wavNames;
    for (std::int32_t row : rows)
        wavNames.insert(WavNameFor(FileNamePart(table.CellText(kNameCol, row))));
    // WAV files there already are the user's: kept unless --force.
    if (!options.force) {
        std::vector<std::string> existing;
        for (const std::string& wav : wavNames)
            if (StatusOfPath(JoinPath(outFolder, wav), false).kind != NameStatus::Kind::Missing)
                existing.push_back(wav);
        if (!existing.empty()) {
            const std::string list = NameList(existing);
            window.Error(outFolder + " holds " + std::to_string(existing.size()) +
                         (existing.size() == 1 ? " WAV file" : " WAV files") +
                         " that export would replace (" + list +
                         "); nothing was written. --force replaces them.");
            return kFailure;
        }
    }
    auto taken = TakeFolder(outFolder, window, [&wavNames](const std::string& target) {
        return wavNames.count(target) != 0;
    });
    if (!taken) {
        window.ReportBoxes(false);
        return kFailure;
    }

    const StreamSources sources(table, std::move(archive), folder);
    window.SetProgressMin(0);
    window.SetProgressMax(static_cast<std::int32_t>(rows.size()));
    int written = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::int32_t row = rows[i];
        window.SetProgressPosition(static_cast<std::int32_t>(i));
        const std::string& name = sources.Name(row);
        std::string why;
        const auto stream = sources.Open(row, why);
        try {
            if (!stream)
                throw DecodeError("The stream " + name + " is skipped: " + why + ".");
            ExportWav(*stream, name, taken->Work(), WavNameFor(FileNamePart(name)));
            ++written;
        } catch (const DecodeError& e) {
            window.Error(e.what());
        }
    }
    window.SetProgressPosition(static_cast<std::int32_t>(rows.size()));
    taken->Release();
    window.Success("Exported " + std::to_string(written) + " of " + std::to_string(rows.size()) +
                   " streams as WAV files to " + outFolder);
    return written == static_cast<int>(rows.size()) ? kSuccess : kFailure;
}

}  // namespace tamrel::cli
