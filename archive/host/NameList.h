// Names in a message: up to ten, then how many more ("a, b and 3 more"),
// as every list of files the program shows its user is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tamrel {

inline constexpr std::size_t kNamesShown = 10;

inline std::string NameList(const std::vector<std::string>& names, const char* separator = ", ") {
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        list += (i ? separator : "") + names[i];
    if (names.size() > kNamesShown)
        list += " and " + std::to_string(names.size() - kNamesShown) + " more";
    return list;
}

}  // namespace tamrel
