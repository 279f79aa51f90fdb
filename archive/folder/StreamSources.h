// Where every reader finds a row's stream: in a work folder opened once, the
// row's name looked up in that folder and nowhere else; or in a pair's
// archive in memory. The console's list, check and export, Export and
// Replace from a folder, and the window's details, play and export all open
// a row's stream here, so that one rule decides what a table may make them
// read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio/Blocks.h"

namespace tamrel {

class Folder;
class StreamTable;

// Why a row's name cannot be read in its work folder ("the table names
// ../outside.asf, which is not a file of the work folder"), or empty for a
// plain file name of the folder.
std::string RowNameRefusal(const std::string& name);

// The size of a row's stream file where it is not the row's (the file was
// edited or replaced since the last Pack), or nothing. A file short of its
// row only by Pack's filling (the row's size a multiple of 16, and less
// than 16 bytes more) is the very stream the row describes.
std::optional<std::int64_t> ChangedSize(std::int64_t fileSize, const std::string& sizeCell);

// The stream file of a row, opened for reading through the work folder;
// nothing when the name is no plain file name or the file cannot be opened,
// with why then saying so.
std::unique_ptr<FileSource> OpenRowStream(const Folder& work, const std::string& name,
                                          std::string& why);

// The streams of a table's rows, from a work folder or a pair's archive.
class StreamSources {
public:
    // A work folder, which must stay open while this is used.
    StreamSources(const StreamTable& table, const Folder& work);
    // A pair: the bytes of its archive.
    StreamSources(const StreamTable& table, std::string archive);

    const StreamTable& Table() const { return table_; }
    const std::string& Name(std::int32_t row) const;

    // The stream of a row, or nothing (with why) when it cannot be read.
    std::unique_ptr<ByteSource> Open(std::int32_t row, std::string& why) const;

private:
    const StreamTable& table_;
    const Folder* work_ = nullptr;
    std::string archive_;
};

}  // namespace tamrel
