#include "archive/folder/Check.h"

#include <algorithm>

#include "archive/folder/FolderTable.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "io/FileIo.h"
#include "table/CellNumber.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

std::vector<std::string> ComparePairWithFolder(const StreamTable& pair, std::string_view archive,
                                               const Folder& folder) {
    std::vector<std::string> mismatches;
    StreamTable expected;
    LoadWorkTable(expected, folder);
    if (expected.RowCount() != pair.RowCount())
        mismatches.push_back("streams: the pair has " + std::to_string(pair.RowCount() - 1) +
                             ", the table file " + std::to_string(expected.RowCount() - 1));

    const std::int32_t rows = std::min(pair.RowCount(), expected.RowCount());
    const StreamColumn columns[] = {kAddressCol, kPositionCol, kSizeCol};
    for (std::int32_t row = 1; row < rows; ++row) {
        const std::string prefix = "stream " + std::to_string(row) + ": ";
        for (const StreamColumn col : columns) {
            const char* const name = ColumnTitle(col);
            if (pair.CellText(col, row) != expected.CellText(col, row))
                mismatches.push_back(prefix + name + " is " + pair.CellText(col, row) +
                                     " in the pair, " + expected.CellText(col, row) +
                                     " in the table file");
        }
        // The stream's bytes: its file, then nothing but the zero bytes of its padding.
        const std::string& name = expected.CellText(kNameCol, row);
        if (const std::string refusal = RowNameRefusal(name); !refusal.empty()) {
            mismatches.push_back(prefix + refusal);
            continue;
        }
        const std::string streamPath = folder.PathOf(name);
        InputFile streamFile(folder, name);
        if (!streamFile.IsOpen()) {
            mismatches.push_back(prefix + "the stream file " + streamPath + " cannot be read");
            continue;
        }
        const std::string bytes = streamFile.ReadAll();
        const auto address = ParseCellNumber(pair.CellText(kAddressCol, row));
        const auto size = ParseCellNumber(pair.CellText(kSizeCol, row));
        if (!address || !size || std::uint64_t{*address} + *size > archive.size()) {
            mismatches.push_back(prefix + "its place in the archive cannot be read");
            continue;
        }
        const std::string_view stored = archive.substr(*address, *size);
        const bool same = bytes.size() <= stored.size() &&
                          stored.substr(0, bytes.size()) == bytes &&
                          stored.find_first_not_of('\0', bytes.size()) == std::string_view::npos;
        if (!same)
            mismatches.push_back(prefix + "its bytes differ from " + streamPath);
    }
    return mismatches;
}

}  // namespace tamrel
