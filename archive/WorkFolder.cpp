#include "archive/WorkFolder.h"

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

PackNames PackNamesFor(std::string_view pickedFolder, PathStyle style) {
    PackNames names;
    names.folderName = FileNamePart(pickedFolder, style);
    names.tableFile = JoinPath(pickedFolder, names.folderName + ".tba", style);
    names.bankImage = JoinPath(pickedFolder, names.folderName + ".ida", style);
    const std::string parent = DirectoryPart(pickedFolder, style);
    names.newArchive = parent + names.folderName + ".ast";
    names.newBank = parent + names.folderName + ".abk";
    return names;
}

}  // namespace tamrel
