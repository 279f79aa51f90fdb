// File access for the whole program, and the one place that talks to the OS
// (POSIX or Win32 behind the same interface; paths are UTF-8 inside the
// program): folders opened once and every name in them reached through
// them, whole-file and positioned reads, and replacing a file through a
// temporary one so that a failure never leaves a half-written file where a
// good one stood.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tamrel {

// What the user's files or input do not allow (damage, a refused name, a
// file that changed under a command), said to the user as it stands: a
// host tells it from a fault of the program by its type. The program's own
// failures are other exceptions.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input/output failure after a file was opened (or while replacing it); the
// message names the file and ends with the operating system's cause.
class IoError : public std::system_error {
public:
    IoError(int osError, const std::string& what);
};

// The operating system's cause (an errno value) as messages say it: the
// system's own text, but for a file another program holds on Windows,
// "it is in use by another program".
std::string ErrorText(int error);

// A file of 2 GiB or more: offsets and sizes are 32-bit, so such a file is
// refused before a byte of it is read.
class FileTooLargeError : public InputError {
public:
    explicit FileTooLargeError(const std::string& path);
};

// Largest file the program handles: offsets and sizes are signed 32-bit.
inline constexpr std::int64_t kMaxFileSize = 0x7FFFFFFF;

// An open file or folder of the OS (a descriptor, or a Win32 handle), closed
// on every way out.
class NativeHandle {
public:
    NativeHandle() = default;
    explicit NativeHandle(std::intptr_t handle) : handle_(handle) {}
    NativeHandle(NativeHandle&& other) noexcept : handle_(other.release()) {}
    NativeHandle& operator=(NativeHandle&& other) noexcept;
    NativeHandle(const NativeHandle&) = delete;
    NativeHandle& operator=(const NativeHandle&) = delete;
    ~NativeHandle();

    std::intptr_t get() const { return handle_; }
    bool valid() const { return handle_ != -1; }
    std::intptr_t release() {
        const std::intptr_t handle = handle_;
        handle_ = -1;
        return handle;
    }
    // Closes now and reports a failed close (which can carry a delayed write error).
    int close();

private:
    std::intptr_t handle_ = -1;
};

// What makes a file itself, whatever name or path reaches it.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What one look at a name found.
struct NameStatus {
    enum class Kind { Missing, File, Link, Other } kind = Kind::Missing;
    int error = 0;  // the cause, when the look failed for another reason than absence
    std::int64_t size = 0;
    FileIdentity identity;
};

// A folder opened once, by its path as the user gave it (the OS follows
// links along the path; the program resolves nothing itself). Every name in
// it is then reached through it, so a folder renamed or swapped meanwhile
// cannot redirect what a command writes: on POSIX through its descriptor
// (openat and friends), on Windows by a handle that keeps the folder from
// being renamed or removed while it is open.
class Folder {
public:
    Folder() = default;
    // Opens path; on failure IsOpen() is false and OpenError() says why.
    explicit Folder(std::string path);
    Folder(Folder&&) noexcept = default;
    Folder& operator=(Folder&&) noexcept = default;
    ~Folder();

    bool IsOpen() const { return handle_.valid(); }
    int OpenError() const { return openError_; }
    // The path as given, for messages.
    const std::string& Path() const { return path_; }
    // A name in the folder as a path, for messages.
    std::string PathOf(std::string_view name) const;
    FileIdentity Identity() const;
    // Makes renames in the folder durable; a file system that cannot sync a
    // folder is taken as it is. Throws IoError ("Cannot sync the folder PATH").
    void Sync() const;

    // For io/ itself: the OS's handle of the folder, and of its lock.
    std::intptr_t Native() const { return handle_.get(); }
    NativeHandle& LockHandle() { return lock_; }

private:
    std::string path_;
    NativeHandle handle_;
    NativeHandle lock_;  // Windows: the lock file that stands for the folder's lock
    int openError_ = 0;
};

// True when a regular file (not a folder) exists at path.
bool IsExistingFile(const std::string& path);
// True when a folder exists at path.
bool IsExistingFolder(const std::string& path);
// The size of the regular file of that name in the folder; -1 when there is
// none. Looking up one name in a folder is cheaper than walking a whole path,
// file after file.
std::int64_t RegularFileSizeAt(const Folder& folder, const std::string& name);
// Looks at name in the folder once; follow looks through a link.
NameStatus StatusAt(const Folder& folder, const std::string& name, bool follow);
// The same for a path, for a look that writes nothing (the window's rows).
NameStatus StatusOfPath(const std::string& path, bool follow);

// A regular file opened for reading only; anything else (a folder, a pipe,
// a device) is refused at opening with EISDIR or ENODEV, without blocking on
// it. Opening never throws: callers word their own
// message for a file that cannot be opened; read failures throw IoError.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    // The file name in the folder. With noFollow, a link at the name is
    // refused (ELOOP) instead of followed.
    InputFile(const Folder& folder, const std::string& name, bool noFollow = false);
    ~InputFile();

    bool IsOpen() const { return handle_.valid(); }
    // errno of the failed open, 0 when open.
    int OpenError() const { return openError_; }
    const std::string& Path() const { return path_; }
    // A C runtime descriptor of the open file, for a library that reads the
    // file itself; it stays this object's.
    int LibraryDescriptor() const;
    // Which file was opened.
    FileIdentity Identity() const { return identity_; }

    // Size in bytes when it was opened; throws FileTooLargeError for 2 GiB or more.
    std::int64_t Size() const;
    // The same without the limit.
    std::int64_t RawSize() const { return size_; }
    // The whole file from offset 0.
    std::string ReadAll() const;
    // The whole file into buffer, which grows when needed and is otherwise
    // reused; returns the number of bytes read.
    std::size_t ReadAllInto(std::vector<char>& buffer) const;
    // Up to size bytes from offset; returns how many there were.
    std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) const;

private:
    void Open(const Folder* folder, const std::string& name, bool noFollow);

    std::string path_;
    NativeHandle handle_;
    std::int64_t size_ = 0;
    FileIdentity identity_;
    int openError_ = 0;
    mutable int libraryDescriptor_ = -1;
};

// The whole file at path; throws IoError ("Cannot open file " + path and the
// cause) when it cannot be opened or read, FileTooLargeError for 2 GiB or more.
std::string ReadWholeFile(const std::string& path);

// Creates a folder; 0, or the OS's error (EEXIST when there is one already).
int CreateFolder(const std::string& path);

// Writes a file that replaces another: the bytes go to a temporary file in the
// target's folder, and Commit() flushes it to disk and renames it over the
// target. Until then the target stays as it was; a writer that is destroyed
// before its rename removes its temporary file. A link at the target's name
// is replaced, never followed.
class ReplacingFileWriter {
public:
    // Creates the temporary file; throws IoError naming the target when it
    // cannot be created (callers with their own wording catch that).
    explicit ReplacingFileWriter(std::string targetPath);
    // The same for a name in an open folder, which must outlive the writer.
    ReplacingFileWriter(const Folder& folder, std::string name);
    ReplacingFileWriter(ReplacingFileWriter&& other) noexcept;
    ReplacingFileWriter& operator=(ReplacingFileWriter&&) = delete;
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;
    ~ReplacingFileWriter();

    const std::string& TargetPath() const { return target_; }
    const std::string& TargetName() const { return name_; }
    // The temporary file as a path (empty once renamed or removed), and its
    // name in the target's folder, which InFolder() is.
    std::string TemporaryPath() const;
    const std::string& TemporaryName() const { return tempName_; }
    const Folder& InFolder() const { return *folder_; }

    // Appends bytes; buffered, so a failure may surface at a later call.
    void Write(std::string_view bytes);
    // Writes bytes at an absolute offset (the gap before it reads as zeros).
    void WriteAt(std::int64_t offset, std::string_view bytes);
    // What CopyIn did: the open's cause (nothing copied), or the bytes copied.
    struct Copied {
        int openError = 0;
        std::int64_t bytes = 0;
    };
    // Copies the file name of folder to offset, up to its end or limit bytes,
    // in the kernel where the system can and through a buffer where not. The
    // file is not looked at before (with noFollow a link at the name is
    // refused, ELOOP): the caller knows its size, and asks one byte more than
    // that to see a file that grew. Throws IoError naming the side that fails.
    Copied CopyIn(std::int64_t offset, const Folder& folder, const std::string& name, bool noFollow,
                  std::int64_t limit);
    // The file is at least size bytes long; what was never written reads as zeros.
    void ExtendTo(std::int64_t size) { appendOffset_ = std::max(appendOffset_, size); }
    // Flushes, syncs and closes the temporary file: it is complete on disk.
    void Finish();
    // From now on the temporary file is kept on every way out: a commit
    // record names it, and whoever completes that record renames it.
    void HandOver() noexcept { handedOver_ = true; }
    // Renames the finished temporary file over the target.
    void RenameIntoPlace();
    // Finish(), RenameIntoPlace(), then syncs the folder.
    void Commit();
    // Removes the temporary file now; the target is left untouched.
    void Discard() noexcept;

private:
    void Create();
    void FlushBuffer();
    std::int64_t CopyThroughBuffer(std::intptr_t from, const std::string& fromPath,
                                   std::int64_t done, std::int64_t offset, std::int64_t limit);
    [[noreturn]] void Fail(int osError, const char* action);

    std::string target_;  // the target's path, for messages
    std::string name_;    // the target's name in its folder
    std::string tempName_;
    std::unique_ptr<Folder> ownFolder_;  // the folder, when the writer opened it itself
    const Folder* folder_ = nullptr;
    NativeHandle handle_;
    std::string buffer_;
    std::int64_t appendOffset_ = 0;
    bool finished_ = false;
    bool renamed_ = false;
    bool handedOver_ = false;
    bool kernelCopy_ = true;  // until the system refuses to copy in the kernel
    std::vector<char> copyBuffer_;
};

// Copies the file from of the folder over to in the same folder, through a
// temporary file, a megabyte at a time; throws IoError naming what failed.
void CopyFileAt(const Folder& folder, const std::string& from, const std::string& to);

// Tries a name of the folder as the target of a file that replaces it:
// throws IoError ("Cannot create PATH" and the cause) where a folder stands
// or a file the user may not write, which stays as it is.
void TryReplacing(const Folder& folder, const std::string& name);

// Writes a file in an open folder through a temporary file renamed over it:
// the name holds either its old file or the whole new one, a link there is
// replaced, and a file there keeps its mode (one we may not write is not
// replaced: TryReplacing's rule). Not synced on POSIX (the caller syncs the file system once for
// many files with SyncFileSystemOf); flushed file by file on Windows.
void WriteFileThroughRename(const Folder& folder, const std::string& name, std::string_view bytes);

// The temporary files of this program are named "." + target + ".tmp-" and
// digits, in the target's folder. The target's name, or empty for any other name.
std::string TargetOfTemporary(std::string_view fileName);
// Removes the temporary files in the folder whose targets isOurs accepts:
// the leftovers of a run that was killed. Returns how many were removed.
int RemoveLeftoverTemporaries(const Folder& folder,
                              const std::function<bool(const std::string&)>& isOurs);

// The names in the folder that end with suffix.
std::vector<std::string> NamesEndingWith(const Folder& folder, std::string_view suffix);
// Every name in the folder but "." and ".." (and the lock file Windows needs).
std::vector<std::string> NamesIn(const Folder& folder);

// Renames a name of the folder over another, as one step; throws IoError
// naming the target. The caller syncs the folder.
void RenameAt(const Folder& folder, const std::string& from, const std::string& to);
// Removes a name of the folder; a name that is gone already is no failure.
void RemoveAt(const Folder& folder, const std::string& name);

// Writes everything of the file system that holds the folder to disk: one
// call instead of one per file, after many files were written (Windows,
// which has no such call for a user, flushes each file as it is written).
void SyncFileSystemOf(const Folder& folder);

// An exclusive lock on a folder, held while a command writes in it, so that
// two commands never interleave on one folder: flock on the folder itself on
// POSIX, LockFileEx on its lock file ".tamrel-lock" on Windows.
enum class LockResult { Locked, InUse, Failed };
// Tries once, without waiting; the lock lasts while the folder stays open.
// error is set when it failed.
LockResult LockFolder(Folder& folder, int& error);
// The name of the file that carries a folder's lock where the OS cannot lock
// a folder itself (Windows); no command counts it as one of the folder's files.
inline constexpr const char* kLockFileName = ".tamrel-lock";

// A lock on a folder by its path, for a holder that only locks: tests
// (tamrel_io_for_tests), standing in for a second program.
class FolderLock {
public:
    LockResult TryLock(const std::string& path);
    void Unlock() { folder_ = Folder(); }

private:
    Folder folder_;
};

// The path with every link resolved, or empty when it cannot be resolved.
std::string ResolvedPath(const std::string& path);
// A path as typed turned absolute and normalised by its text ("." and ".."
// taken as written, links not resolved), with no separator at its end but
// for a root.
std::string AbsolutePath(const std::string& typed);

// The program's arguments as UTF-8 (on Windows from the wide command line,
// whatever the code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// True when the program's standard error goes to a terminal (where a
// progress line can be drawn and redrawn).
bool StandardErrorIsTerminal();
// Writes UTF-8 text to stdout or stderr as the user's console shows it: as
// is on POSIX; on Windows through the console's wide output when the stream
// is a console, else as UTF-8 bytes with lines ended as on Linux.
void WriteText(std::FILE* stream, std::string_view text);
// Flushes what WriteText buffered for the stream.
void FlushText(std::FILE* stream);
// Flushes and closes standard output before the program ends, as GNU tools
// do, so that output lost on a full disk or a closed pipe is not taken for
// success: 0, or the cause of the first write that failed.
int CloseStandardOutput();

}  // namespace tamrel
