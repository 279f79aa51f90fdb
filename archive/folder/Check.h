// Comparing a pair with the work folder that describes it: what `check`
// reports after a Pack, and what the tests use to prove a Pack right.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamrel {

class Folder;
class StreamTable;

// Every difference between a pair and a work folder, one line each: the
// pair's table (as Unpack lists it, nothing written) against the folder's
// table file, and each stream's bytes in the archive against its stream file
// followed by nothing but zero padding, every file read through the opened
// folder. Empty when they match. Throws TableFileError when the folder's
// table file cannot be opened.
std::vector<std::string> ComparePairWithFolder(const StreamTable& pair, std::string_view archive,
                                               const Folder& folder);

}  // namespace tamrel
