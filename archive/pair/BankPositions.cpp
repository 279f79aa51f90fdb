#include "archive/pair/BankPositions.h"

#include <algorithm>

#include "io/Bytes.h"

namespace tamrel {

std::vector<std::int32_t> ChainBankPositions(const std::vector<const ArrInt*>& occurrences) {
    const std::size_t rows = occurrences.size();
    if (rows == 0)
        return {};
    // viable[j]: the offsets of row j from which a chain reaches the last row,
    // worked out from the last row backwards.
    std::vector<ArrInt> viable(rows);
    viable[rows - 1] = *occurrences[rows - 1];
    for (std::size_t j = rows - 1; j-- > 0;) {
        const ArrInt& next = viable[j + 1];
        std::size_t q = 0;
        for (std::int32_t p : *occurrences[j]) {
            const std::int64_t nearest = std::int64_t{p} + kReferenceSize;
            while (q < next.size() && next[q] < nearest)
                ++q;
            if (q < next.size() && next[q] <= std::int64_t{p} + kMaxReferenceGap)
                viable[j].push_back(p);
        }
        if (viable[j].empty())
            return {};
    }

    std::vector<std::int32_t> chain;
    chain.reserve(rows);
    chain.push_back(viable[0].front());
    for (std::size_t j = 1; j < rows; ++j) {
        const ArrInt& candidates = viable[j];
        const std::int32_t previous = chain.back();
        if (j >= 2) {
            // References usually stand at one fixed stride: keep it when the
            // offset there still reaches the end.
            const std::int64_t stride = std::int64_t{previous} - chain[j - 2];
            const std::int64_t same = previous + stride;
            if (stride >= kReferenceSize && stride <= kMaxReferenceGap &&
                std::binary_search(candidates.begin(), candidates.end(), same)) {
                chain.push_back(static_cast<std::int32_t>(same));
                continue;
            }
        }
        // previous is viable, so an offset 4 to 380 bytes behind it is too.
        const auto it = std::lower_bound(candidates.begin(), candidates.end(),
                                         std::int64_t{previous} + kReferenceSize);
        chain.push_back(*it);
    }
    return chain;
}

bool PositionsHoldTheirKeys(std::string_view bank, const std::vector<std::int32_t>& positions,
                            const std::vector<std::uint32_t>& addresses) {
    std::vector<std::int32_t> sorted;
    sorted.reserve(positions.size());
    for (std::size_t j = 0; j < positions.size(); ++j) {
        const std::int32_t p = positions[j];
        if (p < 0 || std::uint64_t(p) + kReferenceSize > bank.size() ||
            ReadUint32LE(bank, static_cast<std::size_t>(p)) != addresses[j])
            return false;
        sorted.push_back(p);
    }
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t j = 1; j < sorted.size(); ++j)
        if (sorted[j] - sorted[j - 1] < kReferenceSize)
            return false;
    return true;
}

}  // namespace tamrel
