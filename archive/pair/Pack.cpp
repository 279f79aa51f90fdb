#include "archive/pair/Pack.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "io/Bytes.h"
#include "io/CommitRecord.h"
#include "io/FileIo.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

// A row's own address or size that is not a number.
class NotANumberError : public InputError {
public:
    explicit NotANumberError(const std::string& text)
        : InputError("'" + text + "' is not a valid integer value") {}
};

// The stream files of the rows: looked at once while planning (one look at
// the name in the folder, and a second through a link), and opened once
// while writing, when they must still have the size that was planned.
class StreamFiles {
public:
    explicit StreamFiles(const Folder& folder) : folder_(folder), path_(folder.Path()) {}

    StreamFileState Look(std::int32_t row, const std::string& name) {
        StreamFileState state;
        if (name.empty())
            return state;  // missing
        NameStatus status = StatusAt(folder_, name, false);
        const bool link = status.kind == NameStatus::Kind::Link;
        if (link) {
            if (!LeadsIntoFolder(name)) {
                state.kind = StreamFileState::Kind::LinkOutside;
                return state;
            }
            status = StatusAt(folder_, name, true);
        }
        if (status.error != 0) {
            state.kind = StreamFileState::Kind::Unreadable;
            state.error = status.error;
            return state;
        }
        // A folder, a pipe or a device at the name is no stream file.
        if (status.kind != NameStatus::Kind::File)
            return state;
        state.kind = StreamFileState::Kind::Present;
        state.size = status.size;
        if (planned_.size() <= static_cast<std::size_t>(row))
            planned_.resize(static_cast<std::size_t>(row) + 1);
        planned_[static_cast<std::size_t>(row)] = {status.size, link};
        return state;
    }

    // Copies the row's file into the archive at its address. It must still
    // be the size that was planned: the file is not looked at a second time
    // (one look per file is what the copy of 100,000 files can afford), so a
    // file swapped for another of the same size is copied as it now is, and
    // the folder still describes the pair.
    void CopyInto(ReplacingFileWriter& archive, const PackPlan::Stream& stream) const {
        const Planned& planned = planned_.at(static_cast<std::size_t>(stream.row));
        const auto copied =
            archive.CopyIn(stream.address, folder_, stream.name, !planned.link, planned.size + 1);
        if (copied.openError == ELOOP || (copied.openError == 0 && copied.bytes != planned.size))
            throw InputError("The stream file " + PathOf(stream.name) + " changed while packing.");
        if (copied.openError != 0)
            throw IoError(copied.openError, "Cannot open file " + PathOf(stream.name));
        // The filling up to the new size is never written: it reads as zeros.
        archive.ExtendTo(static_cast<std::int64_t>(stream.address) + stream.newSize);
    }

    // A link is read only when it resolves to a file inside the work folder.
    bool LeadsIntoFolder(const std::string& name) {
        if (resolvedFolder_.empty())
            resolvedFolder_ = ResolvedPath(path_) + "/";
        const std::string target = ResolvedPath(PathOf(name));
        return target.empty() || target.compare(0, resolvedFolder_.size(), resolvedFolder_) == 0;
    }

    // The path for messages, also once the folder is let go.
    std::string PathOf(const std::string& name) const { return JoinPath(path_, name); }

private:
    struct Planned {
        std::int64_t size = 0;
        bool link = false;
    };
    const Folder& folder_;
    std::string path_;
    std::vector<Planned> planned_;
    std::string resolvedFolder_;
};

// Shows the cells that the plan changed up to where it ended.
void ApplyCells(StreamTable& table, const PackPlanResult& result) {
    for (const auto& [row, value] : result.addressCells)
        table.SetCellText(kAddressCol, row, std::to_string(value));
    for (const auto& [row, value] : result.sizeCells)
        table.SetCellText(kSizeCol, row, std::to_string(value));
}

// Writes each stream file, filled up with zero bytes, at its address.
void WriteStreams(const PackPlan& plan, const StreamFiles& files, ReplacingFileWriter& archive,
                  WindowServices& window, std::int32_t rows) {
    window.BeginProgressPhase(
        {"Writing streams", ProgressPhase::Unit::Streams, rows - 1, 0, rows - 1});
    for (const PackPlan::Stream& stream : plan.streams) {
        window.SetProgressPosition(stream.row);
        RepaintAtMilestones(window, stream.row, rows);
        window.PumpEvents();
        if (stream.newSize != 0)
            files.CopyInto(archive, stream);
    }
}

}  // namespace

PackOutcome Pack(StreamTable& table, WindowServices& window) {
    auto folder = window.FolderSelectionDialog();
    if (!folder)
        return PackOutcome::Cancelled;
    return PackFolder(table, window, *folder);
}

namespace {

// The leftovers of a killed Pack: its temporary files for its own targets.
std::optional<TakenFolder> TakePackedFolder(const PackNames& names, const std::string& folder,
                                            WindowServices& window) {
    return TakeFolder(
        folder, window,
        [&names](const std::string& target) {
            return target == names.tableFileName || target == names.bankImageName;
        },
        [&names](const std::string& target) {
            return target == names.newArchiveName || target == names.newBankName;
        });
}

// Writes the plan: all four outputs to temporary files, complete and
// synced, then renamed as one step that a crash cannot split.
void WritePlan(const PackPlan& plan, std::string& bank, const StreamTable& table,
               const PackNames& names, const TakenFolder& taken, StreamFiles& files,
               WindowServices& window) {
    for (const PackPlan::Patch& patch : plan.patches)
        WriteUint32LE(bank, patch.position, patch.newAddress);
    // Every temporary file first: a target that cannot be written ends Pack
    // before the long work of the archive.
    ReplacingFileWriter newArchive(taken.Parent(), names.newArchiveName);
    ReplacingFileWriter newBank(taken.Parent(), names.newBankName);
    ReplacingFileWriter bankImage(taken.Work(), names.bankImageName);
    ReplacingFileWriter tableFile = PrepareTableFile(table, taken.Work(), names.tableFileName);
    WriteStreams(plan, files, newArchive, window, table.RowCount());
    newBank.Write(bank);
    bankImage.Write(bank);
    CommitTogether(taken.Work(), taken.Parent(),
                   {{&newArchive, "../"}, {&newBank, "../"}, {&bankImage, ""}, {&tableFile, ""}},
                   "Pack");
}

// Ends Pack at a planning end other than success, as the window shows it.
PackOutcome EndPlanning(const PackPlanResult& result, StreamTable& table, StreamFiles& files,
                        DisabledWindowGuard& disabled, WindowServices& window) {
    const std::string path = files.PathOf(table.CellText(kNameCol, result.row));
    if (result.end == PlanEnd::StreamFileMissing) {
        table.Reset();
        disabled.Release();
        window.InformationBox("File not found " + path, "Information");
        return PackOutcome::StreamFileMissing;
    }
    ApplyCells(table, result);
    switch (result.end) {
        case PlanEnd::StreamFileUnreadable:
            throw IoError(result.error, "Cannot open file " + path);
        case PlanEnd::StreamFileTooLarge:
            throw FileTooLargeError(path);
        case PlanEnd::NotANumber:
            throw NotANumberError(result.text);
        case PlanEnd::IntError:
            window.WarningBox("Alarm! Int error.", "Error");
            disabled.Release();
            return PackOutcome::IntError;
        default:
            disabled.Release();
            window.WarningBox(result.text, "Error");
            return PackOutcome::TableRefused;
    }
}

// One Pack, phase by phase: the folder taken (or, for the plan alone,
// opened), its table and bank image loaded, the plan worked out, the four
// outputs written.
class Packer {
public:
    Packer(StreamTable& table, WindowServices& window, const std::string& folder)
        : table_(table), window_(window), folder_(folder), names_(PackNamesFor(folder)) {}

    // Takes the folder for writing; an end's outcome when it cannot.
    std::optional<PackOutcome> Take() {
        if (!IsExistingFolder(folder_))
            return ResourcesMissing();
        taken_ = TakePackedFolder(names_, folder_, window_);
        if (!taken_)
            return PackOutcome::FolderInUse;
        work_ = &taken_->Work();
        return std::nullopt;
    }

    // Opens the folder to plan, writing nothing.
    std::optional<PackOutcome> Open() {
        if (!IsExistingFolder(folder_))
            return ResourcesMissing();
        NotePendingCommit(folder_, window_);
        readOnly_ = Folder(folder_);
        if (!readOnly_.IsOpen())
            throw IoError(readOnly_.OpenError(), "Cannot open the folder " + folder_);
        work_ = &readOnly_;
        return std::nullopt;
    }

    // The table file and the bank image; an end's outcome when they do not do.
    std::optional<PackOutcome> Load() {
        const InputFile tableFile(*work_, names_.tableFileName);
        const InputFile bankImage(*work_, names_.bankImageName);
        if (!tableFile.IsOpen() || !bankImage.IsOpen()) {
            LetGo();
            return ResourcesMissing();
        }
        disabled_.emplace(window_);
        window_.SetWorkFolder("");
        table_.Reset();
        window_.Repaint();
        bank_ = bankImage.ReadAll();
        if (bank_.empty())
            return EndWith(PackOutcome::EmptyBankImage);
        if (const auto refusal =
                LoadFolderTable(table_, tableFile, [this] { window_.PumpEvents(); })) {
            EndWith(PackOutcome::TableRefused);
            window_.WarningBox(
                "The table file " + names_.tableFile + " cannot be packed: " + *refusal, "Error");
            return PackOutcome::TableRefused;
        }
        if (table_.RowCount() <= 1) {
            EndWith(PackOutcome::NoStreamRows);
            window_.InformationBox("No streams listed in " + names_.tableFile, "Information");
            return PackOutcome::NoStreamRows;
        }
        // The maximum first: the minimum 1 is then never above it.
        window_.SetProgressMax(table_.RowCount() - 1);
        window_.SetProgressMin(1);
        return std::nullopt;
    }

    // The plan: every exit comes before a byte is written.
    std::optional<PackOutcome> Plan() {
        files_.emplace(*work_);
        const std::int32_t rows = table_.RowCount();
        PackPlanContext context;
        context.tableFile = names_.tableFile;
        context.bankImage = names_.bankImage;
        context.streamFile = [this](std::int32_t row, const std::string& name) {
            return files_->Look(row, name);
        };
        window_.BeginProgressPhase(
            {"Checking streams", ProgressPhase::Unit::Streams, rows - 1, 0, rows - 1});
        context.onRow = [this, rows](std::int32_t row) {
            window_.SetProgressPosition(row);
            RepaintAtMilestones(window_, row, rows);
            window_.PumpEvents();
        };
        result_ = PlanPack(table_, bank_, context);
        if (result_.end != PlanEnd::Planned) {
            LetGo();
            return EndPlanning(result_, table_, *files_, *disabled_, window_);
        }
        ApplyCells(table_, result_);
        return std::nullopt;
    }

    const PackPlan& Result() const { return result_.plan; }

    // Ends the plan alone: the window takes input again.
    void EndPlan() { disabled_.reset(); }

    PackOutcome Write() {
        WritePlan(result_.plan, bank_, table_, names_, *taken_, *files_, window_);
        LetGo();
        disabled_.reset();
        window_.SetWorkFolder(folder_);
        window_.Repaint();
        std::string().swap(bank_);
        window_.InformationBox(
            "Successfully saved to " + names_.newBank + "\r\nand " + names_.newArchive,
            "Information");
        window_.SetProgressPosition(0);
        return PackOutcome::Succeeded;
    }

private:
    PackOutcome ResourcesMissing() {
        window_.InformationBox(ResourcesMissingText(folder_), "Information");
        return PackOutcome::ResourcesMissing;
    }
    // No box waits for the user while the folder is locked.
    void LetGo() {
        if (taken_)
            taken_->Release();
    }
    PackOutcome EndWith(PackOutcome outcome) {
        LetGo();
        disabled_.reset();
        return outcome;
    }

    StreamTable& table_;
    WindowServices& window_;
    const std::string& folder_;
    const PackNames names_;
    std::optional<TakenFolder> taken_;
    Folder readOnly_;
    const Folder* work_ = nullptr;
    std::optional<DisabledWindowGuard> disabled_;
    std::string bank_;
    std::optional<StreamFiles> files_;
    PackPlanResult result_;
};

}  // namespace

PackOutcome PackFolder(StreamTable& table, WindowServices& window, const std::string& folder) {
    Packer pack(table, window, folder);
    if (auto end = pack.Take())
        return *end;
    if (auto end = pack.Load())
        return *end;
    if (auto end = pack.Plan())
        return *end;
    return pack.Write();
}

PackOutcome PlanPackFolder(StreamTable& table, WindowServices& window, const std::string& folder,
                           PackPlan& plan) {
    Packer pack(table, window, folder);
    if (auto end = pack.Open())
        return *end;
    if (auto end = pack.Load())
        return *end;
    if (auto end = pack.Plan())
        return *end;
    plan = pack.Result();
    pack.EndPlan();
    return PackOutcome::Succeeded;
}

}  // namespace tamrel
