// Shared helpers of the two commands: the offset array and the hex text
// functions from which a stream address's bank key is built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamrel {

// A growable array of 32-bit signed byte offsets (stream addresses, bank positions).
using ArrInt = std::vector<std::int32_t>;

// Reverses the order of two-character groups ("12345678" -> "78563412"); an
// odd-length text gets a "0" in front first. Characters are not examined.
std::string ReverseHexBytes(std::string_view text);

// Turns hex text into bytes, two digits a byte, high digit first, either case;
// an odd-length text gets a "0" in front first. Any group that is not two hex
// digits makes the whole result empty.
std::string HexToBytes(std::string_view text);

}  // namespace tamrel
