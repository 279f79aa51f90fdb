#include "TestFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

#include "io/CommitRecord.h"
#include "io/FileIo.h"

namespace tamrel::test {

std::filesystem::path FsPath(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

TempDir::TempDir() {
    // A random name, taken only if no one has it yet: create_directory says
    // whether this call made the folder.
    static std::mt19937_64 random{std::random_device{}()};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tamrel-test-%012llx",
                      static_cast<unsigned long long>(random() & 0xffffffffffffULL));
        const auto candidate = base / name;
        if (std::filesystem::create_directory(candidate)) {
            path_ = Utf8(candidate);
            return;
        }
    }
    throw std::runtime_error("no fresh temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write access that a test may have taken away, so removal works.
    std::filesystem::permissions(FsPath(path_), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FsPath(path_), ec);
}

std::string TempDir::operator/(std::string_view name) const {
#ifdef _WIN32
    // As the program writes paths in its messages on Windows.
    std::string joined = path_ + "\\" + std::string(name);
    std::replace(joined.begin(), joined.end(), '/', '\\');
    return joined;
#else
    return path_ + "/" + std::string(name);
#endif
}

std::string TempDir::ListingOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
        std::string name = Utf8(entry.path().filename());
        // Windows has no lock on a folder itself: the program locks a file in it.
        if (name != kLockFileName)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names)
        out += name + "\n";
    return out;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FsPath(folder))) {
        const std::string name = Utf8(entry.path().filename());
        if (!TargetOfTemporary(name).empty() || name == kCommitRecordName)
            found.push_back(Utf8(entry.path()));
    }
    return found;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace tamrel::test
