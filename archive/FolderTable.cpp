#include "archive/FolderTable.h"

#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

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

bool ReadFolderTable(StreamTable& table, const std::string& folder, WindowServices& window) {
    const PackNames names = PackNamesFor(folder);
    const InputFile file(names.tableFile);
    if (!file.IsOpen() &&
        (file.OpenError() == ENOENT || file.OpenError() == ENOTDIR || file.OpenError() == EISDIR)) {
        window.WarningBox("Resource files not found in " + folder, "Error");
        return false;
    }
    if (const auto refusal = LoadFolderTable(table, file))
        throw TableFileError("The table file " + names.tableFile + " cannot be read: " + *refusal);
    return true;
}

}  // namespace tamrel
