// Pack's plan: where each stream of a work folder goes in the new archive and
// which bank references move, worked out from the rows, the stream files'
// sizes and the bank image before a byte is written. A pure function, so
// that its rules are tested without files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrel {

class StreamTable;

// What Pack writes, worked out before a byte is written.
struct PackPlan {
    struct Stream {
        std::int32_t row = 0;
        std::string name;              // its "Name", a file in the work folder
        std::uint32_t oldAddress = 0;  // "Ast Addr" as loaded
        std::uint32_t address = 0;     // where it goes in the new archive
        std::uint32_t oldSize = 0;     // "Asf Size" as loaded
        std::uint32_t fileSize = 0;    // the stream file's length
        std::uint32_t newSize = 0;     // what is written: the file, zero-filled
    };
    // One per moved stream: its reference goes to its final address.
    struct Patch {
        std::int32_t row = 0;
        std::uint32_t position = 0;  // "Abk Pos": where in the bank
        std::uint32_t oldAddress = 0;
        std::uint32_t newAddress = 0;
    };
    std::vector<Stream> streams;
    std::vector<Patch> patches;
    std::uint32_t archiveSize = 0;  // the new archive's length
};

// A row's stream file as Pack finds it.
struct StreamFileState {
    enum class Kind { Present, Missing, Unreadable, LinkOutside };
    Kind kind = Kind::Missing;
    std::int64_t size = 0;  // Present: its length
    int error = 0;          // Unreadable: the OS's cause
};

// How planning ended. Every end but Planned stops Pack before it writes.
enum class PlanEnd {
    Planned,
    StreamFileMissing,     // row: its stream file does not exist
    StreamFileUnreadable,  // row: it exists but cannot be opened (error)
    StreamFileTooLarge,    // row: 2 GiB or more
    NotANumber,            // row's own "Ast Addr" or "Asf Size": text
    IntError,              // another row's number is unreadable while row grows
    Refused,               // the table does not fit: text says why
};

struct PackPlanResult {
    PlanEnd end = PlanEnd::Planned;
    std::int32_t row = 0;
    std::string text;
    int error = 0;
    // The cells the table shows at this end: "Ast Addr" of every moved row
    // and "Asf Size" of every grown one, as (row, value).
    std::vector<std::pair<std::int32_t, std::uint32_t>> addressCells;
    std::vector<std::pair<std::int32_t, std::uint32_t>> sizeCells;
    PackPlan plan;  // complete when end is Planned
};

struct PackPlanContext {
    std::string tableFile;  // named in refusals
    std::string bankImage;
    // The stream file of a row, asked for once per row in row order, up to
    // the row at which planning ends.
    std::function<StreamFileState(std::int32_t row, const std::string& name)> streamFile;
    // Called as each row is reached (progress).
    std::function<void(std::int32_t row)> onRow;
};

// Plans Pack for rows 1..RowCount-1 in one pass, in archive order, keeping
// the growth of every stream so far: each stream's new address is its old
// one plus the growth of the streams before it. The ends, their order and
// the table they leave are those of moving every later stream at each grown
// one, row by row.
PackPlanResult PlanPack(const StreamTable& table, std::string_view bank,
                        const PackPlanContext& context);

}  // namespace tamrel
