// Temporary folders and whole-file helpers for tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamrel::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with name.
    std::string operator/(std::string_view name) const;
    // Names of the entries in the folder, sorted, hidden ones included.
    std::string Listing() const { return ListingOf(path_); }
    static std::string ListingOf(const std::string& folder);

private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);
// The program's temporary files and commit records anywhere below folder:
// what a command that ended must not have left.
std::vector<std::string> Leftovers(const std::string& folder);
void WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace tamrel::test
