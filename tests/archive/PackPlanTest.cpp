#include "archive/pair/PackPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>

#include "PairBuilder.h"
#include "archive/pair/Unpack.h"
#include "table/CellNumber.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();

// What one way of planning left: how it ended, the table's numbers and what
// would be written.
struct Outcome {
    PlanEnd end = PlanEnd::Planned;
    std::int32_t row = 0;
    std::string text;
    std::vector<std::string> addresses, sizes;  // columns 3 and 11 of rows 1..
    std::string bank;                           // patched (only when planned)
    std::vector<std::string> streams;           // "row@address+size"
    std::uint32_t archiveSize = 0;

    bool operator==(const Outcome&) const = default;
};

std::string Describe(const Outcome& o) {
    std::string s = "end " + std::to_string(static_cast<int>(o.end)) + " row " +
                    std::to_string(o.row) + " '" + o.text + "'\naddresses";
    for (const auto& a : o.addresses)
        s += " " + a;
    s += "\nsizes";
    for (const auto& a : o.sizes)
        s += " " + a;
    s += "\nstreams";
    for (const auto& a : o.streams)
        s += " " + a;
    return s + "\narchive " + std::to_string(o.archiveSize);
}

void Columns(const StreamTable& table, Outcome& out) {
    for (std::int32_t row = 1; row < table.RowCount(); ++row) {
        out.addresses.push_back(table.CellText(3, row));
        out.sizes.push_back(table.CellText(11, row));
    }
}

using Files = std::vector<std::optional<std::int64_t>>;  // by row; nothing: missing

std::string RowText(std::int32_t row) {
    return "The table file T cannot be packed: row " + std::to_string(row);
}

// The straightforward rule, kept as the oracle: each grown stream moves, one
// by one, every later stream of a higher address and patches its reference.
// A table of its own with the cells that Pack reads.
std::unique_ptr<StreamTable> CopyOf(const StreamTable& from) {
    auto table = std::make_unique<StreamTable>();
    PrepareStreamColumns(*table);
    table->SetRowCount(from.RowCount());
    for (std::int32_t row = 1; row < from.RowCount(); ++row)
        for (std::int32_t col : {1, 3, 4, 11})
            table->SetCellText(col, row, from.CellText(col, row));
    return table;
}

Outcome PerMovePlan(const StreamTable& loaded, std::string bank, const Files& files) {
    const auto copy = CopyOf(loaded);
    StreamTable& table = *copy;
    Outcome out;
    const std::int32_t rows = table.RowCount();
    auto number = [&](std::int32_t col, std::int32_t row) {
        return ParseCellNumber(table.CellText(col, row));
    };
    auto finish = [&](PlanEnd end, std::int32_t row, std::string text = {}) {
        out.end = end;
        out.row = row;
        out.text = std::move(text);
        Columns(table, out);
        if (end != PlanEnd::Planned) {
            out.streams.clear();
            out.archiveSize = 0;
        }
        return out;
    };
    std::vector<std::int32_t> unreadable;
    for (std::int32_t m = 1; m < rows; ++m)
        if (!number(3, m) || !number(4, m))
            unreadable.push_back(m);
    std::optional<std::uint32_t> previous;
    for (std::int32_t m = 1; m < rows; ++m) {
        if (!number(3, m))
            continue;
        if (previous && *number(3, m) <= *previous)
            return finish(PlanEnd::Refused, m,
                          RowText(m) + " has the Ast Addr " + table.CellText(3, m) +
                              ", which is not above the address of the row before it.");
        previous = number(3, m);
    }
    std::vector<std::pair<std::uint32_t, std::int32_t>> positions;
    for (std::int32_t m = 2; m < rows; ++m)
        if (number(4, m))
            positions.emplace_back(*number(4, m), m);
    std::sort(positions.begin(), positions.end());
    for (std::size_t j = 1; j < positions.size(); ++j) {
        if (positions[j].first - positions[j - 1].first >= 4)
            continue;
        const std::int32_t later = std::max(positions[j].second, positions[j - 1].second);
        const std::int32_t earlier = std::min(positions[j].second, positions[j - 1].second);
        return finish(PlanEnd::Refused, later,
                      RowText(later) + " has the Abk Pos " + table.CellText(4, later) +
                          ", which shares bytes with the Abk Pos " + table.CellText(4, earlier) +
                          " of row " + std::to_string(earlier) + ".");
    }

    for (std::int32_t i = 1; i < rows; ++i) {
        if (!files[static_cast<std::size_t>(i)]) {
            Outcome missing;
            missing.end = PlanEnd::StreamFileMissing;
            missing.row = i;
            return missing;
        }
        const std::int64_t fileSize = *files[static_cast<std::size_t>(i)];
        if (!number(3, i))
            return finish(PlanEnd::NotANumber, i, table.CellText(3, i));
        const std::uint32_t address = *number(3, i);
        if (!number(11, i))
            return finish(PlanEnd::NotANumber, i, table.CellText(11, i));
        const std::uint32_t oldSize = *number(11, i);
        std::uint64_t newSize = static_cast<std::uint64_t>(fileSize);
        if (newSize < oldSize)
            newSize = oldSize;
        else if (newSize > oldSize && newSize % 16 != 0)
            newSize = (newSize / 16 + 1) * 16;
        const std::uint64_t growth = newSize - oldSize;
        if (growth != 0) {
            std::int32_t firstUnreadable = rows;
            for (std::int32_t m : unreadable)
                if (m != i) {
                    firstUnreadable = m;
                    break;
                }
            for (std::int32_t m = 1; m < firstUnreadable; ++m) {
                if (m == i || !(address < *number(3, m)))
                    continue;
                const std::uint32_t old = *number(3, m), position = *number(4, m);
                const std::uint64_t moved = old + growth;
                if (moved > kLargest)
                    return finish(PlanEnd::Refused, m,
                                  RowText(m) + " would move to the address " +
                                      std::to_string(moved) +
                                      ", and the new archive would reach 2 GiB or more.");
                if (std::uint64_t{position} + 4 > bank.size())
                    return finish(PlanEnd::Refused, m,
                                  RowText(m) + " has the Abk Pos " + std::to_string(position) +
                                      ", outside the bank image B (" + std::to_string(bank.size()) +
                                      " bytes).");
                const auto* b = reinterpret_cast<const unsigned char*>(bank.data()) + position;
                if ((b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24) != old)
                    return finish(PlanEnd::Refused, m,
                                  RowText(m) + " has the Abk Pos " + std::to_string(position) +
                                      ", but the bank image B does not hold the row's address " +
                                      std::to_string(old) + " there.");
                bank.replace(position, 4, test::LittleEndian(static_cast<std::uint32_t>(moved)));
                table.SetCellText(3, m, std::to_string(moved));
            }
            if (firstUnreadable < rows)
                return finish(PlanEnd::IntError, i);
            table.SetCellText(11, i, std::to_string(newSize));
        }
        if (address + newSize > kLargest)
            return finish(PlanEnd::Refused, i,
                          RowText(i) + " would end at " + std::to_string(address + newSize) +
                              ", and the new archive would reach 2 GiB or more.");
        out.streams.push_back(std::to_string(i) + "@" + std::to_string(address) + "+" +
                              std::to_string(newSize));
        if (newSize != 0)
            out.archiveSize =
                std::max(out.archiveSize, static_cast<std::uint32_t>(address + newSize));
    }
    finish(PlanEnd::Planned, 0);
    out.bank = bank;
    return out;
}

Outcome OnePassPlan(const StreamTable& loaded, std::string bank, const Files& files) {
    const auto copy = CopyOf(loaded);
    StreamTable& table = *copy;
    PackPlanContext context;
    context.tableFile = "T";
    context.bankImage = "B";
    std::int32_t expectedRow = 1;
    context.streamFile = [&](std::int32_t row, const std::string&) {
        EXPECT_EQ(row, expectedRow++) << "stream files are asked for in row order";
        StreamFileState state;
        if (files[static_cast<std::size_t>(row)]) {
            state.kind = StreamFileState::Kind::Present;
            state.size = *files[static_cast<std::size_t>(row)];
        }
        return state;
    };
    const PackPlanResult result = PlanPack(table, bank, context);
    Outcome out;
    out.end = result.end;
    out.row = result.row;
    out.text = result.text;
    if (result.end == PlanEnd::StreamFileMissing)
        return out;
    for (const auto& [row, value] : result.addressCells)
        table.SetCellText(3, row, std::to_string(value));
    for (const auto& [row, value] : result.sizeCells)
        table.SetCellText(11, row, std::to_string(value));
    Columns(table, out);
    if (result.end != PlanEnd::Planned)
        return out;
    std::map<std::int32_t, int> patchesPerRow;
    for (const auto& patch : result.plan.patches) {
        bank.replace(patch.position, 4, test::LittleEndian(patch.newAddress));
        ++patchesPerRow[patch.row];
    }
    for (const auto& [row, count] : patchesPerRow)
        EXPECT_EQ(count, 1) << "row " << row << " is patched once";
    out.bank = bank;
    for (const auto& s : result.plan.streams)
        out.streams.push_back(std::to_string(s.row) + "@" + std::to_string(s.address) + "+" +
                              std::to_string(s.newSize));
    out.archiveSize = result.plan.archiveSize;
    return out;
}

// A random table, bank image and stream file sizes; now and then damaged in
// one of the ways that Pack must handle.
struct Folder {
    StreamTable table;
    std::string bank;
    Files files;
};

Folder RandomFolder(std::mt19937& random) {
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto between = [&](std::uint32_t lo, std::uint32_t hi) {
        return lo + random() % (hi - lo + 1);
    };
    Folder f;
    const auto n = static_cast<std::int32_t>(between(1, 14));
    PrepareStreamColumns(f.table);
    f.table.SetRowCount(n + 1);
    std::uint32_t address = chance(8) ? 2147483647u - between(200, 3000) : between(0, 40);
    std::uint32_t position = between(0, 30);
    f.bank.assign(position + static_cast<std::size_t>(n) * 24 + 8, '\0');
    for (char& c : f.bank)
        c = static_cast<char>(random());
    f.files.assign(static_cast<std::size_t>(n) + 1, std::nullopt);
    for (std::int32_t k = 1; k <= n; ++k) {
        const std::uint32_t size = between(4, 200);
        f.table.SetCellText(1, k, "s" + std::to_string(k));
        f.table.SetCellText(3, k, std::to_string(address));
        f.table.SetCellText(11, k, std::to_string(size));
        if (k == 1) {
            f.table.SetCellText(4, k, "0");
        } else {
            f.table.SetCellText(4, k, std::to_string(position));
            f.bank.replace(position, 4, test::LittleEndian(chance(4) ? address + 1 : address));
            position += between(4, 20);
        }
        const std::int64_t delta = chance(50) ? 0 : static_cast<std::int64_t>(between(0, 60)) - 20;
        f.files[static_cast<std::size_t>(k)] = std::max<std::int64_t>(0, size + delta);
        if (chance(3))
            f.files[static_cast<std::size_t>(k)].reset();
        address += size;
    }
    const auto row = [&] {
        return static_cast<std::int32_t>(between(1, static_cast<std::uint32_t>(n)));
    };
    if (chance(12))
        f.table.SetCellText(4, row(), chance(50) ? "" : "4x");
    if (chance(5))
        f.table.SetCellText(3, row(), "x");
    if (chance(5))
        f.table.SetCellText(11, row(), "");
    if (chance(4) && n >= 2)
        f.table.SetCellText(3, row(), std::to_string(between(0, 400)));  // out of order
    if (chance(4) && n >= 3)
        f.table.SetCellText(4, 3, std::to_string(*ParseCellNumber(f.table.CellText(4, 2)) + 2));
    if (chance(4))
        f.table.SetCellText(4, row(), "100000");  // beyond the bank image
    return f;
}

TEST(PackPlan, OnePassGivesWhatMovingEachStreamInTurnGives) {
    std::mt19937 random(20261210);
    std::map<PlanEnd, int> ends;
    for (int round = 0; round < 600; ++round) {
        const Folder f = RandomFolder(random);
        const Outcome expected = PerMovePlan(f.table, f.bank, f.files);
        const Outcome actual = OnePassPlan(f.table, f.bank, f.files);
        ASSERT_EQ(actual, expected) << "round " << round << "\nexpected:\n"
                                    << Describe(expected) << "\nactual:\n"
                                    << Describe(actual);
        ++ends[expected.end];
    }
    // The generator reaches every end, or the comparison proves little.
    for (PlanEnd end : {PlanEnd::Planned, PlanEnd::StreamFileMissing, PlanEnd::NotANumber,
                        PlanEnd::IntError, PlanEnd::Refused})
        EXPECT_GE(ends[end], 10) << "end " << static_cast<int>(end);
}

TEST(PackPlan, EveryStreamGrownMovesEachOnceToItsFinalAddress) {
    StreamTable table;
    PrepareStreamColumns(table);
    const std::int32_t n = 2000;
    table.SetRowCount(n + 1);
    std::string bank(static_cast<std::size_t>(n) * 20 + 40, '\0');
    Files files(n + 1);
    for (std::int32_t k = 1; k <= n; ++k) {
        table.SetCellText(1, k, "s");
        table.SetCellText(3, k, std::to_string((k - 1) * 100));
        table.SetCellText(4, k, k == 1 ? "0" : std::to_string(k * 20));
        table.SetCellText(11, k, "100");
        if (k > 1)
            bank.replace(static_cast<std::size_t>(k) * 20, 4,
                         test::LittleEndian(static_cast<std::uint32_t>((k - 1) * 100)));
        files[static_cast<std::size_t>(k)] = 101;  // each grows to 112
    }
    PackPlanContext context;
    context.streamFile = [&](std::int32_t row, const std::string&) {
        return StreamFileState{StreamFileState::Kind::Present,
                               *files[static_cast<std::size_t>(row)], 0};
    };
    const PackPlanResult result = PlanPack(table, bank, context);
    ASSERT_EQ(result.end, PlanEnd::Planned);
    ASSERT_EQ(result.plan.patches.size(), static_cast<std::size_t>(n - 1));
    EXPECT_EQ(result.plan.patches.back().newAddress, static_cast<std::uint32_t>((n - 1) * 112));
    EXPECT_EQ(result.plan.archiveSize, static_cast<std::uint32_t>(n * 112));
}

}  // namespace
}  // namespace tamrel

namespace tamrel {
namespace {

TEST(PackPlan, StreamFilesAreTakenInRowOrderAndEmptyOnesAddNoLength) {
    StreamTable table;
    PrepareStreamColumns(table);
    table.SetRowCount(4);
    const char* rows[3][3] = {{"0", "0", "100"}, {"100", "40", "50"}, {"500", "60", "0"}};
    for (int k = 1; k <= 3; ++k) {
        table.SetCellText(1, k, "s" + std::to_string(k));
        table.SetCellText(3, k, rows[k - 1][0]);
        table.SetCellText(4, k, rows[k - 1][1]);
        table.SetCellText(11, k, rows[k - 1][2]);
    }
    const std::string bank(80, '\0');
    using Kind = StreamFileState::Kind;
    struct Case {
        const char* what;
        Kind second, third;
        PlanEnd end;
        std::int32_t row;
    };
    const Case cases[] = {
        {"an unreadable file is reported at its own row, before a later missing one",
         Kind::Unreadable, Kind::Missing, PlanEnd::StreamFileUnreadable, 2},
        {"a missing file ends at its row", Kind::Missing, Kind::Unreadable,
         PlanEnd::StreamFileMissing, 2},
        {"an empty stream far behind adds nothing", Kind::Present, Kind::Present, PlanEnd::Planned,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PackPlanContext context;
        std::vector<std::int32_t> asked;
        context.streamFile = [&](std::int32_t row, const std::string&) {
            asked.push_back(row);
            const Kind kind = row == 1 ? Kind::Present : row == 2 ? c.second : c.third;
            return StreamFileState{kind, row == 1 ? 100 : row == 2 ? 50 : 0, EACCES};
        };
        const PackPlanResult result = PlanPack(table, bank, context);
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.row, c.row);
        if (c.end == PlanEnd::Planned) {
            EXPECT_EQ(result.plan.archiveSize, 150u);
            EXPECT_EQ(asked, (std::vector<std::int32_t>{1, 2, 3}));
        } else {
            EXPECT_EQ(asked, (std::vector<std::int32_t>{1, 2}));
        }
    }
}

}  // namespace
}  // namespace tamrel
