// Bytes and numbers: the little-endian integers of the bank and the streams,
// and hex digits.
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

}  // namespace tamrel
