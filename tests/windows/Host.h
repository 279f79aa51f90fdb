// Helpers of the tests that run on Linux and drive the Windows programs
// under wine beside the Linux ones.
#pragma once

#include <map>
#include <string>

namespace tamrel::test {

// Every file below folder but the Windows lock file, by its path below it.
using Files = std::map<std::string, std::string>;
Files FilesIn(const std::string& folder);

// argument quoted for the shell, as one word.
std::string Quoted(const std::string& argument);

}  // namespace tamrel::test
