#include "archive/folder/StreamSources.h"

#include <cstring>

#include "archive/folder/WorkFolder.h"
#include "io/FileIo.h"
#include "table/CellNumber.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"

namespace tamrel {

std::string RowNameRefusal(const std::string& name) {
    if (name.empty())
        return "the table names no stream file";
    if (!IsPlainFileName(name))
        return "the table names " + name + ", which is not a file of the work folder";
    return {};
}

std::optional<std::int64_t> ChangedSize(std::int64_t fileSize, const std::string& sizeCell) {
    const auto tableSize = ParseCellNumber(sizeCell);
    if (std::to_string(fileSize) == sizeCell ||
        (tableSize && fileSize < *tableSize && *tableSize % 16 == 0 && *tableSize - fileSize < 16))
        return std::nullopt;
    return fileSize;
}

std::unique_ptr<FileSource> OpenRowStream(const Folder& work, const std::string& name,
                                          std::string& why) {
    if (std::string refusal = RowNameRefusal(name); !refusal.empty()) {
        why = std::move(refusal);
        return nullptr;
    }
    auto file = std::make_unique<FileSource>(work, name);
    if (!file->IsOpen()) {
        why = "the stream file " + work.PathOf(name) +
              " cannot be read: " + ErrorText(file->OpenError());
        return nullptr;
    }
    return file;
}

StreamSources::StreamSources(const StreamTable& table, const Folder& work)
    : table_(table), work_(&work) {}

StreamSources::StreamSources(const StreamTable& table, std::string archive)
    : table_(table), archive_(std::move(archive)) {}

const std::string& StreamSources::Name(std::int32_t row) const {
    return table_.CellText(kNameCol, row);
}

std::unique_ptr<ByteSource> StreamSources::Open(std::int32_t row, std::string& why) const {
    if (work_)
        return OpenRowStream(*work_, Name(row), why);
    const auto address = ParseCellNumber(table_.CellText(kAddressCol, row));
    const auto size = ParseCellNumber(table_.CellText(kSizeCol, row));
    if (!address || !size || std::uint64_t{*address} + *size > archive_.size()) {
        why = "its place in the archive cannot be read";
        return nullptr;
    }
    return std::make_unique<MemorySource>(std::string_view(archive_).substr(*address, *size));
}

}  // namespace tamrel
