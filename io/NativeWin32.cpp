// io/'s calls on Windows: wide (UTF-16) calls with UTF-8 inside the program,
// long paths through "\\?\", and a folder pinned by a handle opened without
// delete sharing, so that it can be neither renamed nor removed while a
// command works in it by paths below it.
#include <windows.h>
// After windows.h, which the rest need first.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "io/Native.h"

namespace tamrel::native {

namespace {

HANDLE H(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Handle FromH(HANDLE handle) {
    return reinterpret_cast<Handle>(handle);
}

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                          nullptr, nullptr);
    return utf8;
}

// Win32's error as the errno value the rest of the program knows, so that
// messages read as they do on Linux.
int Errno(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EIO;
    }
}

int LastErrno() {
    return Errno(::GetLastError());
}

// The path for Win32's wide calls: absolute, backslashes only, and with the
// "\\?\" prefix that lifts the 259-character limit.
std::wstring LongPath(const std::string& path) {
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    if (wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
        std::wstring full(n, L'\0');
        const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
        full.resize(got);
        wide = full;
    }
    if (wide.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

// The name in the folder, or the path itself without a folder.
std::wstring PathIn(const Folder* folder, const std::string& name) {
    if (!folder)
        return LongPath(name);
    std::wstring path = LongPath(folder->Path());
    if (!path.empty() && path.back() != L'\\')
        path.push_back(L'\\');
    return path + Wide(name);
}

int FillFacts(HANDLE handle, Facts& facts) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information))
        return LastErrno();
    const DWORD attributes = information.dwFileAttributes;
    facts.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? Facts::Kind::Link
                 : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? Facts::Kind::Folder
                                                             : Facts::Kind::File;
    if (facts.kind == Facts::Kind::File && ::GetFileType(handle) != FILE_TYPE_DISK)
        facts.kind = Facts::Kind::Other;
    facts.size = static_cast<std::int64_t>((std::uint64_t{information.nFileSizeHigh} << 32) |
                                           information.nFileSizeLow);
    facts.identity = {
        information.dwVolumeSerialNumber,
        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
    return 0;
}

}  // namespace

int Close(Handle handle) {
    return ::CloseHandle(H(handle)) ? 0 : LastErrno();
}

int OpenFolder(const std::string& path, Handle& folder) {
    // Without delete sharing: the folder stays where it is while it is open.
    HANDLE handle =
        ::CreateFileW(LongPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    Facts facts;
    if (FillFacts(handle, facts) != 0 || facts.kind == Facts::Kind::File) {
        ::CloseHandle(handle);
        return ENOTDIR;
    }
    folder = FromH(handle);
    return 0;
}

int OpenForReading(const Folder* folder, const std::string& name, bool noFollow, Handle& file,
                   Facts& facts) {
    const std::wstring path = PathIn(folder, name);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(noFollow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        return EISDIR;
    HANDLE handle = ::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    if (const int error = FillFacts(handle, facts)) {
        ::CloseHandle(handle);
        return error;
    }
    if (facts.kind != Facts::Kind::File) {
        ::CloseHandle(handle);
        return facts.kind == Facts::Kind::Link     ? ELOOP
               : facts.kind == Facts::Kind::Folder ? EISDIR
                                                   : ENODEV;
    }
    file = FromH(handle);
    return 0;
}

int OpenToCopy(const Folder& folder, const std::string& name, bool noFollow, Handle& file) {
    Facts facts;
    return OpenForReading(&folder, name, noFollow, file, facts);
}

int CreateNew(const Folder& folder, const std::string& name, int, Handle& file) {
    HANDLE handle = ::CreateFileW(PathIn(&folder, name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    file = FromH(handle);
    return 0;
}

int CheckReplaceable(const Folder& folder, const std::string& name, int&) {
    const DWORD attributes = ::GetFileAttributesW(PathIn(&folder, name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;  // nothing there, or a link, which is replaced
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return EACCES;
    return 0;
}

int SetMode(Handle, int) {
    return 0;  // Windows files have no such modes
}

int FactsOf(Handle handle, Facts& facts) {
    return FillFacts(H(handle), facts);
}

int FactsAt(const Folder* folder, const std::string& name, bool follow, Facts& facts) {
    facts = Facts{};
    HANDLE handle = ::CreateFileW(
        PathIn(folder, name).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const int error = LastErrno();
        return error == ENOENT ? 0 : error;
    }
    const int error = FillFacts(handle, facts);
    ::CloseHandle(handle);
    return error;
}

std::int64_t ReadAt(Handle file, char* data, std::size_t size, std::uint64_t offset, int* error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(H(file), data, chunk, &done, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        *error = LastErrno();
        return -1;
    }
    return done;
}

std::int64_t WriteAt(Handle file, const char* data, std::size_t size, std::int64_t offset,
                     int* error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD done = 0;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(H(file), data, chunk, &done, &at)) {
        *error = LastErrno();
        return -1;
    }
    return done;
}

std::int64_t CopyRange(Handle, std::uint64_t, Handle, std::int64_t, std::size_t, int* error) {
    // CopyFileEx copies whole files only: the copy goes through a buffer.
    *error = ENOSYS;
    return -1;
}

int Flush(Handle file) {
    return ::FlushFileBuffers(H(file)) ? 0 : LastErrno();
}

int Truncate(Handle file, std::int64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = size;
    if (!::SetFilePointerEx(H(file), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(H(file)))
        return LastErrno();
    return 0;
}

namespace {

// A file another program holds open (an antivirus, an indexer, a player)
// refuses to be renamed over or removed: Windows says sharing violation, or
// access denied for a file that is not read-only. Such holders mostly let
// go within moments, so the call is tried again for about a second before
// the file is said to be in use (EBUSY).
template <typename Call>
int RetriedWhileInUse(const std::wstring& held, Call call) {
    constexpr int kTries = 20;
    constexpr DWORD kPauseMs = 50;
    for (int attempt = 1;; ++attempt) {
        if (call())
            return 0;
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(held.c_str());
        const bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                           (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                            !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)));
        if (!inUse)
            return Errno(error);
        if (attempt == kTries)
            return EBUSY;
        ::Sleep(kPauseMs);
    }
}

}  // namespace

int Rename(const Folder& folder, const std::string& from, const std::string& to) {
    // Through to the disk before it returns: Windows has no folder sync.
    const std::wstring target = PathIn(&folder, to);
    return RetriedWhileInUse(target, [&] {
        return ::MoveFileExW(PathIn(&folder, from).c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

int Remove(const Folder& folder, const std::string& name) {
    const std::wstring path = PathIn(&folder, name);
    return RetriedWhileInUse(path, [&] { return ::DeleteFileW(path.c_str()) != 0; });
}

std::string ErrorText(int error) {
    // Windows' sharing violation, as a user would say it.
    if (error == EBUSY)
        return "it is in use by another program";
    return std::generic_category().message(error);
}

int SyncFolder(const Folder&) {
    return 0;  // renames are written through
}

int SyncFileSystem(const Folder&) {
    return 0;  // each file was flushed as it was written
}

bool FlushEachFile() {
    return true;
}

int List(const Folder& folder, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileExW(PathIn(&folder, "*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : Errno(error);
    }
    do {
        names.push_back(Utf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return 0;
}

int MakeFolder(const std::string& path) {
    const std::wstring full = LongPath(path);
    if (::CreateDirectoryW(full.c_str(), nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    // Windows says "path not found" where a file stands in for the parent
    // folder; POSIX's "not a directory" tells the user what is wrong.
    if (error == ERROR_PATH_NOT_FOUND) {
        const auto cut = full.find_last_of(L'\\');
        const DWORD parent = ::GetFileAttributesW(full.substr(0, cut).c_str());
        if (cut != std::wstring::npos && parent != INVALID_FILE_ATTRIBUTES &&
            !(parent & FILE_ATTRIBUTE_DIRECTORY))
            return ENOTDIR;
    }
    return Errno(error);
}

int LockExclusive(Folder& folder) {
    // A folder handle cannot be locked: its lock file can, and is kept.
    HANDLE handle =
        ::CreateFileW(PathIn(&folder, kLockFileName).c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    OVERLAPPED whole{};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &whole)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                          : Errno(error);
    }
    folder.LockHandle() = NativeHandle(FromH(handle));
    return 0;
}

std::string Resolved(const std::string& path) {
    HANDLE handle = ::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED);
    ::CloseHandle(handle);
    if (n == 0 || n >= 32768)
        return {};
    std::wstring result(buffer, n);
    if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
        result = L"\\\\" + result.substr(8);
    else if (result.rfind(L"\\\\?\\", 0) == 0)
        result = result.substr(4);
    return Utf8(result);
}

std::string Absolute(const std::string& typed) {
    std::wstring wide = Wide(typed);
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
        std::wstring full(n, L'\0');
        full.resize(::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr));
        wide = full;
    }
    // No separator at the end, but for a root ("C:\", "\\server\share\").
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/'))
        wide.pop_back();
    return Utf8(wide);
}

std::vector<std::string> Arguments(int, char**) {
    // The narrow arguments are in the ANSI code page: the wide command line
    // holds every name as typed.
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void Write(std::FILE* stream, std::string_view text) {
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        // The progress line erases itself with a terminal's escape sequence.
        if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        std::fflush(stream);
        const std::wstring wide = Wide(text);
        DWORD written = 0;
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    // To a file or a pipe: UTF-8, lines ended as on Linux.
    static bool binary[3] = {false, false, false};
    const int fd = ::_fileno(stream);
    if (fd >= 0 && fd < 3 && !binary[fd]) {
        std::fflush(stream);
        ::_setmode(fd, _O_BINARY);
        binary[fd] = true;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

int LibraryDescriptor(Handle file) {
    // A file object of its own, not a duplicate handle: a duplicate shares
    // the file position, and the positional reads of io/ move it on Windows,
    // which would pull the library's reads elsewhere. Reopening the handle
    // reaches the same file even if its name has changed since.
    HANDLE copy = ::ReOpenFile(H(file), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (copy == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        ::CloseHandle(copy);
    return fd;
}

void CloseLibraryDescriptor(int descriptor, Handle) {
    ::_close(descriptor);
}

}  // namespace tamrel::native
