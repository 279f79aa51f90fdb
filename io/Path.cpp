#include "io/Path.h"

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
    if (!folder.empty() && Separators(style).find(folder.back()) == std::string_view::npos)
        result.push_back(style == PathStyle::Windows ? '\\' : '/');
    result.append(name);
    return result;
}

std::pair<std::string, std::string> SplitFolderAndName(std::string_view path, PathStyle style) {
    std::string folder = DirectoryPart(path, style);
    std::string name = FileNamePart(path, style);
    if (folder.empty())
        return {".", std::move(name)};
    // Without its last separator, unless that would change which folder it
    // names: "/", "C:", "C:\".
    const std::size_t keep = folder.size() - 1;
    const bool root = keep == 0 || folder.back() == ':' ||
                      (style == PathStyle::Windows && keep == 2 && folder[1] == ':');
    if (!root)
        folder.resize(keep);
    return {std::move(folder), std::move(name)};
}

}  // namespace tamrel
