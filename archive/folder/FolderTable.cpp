#include "archive/folder/FolderTable.h"

#include "archive/folder/FolderCommit.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

std::string ResourcesMissingText(const std::string& folder) {
    return "Resource files not found in " + folder;
}

std::string TableUnreadableText(const std::string& tableFile, const std::string& why) {
    return "The table file " + tableFile + " cannot be read: " + why;
}

std::optional<std::string> LoadFolderTable(StreamTable& table, const InputFile& file,
                                           const std::function<void()>& pumpEvents) {
    table.Reset();
    const std::int64_t lines = table.LoadTableFile(file, pumpEvents);
    // Every row and column of a real table costs the file at least a line;
    // counts beyond that come from damage, and acting on them would cost
    // memory and time for nothing.
    if (table.RowCount() <= lines && table.ColCount() <= lines)
        return std::nullopt;
    std::string why = "its size line declares " + std::to_string(table.RowCount()) + " rows and " +
                      std::to_string(table.ColCount()) + " columns, more than its " +
                      std::to_string(lines) + " lines can hold.";
    table.Reset();
    return why;
}

namespace {

void LoadOrThrow(StreamTable& table, const InputFile& file, const std::string& path) {
    if (const auto refusal = LoadFolderTable(table, file))
        throw TableFileError(TableUnreadableText(path, *refusal));
}

}  // namespace

void LoadWorkTable(StreamTable& table, const Folder& folder) {
    const PackNames names = PackNamesFor(folder.Path());
    LoadOrThrow(table, InputFile(folder, names.tableFileName), names.tableFile);
}

bool ReadFolderTable(StreamTable& table, const Folder& folder, WindowServices& window) {
    const PackNames names = PackNamesFor(folder.Path());
    const InputFile file(folder, names.tableFileName);
    if (!file.IsOpen() &&
        (file.OpenError() == ENOENT || file.OpenError() == ENOTDIR || file.OpenError() == EISDIR)) {
        window.WarningBox(ResourcesMissingText(folder.Path()), "Error");
        return false;
    }
    LoadOrThrow(table, file, names.tableFile);
    return true;
}

void ShowFolderPanels(WindowServices& window, const std::string& folder, const StreamTable& table) {
    window.SetStatusPanel(0, PackNamesFor(folder).folderName);
    window.SetStatusPanel(1, "Asf count: " + std::to_string(table.RowCount() - 1));
    window.SetStatusPanel(2, "");
    window.SetStatusPanel(3, "");
}

OpenOutcome OpenWorkFolder(StreamTable& table, WindowServices& window, const std::string& folder) {
    const PackNames names = PackNamesFor(folder);
    auto resourcesMissing = [&] {
        window.InformationBox(ResourcesMissingText(folder), "Information");
        return OpenOutcome::ResourcesMissing;
    };
    if (!IsExistingFolder(folder))
        return resourcesMissing();
    std::optional<TakenFolder> taken = TakeFolder(folder, window, {});
    if (!taken)
        return OpenOutcome::FolderInUse;
    const InputFile tableFile(taken->Work(), names.tableFileName);
    const bool bankImage =
        StatusAt(taken->Work(), names.bankImageName, true).kind == NameStatus::Kind::File;
    if (!tableFile.IsOpen() || !bankImage) {
        taken->Release();
        return resourcesMissing();
    }
    window.SetWorkFolder("");
    const auto refusal = LoadFolderTable(table, tableFile, [&window] { window.PumpEvents(); });
    taken->Release();
    if (refusal) {
        window.WarningBox(TableUnreadableText(names.tableFile, *refusal), "Error");
        return OpenOutcome::TableRefused;
    }
    if (table.RowCount() <= 1) {
        window.InformationBox("No streams listed in " + names.tableFile, "Information");
        return OpenOutcome::NoStreamRows;
    }
    ShowFolderPanels(window, folder, table);
    window.SetWorkFolder(folder);
    return OpenOutcome::Opened;
}

}  // namespace tamrel
