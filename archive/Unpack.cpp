#include "archive/Unpack.h"

#include <algorithm>

#include "archive/BankKeyIndex.h"
#include "archive/FindAllOccurrences.h"
#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

constexpr std::string_view kStreamMarker = "SCHl";
// A bank lists the references of consecutive streams at most this many bytes apart.
constexpr std::int32_t kMaxReferenceGap = 380;

// Gives a buffer's memory back at once, before a box that may stay open long.
void Release(std::string& bytes) {
    std::string().swap(bytes);
}

// The stream table's columns as Unpack lays them out.
void PrepareColumns(StreamTable& table) {
    table.SetColCount(17);
    table.SetColWidths(0, 55);
    table.SetCellText(0, 0, "#");
    table.SetCellText(1, 0, "Name");
    table.SetColWidths(1, 200);
    table.SetCellText(3, 0, "Ast Addr");
    table.SetCellText(11, 0, "Asf Size");
    table.SetCellText(4, 0, "Abk Pos");
    for (std::int32_t col : {5, 6, 7, 8, 9, 10, 2, 12, 13, 14, 15, 16})
        table.SetColWidths(col, 0);
}

// Assigns bank positions to rows 2..n from the sorted pool: the first run of
// positions, each at most 380 bytes before the next, fills the rows in order.
// Returns the last row filled; the rows are complete when it is n.
std::int32_t AssignBankPositions(StreamTable& table, WindowServices& window, const ArrInt& pool,
                                 std::int32_t n) {
    const auto count = static_cast<std::int32_t>(pool.size());
    std::int32_t row = 1;
    for (std::int32_t t = 0; t < count; ++t) {
        window.SetProgressPosition(t);
        if (t == count - 1) {
            // The last position has no successor to measure against: it is
            // taken as it stands. (A pool of one position arises only with two
            // streams, and that one position is then the second stream's.)
            table.SetCellText(4, ++row, std::to_string(pool[t]));
            break;
        }
        if (pool[t + 1] - pool[t] > kMaxReferenceGap) {
            row = 1;  // the run is broken; the next run fills from row 2 again
            continue;
        }
        table.SetCellText(4, ++row, std::to_string(pool[t]));
        if (row == n - 1) {
            table.SetCellText(4, ++row, std::to_string(pool[t + 1]));
            break;
        }
        if (row == n)
            break;
    }
    return row;
}

}  // namespace

UnpackOutcome Unpack(StreamTable& table, WindowServices& window) {
    window.Repaint();
    auto picked = window.FileOpenDialog("*.ast;*.abk|*.ast;*.abk");
    if (!picked)
        return UnpackOutcome::Cancelled;
    return UnpackPickedFile(table, window, *picked);
}

UnpackOutcome UnpackPickedFile(StreamTable& table, WindowServices& window,
                               const std::string& pickedFile, bool writeFolder) {
    const UnpackNames names = UnpackNamesFor(pickedFile);
    for (const std::string* path : {&names.bank, &names.archive}) {
        if (!IsExistingFile(*path)) {
            window.WarningBox("File: " + *path + " not found.", "Error");
            return UnpackOutcome::FileMissing;
        }
    }

    table.Reset();
    table.Clear();
    for (int panel = 0; panel < 4; ++panel)
        window.SetStatusPanel(panel, "");
    BusyGuard busy(window);
    window.Repaint();

    // Both files are read whole, once, and only read: the pair is never written.
    std::string bank = ReadWholeFile(names.bank);
    window.Repaint();
    std::string archive = ReadWholeFile(names.archive);
    const auto archiveSize = static_cast<std::int32_t>(archive.size());

    // The minimum goes back to 0 first: a Pack before may have left it at 1.
    window.SetProgressMin(0);
    window.SetProgressMax(archiveSize);
    ArrInt addresses;
    const std::int32_t n = FindAllOccurrences(archive, kStreamMarker, true, addresses, window);
    window.SetProgressPosition(archiveSize);

    PrepareColumns(table);
    window.SetProgressPosition(0);
    if (n == 0) {
        busy.Release();
        Release(bank);
        Release(archive);
        window.WarningBox("No streams found in " + names.archive, "Error");
        return UnpackOutcome::NoStreams;
    }
    window.SetProgressMax(n - 1);
    table.SetRowCount(n + 1);

    std::vector<std::uint32_t> wanted(addresses.begin() + 1, addresses.end());
    const BankKeyIndex index(bank, wanted);
    std::vector<std::string> fileNames(static_cast<std::size_t>(n));
    std::vector<std::int32_t> sizes(static_cast<std::size_t>(n));
    ArrInt pool;
    for (std::int32_t k = 1; k <= n; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        window.SetProgressPosition(k - 1);
        const std::int32_t address = addresses[i];
        sizes[i] = (k < n ? addresses[i + 1] : archiveSize) - address;
        fileNames[i] = StreamFileName(names.baseName, k);
        table.SetCellText(0, k, std::to_string(k));
        table.SetCellText(1, k, fileNames[i]);
        table.SetCellText(3, k, std::to_string(address));
        table.SetCellText(11, k, std::to_string(sizes[i]));
        if (k < 2)
            continue;  // the first stream's address is never looked for
        const ArrInt& found = index.Occurrences(static_cast<std::uint32_t>(address));
        if (found.empty()) {
            busy.Release();
            Release(bank);
            Release(archive);
            window.WarningBox("Address: " + std::to_string(address) + " not found in abk.",
                              "Error");
            return UnpackOutcome::MissingReference;
        }
        for (std::int32_t position : found) {
            pool.push_back(position);
            window.PumpEvents();
        }
    }
    std::sort(pool.begin(), pool.end());
    const auto poolSize = static_cast<std::int32_t>(pool.size());

    table.SetCellText(4, 1, "0");
    window.SetProgressMax(poolSize);
    if (AssignBankPositions(table, window, pool, n) != n) {
        busy.Release();
        Release(bank);
        Release(archive);
        window.WarningBox("Some addresses not correctly found in abk.", "Error");
        return UnpackOutcome::Inconsistent;
    }

    window.Repaint();
    window.SetProgressPosition(0);
    window.Repaint();
    window.SetStatusPanel(0, FileNamePart(names.bank) + " - " + FileNamePart(names.archive));
    window.SetStatusPanel(1, "Asf count: " + std::to_string(n));
    busy.Release();
    window.SetProgressPosition(0);

    // Every stream after the first has its reference in the bank, so an empty
    // bank can only go with a single stream: there is nothing to write then.
    if (bank.empty())
        return UnpackOutcome::EmptyBank;
    if (!writeFolder)
        return UnpackOutcome::Succeeded;

    {
        DisabledWindowGuard disabled(window);
        CreateFolder(names.workFolder);  // it may exist already: then it is written into
        window.SetProgressPosition(0);
        window.Repaint();
        for (std::int32_t k = 1; k <= n; ++k) {
            const auto i = static_cast<std::size_t>(k - 1);
            RepaintAtMilestones(window, k, poolSize);
            window.PumpEvents();
            // The archive was read whole above; each stream goes from there
            // into its file, so what is written is what was searched.
            const std::string_view stream(archive.data() + addresses[i],
                                          static_cast<std::size_t>(sizes[i]));
            window.Repaint();
            window.PumpEvents();
            window.SetProgressPosition(k);
            WriteWholeFile(JoinPath(names.workFolder, fileNames[i]), stream);
        }
    }

    ReplacingFileWriter bankImage(names.bankImage);
    bankImage.Write(bank);
    bankImage.Commit();
    table.SaveTableFile(names.tableFile);

    window.InformationBox("Successfully extracted to " + names.workFolder, "Information");
    Release(bank);
    Release(archive);
    window.SetProgressPosition(0);
    return UnpackOutcome::Succeeded;
}

}  // namespace tamrel
