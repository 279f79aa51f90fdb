// Runs a program as a user's shell would, for the console's tests: its
// arguments split at spaces, stdout and stderr caught in files (so neither
// is a terminal), in a working folder when one is given. fork and a shell on
// POSIX; CreateProcessW on Windows.
#pragma once

#include <string>

namespace tamrel::test {

struct ProgramResult {
    int status = -1;  // the exit status; -1 when the program did not end normally
    std::string out, err;
};

ProgramResult RunProgram(const std::string& program, const std::string& arguments,
                         const std::string& outFile, const std::string& errFile,
                         const std::string& folder = {});

// A path of the build as the running test sees it (under wine, a Unix path
// of the build folder is reached through the Z: drive).
std::string HostPath(const std::string& path);

}  // namespace tamrel::test
