// The small arithmetic every 4-bit codec shares.
#pragma once

#include <cstdint>

namespace tamrel {

inline std::int16_t Clip16(std::int64_t v) {
    return static_cast<std::int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

// A 4-bit code as the signed number it stands for.
inline int SignExtend4(int nibble) {
    return nibble >= 8 ? nibble - 16 : nibble;
}

}  // namespace tamrel
