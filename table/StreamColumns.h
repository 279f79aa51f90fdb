// The stream table's columns by name, as Unpack lays them out (the other
// columns of the table are there but hidden).
#pragma once

#include <cstdint>

namespace tamrel {

enum StreamColumn : std::int32_t {
    kNumberCol = 0,    // "#": the row's number
    kNameCol = 1,      // "Name": the stream file's name in the work folder
    kAddressCol = 3,   // "Ast Addr": where the stream starts in the archive
    kPositionCol = 4,  // "Abk Pos": where its reference stands in the bank
    kSizeCol = 11,     // "Asf Size": the stream's length
};

// The heading of each of those columns, as Unpack writes it into the table
// and the console and check name it.
constexpr const char* ColumnTitle(StreamColumn column) {
    switch (column) {
        case kNumberCol:
            return "#";
        case kNameCol:
            return "Name";
        case kAddressCol:
            return "Ast Addr";
        case kPositionCol:
            return "Abk Pos";
        case kSizeCol:
            return "Asf Size";
    }
    return "";
}

}  // namespace tamrel
