// The rules of a path's text, for both spellings of a path: the Windows
// style (backslash, slash and drive colon separate) and the POSIX style
// (slash only). Every split and join of a path's text is made here.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace tamrel {

enum class PathStyle { Windows, Posix };

// The style of the platform the program runs on.
constexpr PathStyle NativePathStyle() {
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

// Everything after the last separator; the whole path when there is none.
std::string FileNamePart(std::string_view path, PathStyle style = NativePathStyle());
// Everything up to and including the last separator; empty when there is none.
std::string DirectoryPart(std::string_view path, PathStyle style = NativePathStyle());
// Replaces the extension (from the file name's last ".") by ext, or appends ext
// when the file name has no ".". A "." in a folder name is never an extension.
std::string ChangeExtension(std::string_view path, std::string_view ext,
                            PathStyle style = NativePathStyle());
// folder, one separator, name: no separator is added after one that ends
// folder (the root, a drive), and an empty folder gives name alone.
std::string JoinPath(std::string_view folder, std::string_view name,
                     PathStyle style = NativePathStyle());
// The folder that holds path's last part and that part's name: "." when
// the path names no folder; the root, a drive or a drive's root as they stand.
std::pair<std::string, std::string> SplitFolderAndName(std::string_view path,
                                                       PathStyle style = NativePathStyle());

}  // namespace tamrel
