#include "archive/pair/FindAllOccurrences.h"

#include <cstring>
#include <stdexcept>

#include "archive/host/WindowServices.h"
#include "io/FileIo.h"

namespace tamrel {

std::int32_t FindAllOccurrences(std::string_view buffer, std::string_view pattern,
                                bool showProgress, ArrInt& offsets, WindowServices& window) {
    offsets.clear();
    if (buffer.size() > static_cast<std::size_t>(kMaxFileSize))
        throw std::length_error("A buffer of 2 GiB or more cannot be searched");
    if (pattern.empty() || pattern.size() > buffer.size())
        return 0;

    // memchr runs at memory speed; only where the first byte matches is the
    // rest compared.
    const char* const begin = buffer.data();
    const char* const lastStart = begin + (buffer.size() - pattern.size());
    const char first = pattern.front();
    const std::size_t restSize = pattern.size() - 1;
    const char* cursor = begin;
    while (cursor <= lastStart) {
        const auto* hit = static_cast<const char*>(
            std::memchr(cursor, first, static_cast<std::size_t>(lastStart - cursor) + 1));
        if (!hit)
            break;
        if (std::memcmp(hit + 1, pattern.data() + 1, restSize) != 0) {
            cursor = hit + 1;
            continue;
        }
        const auto offset = static_cast<std::int32_t>(hit - begin);
        offsets.push_back(offset);
        window.PumpEvents();
        if (showProgress)
            window.SetProgressPosition(offset);
        cursor = hit + pattern.size();
    }
    return static_cast<std::int32_t>(offsets.size());
}

}  // namespace tamrel
