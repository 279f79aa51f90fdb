// Numbers in the table's cells and in the table file's text: one grammar
// for every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tamrel {

// A signed number as it stands at the start of a text: an optional sign,
// then decimal digits, or hex digits after "$" or "0x" (and after a lone "x"
// where the caller allows it).
struct ScannedNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;  // capped at 2^32: beyond any 32-bit value
    std::size_t digits = 0;       // how many digits were read
    std::size_t end = 0;          // where the scan stopped in the text
};

ScannedNumber ScanNumber(std::string_view text, std::size_t from, bool bareXIsHex);

// Reads a cell's number as Pack does: a 32-bit signed integer in decimal (or
// hex after "$" or "0x"), an optional sign and nothing else, held as unsigned.
std::optional<std::uint32_t> ParseCellNumber(std::string_view text);

}  // namespace tamrel
