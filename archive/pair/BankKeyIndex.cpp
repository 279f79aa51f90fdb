#include "archive/pair/BankKeyIndex.h"

#include "archive/pair/AddressKey.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {
const ArrInt kNone;

// The address's key (AddressKey: the bytes the bank holds for it) as the
// number its four bytes make, read in the order the scan reads the bank.
std::uint32_t KeyNumber(std::uint32_t address) {
    return ReadUint32LE(AddressKey(address), 0);
}
}  // namespace

BankKeyIndex::BankKeyIndex(std::string_view bank, const std::vector<std::uint32_t>& addresses) {
    positions_.reserve(addresses.size());
    for (std::uint32_t address : addresses)
        positions_.try_emplace(KeyNumber(address));
    if (bank.size() < 4 || positions_.empty())
        return;

    const auto* bytes = reinterpret_cast<const unsigned char*>(bank.data());
    const std::size_t last = bank.size() - 4;
    // The four bytes at each offset, read as the keys are, name the one key
    // that occurs there.
    std::uint32_t value =
        bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16);
    for (std::size_t p = 0; p <= last; ++p) {
        value = (value & 0x00FFFFFFu) | (std::uint32_t{bytes[p + 3]} << 24);
        auto it = positions_.find(value);
        if (it != positions_.end())
            it->second.push_back(static_cast<std::int32_t>(p));
        value >>= 8;
    }
}

const ArrInt& BankKeyIndex::AllOccurrences(std::uint32_t address) const {
    auto it = positions_.find(KeyNumber(address));
    return it == positions_.end() ? kNone : it->second;
}

ArrInt BankKeyIndex::SearchHits(std::uint32_t address) const {
    // A search for one key goes on right behind each occurrence, so an
    // occurrence overlapping the one found before it is not found.
    ArrInt hits;
    for (std::int32_t offset : AllOccurrences(address))
        if (hits.empty() || offset >= hits.back() + 4)
            hits.push_back(offset);
    return hits;
}

}  // namespace tamrel
