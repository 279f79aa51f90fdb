#include "PairBuilder.h"

#include <algorithm>
#include <stdexcept>

#include "TestFiles.h"
#include "io/Bytes.h"

namespace tamrel::test {

PairRecipe ThreeStreams() {
    PairRecipe recipe;
    recipe.sizes = {100, 200, 50};
    recipe.references = {40, 120};
    return recipe;
}

std::string StreamBytes(int k, std::uint32_t size) {
    if (size < 4)
        throw std::invalid_argument("a stream holds at least its four bytes");
    std::string bytes = "SCHl";
    // Rising byte values never spell "SCHl" again inside the stream.
    for (std::uint32_t j = 4; j < size; ++j)
        bytes.push_back(static_cast<char>((k * 37 + j) % 256));
    return bytes;
}

std::string LittleEndian(std::uint32_t value) {
    return Uint32LE(value);
}

Pair BuildPair(const std::string& folder, const std::string& baseName, const PairRecipe& recipe) {
    Pair pair;
    pair.archivePath = folder + test::kSep + baseName + ".ast";
    pair.bankPath = folder + test::kSep + baseName + ".abk";
    pair.archive = recipe.prefix;
    const std::size_t count = recipe.streams.empty() ? recipe.sizes.size() : recipe.streams.size();
    for (std::size_t k = 0; k < count; ++k) {
        pair.addresses.push_back(static_cast<std::uint32_t>(pair.archive.size()));
        pair.archive += recipe.streams.empty()
                            ? StreamBytes(static_cast<int>(k + 1), recipe.sizes[k])
                            : recipe.streams[k];
    }
    for (std::size_t k = 1; k < count; ++k) {
        pair.references.push_back(recipe.references.empty()
                                      ? recipe.firstReference +
                                            static_cast<std::uint32_t>(k - 1) * recipe.spacing
                                      : recipe.references.at(k - 1));
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys = recipe.extraKeys;
    for (std::size_t k = 1; k < count; ++k)
        keys.emplace_back(pair.references[k - 1], pair.addresses[k]);
    std::uint32_t end = 0;
    for (const auto& key : keys)
        end = std::max(end, key.first + 4 + 16);
    pair.bank.assign(recipe.bankSize ? recipe.bankSize : end, recipe.filler);
    for (const auto& [offset, address] : keys)
        pair.bank.replace(offset, 4, LittleEndian(address));
    WriteFileBytes(pair.archivePath, pair.archive);
    WriteFileBytes(pair.bankPath, pair.bank);
    return pair;
}

}  // namespace tamrel::test
