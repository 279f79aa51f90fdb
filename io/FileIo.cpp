#include "io/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "io/FaultInjection.h"
#include "io/Native.h"
#include "io/Path.h"

namespace tamrel {

namespace {

constexpr std::size_t kWriteBufferSize = 1 << 20;
constexpr std::string_view kTemporaryMark = ".tmp-";

// The OS calls through which every file operation of the program goes, so
// that a test can make any one of them fail.
int FailOr(IoOperation operation, const std::function<int()>& call) {
    if (IoCallFails(operation))
        return errno;
    return call();
}

// Writes all of bytes at offset, retrying short writes and interruptions.
// Returns 0 or the errno of the failure.
int WriteFully(native::Handle file, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        int error = 0;
        const std::int64_t n = IoCallFails(IoOperation::Write)
                                   ? (error = errno, -1)
                                   : native::WriteAt(file, data, size, offset, &error);
        if (n < 0) {
            if (error == EINTR)
                continue;
            return error;
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
std::size_t ReadFully(native::Handle file, char* data, std::size_t size, std::uint64_t offset,
                      const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        int error = 0;
        const std::int64_t n =
            IoCallFails(IoOperation::Read)
                ? (error = errno, -1)
                : native::ReadAt(file, data + done, size - done, offset + done, &error);
        if (n < 0) {
            if (error == EINTR)
                continue;
            throw IoError(error, "Cannot read " + path);
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

// Creates a new temporary file for target in the folder; 0 or the cause.
int CreateTemporary(const Folder& folder, const std::string& targetName, int mode,
                    std::string& name, NativeHandle& file) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = TemporaryNameFor(targetName);
        native::Handle handle = native::kNone;
        const int error = FailOr(IoOperation::Open,
                                 [&] { return native::CreateNew(folder, name, mode, handle); });
        if (error == 0) {
            file = NativeHandle(handle);
            return 0;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

int SyncHandle(native::Handle file) {
    return FailOr(IoOperation::Sync, [file] { return native::Flush(file); });
}

NameStatus StatusFromFacts(int error, const native::Facts& facts) {
    NameStatus status;
    if (error != 0) {
        if (error != ENOENT && error != ENOTDIR)
            status.error = error;
        return status;
    }
    switch (facts.kind) {
        case native::Facts::Kind::Missing:
            return status;
        case native::Facts::Kind::File:
            status.kind = NameStatus::Kind::File;
            break;
        case native::Facts::Kind::Link:
            status.kind = NameStatus::Kind::Link;
            break;
        default:
            status.kind = NameStatus::Kind::Other;
            break;
    }
    status.size = facts.size;
    status.identity = facts.identity;
    return status;
}

// Every name in the folder that keep accepts.
std::vector<std::string> ListNames(const Folder& folder,
                                   const std::function<bool(const std::string&)>& keep) {
    std::vector<std::string> all;
    if (const int error = native::List(folder, all))
        throw IoError(error, "Cannot list the folder " + folder.Path());
    std::vector<std::string> names;
    for (std::string& name : all)
        if (name != "." && name != ".." && name != kLockFileName && keep(name))
            names.push_back(std::move(name));
    return names;
}

}  // namespace

namespace {

// errno values, worded by ErrorText; compared as the generic ones are.
class CauseCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "tamrel"; }
    std::string message(int error) const override { return native::ErrorText(error); }
    std::error_condition default_error_condition(int error) const noexcept override {
        return {error, std::generic_category()};
    }
};

const CauseCategory kCauses;

}  // namespace

IoError::IoError(int osError, const std::string& what)
    : std::system_error(osError, kCauses, what) {}

std::string ErrorText(int error) {
    return native::ErrorText(error);
}

FileTooLargeError::FileTooLargeError(const std::string& path)
    : InputError("File is 2 GiB or larger, which this program cannot handle: " + path) {}

NativeHandle& NativeHandle::operator=(NativeHandle&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.release();
    }
    return *this;
}

NativeHandle::~NativeHandle() {
    close();
}

int NativeHandle::close() {
    if (handle_ == -1)
        return 0;
    const bool fails = IoCallFails(IoOperation::Close);
    const int injected = errno;
    const int error = native::Close(handle_);
    handle_ = -1;
    return fails ? injected : error;
}

Folder::Folder(std::string path) : path_(std::move(path)) {
    native::Handle handle = native::kNone;
    openError_ = FailOr(IoOperation::OpenFolder, [&] { return native::OpenFolder(path_, handle); });
    if (openError_ == 0)
        handle_ = NativeHandle(handle);
}

Folder::~Folder() = default;

std::string Folder::PathOf(std::string_view name) const {
    return JoinPath(path_, name);
}

FileIdentity Folder::Identity() const {
    native::Facts facts;
    return native::FactsOf(handle_.get(), facts) == 0 ? facts.identity : FileIdentity{};
}

void Folder::Sync() const {
    // Some file systems cannot sync a folder (EINVAL); the renames are in
    // place then, which is all they can promise.
    const int error = FailOr(IoOperation::Sync, [this] { return native::SyncFolder(*this); });
    if (error != 0 && error != EINVAL && error != EROFS)
        throw IoError(error, "Cannot sync the folder " + path_ + " to disk");
}

bool IsExistingFile(const std::string& path) {
    return StatusOfPath(path, true).kind == NameStatus::Kind::File;
}

bool IsExistingFolder(const std::string& path) {
    native::Facts facts;
    return native::FactsAt(nullptr, path, true, facts) == 0 &&
           facts.kind == native::Facts::Kind::Folder;
}

std::int64_t RegularFileSizeAt(const Folder& folder, const std::string& name) {
    const NameStatus status = StatusAt(folder, name, true);
    return status.kind == NameStatus::Kind::File ? status.size : -1;
}

NameStatus StatusAt(const Folder& folder, const std::string& name, bool follow) {
    native::Facts facts;
    const int error = native::FactsAt(&folder, name, follow, facts);
    return StatusFromFacts(error, facts);
}

NameStatus StatusOfPath(const std::string& path, bool follow) {
    native::Facts facts;
    const int error = native::FactsAt(nullptr, path, follow, facts);
    return StatusFromFacts(error, facts);
}

InputFile::InputFile(const std::string& path) : path_(path) {
    Open(nullptr, path, false);
}

InputFile::InputFile(const Folder& folder, const std::string& name, bool noFollow)
    : path_(folder.PathOf(name)) {
    Open(&folder, name, noFollow);
}

InputFile::~InputFile() {
    if (libraryDescriptor_ >= 0)
        native::CloseLibraryDescriptor(libraryDescriptor_, handle_.get());
}

void InputFile::Open(const Folder* folder, const std::string& name, bool noFollow) {
    native::Handle handle = native::kNone;
    native::Facts facts;
    openError_ = FailOr(IoOperation::Open, [&] {
        return native::OpenForReading(folder, name, noFollow, handle, facts);
    });
    if (openError_ != 0)
        return;
    handle_ = NativeHandle(handle);
    size_ = facts.size;
    identity_ = facts.identity;
}

int InputFile::LibraryDescriptor() const {
    if (libraryDescriptor_ < 0)
        libraryDescriptor_ = native::LibraryDescriptor(handle_.get());
    return libraryDescriptor_;
}

std::int64_t InputFile::Size() const {
    if (size_ > kMaxFileSize)
        throw FileTooLargeError(path_);
    return size_;
}

std::size_t InputFile::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
    return ReadFully(handle_.get(), data, size, offset, path_);
}

std::string InputFile::ReadAll() const {
    // The size when the file was opened is the file: bytes appended meanwhile are not read.
    std::string bytes(static_cast<std::size_t>(Size()), '\0');
    bytes.resize(ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
}

std::size_t InputFile::ReadAllInto(std::vector<char>& buffer) const {
    const auto size = static_cast<std::size_t>(Size());
    if (buffer.size() < size)
        buffer.resize(size);
    return ReadAt(0, buffer.data(), size);
}

std::string ReadWholeFile(const std::string& path) {
    InputFile file(path);
    if (!file.IsOpen())
        throw IoError(file.OpenError(), "Cannot open file " + path);
    return file.ReadAll();
}

int CreateFolder(const std::string& path) {
    return FailOr(IoOperation::Mkdir, [&path] { return native::MakeFolder(path); });
}

ReplacingFileWriter::ReplacingFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    auto [folder, name] = SplitFolderAndName(target_);
    name_ = std::move(name);
    ownFolder_ = std::make_unique<Folder>(folder);
    if (!ownFolder_->IsOpen())
        throw IoError(ownFolder_->OpenError(), "Cannot create " + target_);
    folder_ = ownFolder_.get();
    Create();
}

ReplacingFileWriter::ReplacingFileWriter(const Folder& folder, std::string name)
    : target_(folder.PathOf(name)), name_(std::move(name)), folder_(&folder) {
    Create();
}

void ReplacingFileWriter::Create() {
    // Replacing by rename would also replace a file the user made read-only;
    // a file we may not write stays as it is, as a direct overwrite would.
    // A link is replaced, not followed, so its own permissions do not count.
    int mode = 0666;
    if (const int error = native::CheckReplaceable(*folder_, name_, mode))
        throw IoError(error, "Cannot create " + target_);
    if (const int error = CreateTemporary(*folder_, name_, mode, tempName_, handle_)) {
        tempName_.clear();
        throw IoError(error, "Cannot create " + target_);
    }
    // The OS applies the umask; an existing target's mode is kept whole.
    if (mode != 0666)
        native::SetMode(handle_.get(), mode);
}

ReplacingFileWriter::ReplacingFileWriter(ReplacingFileWriter&& other) noexcept
    : target_(std::move(other.target_)),
      name_(std::move(other.name_)),
      tempName_(std::move(other.tempName_)),
      ownFolder_(std::move(other.ownFolder_)),
      folder_(other.folder_),
      handle_(std::move(other.handle_)),
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
    return tempName_.empty() ? std::string() : folder_->PathOf(tempName_);
}

void ReplacingFileWriter::Fail(int osError, const char* action) {
    Discard();
    throw IoError(osError, std::string(action) + " " + target_);
}

void ReplacingFileWriter::FlushBuffer() {
    if (buffer_.empty())
        return;
    if (int err = WriteFully(handle_.get(), buffer_.data(), buffer_.size(), appendOffset_))
        Fail(err, "Cannot write");
    appendOffset_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
}

void ReplacingFileWriter::Write(std::string_view bytes) {
    if (finished_ || !handle_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    if (buffer_.size() + bytes.size() > kWriteBufferSize) {
        FlushBuffer();
        if (bytes.size() >= kWriteBufferSize) {
            if (int err = WriteFully(handle_.get(), bytes.data(), bytes.size(), appendOffset_))
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
    if (finished_ || !handle_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    if (int err = WriteFully(handle_.get(), bytes.data(), bytes.size(), offset))
        Fail(err, "Cannot write");
    appendOffset_ = std::max(appendOffset_, offset + static_cast<std::int64_t>(bytes.size()));
}

ReplacingFileWriter::Copied ReplacingFileWriter::CopyIn(std::int64_t offset, const Folder& folder,
                                                        const std::string& name, bool noFollow,
                                                        std::int64_t limit) {
    if (finished_ || !handle_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    Copied copied;
    native::Handle raw = native::kNone;
    copied.openError =
        FailOr(IoOperation::Open, [&] { return native::OpenToCopy(folder, name, noFollow, raw); });
    if (copied.openError != 0)
        return copied;
    const NativeHandle source(raw);
    std::int64_t done = 0;
    bool ended = false;
    while (kernelCopy_ && !ended && done < limit) {
        if (IoCallFails(IoOperation::Read))
            throw IoError(errno, "Cannot read " + folder.PathOf(name));
        if (IoCallFails(IoOperation::Write))
            Fail(errno, "Cannot write");
        int error = 0;
        const std::int64_t n =
            native::CopyRange(source.get(), static_cast<std::uint64_t>(done), handle_.get(),
                              offset + done, static_cast<std::size_t>(limit - done), &error);
        if (n > 0)
            done += n;
        else if (n == 0)
            ended = true;
        else if (error != EINTR) {
            // Where the kernel cannot copy between these files, it never will:
            // the buffer does every copy from now on. Any other failure goes
            // on through the buffer too, which names the file that failed.
            if (error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP)
                kernelCopy_ = false;
            break;
        }
    }
    if (!ended && done < limit)
        done = CopyThroughBuffer(source.get(), folder.PathOf(name), done, offset, limit);
    ExtendTo(offset + done);
    copied.bytes = done;
    return copied;
}

std::int64_t ReplacingFileWriter::CopyThroughBuffer(std::intptr_t from, const std::string& fromPath,
                                                    std::int64_t done, std::int64_t offset,
                                                    std::int64_t limit) {
    if (copyBuffer_.empty())
        copyBuffer_.resize(kWriteBufferSize);
    while (done < limit) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(limit - done, static_cast<std::int64_t>(copyBuffer_.size())));
        const std::size_t n =
            ReadFully(from, copyBuffer_.data(), want, static_cast<std::uint64_t>(done), fromPath);
        if (n > 0) {
            if (int err = WriteFully(handle_.get(), copyBuffer_.data(), n, offset + done))
                Fail(err, "Cannot write");
        }
        done += static_cast<std::int64_t>(n);
        if (n < want)
            break;  // the end of the file
    }
    return done;
}

void ReplacingFileWriter::Finish() {
    if (finished_ || !handle_.valid())
        throw IoError(EBADF, "Cannot write " + target_);
    FlushBuffer();
    // A file written by positioned writes may end in a gap that was never written.
    native::Facts facts;
    if (const int error = native::FactsOf(handle_.get(), facts))
        Fail(error, "Cannot write");
    if (facts.size < appendOffset_) {
        const int error = FailOr(IoOperation::Truncate,
                                 [this] { return native::Truncate(handle_.get(), appendOffset_); });
        if (error != 0)
            Fail(error, "Cannot write");
    }
    if (const int error = SyncHandle(handle_.get()))
        Fail(error, "Cannot write");
    if (const int error = handle_.close())
        Fail(error, "Cannot write");
    finished_ = true;
}

void ReplacingFileWriter::RenameIntoPlace() {
    if (!finished_ || renamed_)
        throw IoError(EBADF, "Cannot replace " + target_);
    const int error =
        FailOr(IoOperation::Rename, [this] { return native::Rename(*folder_, tempName_, name_); });
    if (error != 0) {
        if (!handedOver_)
            Discard();
        throw IoError(error, "Cannot replace " + target_);
    }
    renamed_ = true;
    tempName_.clear();
}

void ReplacingFileWriter::Commit() {
    Finish();
    RenameIntoPlace();
    const int error = FailOr(IoOperation::Sync, [this] { return native::SyncFolder(*folder_); });
    if (error != 0 && error != EINVAL && error != EROFS)
        throw IoError(error, "Cannot sync the folder " + folder_->Path() +
                                 " to disk after writing " + target_ + ", which is in place");
}

void ReplacingFileWriter::Discard() noexcept {
    handle_.close();
    if (!tempName_.empty()) {
        native::Remove(*folder_, tempName_);
        tempName_.clear();
    }
    buffer_.clear();
    finished_ = true;
    renamed_ = true;
}

void CopyFileAt(const Folder& folder, const std::string& from, const std::string& to) {
    const InputFile in(folder, from);
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

void TryReplacing(const Folder& folder, const std::string& name) {
    int mode = 0666;
    if (const int error = native::CheckReplaceable(folder, name, mode))
        throw IoError(error, "Cannot create " + folder.PathOf(name));
}

void WriteFileThroughRename(const Folder& folder, const std::string& name, std::string_view bytes) {
    int mode = 0666;
    if (const int error = native::CheckReplaceable(folder, name, mode))
        throw IoError(error, "Cannot create " + folder.PathOf(name));
    std::string temp;
    NativeHandle file;
    if (const int error = CreateTemporary(folder, name, mode, temp, file))
        throw IoError(error, "Cannot create " + folder.PathOf(name));
    // The OS applies the umask; an existing file's mode is kept whole.
    int err = mode != 0666 ? native::SetMode(file.get(), mode) : 0;
    if (err == 0)
        err = WriteFully(file.get(), bytes.data(), bytes.size(), 0);
    if (err == 0 && native::FlushEachFile())
        err = SyncHandle(file.get());
    if (err == 0)
        err = file.close();
    if (err == 0)
        err = FailOr(IoOperation::Rename, [&] { return native::Rename(folder, temp, name); });
    if (err != 0) {
        file.close();
        native::Remove(folder, temp);
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

std::vector<std::string> NamesEndingWith(const Folder& folder, std::string_view suffix) {
    return ListNames(folder, [suffix](const std::string& name) {
        return name.size() > suffix.size() &&
               std::string_view(name).substr(name.size() - suffix.size()) == suffix;
    });
}

std::vector<std::string> NamesIn(const Folder& folder) {
    return ListNames(folder, [](const std::string&) { return true; });
}

int RemoveLeftoverTemporaries(const Folder& folder,
                              const std::function<bool(const std::string&)>& isOurs) {
    const std::vector<std::string> leftovers =
        ListNames(folder, [&isOurs](const std::string& name) {
            const std::string target = TargetOfTemporary(name);
            return !target.empty() && isOurs(target);
        });
    for (const std::string& name : leftovers)
        RemoveAt(folder, name);
    return static_cast<int>(leftovers.size());
}

void RenameAt(const Folder& folder, const std::string& from, const std::string& to) {
    if (const int error =
            FailOr(IoOperation::Rename, [&] { return native::Rename(folder, from, to); }))
        throw IoError(error, "Cannot replace " + folder.PathOf(to));
}

void RemoveAt(const Folder& folder, const std::string& name) {
    const int error = FailOr(IoOperation::Remove, [&] { return native::Remove(folder, name); });
    if (error != 0 && error != ENOENT)
        throw IoError(error, "Cannot remove " + folder.PathOf(name));
}

void SyncFileSystemOf(const Folder& folder) {
    if (const int error =
            FailOr(IoOperation::Sync, [&folder] { return native::SyncFileSystem(folder); }))
        throw IoError(error, "Cannot sync the files of " + folder.Path() + " to disk");
}

LockResult LockFolder(Folder& folder, int& error) {
    const int result = native::LockExclusive(folder);
    if (result == 0)
        return LockResult::Locked;
    error = result;
    return result == EWOULDBLOCK ? LockResult::InUse : LockResult::Failed;
}

std::string ResolvedPath(const std::string& path) {
    return native::Resolved(path);
}

std::string AbsolutePath(const std::string& typed) {
    return native::Absolute(typed);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return native::Arguments(argc, argv);
}

bool StandardErrorIsTerminal() {
    return native::StderrIsTerminal();
}

namespace {

// The cause of the first write to standard output that failed, kept for
// when the program ends: a later call may change errno.
int standardOutputError = 0;

void NoteStandardOutputError() {
    if (standardOutputError == 0 && std::ferror(stdout))
        standardOutputError = errno != 0 ? errno : EIO;
}

}  // namespace

void WriteText(std::FILE* stream, std::string_view text) {
    errno = 0;
    native::Write(stream, text);
    if (stream == stdout)
        NoteStandardOutputError();
}

void FlushText(std::FILE* stream) {
    errno = 0;
    std::fflush(stream);
    if (stream == stdout)
        NoteStandardOutputError();
}

int CloseStandardOutput() {
    int error = standardOutputError;
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    // A standard output closed by the caller is no failure when nothing was
    // written to it.
    if (std::fclose(stdout) != 0 && error == 0 && (failedBefore || errno != EBADF))
        error = errno != 0 ? errno : EIO;
    if (failedBefore && error == 0)
        error = EIO;
    return error;
}

}  // namespace tamrel
