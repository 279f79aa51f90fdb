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

// Every block of a stream starts with its 4-byte id and its u32 size (which
// counts these 8 bytes).
inline constexpr std::uint32_t kBlockPreamble = 8;

// Numbers of either byte order, as the streams of the different platforms
// hold them; the caller checks that the bytes are there.
inline std::uint32_t ReadUint32(const unsigned char* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                        std::uint32_t{p[2]} << 8 | p[3])
                     : (p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                        std::uint32_t{p[3]} << 24);
}

inline std::int16_t ReadInt16(const unsigned char* p, bool bigEndian) {
    return static_cast<std::int16_t>(bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
}

inline void PutUint32(std::string& out, std::uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

inline void PutUint16(std::string& out, std::uint16_t v, bool bigEndian) {
    out.push_back(static_cast<char>(bigEndian ? v >> 8 : v));
    out.push_back(static_cast<char>(bigEndian ? v : v >> 8));
}

inline void PutInt16(std::string& out, int v, bool bigEndian) {
    PutUint16(out, static_cast<std::uint16_t>(v), bigEndian);
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
