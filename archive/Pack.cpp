#include "archive/Pack.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>

#include "archive/FolderCommit.h"
#include "archive/FolderTable.h"
#include "archive/StreamColumns.h"
#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "io/Bytes.h"
#include "io/CommitRecord.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

// A row's own address or size that is not a number.
class NotANumberError : public std::runtime_error {
public:
    explicit NotANumberError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

// The stream files of the rows: looked at once while planning (one look at
// the name in the folder, and a second through a link), opened once while
// writing, and then required to be the very file that was planned.
class StreamFiles {
public:
    explicit StreamFiles(const Folder& folder) : folder_(folder), path_(folder.Path()) {}

    StreamFileState Look(std::int32_t row, const std::string& name) {
        StreamFileState state;
        if (name.empty())
            return state;  // missing
        NameStatus status = StatusAt(folder_.Fd(), name, false);
        const bool link = status.kind == NameStatus::Kind::Link;
        if (link) {
            if (!LeadsIntoFolder(name)) {
                state.kind = StreamFileState::Kind::LinkOutside;
                return state;
            }
            status = StatusAt(folder_.Fd(), name, true);
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
        planned_[static_cast<std::size_t>(row)] = {status.identity, status.size, link};
        return state;
    }

    // The row's file, opened now; it must be the file that was planned.
    std::unique_ptr<InputFile> Open(std::int32_t row, const std::string& name) const {
        const Planned& planned = planned_.at(static_cast<std::size_t>(row));
        auto file = std::make_unique<InputFile>(folder_.Fd(), name, PathOf(name), !planned.link);
        if (!file->IsOpen() && file->OpenError() == ELOOP)
            throw std::runtime_error("The stream file " + PathOf(name) + " changed while packing.");
        if (!file->IsOpen())
            throw IoError(file->OpenError(), "Cannot open file " + PathOf(name));
        if (!(file->Identity() == planned.identity) || file->RawSize() != planned.size)
            throw std::runtime_error("The stream file " + PathOf(name) + " changed while packing.");
        return file;
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
        FileIdentity identity;
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

// Writes each stream file, filled up with zero bytes, at its address; one
// buffer serves every stream.
void WriteStreams(const PackPlan& plan, StreamFiles& files, ReplacingFileWriter& archive,
                  WindowServices& window, std::int32_t rows) {
    std::vector<char> buffer;
    for (const PackPlan::Stream& stream : plan.streams) {
        window.SetProgressPosition(stream.row);
        RepaintAtMilestones(window, stream.row, rows);
        window.PumpEvents();
        if (stream.newSize == 0)
            continue;
        const std::unique_ptr<InputFile> file = files.Open(stream.row, stream.name);
        const std::size_t read = file->ReadAllInto(buffer);
        if (read != stream.fileSize)
            throw std::runtime_error("The stream file " + files.PathOf(stream.name) +
                                     " changed while packing.");
        if (buffer.size() < stream.newSize)
            buffer.resize(stream.newSize);
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(read),
                  buffer.begin() + static_cast<std::ptrdiff_t>(stream.newSize), '\0');
        archive.WriteAt(stream.address, std::string_view(buffer.data(), stream.newSize));
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
    const std::string& name = names.folderName;
    return TakeFolder(
        folder, window,
        [&name](const std::string& target) {
            return target == name + ".tba" || target == name + ".ida";
        },
        [&name](const std::string& target) {
            return target == name + ".ast" || target == name + ".abk";
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
    const std::string& name = names.folderName;
    ReplacingFileWriter newArchive(taken.Parent(), name + ".ast");
    ReplacingFileWriter newBank(taken.Parent(), name + ".abk");
    ReplacingFileWriter bankImage(taken.Work(), name + ".ida");
    ReplacingFileWriter tableFile = PrepareTableFile(table, taken.Work(), name + ".tba");
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

}  // namespace

PackOutcome PackFolder(StreamTable& table, WindowServices& window, const std::string& folder,
                       bool write, PackPlan* planOut) {
    const PackNames names = PackNamesFor(folder);
    auto resourcesMissing = [&] {
        window.InformationBox("Resource files not found in " + folder, "Information");
        return PackOutcome::ResourcesMissing;
    };
    if (!IsExistingFolder(folder))
        return resourcesMissing();
    // Pack takes the folder; the dry run only opens it. Every name is then
    // reached through the folder opened here.
    std::optional<TakenFolder> taken;
    Folder readOnly;
    if (write) {
        taken = TakePackedFolder(names, folder, window);
        if (!taken)
            return PackOutcome::FolderInUse;
    } else {
        NotePendingCommit(folder, window);
        readOnly = Folder(folder);
        if (!readOnly.IsOpen())
            throw IoError(readOnly.OpenError(), "Cannot open the folder " + folder);
    }
    const Folder& work = write ? taken->Work() : readOnly;
    // No box waits for the user while the folder is locked.
    auto letGo = [&taken] {
        if (taken)
            taken->Release();
    };

    // Load: the table file and the bank image.
    const InputFile tableFile(work.Fd(), names.folderName + ".tba", names.tableFile);
    const InputFile bankImage(work.Fd(), names.folderName + ".ida", names.bankImage);
    if (!tableFile.IsOpen() || !bankImage.IsOpen()) {
        letGo();
        return resourcesMissing();
    }
    DisabledWindowGuard disabled(window);
    window.SetWorkFolder("");
    table.Reset();
    window.Repaint();
    std::string bank = bankImage.ReadAll();
    if (bank.empty()) {
        letGo();
        disabled.Release();
        return PackOutcome::EmptyBankImage;
    }
    if (const auto refusal =
            LoadFolderTable(table, tableFile, [&window] { window.PumpEvents(); })) {
        letGo();
        disabled.Release();
        window.WarningBox("The table file " + names.tableFile + " cannot be packed: " + *refusal,
                          "Error");
        return PackOutcome::TableRefused;
    }
    const std::int32_t rows = table.RowCount();
    if (rows <= 1) {
        letGo();
        disabled.Release();
        window.InformationBox("No streams listed in " + names.tableFile, "Information");
        return PackOutcome::NoStreamRows;
    }
    // The maximum first: the minimum 1 is then never above it.
    window.SetProgressMax(rows - 1);
    window.SetProgressMin(1);

    // Plan: every exit comes before a byte is written.
    StreamFiles files(work);
    PackPlanContext context;
    context.tableFile = names.tableFile;
    context.bankImage = names.bankImage;
    context.streamFile = [&files](std::int32_t row, const std::string& name) {
        return files.Look(row, name);
    };
    context.onRow = [&window, rows](std::int32_t row) {
        window.SetProgressPosition(row);
        RepaintAtMilestones(window, row, rows);
        window.PumpEvents();
    };
    const PackPlanResult result = PlanPack(table, bank, context);
    if (result.end != PlanEnd::Planned) {
        letGo();
        return EndPlanning(result, table, files, disabled, window);
    }
    ApplyCells(table, result);
    if (planOut)
        *planOut = result.plan;
    if (!write) {
        disabled.Release();
        return PackOutcome::Succeeded;
    }

    WritePlan(result.plan, bank, table, names, *taken, files, window);
    letGo();
    disabled.Release();
    window.SetWorkFolder(folder);
    window.Repaint();
    std::string().swap(bank);
    window.InformationBox("Successfully saved to " + names.newBank + "\r\nand " + names.newArchive,
                          "Information");
    window.SetProgressPosition(0);
    return PackOutcome::Succeeded;
}

}  // namespace tamrel
