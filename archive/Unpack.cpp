#include "archive/Unpack.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "archive/BankKeyIndex.h"
#include "archive/BankPositions.h"
#include "archive/FindAllOccurrences.h"
#include "archive/FolderCommit.h"
#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "io/Bytes.h"
#include "io/CommitRecord.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

constexpr std::string_view kStreamMarker = "SCHl";
constexpr std::string_view kEndBlock = "SCEl";
constexpr std::size_t kBlockPreamble = 8;
// Larger blocks than this do not occur in streams; a walk that meets one has
// left the stream's block structure.
constexpr std::uint32_t kLargestBlock = 0xFFFFF;

// Gives a buffer's memory back at once, before a box that may stay open long.
void Release(std::string& bytes) {
    std::string().swap(bytes);
}

// True when offset lies strictly inside one of the blocks of the stream that
// starts at streamStart, walking its blocks by their 8-byte preambles only.
bool LiesInsideABlock(std::string_view archive, std::size_t streamStart, std::size_t offset) {
    std::size_t block = streamStart;
    while (block < offset && block + kBlockPreamble <= archive.size()) {
        const std::uint32_t size = ReadUint32LE(archive, block + 4);
        if (size < kBlockPreamble || size > kLargestBlock)
            return false;
        if (offset < block + size)
            return true;
        if (archive.substr(block, 4) == kEndBlock)
            return false;
        block += size;
    }
    return false;
}

// "SCHl" can occur by chance inside a stream's audio. Such an occurrence has
// no reference in the bank and lies inside a block of the stream before it:
// it is no stream start, and is dropped. Every other occurrence stays.
ArrInt DropMarkersInsideBlocks(std::string_view archive, const ArrInt& occurrences,
                               const BankKeyIndex& index) {
    ArrInt starts;
    starts.reserve(occurrences.size());
    for (std::int32_t offset : occurrences) {
        if (!starts.empty() && !index.Holds(static_cast<std::uint32_t>(offset)) &&
            LiesInsideABlock(archive, static_cast<std::size_t>(starts.back()),
                             static_cast<std::size_t>(offset)))
            continue;
        starts.push_back(offset);
    }
    return starts;
}

// Assigns bank positions to rows 2..n from the sorted pool: the first run of
// positions, each at most 380 bytes before the next, fills the rows in order.
// Returns the last row filled (the rows are complete when it is n) and the
// positions given, by row.
std::int32_t AssignPoolPositions(StreamTable& table, WindowServices& window, const ArrInt& pool,
                                 std::int32_t n, std::vector<std::int32_t>& byRow) {
    const auto count = static_cast<std::int32_t>(pool.size());
    byRow.assign(static_cast<std::size_t>(n) + 1, -1);
    std::int32_t row = 1;
    auto take = [&](std::int32_t position) {
        ++row;
        byRow[static_cast<std::size_t>(row)] = position;
        table.SetCellText(4, row, std::to_string(position));
    };
    for (std::int32_t t = 0; t < count; ++t) {
        window.SetProgressPosition(t);
        if (t == count - 1) {
            // The last position has no successor to measure against: it is
            // taken as it stands. (A pool of one position arises only with two
            // streams, and that one position is then the second stream's.)
            take(pool[t]);
            break;
        }
        if (pool[t + 1] - pool[t] > kMaxReferenceGap) {
            row = 1;  // the run is broken; the next run fills from row 2 again
            continue;
        }
        take(pool[t]);
        if (row == n - 1) {
            take(pool[t + 1]);
            break;
        }
        if (row == n)
            break;
    }
    return row;
}

// The folder that wrote the pair, when its name says Pack made it: the
// folder X_ beside the pair X_.
std::string WriterFolderOf(const UnpackNames& names) {
    if (names.baseName.empty() || names.baseName.back() != '_')
        return {};
    return ChangeExtension(names.archive, "");
}

// The stream files already in the folder whose bytes differ from the
// streams that would replace them; missing files are not listed.
std::vector<std::string> DifferingStreamFiles(int folderFd, std::string_view archive,
                                              const ArrInt& addresses,
                                              const std::vector<std::int32_t>& sizes,
                                              const std::vector<std::string>& names) {
    std::vector<std::string> differing;
    std::vector<char> buffer;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::int64_t size = RegularFileSizeAt(folderFd, names[i]);
        if (size < 0)
            continue;
        if (size != sizes[i]) {
            differing.push_back(names[i]);
            continue;
        }
        InputFile file(folderFd, names[i], names[i]);
        const std::size_t read = file.IsOpen() ? file.ReadAllInto(buffer) : 0;
        const std::string_view stream = archive.substr(static_cast<std::size_t>(addresses[i]),
                                                       static_cast<std::size_t>(sizes[i]));
        if (!file.IsOpen() || std::string_view(buffer.data(), read) != stream)
            differing.push_back(names[i]);
    }
    return differing;
}

}  // namespace

void PrepareStreamColumns(StreamTable& table) {
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
    // A pair X_ was written by Pack from the folder X_ beside it: a Pack that
    // a crash interrupted there is completed before the pair is read.
    const std::string writer = WriterFolderOf(names);
    if (!writer.empty() && IsExistingFolder(writer) && HasCommitRecord(writer)) {
        if (writeFolder) {
            FolderLock lock;
            if (lock.TryLock(writer) == FolderLock::Result::InUse) {
                window.WarningBox(FolderInUseText(writer), "Error");
                return UnpackOutcome::FolderInUse;
            }
            CompleteInterruptedCommit(writer, window);
        } else {
            NotePendingCommit(writer, window);
        }
    }
    for (const std::string* path : {&names.bank, &names.archive}) {
        if (!IsExistingFile(*path)) {
            window.WarningBox("File: " + *path + " not found.", "Error");
            return UnpackOutcome::FileMissing;
        }
    }

    table.Reset();
    table.Clear();
    window.SetWorkFolder("");
    for (int panel = 0; panel < 4; ++panel)
        window.SetStatusPanel(panel, "");
    BusyGuard busy(window);
    window.Repaint();

    // Both files are read whole, once, and only read: the pair is never written.
    std::string bank = ReadWholeFile(names.bank);
    window.Repaint();
    std::string archive = ReadWholeFile(names.archive);
    const auto archiveSize = static_cast<std::int32_t>(archive.size());

    // Every end before the folder is written: the tool bar works again and the
    // files' memory is given back before the box that says why.
    auto exitWith = [&](UnpackOutcome outcome, const std::string& text) {
        busy.Release();
        Release(bank);
        Release(archive);
        window.WarningBox(text, "Error");
        return outcome;
    };

    // The minimum goes back to 0 first: a Pack before may have left it at 1.
    window.SetProgressMin(0);
    window.SetProgressMax(archiveSize);
    ArrInt occurrences;
    FindAllOccurrences(archive, kStreamMarker, true, occurrences, window);
    window.SetProgressPosition(archiveSize);

    PrepareStreamColumns(table);
    window.SetProgressPosition(0);
    if (occurrences.empty())
        return exitWith(UnpackOutcome::NoStreams, "No streams found in " + names.archive);

    const std::vector<std::uint32_t> wanted(occurrences.begin() + 1, occurrences.end());
    const BankKeyIndex index(bank, wanted);
    const ArrInt addresses = DropMarkersInsideBlocks(archive, occurrences, index);
    const auto n = static_cast<std::int32_t>(addresses.size());
    window.SetProgressMax(n - 1);
    table.SetRowCount(n + 1);

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
        const ArrInt found = index.SearchHits(static_cast<std::uint32_t>(address));
        if (found.empty())
            return exitWith(UnpackOutcome::MissingReference,
                            "Address: " + std::to_string(address) + " not found in abk.");
        for (std::int32_t position : found) {
            pool.push_back(position);
            window.PumpEvents();
        }
    }
    std::sort(pool.begin(), pool.end());
    const auto poolSize = static_cast<std::int32_t>(pool.size());

    table.SetCellText(4, 1, "0");
    window.SetProgressMax(poolSize);
    std::vector<std::int32_t> byRow;
    const bool poolComplete = AssignPoolPositions(table, window, pool, n, byRow) == n;
    // The pool does not know which key stands where: a chance occurrence of
    // another stream's key inside the run shifts every row behind it. Its
    // result stands only when each row's position holds the row's own key.
    const std::vector<std::int32_t> pooled(byRow.begin() + 2, byRow.end());
    const std::vector<std::uint32_t> rowAddresses(addresses.begin() + 1, addresses.end());
    if (!poolComplete || !PositionsHoldTheirKeys(bank, pooled, rowAddresses)) {
        std::vector<const ArrInt*> occurrencesByRow;
        occurrencesByRow.reserve(rowAddresses.size());
        for (std::uint32_t address : rowAddresses)
            occurrencesByRow.push_back(&index.AllOccurrences(address));
        const std::vector<std::int32_t> chain = ChainBankPositions(occurrencesByRow);
        if (chain.empty())
            return exitWith(UnpackOutcome::Inconsistent,
                            "Some addresses not correctly found in abk.");
        for (std::int32_t k = 2; k <= n; ++k)
            table.SetCellText(4, k, std::to_string(chain[static_cast<std::size_t>(k - 2)]));
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

    // The work folder: locked, an interrupted commit completed, the
    // leftovers of a killed run removed, the user's edits kept if asked.
    CreateFolder(names.workFolder);  // it may exist already: then it is written into
    FolderLock lock;
    const FolderLock::Result locked = lock.TryLock(names.workFolder);
    if (locked == FolderLock::Result::InUse) {
        Release(bank);
        Release(archive);
        window.WarningBox(FolderInUseText(names.workFolder), "Error");
        return UnpackOutcome::FolderInUse;
    }
    if (locked == FolderLock::Result::CannotOpen)
        throw IoError(lock.OpenError(), "Cannot create " + names.workFolder);
    CompleteInterruptedCommit(names.workFolder, window);
    const UniqueFd folderFd = OpenFolder(names.workFolder);
    if (!folderFd.valid())
        throw IoError(errno, "Cannot open folder " + names.workFolder);
    {
        std::unordered_set<std::string> targets(fileNames.begin(), fileNames.end());
        targets.insert(FileNamePart(names.bankImage));
        targets.insert(FileNamePart(names.tableFile));
        RemoveLeftoverTemporaries(names.workFolder, [&targets](const std::string& target) {
            return targets.count(target) != 0;
        });
    }
    const std::vector<std::string> edited =
        DifferingStreamFiles(folderFd.get(), archive, addresses, sizes, fileNames);
    if (!edited.empty() &&
        !window.ConfirmReplacingStreams(names.workFolder, names.archive, edited)) {
        Release(bank);
        Release(archive);
        return UnpackOutcome::ReplaceDeclined;
    }

    {
        DisabledWindowGuard disabled(window);
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
            WriteFileThroughRename(folderFd.get(), fileNames[i],
                                   JoinPath(names.workFolder, fileNames[i]), stream);
        }
        // One sync for every stream file, before the table that lists them.
        SyncFileSystemOf(folderFd.get(), names.workFolder);
    }

    ReplacingFileWriter bankImage(names.bankImage);
    bankImage.Write(bank);
    ReplacingFileWriter tableFile = PrepareTableFile(table, names.tableFile);
    CommitTogether(names.workFolder, {{&bankImage, ""}, {&tableFile, ""}}, "Unpack");

    window.SetWorkFolder(names.workFolder);
    window.InformationBox("Successfully extracted to " + names.workFolder, "Information");
    Release(bank);
    Release(archive);
    window.SetProgressPosition(0);
    return UnpackOutcome::Succeeded;
}

}  // namespace tamrel
