// The operating system's calls behind io/'s interface, one implementation
// per system (NativePosix.cpp, NativeWin32.cpp). Every call returns 0 or the
// cause as an errno value (Win32's errors mapped to them, so that messages
// read the same on both systems); io/ alone includes this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/FileIo.h"

namespace tamrel::native {

using Handle = std::intptr_t;
inline constexpr Handle kNone = -1;

// What an open handle or a name is.
struct Facts {
    enum class Kind { Missing, File, Link, Folder, Other } kind = Kind::Missing;
    std::int64_t size = 0;
    FileIdentity identity;
};

int Close(Handle handle);

// A folder by its path, for what io/ does in it.
int OpenFolder(const std::string& path, Handle& folder);
// For reading: the name in the folder (or a path, folder null); refuses
// anything but a regular file with EISDIR or ENODEV, a link with ELOOP
// under noFollow, and never waits on a pipe.
int OpenForReading(const Folder* folder, const std::string& name, bool noFollow, Handle& file,
                   Facts& facts);
// The same for a file that is only copied and whose size is known already:
// no second look at it (POSIX), so a copy costs one look per file; what is
// not a regular file fails at the copy instead.
int OpenToCopy(const Folder& folder, const std::string& name, bool noFollow, Handle& file);
// A new file of that name in the folder, for writing; EEXIST when there is one.
int CreateNew(const Folder& folder, const std::string& name, int mode, Handle& file);
// Where a file replaces the name: EISDIR for a folder, EACCES for a file the
// user made read-only; mode is the old file's, to keep.
int CheckReplaceable(const Folder& folder, const std::string& name, int& mode);
int SetMode(Handle file, int mode);

int FactsOf(Handle handle, Facts& facts);
// The name in the folder (or a path, folder null); a missing name is Missing, not an error.
int FactsAt(const Folder* folder, const std::string& name, bool follow, Facts& facts);

// Positioned reads and writes: the bytes moved, or -1 with *error set.
std::int64_t ReadAt(Handle file, char* data, std::size_t size, std::uint64_t offset, int* error);
std::int64_t WriteAt(Handle file, const char* data, std::size_t size, std::int64_t offset,
                     int* error);
// Copies up to size bytes between two files in the kernel: the bytes moved
// (0 at the end of from), or -1 with *error set (ENOSYS where the system
// has no such copy).
std::int64_t CopyRange(Handle from, std::uint64_t fromOffset, Handle to, std::int64_t toOffset,
                       std::size_t size, int* error);
int Flush(Handle file);
int Truncate(Handle file, std::int64_t size);

int Rename(const Folder& folder, const std::string& from, const std::string& to);
int Remove(const Folder& folder, const std::string& name);
int SyncFolder(const Folder& folder);
int SyncFileSystem(const Folder& folder);
// Whether WriteFileThroughRename must flush each file (no file-system sync).
bool FlushEachFile();
int List(const Folder& folder, std::vector<std::string>& names);
int MakeFolder(const std::string& path);
// 0 when locked, EWOULDBLOCK when another holds it, else the cause.
int LockExclusive(Folder& folder);

// The cause as a message says it.
std::string ErrorText(int error);

std::string Resolved(const std::string& path);
std::string Absolute(const std::string& typed);
std::vector<std::string> Arguments(int argc, char** argv);
bool StderrIsTerminal();
void Write(std::FILE* stream, std::string_view text);
// A C runtime descriptor for the open file (closed by CloseLibraryDescriptor).
int LibraryDescriptor(Handle file);
void CloseLibraryDescriptor(int descriptor, Handle file);

}  // namespace tamrel::native
