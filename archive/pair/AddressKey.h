// The four bytes that a stream address occupies in the bank.
#pragma once

#include <cstdint>
#include <string>

namespace tamrel {

// The address as a 32-bit little-endian integer: its eight upper-case hex
// digits, byte groups reversed, turned into bytes.
std::string AddressKey(std::uint32_t address);

}  // namespace tamrel
