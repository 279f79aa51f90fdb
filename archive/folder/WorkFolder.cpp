#include "archive/folder/WorkFolder.h"

#include <cstdio>

namespace tamrel {

UnpackNames UnpackNamesFor(std::string_view pickedFile, PathStyle style) {
    UnpackNames names;
    names.bank = ChangeExtension(pickedFile, ".abk", style);
    names.archive = ChangeExtension(pickedFile, ".ast", style);
    const std::string fileName = FileNamePart(pickedFile, style);
    names.baseName = ChangeExtension(fileName, "", style);
    names.workFolder = ChangeExtension(pickedFile, "", style) + "_";
    names.bankImage = JoinPath(names.workFolder, ChangeExtension(fileName, "_.ida", style), style);
    names.tableFile = JoinPath(names.workFolder, ChangeExtension(fileName, "_.tba", style), style);
    return names;
}

std::string StreamFileName(std::string_view baseName, std::int32_t k) {
    char number[16];
    std::snprintf(number, sizeof number, "%.5d", static_cast<int>(k));
    std::string name(baseName);
    name.push_back('_');
    name.append(number);
    name.append(".asf");
    return name;
}

namespace {

// A directory part as a folder path: its separator dropped but for a root,
// "." for a path without one.
std::string AsFolderPath(const std::string& directory, PathStyle style) {
    const bool root = directory.size() == 1 ||
                      (style == PathStyle::Windows && directory.size() == 3 && directory[1] == ':');
    if (directory.empty())
        return std::string(1, '.');
    if (root)
        return directory;
    return directory.substr(0, directory.size() - 1);
}

}  // namespace

PackNames PackNamesFor(std::string_view pickedFolder, PathStyle style) {
    PackNames names;
    names.folderName = FileNamePart(pickedFolder, style);
    names.tableFileName = names.folderName + ".tba";
    names.bankImageName = names.folderName + ".ida";
    names.newArchiveName = names.folderName + ".ast";
    names.newBankName = names.folderName + ".abk";
    names.tableFile = JoinPath(pickedFolder, names.tableFileName, style);
    names.bankImage = JoinPath(pickedFolder, names.bankImageName, style);
    const std::string parent = DirectoryPart(pickedFolder, style);
    names.newArchive = parent + names.newArchiveName;
    names.newBank = parent + names.newBankName;
    names.parentFolder = AsFolderPath(parent, style);
    return names;
}

bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name.find_first_of("/\\") == std::string_view::npos && name != "." &&
           name != "..";
}

}  // namespace tamrel
