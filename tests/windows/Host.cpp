#include "windows/Host.h"

#include <filesystem>

#include "TestFiles.h"

namespace tamrel::test {

Files FilesIn(const std::string& folder) {
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file() && entry.path().filename() != ".tamrel-lock")
            files[path.substr(folder.size())] = ReadFileBytes(path);
    }
    return files;
}

std::string Quoted(const std::string& argument) {
    std::string out = "'";
    for (char c : argument)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace tamrel::test
