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

std::string JoinForMessage(const std::string& folder, std::string_view name) {
    if (folder.empty())
        return std::string(name);
    return folder.back() == '/' ? folder + std::string(name) : folder + "/" + std::string(name);
}

// The OS calls through which every file operation of the program goes, so
// that a test can make any one of them fail.
int OpenAt(int folderFd, const char* name, int flags, mode_t mode = 0) {
    if (IoCallFails(IoOperation::Open))
        return -1;
    return ::openat(folderFd, name, flags, mode);
}

int OpenFolderAt(const char* path) {
    if (IoCallFails(IoOperation::OpenFolder))
        return -1;
    return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

ssize_t PositionedRead(int fd, char* data, std::size_t size, std::uint64_t offset) {
    if (IoCallFails(IoOperation::Read))
        return -1;
    return ::pread(fd, data, size, static_cast<off_t>(offset));
}

ssize_t PositionedWrite(int fd, const char* data, std::size_t size, std::int64_t offset) {
    if (IoCallFails(IoOperation::Write))
        return -1;
    return ::pwrite(fd, data, size, offset);
}

int SyncFd(int fd) {
    if (IoCallFails(IoOperation::Sync))
        return -1;
    return ::fsync(fd);
}

int Truncate(int fd, std::int64_t size) {
    if (IoCallFails(IoOperation::Truncate))
        return -1;
    return ::ftruncate(fd, size);
}

int RenameIn(int fromFolder, const char* from, int toFolder, const char* to) {
    if (IoCallFails(IoOperation::Rename))
        return -1;
    return ::renameat(fromFolder, from, toFolder, to);
}

int UnlinkAt(int folderFd, const char* name) {
    if (IoCallFails(IoOperation::Remove))
        return -1;
    return ::unlinkat(folderFd, name, 0);
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

// Reads up to size bytes at offset, retrying short reads and interruptions;
// returns how many there were, or throws IoError naming path.
std::size_t ReadFully(int fd, char* data, std::size_t size, std::uint64_t offset,
                      const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = PositionedRead(fd, data + done, size - done, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw IoError(errno, "Cannot read " + path);
        }
        if (n == 0)
            break;  // the file shrank meanwhile: what is left is what there is
        done += static_cast<std::size_t>(n);
    }
    return done;
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

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
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

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

bool IsExistingFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::int64_t RegularFileSizeAt(int folderFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

NameStatus StatusAt(int folderFd, const std::string& name, bool follow) {
    NameStatus status;
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            status.error = error;
        return status;
    }
    status.kind = S_ISREG(st.st_mode)   ? NameStatus::Kind::File
                  : S_ISLNK(st.st_mode) ? NameStatus::Kind::Link
                                        : NameStatus::Kind::Other;
    status.size = st.st_size;
    status.identity = IdentityOf(st);
    return status;
}

NameStatus StatusOfPath(const std::string& path, bool follow) {
    return StatusAt(AT_FDCWD, path, follow);
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
    Open(AT_FDCWD, path, false);
}

InputFile::InputFile(int folderFd, const std::string& name, const std::string& path, bool noFollow)
    : path_(path) {
    Open(folderFd, name, noFollow);
}

void InputFile::Open(int folderFd, const std::string& name, bool noFollow) {
    // Non-blocking, so that a pipe at the name does not wait for a writer.
    int fd = OpenAt(folderFd, name.c_str(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
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
    identity_ = IdentityOf(st);
}

std::int64_t InputFile::Size() const {
    if (size_ > kMaxFileSize)
        throw FileTooLargeError(path_);
    return size_;
}

std::size_t InputFile::ReadInto(char* data, std::size_t size) const {
    return ReadFully(fd_.get(), data, size, 0, path_);
}

std::size_t InputFile::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
    return ReadFully(fd_.get(), data, size, offset, path_);
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

Folder::Folder(std::string path) : path_(std::move(path)) {
    fd_ = UniqueFd(OpenFolderAt(path_.c_str()));
    if (!fd_.valid())
        openError_ = errno;
}

std::string Folder::PathOf(std::string_view name) const {
    return JoinForMessage(path_, name);
}

FileIdentity Folder::Identity() const {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        return {};
    return IdentityOf(st);
}

void Folder::Sync() const {
    // Some file systems cannot sync a folder (EINVAL); the renames are in
    // place then, which is all they can promise.
    if (SyncFd(fd_.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw IoError(errno, "Cannot sync the folder " + path_ + " to disk");
}

int CreateFolder(const std::string& path) {
    if (IoCallFails(IoOperation::Mkdir))
        return errno;
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

ReplacingFileWriter::ReplacingFileWriter(std::string targetPath)
    : target_(std::move(targetPath)), folderPath_(FolderOf(target_)), name_(FileNameOf(target_)) {
    ownFolder_ = UniqueFd(OpenFolderAt(folderPath_.c_str()));
    if (!ownFolder_.valid())
        throw IoError(errno, "Cannot create " + target_);
    folderFd_ = ownFolder_.get();
    Create();
}

ReplacingFileWriter::ReplacingFileWriter(const Folder& folder, std::string name)
    : target_(folder.PathOf(name)),
      folderPath_(folder.Path()),
      name_(std::move(name)),
      folderFd_(folder.Fd()) {
    Create();
}

void ReplacingFileWriter::Create() {
    // Replacing by rename would also replace a file the user made read-only;
    // a file we may not write stays as it is, as a direct overwrite would.
    // A link is replaced, not followed, so its own permissions do not count.
    mode_t mode = 0666;
    struct stat st {};
    if (::fstatat(folderFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode))
            throw IoError(EISDIR, "Cannot create " + target_);
        if (S_ISREG(st.st_mode)) {
            if (::faccessat(folderFd_, name_.c_str(), W_OK, 0) != 0)
                throw IoError(errno, "Cannot create " + target_);
            mode = st.st_mode & 07777;
        }
    }
    const int fd = CreateTemporary(folderFd_, name_, mode, tempName_);
    if (fd < 0) {
        tempName_.clear();
        throw IoError(errno, "Cannot create " + target_);
    }
    fd_ = UniqueFd(fd);
    // open() applies the umask; an existing target's mode is kept whole.
    if (mode != 0666)
        ::fchmod(fd, mode);
}

ReplacingFileWriter::ReplacingFileWriter(ReplacingFileWriter&& other) noexcept
    : target_(std::move(other.target_)),
      folderPath_(std::move(other.folderPath_)),
      name_(std::move(other.name_)),
      tempName_(std::move(other.tempName_)),
      ownFolder_(std::move(other.ownFolder_)),
      folderFd_(other.folderFd_),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      appendOffset_(other.appendOffset_),
      finished_(other.finished_),
      renamed_(other.renamed_),
      handedOver_(other.handedOver_) {
    other.tempName_.clear();
    other.renamed_ = true;
}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (!renamed_ && !handedOver_)
        Discard();
}

std::string ReplacingFileWriter::TemporaryPath() const {
    return tempName_.empty() ? std::string() : JoinForMessage(folderPath_, tempName_);
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
    if (st.st_size < appendOffset_ && Truncate(fd_.get(), appendOffset_) != 0)
        Fail(errno, "Cannot write");
    if (SyncFd(fd_.get()) != 0)
        Fail(errno, "Cannot write");
    if (int err = fd_.close())
        Fail(err, "Cannot write");
    finished_ = true;
}

void ReplacingFileWriter::RenameIntoPlace() {
    if (!finished_ || renamed_)
        throw IoError(EBADF, "Cannot replace " + target_);
    if (RenameIn(folderFd_, tempName_.c_str(), folderFd_, name_.c_str()) != 0) {
        const int err = errno;
        if (!handedOver_)
            Discard();
        throw IoError(err, "Cannot replace " + target_);
    }
    renamed_ = true;
    tempName_.clear();
}

void ReplacingFileWriter::Commit() {
    Finish();
    RenameIntoPlace();
    if (SyncFd(folderFd_) != 0 && errno != EINVAL && errno != EROFS)
        throw IoError(errno, "Cannot sync the folder " + folderPath_ + " to disk after writing " +
                                 target_ + ", which is in place");
}

void ReplacingFileWriter::Discard() noexcept {
    fd_.close();
    if (!tempName_.empty()) {
        ::unlinkat(folderFd_, tempName_.c_str(), 0);
        tempName_.clear();
    }
    buffer_.clear();
    finished_ = true;
    renamed_ = true;
}

void CopyFileAt(const Folder& folder, const std::string& from, const std::string& to) {
    const InputFile in(folder.Fd(), from, folder.PathOf(from));
    if (!in.IsOpen())
        throw IoError(in.OpenError(), "Cannot open file " + folder.PathOf(from));
    ReplacingFileWriter out(folder, to);
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

void WriteFileThroughRename(const Folder& folder, const std::string& name, std::string_view bytes) {
    std::string temp;
    UniqueFd fd(CreateTemporary(folder.Fd(), name, 0666, temp));
    if (!fd.valid())
        throw IoError(errno, "Cannot create " + folder.PathOf(name));
    int err = WriteFully(fd.get(), bytes.data(), bytes.size(), 0);
    if (err == 0)
        err = fd.close();
    if (err == 0 && RenameIn(folder.Fd(), temp.c_str(), folder.Fd(), name.c_str()) != 0)
        err = errno;
    if (err != 0) {
        fd.close();
        ::unlinkat(folder.Fd(), temp.c_str(), 0);
        throw IoError(err, "Cannot write " + folder.PathOf(name));
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

namespace {

// Every name in the folder that keep accepts.
std::vector<std::string> ListNames(const Folder& folder,
                                   const std::function<bool(const char*)>& keep) {
    const int listing = ::dup(folder.Fd());
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        const int err = errno;
        if (listing >= 0)
            ::close(listing);
        throw IoError(err, "Cannot list the folder " + folder.Path());
    }
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (keep(entry->d_name))
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

}  // namespace

std::vector<std::string> NamesEndingWith(const Folder& folder, std::string_view suffix) {
    return ListNames(folder, [suffix](const char* name) {
        const std::string_view n(name);
        return n.size() > suffix.size() && n.substr(n.size() - suffix.size()) == suffix;
    });
}

std::vector<std::string> NamesIn(const Folder& folder) {
    return ListNames(folder, [](const char* name) {
        const std::string_view n(name);
        return n != "." && n != "..";
    });
}

int RemoveLeftoverTemporaries(const Folder& folder,
                              const std::function<bool(const std::string&)>& isOurs) {
    const std::vector<std::string> leftovers = ListNames(folder, [&isOurs](const char* name) {
        const std::string target = TargetOfTemporary(name);
        return !target.empty() && isOurs(target);
    });
    for (const std::string& name : leftovers)
        RemoveAt(folder, name);
    return static_cast<int>(leftovers.size());
}

void RenameAt(const Folder& folder, const std::string& from, const std::string& to) {
    if (RenameIn(folder.Fd(), from.c_str(), folder.Fd(), to.c_str()) != 0)
        throw IoError(errno, "Cannot replace " + folder.PathOf(to));
}

void RemoveAt(const Folder& folder, const std::string& name) {
    if (UnlinkAt(folder.Fd(), name.c_str()) != 0 && errno != ENOENT)
        throw IoError(errno, "Cannot remove " + folder.PathOf(name));
}

void SyncFileSystemOf(const Folder& folder) {
    if (IoCallFails(IoOperation::Sync) || ::syncfs(folder.Fd()) != 0)
        throw IoError(errno, "Cannot sync the files of " + folder.Path() + " to disk");
}

LockResult LockFolder(const Folder& folder, int& error) {
    if (::flock(folder.Fd(), LOCK_EX | LOCK_NB) == 0)
        return LockResult::Locked;
    error = errno;
    return error == EWOULDBLOCK ? LockResult::InUse : LockResult::Failed;
}

LockResult FolderLock::TryLock(const std::string& path) {
    folder_ = Folder(path);
    if (!folder_.IsOpen())
        return LockResult::Failed;
    int error = 0;
    const LockResult result = LockFolder(folder_, error);
    if (result != LockResult::Locked)
        folder_ = Folder();
    return result;
}

}  // namespace tamrel
