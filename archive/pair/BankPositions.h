// Choosing each stream's bank position by the stream's own key, for banks
// where the pool of all keys' positions is misled by chance occurrences.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/pair/Patcher.h"

namespace tamrel {

// A bank lists the references of consecutive streams at most this many bytes
// apart; two references never share bytes, so they are at least 4 apart.
inline constexpr std::int32_t kMaxReferenceGap = 380;
inline constexpr std::int32_t kReferenceSize = 4;

// occurrences[j] holds every bank offset (ascending, overlapping ones
// included) of the key of stream j + 2. Returns one position per stream
// 2..n: a chain in which each next stream's reference lies 4 to 380 bytes
// after the one before. Stream 2 takes the first offset from which a chain
// reaches the last stream; each later stream keeps the previous stride when
// it can, else takes the nearest offset that still reaches the end. Empty
// when no chain exists.
std::vector<std::int32_t> ChainBankPositions(const std::vector<const ArrInt*>& occurrences);

// True when every positions[j] holds the key of addresses[j] in the bank and
// no two positions share a byte.
bool PositionsHoldTheirKeys(std::string_view bank, const std::vector<std::int32_t>& positions,
                            const std::vector<std::uint32_t>& addresses);

}  // namespace tamrel
