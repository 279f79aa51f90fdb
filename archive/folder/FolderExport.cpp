#include "archive/folder/FolderExport.h"

#include <cerrno>
#include <stdexcept>

#include "archive/folder/FolderTable.h"
#include "archive/folder/StreamSources.h"
#include "archive/host/WindowServices.h"
#include "audio/Decoder.h"
#include "audio/Export.h"
#include "io/FileIo.h"
#include "io/Path.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"

namespace tamrel {

std::optional<TakenFolder> TakeExportFolder(const Folder& work, const std::string& outFolder,
                                            const std::set<std::string>& wavNames,
                                            WindowServices& window) {
    auto taken = TakeFolder(outFolder, window, [&wavNames](const std::string& target) {
        return wavNames.count(target) != 0;
    });
    if (taken && outFolder == work.Path() && !(taken->Work().Identity() == work.Identity())) {
        taken->Release();
        throw InputError("The work folder " + outFolder +
                         " was moved or replaced while the export began; nothing was "
                         "written.");
    }
    return taken;
}

ExportCount ExportRows(const StreamSources& sources, const std::vector<std::int32_t>& rows,
                       const Folder& out, WindowServices& window,
                       const std::function<void(const ExportedRow&)>& onRow) {
    window.SetProgressMin(0);
    window.SetProgressMax(static_cast<std::int32_t>(rows.size()));
    // Position i while the stream i + 1 is exported.
    const auto total = static_cast<std::int64_t>(rows.size());
    window.BeginProgressPhase({"Exporting", ProgressPhase::Unit::Streams, total, -1, total - 1});
    ExportCount count;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        window.SetProgressPosition(static_cast<std::int32_t>(i));
        window.PumpEvents();
        if (window.StopRequested()) {
            count.stopped = true;
            break;
        }
        ExportedRow result;
        result.row = rows[i];
        result.name = sources.Name(rows[i]);
        try {
            std::string why;
            const auto stream = sources.Open(rows[i], why);
            if (!stream)
                throw DecodeError("The stream " + result.name + " is skipped: " + why + ".");
            ExportWav(*stream, result.name, out, WavNameFor(FileNamePart(result.name)));
            result.written = true;
            ++count.written;
        } catch (const DecodeError& e) {
            result.why = e.what();
        }
        ++count.done;
        if (onRow)
            onRow(result);
    }
    window.SetProgressPosition(count.done);
    return count;
}

FolderExportResult ExportWorkFolder(const std::string& folder, const std::string& outFolder,
                                    bool replaceExisting, const RowChooser& choose,
                                    WindowServices& window,
                                    const std::function<void(const ExportedRow&)>& onRow) {
    FolderExportResult result;
    const Folder work(folder);
    if (!work.IsOpen())
        throw IoError(work.OpenError(), "Cannot open the folder " + folder);
    StreamTable table;
    if (!ReadFolderTable(table, work, window))
        return result;
    const auto rows = choose(table);
    if (!rows)
        return result;
    if (const int error = CreateFolder(outFolder); error != 0 && error != EEXIST)
        throw IoError(error, "Cannot create the folder " + outFolder);
    std::set<std::string> wavNames;
    for (std::int32_t row : *rows)
        wavNames.insert(WavNameFor(FileNamePart(table.CellText(kNameCol, row))));
    auto taken = TakeExportFolder(work, outFolder, wavNames, window);
    if (!taken)
        return result;
    // WAV files there already are the user's.
    if (!replaceExisting)
        for (const std::string& wav : wavNames)
            if (StatusAt(taken->Work(), wav, false).kind != NameStatus::Kind::Missing)
                result.existing.push_back(wav);
    if (!result.existing.empty())
        return result;
    result.started = true;
    result.rows = static_cast<int>(rows->size());
    result.count = ExportRows(StreamSources(table, work), *rows, taken->Work(), window, onRow);
    return result;
}

}  // namespace tamrel
