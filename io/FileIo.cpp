#include "io/FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "io/FaultInjection.h"

namespace tamrel {

namespace {

constexpr std::size_t kWriteBufferSize = 1 << 20;
constexpr std::string_view kTemporaryMark = ".tmp-";

// The folder that holds a file, as the OS resolves it (the work folder's
// own path rules live in archive/; here only the OS's view matters).
std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

std::string FileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The OS calls through which every file operation of the program goes, so
// that a test can make any one of them fail.
int OpenAt(int folderFd, const char* name, int flags, mode_t mode = 0) {
    if (IoCallFails(IoOperation::Open))
        return -1;
    return ::openat(folderFd, name, flags, mode);
}

ssize_t PositionedWrite(int fd, const char* data, std::size_t size, std::int64_t offset) {
    if (IoCallFails(IoOperation::Write))
        return -1;
    return ::pwrite(fd, data, size, offset);
}

int Sync(int fd) {
    if (IoCallFails(IoOperation::Sync))
        return -1;
    return ::fsync(fd);
}

int RenameAt(int fromFolder, const char* from, int toFolder, const char* to) {
    if (IoCallFails(IoOperation::Rename))
        return -1;
    return ::renameat(fromFolder, from, toFolder, to);
}

// Writes all of bytes at offset, retrying short writes and interruptions.
// Returns 0 or the errno of the failure.
int WriteFully(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        ssize_t n = PositionedWrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

// A name for a new temporary file of target: random, so that two never meet.
std::string TemporaryNameFor(const std::string& targetName) {
    static std::mt19937_64 random{std::random_device{}()};
    return "." + targetName + std::string(kTemporaryMark) +
           std::to_string(random() % 1000000000000ull);
}

// Creates a new temporary file for target in the folder; the descriptor, or
// -1 with errno set.
int CreateTemporary(int folderFd, const std::string& targetName, mode_t mode, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = TemporaryNameFor(targetName);
        const int fd = OpenAt(folderFd, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

IoError::IoError(int osError, const std::string& what)
    : std::system_error(osError, std::generic_category(), what) {}

FileTooLargeError::FileTooLargeError(const std::string& path)
    : std::runtime_error("File is 2 GiB or larger, which this program cannot handle: " + path) {}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExistingFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLinkAt(int folderFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::int64_t RegularFileSize(const std::string& path) {
    return RegularFileSizeAt(AT_FDCWD, path);
}

std::int64_t RegularFileSizeAt(int folderFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

UniqueFd OpenFolder(const std::string& path) {
    return UniqueFd(OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    close();
}

int UniqueFd::close() {
    if (fd_ < 0)
        return 0;
    const bool fails = IoCallFails(IoOperation::Close);
    const int injected = errno;
    int rc = ::close(fd_);
    fd_ = -1;
    if (fails)
        return injected;
    return rc == 0 ? 0 : errno;
}

InputFile::InputFile(const std::string& path) : path_(path) {
    Open(AT_FDCWD, path);
}

InputFile::InputFile(int folderFd, const std::string& name, const std::string& path) : path_(path) {
    Open(folderFd, name);
}

void InputFile::Open(int folderFd, const std::string& name) {
    // Non-blocking, so that a pipe at the name does not wait for a writer.
    int fd = OpenAt(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        openError_ = errno;
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        openError_ = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        // A folder opens for reading on POSIX but is no file to read; nor is
        // a pipe or a device.
        ::close(fd);
        openError_ = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return;
    }
    fd_ = UniqueFd(fd);
    size_ = st.st_size;
}

std::int64_t InputFile::Size() const {
    if (size_ > kMaxFileSize)
        throw FileTooLargeError(path_);
    return size_;
}

std::size_t InputFile::ReadInto(char* data, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd_.get(), data + done, size - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw IoError(errno, "Cannot read " + path_);
        }
        if (n == 0)
            break;  // the file shrank meanwhile: what is left is what there is
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t InputFile::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd_.get(), data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw IoError(errno, "Cannot read " + path_);
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::string InputFile::ReadAll() const {
    // The size when the file was opened is the file: bytes appended meanwhile are not read.
    std::string bytes(static_cast<std::size_t>(Size()), '\0');
    bytes.resize(ReadInto(bytes.data(), bytes.size()));
    return bytes;
}

std::size_t InputFile::ReadAllInto(std::vector<char>& buffer) const {
    const auto size = static_cast<std::size_t>(Size());
    if (buffer.size() < size)
        buffer.resize(size);
    return ReadInto(buffer.data(), size);
}

std::string ReadWholeFile(const std::string& path) {
    InputFile file(path);
    if (!file.IsOpen())
        throw IoError(file.OpenError(), "Cannot open file " + path);
    return file.ReadAll();
}

bool CreateFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

ReplacingFileWriter::ReplacingFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    // Replacing by rename would also replace a file the user made read-only;
    // a file we may not write stays as it is, as a direct overwrite would.
    // A link is replaced, not followed, so its own permissions do not count.
    mode_t mode = 0666;
    struct stat st {};
    if (::lstat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw IoError(EISDIR, "Cannot create " + target_);
        if (S_ISREG(st.st_mode)) {
            if (::access(target_.c_str(), W_OK) != 0)
                throw IoError(errno, "Cannot create " + target_);
            mode = st.st_mode & 07777;
        }
    }
    const std::string folder = FolderOf(target_);
    const UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        throw IoError(errno, "Cannot create " + target_);
    std::string name;
    const int fd = CreateTemporary(folderFd.get(), FileNameOf(target_), mode, name);
    if (fd < 0)
        throw IoError(errno, "Cannot create " + target_);
    fd_ = UniqueFd(fd);
    temp_ = folder + "/" + name;
    // open() applies the umask; an existing target's mode is kept whole.
    if (mode != 0666)
        ::fchmod(fd, mode);
}

ReplacingFileWriter::ReplacingFileWriter(ReplacingFileWriter&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      appendOffset_(other.appendOffset_),
      finished_(other.finished_),
      renamed_(other.renamed_),
      handedOver_(other.handedOver_) {
    other.temp_.clear();
    other.renamed_ = true;
}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (!renamed_ && !handedOver_)
        Discard();
}

void ReplacingFileWriter::Fail(int osError, const char* action) {
    Discard();
    throw IoError(osError, std::string(action) + " " + target_);
}

void ReplacingFileWriter::FlushBuffer() {
    if (buffer_.empty())
        return;
    if (int err = WriteFully(fd_.get(), buffer_.data(), buffer_.size(), appendOffset_))
        Fail(err, "Cannot write");
    appendOffset_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
}

void ReplacingFileWriter::Write(std::string_view bytes) {
    if (finished_ || !fd_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    if (buffer_.size() + bytes.size() > kWriteBufferSize) {
        FlushBuffer();
        if (bytes.size() >= kWriteBufferSize) {
            if (int err = WriteFully(fd_.get(), bytes.data(), bytes.size(), appendOffset_))
                Fail(err, "Cannot write");
            appendOffset_ += static_cast<std::int64_t>(bytes.size());
            return;
        }
    }
    if (buffer_.capacity() < kWriteBufferSize)
        buffer_.reserve(kWriteBufferSize);
    buffer_.append(bytes);
}

void ReplacingFileWriter::WriteAt(std::int64_t offset, std::string_view bytes) {
    if (finished_ || !fd_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    if (int err = WriteFully(fd_.get(), bytes.data(), bytes.size(), offset))
        Fail(err, "Cannot write");
    appendOffset_ = std::max(appendOffset_, offset + static_cast<std::int64_t>(bytes.size()));
}

void ReplacingFileWriter::Finish() {
    if (finished_ || !fd_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    // A file written by positioned writes may end in a gap that was never written.
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        Fail(errno, "Cannot write");
    if (st.st_size < appendOffset_ && ::ftruncate(fd_.get(), appendOffset_) != 0)
        Fail(errno, "Cannot write");
    if (Sync(fd_.get()) != 0)
        Fail(errno, "Cannot write");
    if (int err = fd_.close())
        Fail(err, "Cannot write");
    finished_ = true;
}

void ReplacingFileWriter::RenameIntoPlace() {
    if (!finished_ || renamed_)
        throw IoError(EBADF, "Cannot replace " + target_);
    if (RenameAt(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str()) != 0) {
        const int err = errno;
        if (!handedOver_)
            Discard();
        throw IoError(err, "Cannot replace " + target_);
    }
    renamed_ = true;
    temp_.clear();
}

void ReplacingFileWriter::Commit() {
    Finish();
    RenameIntoPlace();
    SyncFolder(FolderOf(target_));
}

void ReplacingFileWriter::Discard() noexcept {
    fd_.close();
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    buffer_.clear();
    finished_ = true;
    renamed_ = true;
}

void CopyFileReplacing(const std::string& from, const std::string& to) {
    const InputFile in(from);
    if (!in.IsOpen())
        throw IoError(in.OpenError(), "Cannot open file " + from);
    ReplacingFileWriter out(to);
    std::string chunk(kWriteBufferSize, '\0');
    for (std::uint64_t at = 0;;) {
        const std::size_t n = in.ReadAt(at, chunk.data(), chunk.size());
        if (n == 0)
            break;
        out.Write(std::string_view(chunk.data(), n));
        at += n;
    }
    out.Commit();
}

void WriteFileThroughRename(int folderFd, const std::string& name, const std::string& path,
                            std::string_view bytes) {
    std::string temp;
    UniqueFd fd(CreateTemporary(folderFd, name, 0666, temp));
    if (!fd.valid())
        throw IoError(errno, "Cannot create " + path);
    int err = WriteFully(fd.get(), bytes.data(), bytes.size(), 0);
    if (err == 0)
        err = fd.close();
    if (err == 0 && RenameAt(folderFd, temp.c_str(), folderFd, name.c_str()) != 0)
        err = errno;
    if (err != 0) {
        fd.close();
        ::unlinkat(folderFd, temp.c_str(), 0);
        throw IoError(err, "Cannot write " + path);
    }
}

std::string TargetOfTemporary(std::string_view fileName) {
    if (fileName.size() < 2 || fileName.front() != '.')
        return {};
    const auto mark = fileName.rfind(kTemporaryMark);
    if (mark == std::string_view::npos || mark <= 1)
        return {};
    const std::string_view digits = fileName.substr(mark + kTemporaryMark.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return {};
    return std::string(fileName.substr(1, mark - 1));
}

int RemoveLeftoverTemporaries(const std::string& folder,
                              const std::function<bool(const std::string&)>& isOurs) {
    UniqueFd folderFd = OpenFolder(folder);
    if (!folderFd.valid())
        return 0;
    DIR* dir = ::fdopendir(::dup(folderFd.get()));
    if (!dir)
        return 0;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string target = TargetOfTemporary(entry->d_name);
        if (!target.empty() && isOurs(target))
            leftovers.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    int removed = 0;
    for (const std::string& name : leftovers) {
        if (IoCallFails(IoOperation::Remove))
            throw IoError(errno, "Cannot remove " + folder + "/" + name);
        if (::unlinkat(folderFd.get(), name.c_str(), 0) == 0)
            ++removed;
        else if (errno != ENOENT)
            throw IoError(errno, "Cannot remove " + folder + "/" + name);
    }
    return removed;
}

void RenameFile(const std::string& from, const std::string& to) {
    if (RenameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) != 0)
        throw IoError(errno, "Cannot replace " + to);
    SyncFolder(FolderOf(to));
}

void SyncFolder(const std::string& path) {
    // Some file systems cannot sync a folder (EINVAL); the renames are in
    // place then, which is all they can promise.
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid() && Sync(folder.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw IoError(errno, "Cannot write " + path);
}

void SyncFileSystemOf(int folderFd, const std::string& path) {
    if (IoCallFails(IoOperation::Sync) || ::syncfs(folderFd) != 0)
        throw IoError(errno, "Cannot write " + path);
}

FolderLock::Result FolderLock::TryLock(const std::string& folder) {
    fd_ = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_.valid()) {
        openError_ = errno;
        return Result::CannotOpen;
    }
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        fd_.close();
        if (err == EWOULDBLOCK)
            return Result::InUse;
        openError_ = err;
        return Result::CannotOpen;
    }
    return Result::Locked;
}

}  // namespace tamrel
