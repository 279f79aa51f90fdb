#include "archive/Pack.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>

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

constexpr std::int32_t kAddressCol = 3;
constexpr std::int32_t kSizeCol = 11;

// A row's own address or size that is not a number.
class NotANumberError : public std::runtime_error {
public:
    explicit NotANumberError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

// How many stream files planning keeps open for the write phase: the rest
// are opened again there. Leaves room for everything else the process opens.
std::size_t OpenFileBudget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1024;
    return limit.rlim_cur > 256 ? static_cast<std::size_t>(limit.rlim_cur - 256) : 0;
}

// The stream files of the rows, opened as planning reaches them and kept
// for the write phase while the process may hold that many open.
class StreamFiles {
public:
    StreamFiles(int folderFd, std::string folder)
        : folderFd_(folderFd), folder_(std::move(folder)), budget_(OpenFileBudget()) {}

    StreamFileState Open(std::int32_t row, const std::string& name) {
        StreamFileState state;
        if (name.empty())
            return state;  // missing
        if (IsSymbolicLinkAt(folderFd_, name) && !LeadsIntoFolder(name)) {
            state.kind = StreamFileState::Kind::LinkOutside;
            return state;
        }
        auto file = std::make_unique<InputFile>(folderFd_, name, PathOf(name));
        if (!file->IsOpen()) {
            const int error = file->OpenError();
            const bool absent =
                error == ENOENT || error == ENOTDIR || error == EISDIR || error == ENODEV;
            state.kind =
                absent ? StreamFileState::Kind::Missing : StreamFileState::Kind::Unreadable;
            state.error = error;
            return state;
        }
        state.kind = StreamFileState::Kind::Present;
        state.size = file->RawSize();
        if (kept_.size() < budget_) {
            if (files_.size() <= static_cast<std::size_t>(row))
                files_.resize(static_cast<std::size_t>(row) + 1);
            files_[static_cast<std::size_t>(row)] = std::move(file);
            kept_.push_back(row);
        }
        return state;
    }

    // The row's file as planning opened it, or opened again now.
    std::unique_ptr<InputFile> Take(std::int32_t row, const std::string& name) {
        const auto i = static_cast<std::size_t>(row);
        if (i < files_.size() && files_[i])
            return std::move(files_[i]);
        auto file = std::make_unique<InputFile>(folderFd_, name, PathOf(name));
        if (!file->IsOpen())
            throw IoError(file->OpenError(), "Cannot open file " + PathOf(name));
        return file;
    }

    // A link is read only when it resolves to a file inside the work folder.
    bool LeadsIntoFolder(const std::string& name) {
        if (resolvedFolder_.empty())
            resolvedFolder_ = ResolvedPath(folder_) + "/";
        const std::string target = ResolvedPath(PathOf(name));
        return target.empty() || target.compare(0, resolvedFolder_.size(), resolvedFolder_) == 0;
    }

    std::string PathOf(const std::string& name) const { return JoinPath(folder_, name); }

private:
    int folderFd_;
    std::string folder_;
    std::size_t budget_;
    std::vector<std::unique_ptr<InputFile>> files_;
    std::vector<std::int32_t> kept_;
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
        const std::unique_ptr<InputFile> file = files.Take(stream.row, stream.name);
        const std::size_t read = file->ReadAllInto(buffer);
        if (read != stream.fileSize)
            throw std::runtime_error("The stream file " + files.PathOf(stream.name) +
                                     " changed while it was being packed");
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

// A command that writes the folder holds its lock, finishes what a crash
// interrupted there and removes what a killed run left; a read-only one
// only says that a commit is pending. False when another command has it.
bool PrepareFolder(const PackNames& names, const std::string& folder, bool write, FolderLock& lock,
                   WindowServices& window) {
    if (!write) {
        NotePendingCommit(folder, window);
        return true;
    }
    const FolderLock::Result locked = lock.TryLock(folder);
    if (locked == FolderLock::Result::InUse) {
        window.WarningBox(FolderInUseText(folder), "Error");
        return false;
    }
    if (locked != FolderLock::Result::Locked)
        return true;  // no folder there: the resource check says so
    CompleteInterruptedCommit(folder, window);
    const std::string& name = names.folderName;
    RemoveLeftoverTemporaries(folder, [&name](const std::string& target) {
        return target == name + ".tba" || target == name + ".ida" || target == kCommitRecordName;
    });
    RemoveLeftoverTemporaries(names.parentFolder, [&name](const std::string& target) {
        return target == name + ".ast" || target == name + ".abk";
    });
    return true;
}

// Every row and column of a real table costs the file at least a line;
// counts beyond that come from damage, and planning for them would cost
// memory for nothing. The refusal's text, or nothing.
std::optional<std::string> SizeLineRefusal(const StreamTable& table, std::int64_t lines,
                                           const std::string& tableFile) {
    if (table.RowCount() <= lines && table.ColCount() <= lines)
        return std::nullopt;
    return "The table file " + tableFile + " cannot be packed: its size line declares " +
           std::to_string(table.RowCount()) + " rows and " + std::to_string(table.ColCount()) +
           " columns, more than its " + std::to_string(lines) + " lines can hold.";
}

// Writes the plan: all four outputs to temporary files, complete and
// synced, then renamed as one step that a crash cannot split.
void WritePlan(const PackPlan& plan, std::string& bank, const StreamTable& table,
               const PackNames& names, const std::string& folder, StreamFiles& files,
               WindowServices& window) {
    for (const PackPlan::Patch& patch : plan.patches)
        WriteUint32LE(bank, patch.position, patch.newAddress);
    ReplacingFileWriter newArchive(names.newArchive);
    WriteStreams(plan, files, newArchive, window, table.RowCount());
    ReplacingFileWriter newBank(names.newBank);
    newBank.Write(bank);
    ReplacingFileWriter bankImage(names.bankImage);
    bankImage.Write(bank);
    ReplacingFileWriter tableFile = PrepareTableFile(table, names.tableFile);
    CommitTogether(folder,
                   {{&newArchive, "../"}, {&newBank, "../"}, {&bankImage, ""}, {&tableFile, ""}},
                   "Pack");
}

// Ends Pack at a planning end other than success, as the window shows it.
PackOutcome EndPlanning(const PackPlanResult& result, StreamTable& table, StreamFiles& files,
                        DisabledWindowGuard& disabled, WindowServices& window) {
    const std::string path = files.PathOf(table.CellText(1, result.row));
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
    FolderLock lock;
    if (!PrepareFolder(names, folder, write, lock, window))
        return PackOutcome::FolderInUse;

    // Load: the table file and the bank image.
    if (!IsExistingFile(names.tableFile) || !IsExistingFile(names.bankImage)) {
        window.InformationBox("Resource files not found in " + folder, "Information");
        return PackOutcome::ResourcesMissing;
    }
    DisabledWindowGuard disabled(window);
    window.SetWorkFolder("");
    // Stream files are looked up by name in the open folder, not by a whole
    // path each: with many thousands of them the path walks would dominate.
    const UniqueFd folderFd = OpenFolder(folder);
    if (!folderFd.valid())
        throw IoError(errno, "Cannot open folder " + folder);
    table.Reset();
    window.Repaint();
    std::string bank = ReadWholeFile(names.bankImage);
    if (bank.empty()) {
        disabled.Release();
        return PackOutcome::EmptyBankImage;
    }
    const std::int64_t lines =
        table.LoadTableFile(names.tableFile, [&window] { window.PumpEvents(); });
    if (const auto refusal = SizeLineRefusal(table, lines, names.tableFile)) {
        table.Reset();
        disabled.Release();
        window.WarningBox(*refusal, "Error");
        return PackOutcome::TableRefused;
    }
    const std::int32_t rows = table.RowCount();
    if (rows <= 1) {
        disabled.Release();
        window.InformationBox("No streams listed in " + names.tableFile, "Information");
        return PackOutcome::NoStreamRows;
    }
    // The maximum first: the minimum 1 is then never above it.
    window.SetProgressMax(rows - 1);
    window.SetProgressMin(1);

    // Plan: every exit comes before a byte is written.
    StreamFiles files(folderFd.get(), folder);
    PackPlanContext context;
    context.tableFile = names.tableFile;
    context.bankImage = names.bankImage;
    context.streamFile = [&files](std::int32_t row, const std::string& name) {
        return files.Open(row, name);
    };
    context.onRow = [&window, rows](std::int32_t row) {
        window.SetProgressPosition(row);
        RepaintAtMilestones(window, row, rows);
        window.PumpEvents();
    };
    const PackPlanResult result = PlanPack(table, bank, context);
    if (result.end != PlanEnd::Planned)
        return EndPlanning(result, table, files, disabled, window);
    ApplyCells(table, result);
    if (planOut)
        *planOut = result.plan;
    if (!write) {
        disabled.Release();
        return PackOutcome::Succeeded;
    }

    WritePlan(result.plan, bank, table, names, folder, files, window);
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
