// The block structure of a stream, read and written in one place: where a
// stream's bytes come from, each block's 8-byte preamble (its id and size,
// in the byte order rule the caller names), the header's list of tags, and
// the table of channel offsets at the start of a data block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/Bytes.h"
#include "io/FileIo.h"

namespace tamrel {

// Every block of a stream starts with its 4-byte id and its u32 size (which
// counts these 8 bytes).
inline constexpr std::uint32_t kBlockPreamble = 8;

// Where a stream's bytes come from: the archive in memory or a stream file,
// read a few bytes at a time.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies up to size bytes from offset into out; returns how many there were.
    virtual std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const override;

private:
    std::string_view bytes_;
};

// A stream file, opened for reading. The readers ask for a few bytes per
// block; the file is read a megabyte at a time (or whole, when smaller)
// and their bytes are cut from that, so that a stream of 100,000 blocks
// costs a hundred reads, not 100,000.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) : file_(path) {}
    // The file name in an open folder.
    FileSource(const Folder& folder, const std::string& name) : file_(folder, name) {}
    bool IsOpen() const { return file_.IsOpen(); }
    int OpenError() const { return file_.OpenError(); }
    std::uint64_t Size() const override { return static_cast<std::uint64_t>(file_.RawSize()); }
    std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const override;

private:
    InputFile file_;
    // The bytes last read, from windowStart_ on.
    mutable std::string window_;
    mutable std::uint64_t windowStart_ = 0;
};
// The least a FileSource reads at once.
inline constexpr std::size_t kReadWindow = 1 << 20;

// How a block's size is read.
enum class BlockSizeRule {
    // Little-endian; a size above 0xF00000 read so is big-endian (some early
    // Saturn and Mac files store it so), as the stream's own reader takes it.
    EitherOrder,
    // Little-endian, and at most kLargestSmallBlock: the rule of the walk that
    // tells a chance "SCHl" inside a stream from a stream's start, which
    // must never take audio bytes for a huge block.
    LittleEndianSmall,
};
inline constexpr std::uint32_t kLargestSmallBlock = 0xFFFFF;

struct BlockPreamble {
    unsigned char id[4] = {};
    std::uint32_t size = 0;  // the whole block's, these 8 bytes included
    bool Is(const char* name) const {
        return id[0] == name[0] && id[1] == name[1] && id[2] == name[2] && id[3] == name[3];
    }
};

// The preamble at at: nothing when fewer than 8 bytes are there, or (by the
// small rule) when the size is beyond it.
std::optional<BlockPreamble> ReadPreamble(std::string_view bytes, std::uint64_t at,
                                          BlockSizeRule rule);
std::optional<BlockPreamble> ReadPreamble(const ByteSource& source, std::uint64_t at,
                                          BlockSizeRule rule);

// One entry of a header's tag list.
struct HeaderTag {
    enum class Kind {
        Value,   // a tag with a value
        Marker,  // 0xFC or 0xFD: a section marker, no value
        Repeat,  // 0xFE: a further header that repeats this one follows
        End,     // 0xFF
    };
    Kind kind = Kind::End;
    unsigned char id = 0;
    std::string_view stored;  // Value: the length byte(s) and the value, as stored
    std::string_view value;   // Value: the value's bytes (big-endian)
};

// Walks the tags of a header's payload after "PT" and the platform: one
// byte tag, one length byte N (0xFF: a 4-byte big-endian length follows),
// then N bytes. Never reads outside the bytes.
class HeaderTags {
public:
    explicit HeaderTags(std::string_view tags) : tags_(tags) {}
    // The next entry; false at the end of the bytes or where a tag runs past
    // them (Truncated() says which).
    bool Next(HeaderTag& tag);
    bool Truncated() const { return truncated_; }

private:
    std::string_view tags_;
    std::size_t at_ = 0;
    bool truncated_ = false;
};

// A tag's value as a number, for values of at most four bytes.
std::optional<std::uint32_t> TagNumber(std::string_view value);

// A whole block: the id, the size, and the payload padded to a multiple of
// four bytes.
std::string MakeBlock(const char* id, std::string payload);

// A loop in a stream's samples: [start, end).
struct SampleLoop {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// What a rewritten header block changes: the sample count (tag 0x85; kept
// as it is stored with keepCount), the loop where there is one (tags 0x86 and
// 0x87, the last stored inclusively; without one, the old loop tags are kept,
// or with dropLoop left out), and tags written anew in place of the old ones
// with their ids.
struct HeaderChanges {
    std::uint32_t samples = 0;
    std::optional<SampleLoop> loop;
    std::vector<std::pair<int, std::string>> newTags;
    bool keepCount = false;
    bool dropLoop = false;
};

// The header block of oldHeader (headerSize bytes, preamble included) with
// its platform and tags, as changes says. A repeated header or damage ends
// the copy of the tags.
std::string RewriteHeader(std::string_view oldHeader, std::uint32_t headerSize,
                          const HeaderChanges& changes);

// A data block's payload starts with its sample count. From version 1 on a
// table follows it: one u32 per channel, the channel's start counted from
// the table's end.
inline constexpr std::size_t kBlockCountBytes = 4;
inline std::size_t ChannelTableEnd(std::size_t channels) {
    return kBlockCountBytes + 4 * channels;
}
// Where each channel's bytes start in the payload; nothing when the table
// runs past it. The starts are not checked against the payload's size.
std::optional<std::vector<std::size_t>> ReadChannelStarts(std::string_view payload,
                                                          std::size_t channels, bool bigEndian);
// Appends each channel's run to payload (which holds the count), after the
// table of their offsets when table is true.
void AppendChannelRuns(std::string& payload, const std::vector<std::string>& runs, bool table,
                       bool bigEndian);
// Appends a table whose every channel starts at offset.
void AppendSharedStart(std::string& payload, std::size_t channels, std::uint32_t offset,
                       bool bigEndian);

}  // namespace tamrel
