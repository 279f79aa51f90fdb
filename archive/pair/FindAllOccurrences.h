// Finding every occurrence of a byte pattern in a buffer held in memory.
#pragma once

#include <cstdint>
#include <string_view>

#include "archive/pair/Patcher.h"

namespace tamrel {

class WindowServices;

// Fills offsets (emptied first) with every occurrence of pattern in buffer,
// left to right and never overlapping: the next search starts right behind the
// occurrence just found. An empty pattern has no occurrence. After each
// occurrence the window's events are pumped, and with showProgress the
// progress bar moves to its offset. Returns the number found. The buffer must
// be shorter than 2 GiB, since offsets are 32-bit.
std::int32_t FindAllOccurrences(std::string_view buffer, std::string_view pattern,
                                bool showProgress, ArrInt& offsets, WindowServices& window);

}  // namespace tamrel
