#include "io/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace tamrel {

namespace {

constexpr std::size_t kWriteBufferSize = 1 << 20;

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all of bytes at offset, retrying short writes and interruptions.
// Returns 0 or the errno of the failure.
int WriteFully(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
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

}  // namespace

IoError::IoError(int osError, const std::string& what)
    : std::system_error(osError, std::generic_category(), what) {}

FileTooLargeError::FileTooLargeError(const std::string& path)
    : std::runtime_error("File is 2 GiB or larger, which this program cannot handle: " + path) {}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    int rc = ::close(fd_);
    fd_ = -1;
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
    int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

void WriteWholeFile(const std::string& path, std::string_view bytes) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid())
        throw IoError(errno, "Cannot create " + path);
    if (int err = WriteFully(fd.get(), bytes.data(), bytes.size(), 0))
        throw IoError(err, "Cannot write " + path);
    if (int err = fd.close())
        throw IoError(err, "Cannot write " + path);
}

bool CreateFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

ReplacingFileWriter::ReplacingFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    // Replacing by rename would also replace a file the user made read-only;
    // a file we may not write stays as it is, as a direct overwrite would.
    mode_t mode = 0666;
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw IoError(EISDIR, "Cannot create " + target_);
        if (::access(target_.c_str(), W_OK) != 0)
            throw IoError(errno, "Cannot create " + target_);
        mode = st.st_mode & 07777;
    }

    std::random_device random;
    const std::string stem = FolderOf(target_) + "/." + FileNameOf(target_) + ".tmp-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem + std::to_string(random() % 1000000000u);
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            fd_ = UniqueFd(fd);
            temp_ = std::move(candidate);
            // open() applies the umask; an existing target's mode is kept whole.
            if (mode != 0666)
                ::fchmod(fd, mode);
            return;
        }
        if (errno != EEXIST)
            throw IoError(errno, "Cannot create " + target_);
    }
    throw IoError(EEXIST, "Cannot create " + target_);
}

ReplacingFileWriter::ReplacingFileWriter(ReplacingFileWriter&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      appendOffset_(other.appendOffset_),
      committed_(other.committed_) {
    other.temp_.clear();
    other.committed_ = true;
}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (!committed_)
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
    if (committed_ || !fd_.valid())
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
    if (committed_ || !fd_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    if (int err = WriteFully(fd_.get(), bytes.data(), bytes.size(), offset))
        Fail(err, "Cannot write");
    appendOffset_ = std::max(appendOffset_, offset + static_cast<std::int64_t>(bytes.size()));
}

void ReplacingFileWriter::Commit() {
    if (committed_ || !fd_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    // A file written by positioned writes may end in a gap that was never written.
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        Fail(errno, "Cannot write");
    if (st.st_size < appendOffset_ && ::ftruncate(fd_.get(), appendOffset_) != 0)
        Fail(errno, "Cannot write");
    if (::fsync(fd_.get()) != 0)
        Fail(errno, "Cannot write");
    if (int err = fd_.close())
        Fail(err, "Cannot write");
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        Fail(errno, "Cannot replace");
    committed_ = true;
    temp_.clear();

    // Make the rename itself durable. Some file systems cannot sync a folder
    // (EINVAL); the file is in place then, which is all they can promise.
    UniqueFd folder(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid() && ::fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw IoError(errno, "Cannot write " + target_);
}

void ReplacingFileWriter::Discard() noexcept {
    fd_.close();
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    buffer_.clear();
    committed_ = true;
}

}  // namespace tamrel
