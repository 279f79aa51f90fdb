#include "archive/pair/Patcher.h"

#include "io/Bytes.h"

namespace tamrel {

namespace {

std::string PadToEvenLength(std::string_view text) {
    std::string padded;
    padded.reserve(text.size() + 1);
    if (text.size() % 2 != 0)
        padded.push_back('0');
    padded.append(text);
    return padded;
}

}  // namespace

std::string ReverseHexBytes(std::string_view text) {
    const std::string padded = PadToEvenLength(text);
    std::string reversed;
    reversed.reserve(padded.size());
    for (std::size_t i = padded.size(); i >= 2; i -= 2)
        reversed.append(padded, i - 2, 2);
    return reversed;
}

std::string HexToBytes(std::string_view text) {
    const std::string padded = PadToEvenLength(text);
    std::string bytes;
    bytes.reserve(padded.size() / 2);
    for (std::size_t i = 0; i < padded.size(); i += 2) {
        int high = HexDigitValue(padded[i]);
        int low = HexDigitValue(padded[i + 1]);
        if (high < 0 || low < 0)
            return {};
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

}  // namespace tamrel
