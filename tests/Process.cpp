#include "Process.h"

#include "TestFiles.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>

#include <cstdlib>
#endif

namespace tamrel::test {

std::string HostPath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path.front() == '/') {
        std::string windows = "Z:" + path;
        for (char& c : windows)
            if (c == '/')
                c = '\\';
        return windows;
    }
#endif
    return path;
}

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

HANDLE Inheritable(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::string& arguments,
                         const std::string& outFile, const std::string& errFile,
                         const std::string& folder) {
    HANDLE out = Inheritable(outFile), err = Inheritable(errFile);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring line = L"\"" + Wide(HostPath(program)) + L"\" " + Wide(arguments);
    PROCESS_INFORMATION process{};
    const std::wstring where = Wide(folder);
    ProgramResult result;
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         folder.empty() ? nullptr : where.c_str(), &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.status = static_cast<int>(code);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    result.out = ReadFileBytes(outFile);
    result.err = ReadFileBytes(errFile);
    return result;
}

#else

ProgramResult RunProgram(const std::string& program, const std::string& arguments,
                         const std::string& outFile, const std::string& errFile,
                         const std::string& folder) {
    const std::string cd = folder.empty() ? "" : "cd '" + folder + "' && ";
    const std::string command =
        cd + program + " " + arguments + " >'" + outFile + "' 2>'" + errFile + "'";
    const int raw = std::system(command.c_str());
    ProgramResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFileBytes(outFile);
    result.err = ReadFileBytes(errFile);
    return result;
}

#endif

}  // namespace tamrel::test
