#include "archive/folder/Path.h"

namespace tamrel {

namespace {

// Windows itself takes "/" as well as "\\" (and its users type both), and the
// colon after a drive letter.
std::string_view Separators(PathStyle style) {
    return style == PathStyle::Windows ? "\\/:" : "/";
}

}  // namespace

std::string FileNamePart(std::string_view path, PathStyle style) {
    auto sep = path.find_last_of(Separators(style));
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string DirectoryPart(std::string_view path, PathStyle style) {
    auto sep = path.find_last_of(Separators(style));
    return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep + 1));
}

std::string ChangeExtension(std::string_view path, std::string_view ext, PathStyle style) {
    std::string stops(Separators(style));
    stops.push_back('.');
    auto last = path.find_last_of(stops);
    std::string result(last != std::string_view::npos && path[last] == '.' ? path.substr(0, last)
                                                                           : path);
    result.append(ext);
    return result;
}

std::string JoinPath(std::string_view folder, std::string_view name, PathStyle style) {
    std::string result(folder);
    result.push_back(style == PathStyle::Windows ? '\\' : '/');
    result.append(name);
    return result;
}

}  // namespace tamrel
