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

}  // namespace tamrel
