#include "archive/pair/PackPlan.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "archive/folder/WorkFolder.h"
#include "archive/pair/BankPositions.h"
#include "io/Bytes.h"
#include "io/CommitRecord.h"
#include "io/Path.h"
#include "table/CellNumber.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"

namespace tamrel {

namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();

std::string RowText(const std::string& tableFile, std::int32_t row) {
    return "The table file " + tableFile + " cannot be packed: row " + std::to_string(row);
}

class Planner {
public:
    Planner(const StreamTable& table, std::string_view bank, const PackPlanContext& context)
        : table_(table), bank_(bank), context_(context), rows_(table.RowCount()) {}

    PackPlanResult Run();

private:
    std::size_t Index(std::int32_t row) const { return static_cast<std::size_t>(row); }
    std::uint32_t Old(std::int32_t row) const { return *address_[Index(row)]; }

    // Reads the rows' numbers; a refusal when the table cannot be packed at
    // all (rows out of archive order, references that share bytes).
    std::optional<PackPlanResult> ReadAndCheckTable();
    // "table file", "bank image" or "commit record" for a name that is one of
    // the folder's own files, which are never streams; empty otherwise.
    std::string OwnFileOfTheFolder(const std::string& name) const;
    // Row i grew: moves every row behind it by the growth; an end where
    // that cannot be done.
    std::optional<PackPlanResult> Grow(std::int32_t i, std::uint64_t growth);
    // Why moving row m by growth (its first move) cannot be done, or nothing.
    std::optional<std::string> FirstMoveRefusal(std::int32_t m, std::uint64_t growth) const;
    std::string TooFarText(std::int32_t m, std::uint64_t moved) const;

    // Ends planning at row; the table then shows the rows up to and including
    // lastMoved moved by the growth known then (each row before the current
    // one by what it had when it was reached), and the rest by `behind`.
    PackPlanResult End(PlanEnd end, std::int32_t row, std::string text = {},
                       std::int32_t current = 0, std::int32_t lastMoved = 0,
                       std::uint64_t movedBy = 0, std::uint64_t behind = 0);
    void AddressCells(PackPlanResult& result, std::int32_t current, std::int32_t lastMoved,
                      std::uint64_t movedBy, std::uint64_t behind) const;

    const StreamTable& table_;
    std::string_view bank_;
    const PackPlanContext& context_;
    const std::int32_t rows_;

    std::vector<std::optional<std::uint32_t>> address_;
    std::vector<std::optional<std::uint32_t>> position_;
    std::vector<std::int32_t> unreadable_;  // rows whose address or position is no number
    std::vector<std::uint64_t> shift_;      // growth before each row, once it is reached
    std::uint64_t growth_ = 0;              // growth of every row so far
    std::int32_t firstGrown_ = 0;           // 0 until a stream grows
    std::vector<std::pair<std::int32_t, std::uint32_t>> sizeCells_;
    PackPlan plan_;
};

std::optional<PackPlanResult> Planner::ReadAndCheckTable() {
    const auto count = static_cast<std::size_t>(std::max(rows_, 1));
    address_.resize(count);
    position_.resize(count);
    shift_.assign(count, 0);
    for (std::int32_t m = 1; m < rows_; ++m) {
        address_[Index(m)] = ParseCellNumber(table_.CellText(kAddressCol, m));
        position_[Index(m)] = ParseCellNumber(table_.CellText(kPositionCol, m));
        if (!address_[Index(m)] || !position_[Index(m)])
            unreadable_.push_back(m);
    }

    std::optional<std::uint32_t> previous;
    for (std::int32_t m = 1; m < rows_; ++m) {
        const auto& address = address_[Index(m)];
        if (!address)
            continue;
        if (previous && *address <= *previous)
            return End(PlanEnd::Refused, m,
                       RowText(context_.tableFile, m) + " has the Ast Addr " +
                           table_.CellText(kAddressCol, m) +
                           ", which is not above the address of the row before it.");
        previous = address;
    }
    // Two references never share bytes: a table that says they do cannot be
    // patched in any order with a meaningful result. Row 1's "0" is no
    // reference (the first stream never moves).
    {
        std::vector<std::pair<std::uint32_t, std::int32_t>> positions;
        for (std::int32_t m = 2; m < rows_; ++m)
            if (position_[Index(m)])
                positions.emplace_back(*position_[Index(m)], m);
        std::sort(positions.begin(), positions.end());
        for (std::size_t j = 1; j < positions.size(); ++j) {
            const auto& [p, m] = positions[j];
            const auto& [q, other] = positions[j - 1];
            if (p - q < static_cast<std::uint32_t>(kReferenceSize)) {
                const std::int32_t later = std::max(m, other), earlier = std::min(m, other);
                return End(PlanEnd::Refused, later,
                           RowText(context_.tableFile, later) + " has the Abk Pos " +
                               std::to_string(*position_[Index(later)]) +
                               ", which shares bytes with the Abk Pos " +
                               std::to_string(*position_[Index(earlier)]) + " of row " +
                               std::to_string(earlier) + ".");
            }
        }
    }

    return std::nullopt;
}

std::string Planner::OwnFileOfTheFolder(const std::string& name) const {
    if (name == FileNamePart(context_.tableFile))
        return "table file";
    if (name == FileNamePart(context_.bankImage))
        return "bank image";
    if (name == kCommitRecordName)
        return "commit record";
    return {};
}

PackPlanResult Planner::Run() {
    if (auto refused = ReadAndCheckTable())
        return std::move(*refused);
    for (std::int32_t i = 1; i < rows_; ++i) {
        shift_[Index(i)] = growth_;
        if (context_.onRow)
            context_.onRow(i);
        const std::string& name = table_.CellText(kNameCol, i);
        // A name is a file of the work folder itself: nothing above or below
        // it may be read into an archive that the user may publish.
        if (!name.empty() && !IsPlainFileName(name))
            return End(PlanEnd::Refused, i,
                       RowText(context_.tableFile, i) + " names '" + name +
                           "', which is not a file in the work folder.",
                       i, i, 0, growth_);
        if (const std::string own = OwnFileOfTheFolder(name); !own.empty())
            return End(PlanEnd::Refused, i,
                       RowText(context_.tableFile, i) + " names '" + name +
                           "', which is this folder's own " + own + ".",
                       i, i, 0, growth_);
        const StreamFileState file = context_.streamFile(i, name);
        if (file.kind == StreamFileState::Kind::LinkOutside)
            return End(PlanEnd::Refused, i,
                       RowText(context_.tableFile, i) + " names '" + name +
                           "', a link that leads outside the work folder.",
                       i, i, 0, growth_);
        if (file.kind == StreamFileState::Kind::Missing)
            return End(PlanEnd::StreamFileMissing, i);
        if (file.kind == StreamFileState::Kind::Unreadable) {
            PackPlanResult result = End(PlanEnd::StreamFileUnreadable, i, {}, i, i, 0, growth_);
            result.error = file.error;
            return result;
        }
        if (file.size > static_cast<std::int64_t>(kLargest))
            return End(PlanEnd::StreamFileTooLarge, i, {}, i, i, 0, growth_);
        if (!address_[Index(i)])
            return End(PlanEnd::NotANumber, i, table_.CellText(kAddressCol, i), i, i, 0, growth_);
        const std::uint64_t address = Old(i) + growth_;
        const auto oldSize = ParseCellNumber(table_.CellText(kSizeCol, i));
        if (!oldSize)
            return End(PlanEnd::NotANumber, i, table_.CellText(kSizeCol, i), i, i, 0, growth_);

        // A stream that shrank is filled up to its old size and stays put;
        // one that grew is filled up to a multiple of 16 bytes.
        std::uint64_t newSize = static_cast<std::uint64_t>(file.size);
        if (newSize < *oldSize)
            newSize = *oldSize;
        else if (newSize > *oldSize && newSize % 16 != 0)
            newSize = (newSize / 16 + 1) * 16;
        const std::uint64_t growth = newSize - *oldSize;
        if (growth != 0) {
            if (auto ended = Grow(i, growth))
                return std::move(*ended);
            sizeCells_.emplace_back(i, static_cast<std::uint32_t>(newSize));
        }
        if (address + newSize > kLargest)
            return End(PlanEnd::Refused, i,
                       RowText(context_.tableFile, i) + " would end at " +
                           std::to_string(address + newSize) +
                           ", and the new archive would reach 2 GiB or more.",
                       i, i, 0, growth_);
        plan_.streams.push_back({i, name, Old(i), static_cast<std::uint32_t>(address), *oldSize,
                                 static_cast<std::uint32_t>(file.size),
                                 static_cast<std::uint32_t>(newSize)});
        // Nothing is written for an empty stream, so it does not lengthen the archive.
        if (newSize != 0)
            plan_.archiveSize =
                std::max(plan_.archiveSize, static_cast<std::uint32_t>(address + newSize));
    }
    PackPlanResult result = End(PlanEnd::Planned, 0, {}, rows_ - 1, rows_ - 1, 0, 0);
    for (const auto& [row, value] : result.addressCells)
        result.plan.patches.push_back({row, *position_[Index(row)], Old(row), value});
    return result;
}

std::optional<PackPlanResult> Planner::Grow(std::int32_t i, std::uint64_t growth) {
    const std::uint64_t before = growth_;
    const std::uint64_t after = before + growth;
    // The rows behind i that this growth moves, up to the first row
    // whose numbers cannot be read (the Int error end).
    std::int32_t firstUnreadable = rows_;
    for (std::int32_t m : unreadable_)
        if (m != i) {
            firstUnreadable = m;
            break;
        }
    if (firstGrown_ == 0) {
        // The first move of each row: its reference must be where the
        // table says, holding its address.
        for (std::int32_t m = i + 1; m < firstUnreadable; ++m)
            if (auto refusal = FirstMoveRefusal(m, after))
                return End(PlanEnd::Refused, m, *refusal, i, m - 1, after, before);
    } else if (firstUnreadable == rows_) {
        // Every row behind i moved already and its reference was checked
        // then; only the 2 GiB limit can stop this move. Addresses
        // ascend, so the first row beyond it is found by bisection.
        std::int32_t lo = i + 1, hi = rows_;
        while (lo < hi) {
            const std::int32_t mid = lo + (hi - lo) / 2;
            if (Old(mid) + after > kLargest)
                hi = mid;
            else
                lo = mid + 1;
        }
        if (lo < rows_)
            return End(PlanEnd::Refused, lo, TooFarText(lo, Old(lo) + after), i, lo - 1, after,
                       before);
    }
    if (firstUnreadable < rows_) {
        // Rows before the first grown one stand below it; only rows
        // between i and the unreadable one have moved.
        const std::int32_t lastMoved = firstUnreadable > i ? firstUnreadable - 1 : i;
        return End(PlanEnd::IntError, i, {}, i, lastMoved, after, before);
    }
    growth_ = after;
    if (firstGrown_ == 0)
        firstGrown_ = i;
    return std::nullopt;
}

std::optional<std::string> Planner::FirstMoveRefusal(std::int32_t m, std::uint64_t growth) const {
    const std::uint32_t oldAddress = Old(m);
    const std::uint32_t position = *position_[Index(m)];
    if (oldAddress + growth > kLargest)
        return TooFarText(m, oldAddress + growth);
    if (std::uint64_t{position} + 4 > bank_.size())
        return RowText(context_.tableFile, m) + " has the Abk Pos " + std::to_string(position) +
               ", outside the bank image " + context_.bankImage + " (" +
               std::to_string(bank_.size()) + " bytes).";
    if (ReadUint32LE(bank_, position) != oldAddress)
        return RowText(context_.tableFile, m) + " has the Abk Pos " + std::to_string(position) +
               ", but the bank image " + context_.bankImage + " does not hold the row's address " +
               std::to_string(oldAddress) + " there.";
    return std::nullopt;
}

std::string Planner::TooFarText(std::int32_t m, std::uint64_t moved) const {
    return RowText(context_.tableFile, m) + " would move to the address " + std::to_string(moved) +
           ", and the new archive would reach 2 GiB or more.";
}

PackPlanResult Planner::End(PlanEnd end, std::int32_t row, std::string text, std::int32_t current,
                            std::int32_t lastMoved, std::uint64_t movedBy, std::uint64_t behind) {
    PackPlanResult result;
    result.end = end;
    result.row = row;
    result.text = std::move(text);
    if (end != PlanEnd::StreamFileMissing) {
        AddressCells(result, current, lastMoved, movedBy, behind);
        result.sizeCells = std::move(sizeCells_);
    }
    if (end == PlanEnd::Planned)
        result.plan = std::move(plan_);
    return result;
}

void Planner::AddressCells(PackPlanResult& result, std::int32_t current, std::int32_t lastMoved,
                           std::uint64_t movedBy, std::uint64_t behind) const {
    for (std::int32_t m = 1; m < rows_; ++m) {
        std::uint64_t shift = 0;
        if (m <= current)
            shift = shift_[Index(m)];
        else if (m <= lastMoved)
            shift = movedBy;
        else
            shift = behind;
        // Rows whose numbers are unreadable never move.
        if (shift != 0 && address_[Index(m)] && position_[Index(m)])
            result.addressCells.emplace_back(m, static_cast<std::uint32_t>(Old(m) + shift));
    }
}

}  // namespace

PackPlanResult PlanPack(const StreamTable& table, std::string_view bank,
                        const PackPlanContext& context) {
    return Planner(table, bank, context).Run();
}

}  // namespace tamrel
