// Builds a stream archive and its bank in a folder from a short description,
// so that each test states its case in a few lines.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamrel::test {

struct PairRecipe {
    std::vector<std::uint32_t> sizes;  // stream sizes, each at least 4 (its "SCHl")
    std::vector<std::string> streams;  // or the streams' own bytes, when given
    std::string prefix;                // bytes before the first stream
    // Bank offsets of the references of streams 2..N; when empty they start
    // at firstReference, spacing bytes apart.
    std::vector<std::uint32_t> references;
    std::uint32_t firstReference = 40;
    std::uint32_t spacing = 80;
    // Chance occurrences: {bank offset, address whose key stands there}.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> extraKeys;
    std::uint32_t bankSize = 0;  // 0: sixteen bytes past the last key
    char filler = 0x11;          // the bank's other bytes
};

struct Pair {
    std::string archivePath, bankPath;
    std::string archive, bank;
    std::vector<std::uint32_t> addresses;
    std::vector<std::uint32_t> references;  // bank offsets for streams 2..N
};

// The three streams at 0, 100 and 300 of a 350-byte archive (sizes 100,
// 200 and 50), their references at bank offsets 40 and 120.
PairRecipe ThreeStreams();

// The bytes of stream k (from 1) of that size: "SCHl" and a pattern of its own.
std::string StreamBytes(int k, std::uint32_t size);
// The four bytes of value, least significant first.
std::string LittleEndian(std::uint32_t value);

// Writes folder/baseName.ast and folder/baseName.abk.
Pair BuildPair(const std::string& folder, const std::string& baseName, const PairRecipe& recipe);

}  // namespace tamrel::test
