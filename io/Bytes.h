// Bytes and numbers: the little-endian integers of the bank and the streams,
// hex digits, and the scanning of signed numbers in text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tamrel {

// The 32-bit little-endian integer at offset at; the caller checks that four
// bytes are there.
inline std::uint32_t ReadUint32LE(std::string_view bytes, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// Overwrites the four bytes at offset at with value, least significant first.
inline void WriteUint32LE(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The four bytes of value, least significant first.
inline std::string Uint32LE(std::uint32_t value) {
    std::string bytes(4, '\0');
    WriteUint32LE(bytes, 0, value);
    return bytes;
}

// The value of a hexadecimal digit of either case, or -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A signed number as it stands at the start of a text: an optional sign,
// then decimal digits, or hex digits after "$" or "0x" (and after a lone "x"
// where the caller allows it).
struct ScannedNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;  // capped at 2^32: beyond any 32-bit value
    std::size_t digits = 0;       // how many digits were read
    std::size_t end = 0;          // where the scan stopped in the text
};

inline ScannedNumber ScanNumber(std::string_view text, std::size_t from, bool bareXIsHex) {
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

}  // namespace tamrel
