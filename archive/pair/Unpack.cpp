#include "archive/pair/Unpack.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/Replace.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "archive/pair/BankKeyIndex.h"
#include "archive/pair/BankPositions.h"
#include "archive/pair/FindAllOccurrences.h"
#include "audio/Blocks.h"
#include "io/Bytes.h"
#include "io/CommitRecord.h"
#include "io/FileIo.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

constexpr std::string_view kStreamMarker = "SCHl";

// Gives a buffer's memory back at once, before a box that may stay open long.
void Release(std::string& bytes) {
    std::string().swap(bytes);
}

// True when offset lies strictly inside one of the blocks of the stream that
// starts at streamStart, walking its blocks by their 8-byte preambles only.
bool LiesInsideABlock(std::string_view archive, std::size_t streamStart, std::size_t offset) {
    std::size_t block = streamStart;
    while (block < offset) {
        // Larger blocks than the small rule's do not occur in streams; a walk
        // that meets one has left the stream's block structure.
        const auto preamble = ReadPreamble(archive, block, BlockSizeRule::LittleEndianSmall);
        if (!preamble || preamble->size < kBlockPreamble)
            return false;
        if (offset < block + preamble->size)
            return true;
        if (preamble->Is("SCEl"))
            return false;
        block += preamble->size;
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
        table.SetCellText(kPositionCol, row, std::to_string(position));
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

// The stream files already in the folder whose bytes differ from the
// streams that would replace them; missing files are not listed.
std::vector<std::string> DifferingStreamFiles(const Folder& folder, std::string_view archive,
                                              const ArrInt& addresses,
                                              const std::vector<std::int32_t>& sizes,
                                              const std::vector<std::string>& names) {
    std::vector<std::string> differing;
    std::vector<char> buffer;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::int64_t size = RegularFileSizeAt(folder, names[i]);
        if (size < 0)
            continue;
        if (size != sizes[i]) {
            differing.push_back(names[i]);
            continue;
        }
        InputFile file(folder, names[i]);
        const std::size_t read = file.IsOpen() ? file.ReadAllInto(buffer) : 0;
        const std::string_view stream = archive.substr(static_cast<std::size_t>(addresses[i]),
                                                       static_cast<std::size_t>(sizes[i]));
        if (!file.IsOpen() || std::string_view(buffer.data(), read) != stream)
            differing.push_back(names[i]);
    }
    return differing;
}

}  // namespace

std::string WriterFolderOf(const std::string& pickedFile) {
    const UnpackNames names = UnpackNamesFor(pickedFile);
    if (names.baseName.empty() || names.baseName.back() != '_')
        return {};
    return ChangeExtension(names.archive, "");
}

void PrepareStreamColumns(StreamTable& table) {
    table.SetColCount(17);
    table.SetColWidths(0, 55);
    for (const StreamColumn col : {kNumberCol, kNameCol, kAddressCol, kSizeCol, kPositionCol})
        table.SetCellText(col, 0, ColumnTitle(col));
    table.SetColWidths(kNameCol, 200);
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

namespace {

// The streams of the pair as the rows list them.
struct StreamRows {
    ArrInt addresses;
    std::vector<std::int32_t> sizes;
    std::vector<std::string> fileNames;
    std::int32_t poolSize = 0;  // the progress bar's maximum while writing
};

// One Unpack, phase by phase: the pair read and searched, the rows filled,
// the bank positions placed, the work folder written.
class Unpacker {
public:
    Unpacker(StreamTable& table, WindowServices& window, const UnpackNames& names)
        : table_(table), window_(window), names_(names), busy_(window) {}

    // Reads both files whole, once, and only reads them: the pair is never written.
    void ReadPair() {
        window_.Repaint();
        bank_ = ReadWholeFile(names_.bank);
        window_.Repaint();
        archive_ = ReadWholeFile(names_.archive);
    }

    // Finds the streams and fills one row each, pooling the search hits of
    // every stream's key; an exit's outcome when a reference is missing.
    std::optional<UnpackOutcome> FillRows();
    // Assigns the bank positions; the inconsistency exit when none fits.
    std::optional<UnpackOutcome> PlaceReferences();
    // The listed table: status panels, idle again.
    void ShowListed();
    bool BankEmpty() const { return bank_.empty(); }
    UnpackOutcome WriteWorkFolder();
    // The work folder taken, with the leftovers of this Unpack's own targets removed.
    std::optional<TakenFolder> TakeWorkFolder();
    // Removes every kept original identical to the stream file just written.
    void RemoveOriginalsOfWhatWasWritten(const Folder& folder);

private:
    // Every end before the folder is written: the tool bar works again and the
    // files' memory is given back before the box that says why.
    UnpackOutcome ExitWith(UnpackOutcome outcome, const std::string& text) {
        busy_.Release();
        ReleaseFiles();
        window_.WarningBox(text, "Error");
        return outcome;
    }
    void ReleaseFiles() {
        Release(bank_);
        Release(archive_);
    }
    std::int32_t Count() const { return static_cast<std::int32_t>(rows_.addresses.size()); }

    StreamTable& table_;
    WindowServices& window_;
    const UnpackNames& names_;
    BusyGuard busy_;
    std::string bank_, archive_;
    std::unique_ptr<BankKeyIndex> index_;
    StreamRows rows_;
    ArrInt pool_;
};

std::optional<UnpackOutcome> Unpacker::FillRows() {
    const auto archiveSize = static_cast<std::int32_t>(archive_.size());
    // The minimum goes back to 0 first: a Pack before may have left it at 1.
    window_.SetProgressMin(0);
    window_.SetProgressMax(archiveSize);
    window_.BeginProgressPhase(
        {"Reading", ProgressPhase::Unit::Bytes, archiveSize, 0, archiveSize});
    ArrInt occurrences;
    FindAllOccurrences(archive_, kStreamMarker, true, occurrences, window_);
    window_.SetProgressPosition(archiveSize);

    PrepareStreamColumns(table_);
    window_.SetProgressPosition(0);
    if (occurrences.empty())
        return ExitWith(UnpackOutcome::NoStreams, "No streams found in " + names_.archive);

    const std::vector<std::uint32_t> wanted(occurrences.begin() + 1, occurrences.end());
    index_ = std::make_unique<BankKeyIndex>(bank_, wanted);
    rows_.addresses = DropMarkersInsideBlocks(archive_, occurrences, *index_);
    const std::int32_t n = Count();
    window_.SetProgressMax(n - 1);
    // Position k - 1 while row k is listed.
    window_.BeginProgressPhase({"Listing streams", ProgressPhase::Unit::Streams, n, -1, n - 1});
    table_.SetRowCount(n + 1);
    rows_.fileNames.resize(static_cast<std::size_t>(n));
    rows_.sizes.resize(static_cast<std::size_t>(n));
    for (std::int32_t k = 1; k <= n; ++k) {
        const auto i = static_cast<std::size_t>(k - 1);
        window_.SetProgressPosition(k - 1);
        const std::int32_t address = rows_.addresses[i];
        rows_.sizes[i] = (k < n ? rows_.addresses[i + 1] : archiveSize) - address;
        rows_.fileNames[i] = StreamFileName(names_.baseName, k);
        table_.SetCellText(kNumberCol, k, std::to_string(k));
        table_.SetCellText(kNameCol, k, rows_.fileNames[i]);
        table_.SetCellText(kAddressCol, k, std::to_string(address));
        table_.SetCellText(kSizeCol, k, std::to_string(rows_.sizes[i]));
        if (k < 2)
            continue;  // the first stream's address is never looked for
        const ArrInt found = index_->SearchHits(static_cast<std::uint32_t>(address));
        if (found.empty())
            return ExitWith(UnpackOutcome::MissingReference,
                            "Address: " + std::to_string(address) + " not found in abk.");
        for (std::int32_t position : found) {
            pool_.push_back(position);
            window_.PumpEvents();
        }
    }
    return std::nullopt;
}

std::optional<UnpackOutcome> Unpacker::PlaceReferences() {
    const std::int32_t n = Count();
    std::sort(pool_.begin(), pool_.end());
    rows_.poolSize = static_cast<std::int32_t>(pool_.size());
    table_.SetCellText(kPositionCol, 1, "0");
    window_.SetProgressMax(rows_.poolSize);
    std::vector<std::int32_t> byRow;
    const bool poolComplete = AssignPoolPositions(table_, window_, pool_, n, byRow) == n;
    // The pool does not know which key stands where: a chance occurrence of
    // another stream's key inside the run shifts every row behind it. Its
    // result stands only when each row's position holds the row's own key.
    const std::vector<std::int32_t> pooled(byRow.begin() + 2, byRow.end());
    const std::vector<std::uint32_t> rowAddresses(rows_.addresses.begin() + 1,
                                                  rows_.addresses.end());
    if (poolComplete && PositionsHoldTheirKeys(bank_, pooled, rowAddresses))
        return std::nullopt;
    std::vector<const ArrInt*> occurrencesByRow;
    occurrencesByRow.reserve(rowAddresses.size());
    for (std::uint32_t address : rowAddresses)
        occurrencesByRow.push_back(&index_->AllOccurrences(address));
    const std::vector<std::int32_t> chain = ChainBankPositions(occurrencesByRow);
    if (chain.empty())
        return ExitWith(UnpackOutcome::Inconsistent, "Some addresses not correctly found in abk.");
    for (std::int32_t k = 2; k <= n; ++k)
        table_.SetCellText(kPositionCol, k, std::to_string(chain[static_cast<std::size_t>(k - 2)]));
    return std::nullopt;
}

void Unpacker::ShowListed() {
    window_.Repaint();
    window_.SetProgressPosition(0);
    window_.Repaint();
    window_.SetStatusPanel(0, FileNamePart(names_.bank) + " - " + FileNamePart(names_.archive));
    window_.SetStatusPanel(1, "Asf count: " + std::to_string(Count()));
    busy_.Release();
    window_.SetProgressPosition(0);
}

void Unpacker::RemoveOriginalsOfWhatWasWritten(const Folder& folder) {
    // A replacement keeps the stream it replaced as NAME.orig; a stream file
    // that Unpack has just written back as that very stream is original
    // again, and its copy would only offer to restore what is there.
    const std::vector<std::string> originals = NamesEndingWith(folder, ".orig");
    if (originals.empty())
        return;
    std::unordered_map<std::string, std::size_t> rowOf;
    for (std::size_t i = 0; i < rows_.fileNames.size(); ++i)
        rowOf.emplace(KeptOriginalOf(rows_.fileNames[i]), i);
    std::vector<char> buffer;
    for (const std::string& original : originals) {
        const auto row = rowOf.find(original);
        if (row == rowOf.end())
            continue;
        const std::size_t i = row->second;
        const std::string_view stream(archive_.data() + rows_.addresses[i],
                                      static_cast<std::size_t>(rows_.sizes[i]));
        const InputFile file(folder, original, true);
        if (!file.IsOpen() || file.RawSize() != rows_.sizes[i])
            continue;
        const std::size_t read = file.ReadAllInto(buffer);
        if (std::string_view(buffer.data(), read) == stream)
            RemoveAt(folder, original);
    }
}

std::optional<TakenFolder> Unpacker::TakeWorkFolder() {
    std::unordered_set<std::string> targets(rows_.fileNames.begin(), rows_.fileNames.end());
    targets.insert(FileNamePart(names_.bankImage));
    targets.insert(FileNamePart(names_.tableFile));
    return TakeFolder(
        names_.workFolder, window_,
        [targets = std::move(targets)](const std::string& t) { return targets.count(t) != 0; });
}

UnpackOutcome Unpacker::WriteWorkFolder() {
    // The work folder: made if need be, taken (locked, an interrupted commit
    // completed, the leftovers of a killed run removed), the user's edits
    // kept if asked.
    if (const int error = CreateFolder(names_.workFolder); error != 0 && error != EEXIST)
        throw IoError(error, "Cannot create " + names_.workFolder);
    std::optional<TakenFolder> taken = TakeWorkFolder();
    std::vector<std::string> edited;
    std::unordered_set<std::string> approved;
    while (taken) {
        edited = DifferingStreamFiles(taken->Work(), archive_, rows_.addresses, rows_.sizes,
                                      rows_.fileNames);
        if (std::all_of(edited.begin(), edited.end(),
                        [&approved](const std::string& name) { return approved.count(name); }))
            break;
        // Asked with the folder let go, and taken again after: should more
        // files have changed meanwhile, those are asked about too.
        taken->Release();
        if (!window_.ConfirmReplacingStreams(names_.workFolder, names_.archive, edited)) {
            ReleaseFiles();
            return UnpackOutcome::ReplaceDeclined;
        }
        approved.insert(edited.begin(), edited.end());
        taken = TakeWorkFolder();
    }
    if (!taken) {
        ReleaseFiles();
        return UnpackOutcome::FolderInUse;
    }
    const Folder& folder = taken->Work();
    // Every stream file can be replaced (a folder there, or a file the user
    // may not write, stays), and the bank image and the table file can be
    // written, or nothing is.
    for (const std::string& name : rows_.fileNames)
        TryReplacing(folder, name);
    ReplacingFileWriter bankImage(folder, FileNamePart(names_.bankImage));
    ReplacingFileWriter tableFile =
        PrepareTableFile(table_, folder, FileNamePart(names_.tableFile));
    {
        DisabledWindowGuard disabled(window_);
        window_.SetProgressPosition(0);
        window_.BeginProgressPhase(
            {"Writing streams", ProgressPhase::Unit::Streams, Count(), 0, Count()});
        window_.Repaint();
        for (std::int32_t k = 1; k <= Count(); ++k) {
            const auto i = static_cast<std::size_t>(k - 1);
            RepaintAtMilestones(window_, k, rows_.poolSize);
            window_.PumpEvents();
            // The archive was read whole above; each stream goes from there
            // into its file, so what is written is what was searched.
            const std::string_view stream(archive_.data() + rows_.addresses[i],
                                          static_cast<std::size_t>(rows_.sizes[i]));
            window_.Repaint();
            window_.PumpEvents();
            window_.SetProgressPosition(k);
            WriteFileThroughRename(folder, rows_.fileNames[i], stream);
        }
        // One sync for every stream file, before the table that lists them.
        SyncFileSystemOf(folder);
    }
    RemoveOriginalsOfWhatWasWritten(folder);

    bankImage.Write(bank_);
    CommitTogether(folder, taken->Parent(), {{&bankImage, ""}, {&tableFile, ""}}, "Unpack");
    taken->Release();

    window_.SetWorkFolder(names_.workFolder);
    window_.InformationBox("Successfully extracted to " + names_.workFolder, "Information");
    ReleaseFiles();
    window_.SetProgressPosition(0);
    return UnpackOutcome::Succeeded;
}

// A pair X_ was written by Pack from the folder X_ beside it: a Pack that a
// crash interrupted there is completed before the pair is read (only noted
// when nothing is to be written). False when another command has the folder.
bool CompleteWritersCommit(const UnpackNames& names, WindowServices& window, bool writeFolder) {
    const std::string writer = WriterFolderOf(names.archive);
    if (writer.empty() || !IsExistingFolder(writer))
        return true;
    if (!writeFolder) {
        NotePendingCommit(writer, window);
        return true;
    }
    const Folder folder(writer);
    if (!folder.IsOpen() || !HasCommitRecord(folder))
        return true;
    return TakeFolder(writer, window, {}).has_value();
}

}  // namespace

UnpackOutcome UnpackPickedFile(StreamTable& table, WindowServices& window,
                               const std::string& pickedFile, bool writeFolder) {
    const UnpackNames names = UnpackNamesFor(pickedFile);
    if (!CompleteWritersCommit(names, window, writeFolder))
        return UnpackOutcome::FolderInUse;
    // A path typed or dropped may name no file at all: that file is named
    // first, then the partner that is missing (the bank before the archive).
    for (const std::string* path : {&pickedFile, &names.bank, &names.archive}) {
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
    Unpacker unpack(table, window, names);
    unpack.ReadPair();
    if (const auto exit = unpack.FillRows())
        return *exit;
    if (const auto exit = unpack.PlaceReferences())
        return *exit;
    unpack.ShowListed();

    // Every stream after the first has its reference in the bank, so an empty
    // bank can only go with a single stream: there is nothing to write then.
    if (unpack.BankEmpty())
        return UnpackOutcome::EmptyBank;
    if (!writeFolder)
        return UnpackOutcome::Succeeded;
    return unpack.WriteWorkFolder();
}

}  // namespace tamrel
