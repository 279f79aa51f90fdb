#include "archive/Pack.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <stdexcept>

#include "archive/WindowServices.h"
#include "archive/WorkFolder.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

constexpr std::int32_t kNameCol = 1;
constexpr std::int32_t kAddressCol = 3;
constexpr std::int32_t kBankPosCol = 4;
constexpr std::int32_t kSizeCol = 11;
constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();

// A row's own address or size that is not a number.
class NotANumberError : public std::runtime_error {
public:
    explicit NotANumberError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

// A cell's number: a 32-bit signed integer in decimal (or hex after "$" or
// "0x"), with an optional sign and nothing else; held as unsigned 32 bits.
std::optional<std::uint32_t> ParseCellNumber(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : -1;
        if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > kLargest + 1)
            return std::nullopt;
    }
    if (!negative && value > kLargest)
        return std::nullopt;
    return negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value))
                    : static_cast<std::uint32_t>(value);
}

std::uint32_t ReadLittleEndian(const std::string& bytes, std::uint32_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void WriteLittleEndian(std::string& bytes, std::uint32_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::uint32_t>(i)] = static_cast<char>(value >> (8 * i));
}

// A row's "Name" as a name inside the work folder: the folder, a separator
// and the name spell the same file as the name looked up in the folder.
std::string NameInFolder(const std::string& name) {
    const auto start = name.find_first_not_of('/');
    return start == std::string::npos ? std::string() : name.substr(start);
}

// The numbers of the rows' "Ast Addr" and "Abk Pos" cells, kept beside the
// table while the plan moves addresses: a grown stream changes the addresses
// of every stream behind it, and writing each change into the table at once
// would cost a cell write per moved row per grown stream. The changed cells
// are written into the table at every end that shows the table.
class RowNumbers {
public:
    RowNumbers(StreamTable& table, std::int32_t rows) : table_(table), rows_(rows) {
        const auto count = static_cast<std::size_t>(rows);
        address_.resize(count);
        position_.resize(count);
        addressChanged_.assign(count, false);
        for (std::int32_t m = 1; m < rows; ++m) {
            const auto i = static_cast<std::size_t>(m);
            address_[i] = ParseCellNumber(table.CellText(kAddressCol, m));
            position_[i] = ParseCellNumber(table.CellText(kBankPosCol, m));
            if (!address_[i] || !position_[i])
                unreadable_.push_back(m);
        }
    }
    ~RowNumbers() {
        try {
            WriteChangedCells();
        } catch (...) {
            // Only the view's picture of a table that is being abandoned is at stake.
        }
    }
    RowNumbers(const RowNumbers&) = delete;
    RowNumbers& operator=(const RowNumbers&) = delete;

    const std::optional<std::uint32_t>& Address(std::int32_t m) const { return address_[Index(m)]; }
    const std::optional<std::uint32_t>& Position(std::int32_t m) const {
        return position_[Index(m)];
    }
    void SetAddress(std::int32_t m, std::uint32_t value) {
        address_[Index(m)] = value;
        addressChanged_[Index(m)] = true;
    }
    // The first row, other than row, whose address or bank position is no number.
    std::int32_t FirstUnreadableOtherThan(std::int32_t row) const {
        for (std::int32_t m : unreadable_)
            if (m != row)
                return m;
        return rows_;
    }
    void WriteChangedCells() {
        for (std::int32_t m = 1; m < rows_; ++m) {
            if (!addressChanged_[Index(m)])
                continue;
            table_.SetCellText(kAddressCol, m, std::to_string(*address_[Index(m)]));
            addressChanged_[Index(m)] = false;
        }
    }

private:
    static std::size_t Index(std::int32_t m) { return static_cast<std::size_t>(m); }

    StreamTable& table_;
    std::int32_t rows_;
    std::vector<std::optional<std::uint32_t>> address_;
    std::vector<std::optional<std::uint32_t>> position_;
    std::vector<bool> addressChanged_;
    std::vector<std::int32_t> unreadable_;
};

// Why a table cannot be packed: it does not belong to the stream files or
// the bank image beside it, and packing it would write references to wrong places.
class TableRefusal {
public:
    explicit TableRefusal(std::string text) : text_(std::move(text)) {}
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

std::string RowText(const std::string& tableFile, std::int32_t row) {
    return "The table file " + tableFile + " cannot be packed: row " + std::to_string(row);
}

}  // namespace

PackOutcome Pack(StreamTable& table, WindowServices& window) {
    auto folder = window.FolderSelectionDialog();
    if (!folder)
        return PackOutcome::Cancelled;
    return PackFolder(table, window, *folder);
}

PackOutcome PackFolder(StreamTable& table, WindowServices& window, const std::string& folder,
                       bool write, PackPlan* planOut) {
    const PackNames names = PackNamesFor(folder);
    if (!IsExistingFile(names.tableFile) || !IsExistingFile(names.bankImage)) {
        window.InformationBox("Resource files not found in " + folder, "Information");
        return PackOutcome::ResourcesMissing;
    }

    DisabledWindowGuard disabled(window);
    // Stream files are looked up by name in the open folder, not by a whole
    // path each: with many thousands of them the path walks would dominate.
    const UniqueFd folderFd = OpenFolder(folder);
    if (!folderFd.valid())
        throw IoError(errno, "Cannot open folder " + folder);
    table.Reset();
    window.Repaint();
    std::string bank = ReadWholeFile(names.bankImage);
    // Everything is written to temporary files beside its target and renamed
    // into place only when Pack succeeds: until then an earlier result stands.
    std::optional<ReplacingFileWriter> newArchive;
    if (write)
        newArchive.emplace(names.newArchive);
    if (bank.empty()) {
        disabled.Release();
        return PackOutcome::EmptyBankImage;
    }

    table.LoadTableFile(names.tableFile, [&window] { window.PumpEvents(); });
    const std::int32_t rows = table.RowCount();
    if (rows <= 1) {
        disabled.Release();
        window.InformationBox("No streams listed in " + names.tableFile, "Information");
        return PackOutcome::NoStreamRows;
    }
    // The maximum first: the minimum 1 is then never above it.
    window.SetProgressMax(rows - 1);
    window.SetProgressMin(1);

    PackPlan plan;
    {
        RowNumbers numbers(table, rows);
        std::vector<std::uint32_t> loadedAddress(static_cast<std::size_t>(rows));
        for (std::int32_t m = 1; m < rows; ++m)
            loadedAddress[static_cast<std::size_t>(m)] = numbers.Address(m).value_or(0);
        auto refuse = [&](const std::string& text) {
            numbers.WriteChangedCells();
            disabled.Release();
            window.WarningBox(text, "Error");
            return PackOutcome::TableRefused;
        };

        // A stream that grows moves every stream at a higher address; the rows
        // must stand in archive order for the moved streams to follow it.
        std::optional<std::uint32_t> previous;
        for (std::int32_t m = 1; m < rows; ++m) {
            const auto& address = numbers.Address(m);
            if (!address)
                continue;
            if (previous && *address <= *previous)
                return refuse(RowText(names.tableFile, m) + " has the Ast Addr " +
                              table.CellText(kAddressCol, m) +
                              ", which is not above the address of the row before it.");
            previous = address;
        }

        for (std::int32_t i = 1; i < rows; ++i) {
            window.SetProgressPosition(i);
            RepaintAtMilestones(window, i, rows);
            const std::string& name = table.CellText(kNameCol, i);
            const std::string path = JoinPath(folder, name);
            const std::string inFolder = NameInFolder(name);
            const std::int64_t fileSize = RegularFileSizeAt(folderFd.get(), inFolder);
            if (fileSize < 0) {
                table.Reset();
                disabled.Release();
                window.InformationBox("File not found " + path, "Information");
                return PackOutcome::StreamFileMissing;
            }
            if (fileSize > static_cast<std::int64_t>(kLargest))
                throw FileTooLargeError(path);
            const auto& ownAddress = numbers.Address(i);
            if (!ownAddress)
                throw NotANumberError(table.CellText(kAddressCol, i));
            const std::uint32_t address = *ownAddress;
            const auto oldSize = ParseCellNumber(table.CellText(kSizeCol, i));
            if (!oldSize)
                throw NotANumberError(table.CellText(kSizeCol, i));

            // A stream that shrank is filled up to its old size and stays put;
            // one that grew is filled up to a multiple of 16 bytes.
            std::uint64_t newSize = static_cast<std::uint64_t>(fileSize);
            if (newSize < *oldSize) {
                newSize = *oldSize;
            } else if (newSize > *oldSize && newSize % 16 != 0) {
                newSize = (newSize / 16 + 1) * 16;
            }
            const std::uint64_t growth = newSize - *oldSize;

            if (growth != 0) {
                const std::int32_t firstUnreadable = numbers.FirstUnreadableOtherThan(i);
                for (std::int32_t m = 1; m < firstUnreadable; ++m) {
                    if (m == i || !(address < *numbers.Address(m)))
                        continue;
                    const std::uint32_t oldAddress = *numbers.Address(m);
                    const std::uint32_t position = *numbers.Position(m);
                    const std::uint64_t moved = oldAddress + growth;
                    if (moved > kLargest)
                        return refuse(RowText(names.tableFile, m) + " would move to the address " +
                                      std::to_string(moved) +
                                      ", and the new archive would reach 2 GiB or more.");
                    if (std::uint64_t{position} + 4 > bank.size())
                        return refuse(RowText(names.tableFile, m) + " has the Abk Pos " +
                                      std::to_string(position) + ", outside the bank image " +
                                      names.bankImage + " (" + std::to_string(bank.size()) +
                                      " bytes).");
                    if (ReadLittleEndian(bank, position) != oldAddress)
                        return refuse(RowText(names.tableFile, m) + " has the Abk Pos " +
                                      std::to_string(position) + ", but the bank image " +
                                      names.bankImage + " does not hold the row's address " +
                                      std::to_string(oldAddress) + " there.");
                    WriteLittleEndian(bank, position, static_cast<std::uint32_t>(moved));
                    numbers.SetAddress(m, static_cast<std::uint32_t>(moved));
                    plan.patches.push_back(
                        {m, position, oldAddress, static_cast<std::uint32_t>(moved)});
                }
                if (firstUnreadable < rows) {
                    numbers.WriteChangedCells();
                    window.WarningBox("Alarm! Int error.", "Error");
                    disabled.Release();
                    return PackOutcome::IntError;
                }
                table.SetCellText(kSizeCol, i, std::to_string(newSize));
            }
            if (address + newSize > kLargest)
                return refuse(RowText(names.tableFile, i) + " would end at " +
                              std::to_string(address + newSize) +
                              ", and the new archive would reach 2 GiB or more.");
            plan.streams.push_back({i, path, inFolder, loadedAddress[static_cast<std::size_t>(i)],
                                    address, *oldSize, static_cast<std::uint32_t>(fileSize),
                                    static_cast<std::uint32_t>(newSize)});
            plan.archiveSize = std::max<std::uint32_t>(
                plan.archiveSize, static_cast<std::uint32_t>(address + newSize));
            window.PumpEvents();
        }
        numbers.WriteChangedCells();
    }
    if (planOut)
        *planOut = plan;
    if (!write) {
        disabled.Release();
        return PackOutcome::Succeeded;
    }

    // Each stream file is read into one reused buffer, filled up with zero
    // bytes and written at its address.
    {
        std::vector<char> buffer;
        for (const PackPlan::Stream& stream : plan.streams) {
            window.SetProgressPosition(stream.row);
            RepaintAtMilestones(window, stream.row, rows);
            InputFile file(folderFd.get(), stream.name, stream.path);
            if (!file.IsOpen())
                throw IoError(file.OpenError(), "Cannot open file " + stream.path);
            const std::size_t read = file.ReadAllInto(buffer);
            if (read != stream.fileSize)
                throw std::runtime_error("The stream file " + stream.path +
                                         " changed while it was being packed");
            if (buffer.size() < stream.newSize)
                buffer.resize(stream.newSize);
            std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(read),
                      buffer.begin() + static_cast<std::ptrdiff_t>(stream.newSize), '\0');
            window.PumpEvents();
            newArchive->WriteAt(stream.address, std::string_view(buffer.data(), stream.newSize));
        }
    }

    ReplacingFileWriter newBank(names.newBank);
    newBank.Write(bank);
    ReplacingFileWriter bankImage(names.bankImage);
    bankImage.Write(bank);
    ReplacingFileWriter tableFile = PrepareTableFile(table, names.tableFile);
    newArchive->Commit();
    newBank.Commit();
    bankImage.Commit();
    tableFile.Commit();

    disabled.Release();
    window.Repaint();
    std::string().swap(bank);
    window.InformationBox("Successfully saved to " + names.newBank + "\r\nand " + names.newArchive,
                          "Information");
    window.SetProgressPosition(0);
    return PackOutcome::Succeeded;
}

}  // namespace tamrel
