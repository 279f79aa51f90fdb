// Temporary folders and whole-file helpers for tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Tests of symbolic links run on POSIX only: wine has no symbolic links, and
// on Windows making one needs a privilege most users lack.
#ifdef _WIN32
#define TAMREL_NEEDS_LINKS() GTEST_SKIP() << "needs symbolic links, which the POSIX build tests"
#else
#define TAMREL_NEEDS_LINKS() static_cast<void>(0)
#endif

namespace tamrel::test {

// The separator the program writes between a folder and a name on this
// system; tests build the paths they compare with messages the same way.
#ifdef _WIN32
inline constexpr const char* kSep = "\\";
#else
inline constexpr const char* kSep = "/";
#endif

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

// Paths in tests are UTF-8, as in the program; std::filesystem takes them
// through these (a narrow path means the ANSI code page on Windows).
std::filesystem::path FsPath(std::string_view utf8);
std::string Utf8(const std::filesystem::path& path);

std::string ReadFileBytes(const std::string& path);
// The program's temporary files and commit records anywhere below folder:
// what a command that ended must not have left.
std::vector<std::string> Leftovers(const std::string& folder);
void WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace tamrel::test
