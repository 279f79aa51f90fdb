// The path rules of the work folder, for both spellings of a path: the Windows
// style (backslash and drive colon separate) and the POSIX style (slash only).
#pragma once

#include <string>
#include <string_view>

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
// folder, one separator, name.
std::string JoinPath(std::string_view folder, std::string_view name,
                     PathStyle style = NativePathStyle());

}  // namespace tamrel
