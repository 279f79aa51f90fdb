// Every name that Unpack and Pack derive: Unpack's from the file the user
// picks, Pack's from the folder the user picks. For a folder that Unpack made,
// Pack's names meet the table file and bank image that Unpack wrote there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/Path.h"

namespace tamrel {

struct UnpackNames {
    std::string bank;        // the picked file with the extension ".abk"
    std::string archive;     // the picked file with the extension ".ast"
    std::string baseName;    // the picked file's name without extension
    std::string workFolder;  // beside the pair: base name followed by "_"
    std::string bankImage;   // in the work folder: base name followed by "_.ida"
    std::string tableFile;   // in the work folder: base name followed by "_.tba"
};

UnpackNames UnpackNamesFor(std::string_view pickedFile, PathStyle style = NativePathStyle());

// The stream file's name of stream k, as the "Name" column holds it:
// base name, "_", k with at least five digits, ".asf".
std::string StreamFileName(std::string_view baseName, std::int32_t k);

struct PackNames {
    std::string folderName;  // the picked folder's own name, taken whole
    // The four outputs' names in their folders: the folder's own table file
    // and bank image, and the new pair beside the folder.
    std::string tableFileName, bankImageName, newArchiveName, newBankName;
    std::string tableFile;     // in the folder: folder name followed by ".tba"
    std::string bankImage;     // in the folder: folder name followed by ".ida"
    std::string newArchive;    // beside the folder: folder name followed by ".ast"
    std::string newBank;       // beside the folder: folder name followed by ".abk"
    std::string parentFolder;  // the folder that holds it
};

PackNames PackNamesFor(std::string_view pickedFolder, PathStyle style = NativePathStyle());

// True when name is a file of a folder itself: no separator, not "." or
// "..". A table's names are looked up in the work folder only; nothing
// above or below it may be read or written for a row.
bool IsPlainFileName(std::string_view name);

}  // namespace tamrel
