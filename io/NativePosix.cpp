// io/'s calls on POSIX: descriptors, and every name in a folder reached
// relative to the folder's own descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "io/Native.h"

namespace tamrel::native {

namespace {

int Fd(Handle handle) {
    return static_cast<int>(handle);
}

int FolderFd(const Folder* folder) {
    return folder ? Fd(folder->Native()) : AT_FDCWD;
}

void FillFacts(const struct stat& st, Facts& facts) {
    facts.kind = S_ISREG(st.st_mode)   ? Facts::Kind::File
                 : S_ISLNK(st.st_mode) ? Facts::Kind::Link
                 : S_ISDIR(st.st_mode) ? Facts::Kind::Folder
                                       : Facts::Kind::Other;
    facts.size = st.st_size;
    facts.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

int Close(Handle handle) {
    return ::close(Fd(handle)) == 0 ? 0 : errno;
}

int OpenFolder(const std::string& path, Handle& folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    folder = fd;
    return 0;
}

int OpenForReading(const Folder* folder, const std::string& name, bool noFollow, Handle& file,
                   Facts& facts) {
    // Non-blocking, so that a pipe at the name does not wait for a writer.
    const int fd = ::openat(FolderFd(folder), name.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (!S_ISREG(st.st_mode)) {
        // A folder opens for reading on POSIX but is no file to read; nor is
        // a pipe or a device.
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    }
    FillFacts(st, facts);
    file = fd;
    return 0;
}

int OpenToCopy(const Folder& folder, const std::string& name, bool noFollow, Handle& file) {
    const int fd = ::openat(Fd(folder.Native()), name.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0)
        return errno;
    file = fd;
    return 0;
}

int CreateNew(const Folder& folder, const std::string& name, int mode, Handle& file) {
    const int fd =
        ::openat(Fd(folder.Native()), name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode));
    if (fd < 0)
        return errno;
    file = fd;
    return 0;
}

int CheckReplaceable(const Folder& folder, const std::string& name, int& mode) {
    struct stat st {};
    if (::fstatat(Fd(folder.Native()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (S_ISREG(st.st_mode)) {
        if (::faccessat(Fd(folder.Native()), name.c_str(), W_OK, 0) != 0)
            return errno;
        mode = static_cast<int>(st.st_mode & 07777);
    }
    return 0;
}

int SetMode(Handle file, int mode) {
    return ::fchmod(Fd(file), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

int FactsOf(Handle handle, Facts& facts) {
    struct stat st {};
    if (::fstat(Fd(handle), &st) != 0)
        return errno;
    FillFacts(st, facts);
    return 0;
}

int FactsAt(const Folder* folder, const std::string& name, bool follow, Facts& facts) {
    struct stat st {};
    if (::fstatat(FolderFd(folder), name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        facts = Facts{};
        return errno == ENOENT ? 0 : errno;
    }
    FillFacts(st, facts);
    return 0;
}

std::int64_t ReadAt(Handle file, char* data, std::size_t size, std::uint64_t offset, int* error) {
    const ssize_t n = ::pread(Fd(file), data, size, static_cast<off_t>(offset));
    if (n < 0)
        *error = errno;
    return n;
}

std::int64_t WriteAt(Handle file, const char* data, std::size_t size, std::int64_t offset,
                     int* error) {
    const ssize_t n = ::pwrite(Fd(file), data, size, static_cast<off_t>(offset));
    if (n < 0)
        *error = errno;
    return n;
}

std::int64_t CopyRange(Handle from, std::uint64_t fromOffset, Handle to, std::int64_t toOffset,
                       std::size_t size, int* error) {
    auto in = static_cast<off_t>(fromOffset);
    auto out = static_cast<off_t>(toOffset);
    const ssize_t n = ::copy_file_range(Fd(from), &in, Fd(to), &out, size, 0);
    if (n < 0)
        *error = errno;
    return n;
}

int Flush(Handle file) {
    return ::fsync(Fd(file)) == 0 ? 0 : errno;
}

int Truncate(Handle file, std::int64_t size) {
    return ::ftruncate(Fd(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Rename(const Folder& folder, const std::string& from, const std::string& to) {
    const int fd = Fd(folder.Native());
    return ::renameat(fd, from.c_str(), fd, to.c_str()) == 0 ? 0 : errno;
}

int Remove(const Folder& folder, const std::string& name) {
    return ::unlinkat(Fd(folder.Native()), name.c_str(), 0) == 0 ? 0 : errno;
}

int SyncFolder(const Folder& folder) {
    return ::fsync(Fd(folder.Native())) == 0 ? 0 : errno;
}

int SyncFileSystem(const Folder& folder) {
    return ::syncfs(Fd(folder.Native())) == 0 ? 0 : errno;
}

bool FlushEachFile() {
    return false;
}

int List(const Folder& folder, std::vector<std::string>& names) {
    const int listing = ::dup(Fd(folder.Native()));
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        const int error = errno;
        if (listing >= 0)
            ::close(listing);
        return error;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    return 0;
}

int MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

int LockExclusive(Folder& folder) {
    if (::flock(Fd(folder.Native()), LOCK_EX | LOCK_NB) == 0)
        return 0;
    return errno;
}

std::string Resolved(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string Absolute(const std::string& typed) {
    std::string path = std::filesystem::absolute(typed).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

void Write(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

int LibraryDescriptor(Handle file) {
    return Fd(file);
}

void CloseLibraryDescriptor(int, Handle) {
    // The descriptor is the file's own, closed with it.
}

}  // namespace tamrel::native
