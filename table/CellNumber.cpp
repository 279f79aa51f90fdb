#include "table/CellNumber.h"

#include <limits>

#include "io/Bytes.h"

namespace tamrel {

ScannedNumber ScanNumber(std::string_view text, std::size_t from, bool bareXIsHex) {
    ScannedNumber n;
    std::size_t i = from;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        n.negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && (text[i] == '$' || (bareXIsHex && (text[i] == 'x' || text[i] == 'X')))) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    constexpr std::uint64_t kCap = std::uint64_t{1} << 32;
    for (; i < text.size(); ++i, ++n.digits) {
        const int d = HexDigitValue(text[i]);
        if (d < 0 || d >= base)
            break;
        const std::uint64_t next =
            n.magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        n.magnitude = next < kCap ? next : kCap;
    }
    n.end = i;
    return n;
}

std::optional<std::uint32_t> ParseCellNumber(std::string_view text) {
    constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();
    const ScannedNumber n = ScanNumber(text, 0, /*bareXIsHex=*/false);
    if (n.digits == 0 || n.end != text.size() || n.magnitude > kLargest + (n.negative ? 1 : 0))
        return std::nullopt;
    const auto magnitude = static_cast<std::uint32_t>(n.magnitude);
    return n.negative ? 0u - magnitude : magnitude;
}

}  // namespace tamrel
