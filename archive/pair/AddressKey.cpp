#include "archive/pair/AddressKey.h"

#include <cstdio>

#include "archive/pair/Patcher.h"

namespace tamrel {

std::string AddressKey(std::uint32_t address) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(address));
    return HexToBytes(ReverseHexBytes(hex));
}

}  // namespace tamrel
