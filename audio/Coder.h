// What the stream decoder and the block encoder ask of a codec's module:
// the samples of a data block, and a data block's payload for samples.
// Each codec's record (Codecs.h) makes its coders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/ConsoleAdpcm.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"

namespace tamrel {

// One data block's payload (after its preamble), with every read checked
// against its end; where names the block in errors.
class Payload {
public:
    Payload(std::string_view bytes, std::string where) : p_(bytes), where_(std::move(where)) {}

    std::size_t Size() const { return p_.size(); }
    std::string_view Bytes() const { return p_; }
    const unsigned char* At(std::size_t offset, std::size_t count, const char* what) const {
        if (offset > p_.size() || count > p_.size() - offset)
            Fail(std::string(what) + " ends beyond the block");
        return reinterpret_cast<const unsigned char*>(p_.data()) + offset;
    }
    std::uint32_t Uint32(std::size_t offset, bool bigEndian, const char* what) const;
    std::int16_t Int16(std::size_t offset, bool bigEndian, const char* what) const;
    // Each channel's start from the table of version 1 and later.
    std::vector<std::size_t> ChannelStarts(std::size_t channels, bool bigEndian) const;
    [[noreturn]] void Fail(const std::string& what) const {
        throw DecodeError(where_ + ": " + what);
    }
    const std::string& Where() const { return where_; }

private:
    std::string_view p_;
    std::string where_;
};

// Where a decoder gets the stream's data blocks.
class BlockFeed {
public:
    virtual ~BlockFeed() = default;
    // Data block k's payload; throws DecodeError where the stream ends inside it.
    virtual Payload Block(std::size_t k) = 0;
    // "The stream NAME, data block K (byte B)".
    virtual std::string Where(std::size_t k) const = 0;
};

class CodecDecoder {
public:
    virtual ~CodecDecoder() = default;
    // Data block k's samples into out: its count per channel, channels
    // interleaved. Throws DecodeError at damage.
    virtual void Decode(BlockFeed& feed, std::size_t k, std::vector<std::int16_t>& out) = 0;
};

// A codec whose blocks decode each from its own bytes (and the history
// carried from the block before).
class PerBlockDecoder : public CodecDecoder {
public:
    explicit PerBlockDecoder(const StreamInfo& info)
        : info_(info), channels_(static_cast<std::size_t>(info.channels)) {}
    void Decode(BlockFeed& feed, std::size_t k, std::vector<std::int16_t>& out) final;

protected:
    // count samples per channel into out (zeroed, channels interleaved).
    virtual void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) = 0;
    // Where the channels' bytes start: the table from version 1 on, else
    // all at the end of the count.
    std::vector<std::size_t> Starts(const Payload& block) const;
    bool HasTable() const { return info_.version >= 1; }

    const StreamInfo& info_;
    std::size_t channels_;
};

class CodecEncoder {
public:
    virtual ~CodecEncoder() = default;
    // One data block's payload, its count first, for count frames of
    // samples (channels interleaved; none when count is 0).
    virtual std::string Payload(const std::int16_t* samples, std::uint32_t count) = 0;
    // What the encoder still holds, as a last block whose count makes the
    // counts add up to total; nothing for most codecs.
    virtual std::optional<std::string> Flush(std::uint64_t total) {
        (void)total;
        return std::nullopt;
    }
    // The predictors fitted to the sound, one list per channel, before the
    // first block (for codecs whose record fits them).
    virtual void SetPredictors(const std::vector<std::vector<adpcm::PredictorPair>>& pairs) {
        (void)pairs;
    }
    // Tags the new header holds in place of the old ones of their ids.
    virtual std::vector<std::pair<int, std::string>> HeaderTags() const { return {}; }
    // The fewest bytes a sample of one channel takes.
    virtual double LeastBytesPerSample() const;

protected:
    explicit CodecEncoder(const StreamInfo& info, EncodeStats& stats)
        : info_(info), channels_(static_cast<std::size_t>(info.channels)), stats_(stats) {}
    // The count that starts every payload.
    std::string Count(std::uint32_t count) const;

    const StreamInfo& info_;
    std::size_t channels_;
    EncodeStats& stats_;
};

}  // namespace tamrel
