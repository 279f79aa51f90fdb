// Where the bank holds each stream address, found in one pass over the bank
// instead of one whole-bank search per stream.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/pair/Patcher.h"

namespace tamrel {

class BankKeyIndex {
public:
    // Indexes the occurrences of the AddressKey of every address in addresses.
    BankKeyIndex(std::string_view bank, const std::vector<std::uint32_t>& addresses);

    // Every offset at which the address's key occurs, ascending, overlapping
    // occurrences included.
    const ArrInt& AllOccurrences(std::uint32_t address) const;

    // The offsets a search for the key finds: ascending and never
    // overlapping, exactly what FindAllOccurrences gives for that key.
    ArrInt SearchHits(std::uint32_t address) const;

    // True when the key occurs in the bank at all.
    bool Holds(std::uint32_t address) const { return !AllOccurrences(address).empty(); }

private:
    // By the number the key's four bytes make.
    std::unordered_map<std::uint32_t, ArrInt> positions_;
};

}  // namespace tamrel
