#include "audio/StreamInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/ConsoleAdpcm.h"
#include "audio/Mpeg.h"
#include "audio/Platform.h"

namespace tamrel {

namespace {

bool IsBigEndianPlatform(int platform) {
    switch (platform) {
        case kN64:
        case kMac:
        case kSaturn:
        case kGameCube:
        case kXbox360:
        case kPs3:
        case kWii:
        case kGeneric:
            return true;
        default:
            return false;
    }
}

int DefaultVersion(int platform) {
    switch (platform) {
        case kPs2:
            return 1;
        case kGameCube:
        case kXbox:
        case kGeneric:
            return 2;
        case kXbox360:
        case kPsp:
        case kPs3:
        case kWii:
        case k3ds:
            return 3;
        default:
            return 0;
    }
}

int DefaultRate(int platform) {
    switch (platform) {
        case kGeneric:
            return 48000;
        case kGameCube:
        case kXbox:
            return 24000;
        case kXbox360:
        case kPs3:
            return 44100;
        case kWii:
        case k3ds:
            return 32000;
        default:
            return 22050;
    }
}

// The header's tags, as read from its payload.
struct Tags {
    int platform = 0;
    std::optional<std::uint32_t> value[256];
    std::vector<std::string> coefficients = std::vector<std::string>(std::size(kCoefficientTags));
};

// Reads "PT", the platform and the tags; false when the payload is no header.
bool ReadTags(const std::string& payload, Tags& tags, std::vector<StreamProblem>& problems) {
    const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
    if (payload.size() < 4 || p[0] != 'P' || p[1] != 'T')
        return false;
    tags.platform = p[2] | p[3] << 8;
    HeaderTags walk(std::string_view(payload).substr(4));
    HeaderTag tag;
    while (walk.Next(tag)) {
        // The end, or a further header that repeats this one.
        if (tag.kind == HeaderTag::Kind::End || tag.kind == HeaderTag::Kind::Repeat)
            return true;
        if (tag.kind != HeaderTag::Kind::Value)
            continue;
        if (const auto number = TagNumber(tag.value))
            tags.value[tag.id] = number;
        // Coefficients are read by their length, not as a number.
        const auto* c = std::find(std::begin(kCoefficientTags), std::end(kCoefficientTags), tag.id);
        if (c != std::end(kCoefficientTags))
            tags.coefficients[static_cast<std::size_t>(c - std::begin(kCoefficientTags))] =
                tag.value;
    }
    problems.push_back({StreamProblem::Kind::Damage, "the header ends inside a tag"});
    return true;
}

}  // namespace

std::vector<std::string> StreamInfo::ProblemTexts() const {
    std::vector<std::string> texts;
    for (const StreamProblem& problem : problems)
        texts.push_back(problem.text);
    return texts;
}

bool StreamInfo::HasProblem(StreamProblem::Kind kind) const {
    return std::any_of(problems.begin(), problems.end(),
                       [kind](const StreamProblem& p) { return p.kind == kind; });
}

bool StreamInfo::Playable() const {
    return DecodeVerdict(*this, {}).ok;
}

bool StreamInfo::Encodable() const {
    return EncodeVerdict(*this, {}).ok;
}

double StreamInfo::Duration() const {
    return sampleRate > 0 ? static_cast<double>(samples) / sampleRate : 0.0;
}

namespace {

// The stream's format from its header's tags, by the real-file rules.
void DecideFormat(const Tags& tags, StreamInfo& info) {
    info.platform = tags.platform;
    info.bigEndian = IsBigEndianPlatform(info.platform);
    info.version =
        tags.value[0x80] ? static_cast<int>(*tags.value[0x80]) : DefaultVersion(info.platform);
    info.bitsPerSample = tags.value[0x81] ? static_cast<int>(*tags.value[0x81]) : 16;
    info.channels = tags.value[0x82] ? std::int64_t{*tags.value[0x82]} : 1;
    info.sampleRate =
        tags.value[0x84] ? std::int64_t{*tags.value[0x84]} : DefaultRate(info.platform);
    info.headerSamples = tags.value[0x85];
    info.loopStart = tags.value[0x86];
    if (tags.value[0x87])
        info.loopEnd = std::uint64_t{*tags.value[0x87]} + 1;  // the format stores the last sample
    CodecContext context{info.platform, info.version, info.bigEndian, info.bitsPerSample};
    if (tags.value[0xA0]) {
        info.codecValue = static_cast<int>(*tags.value[0xA0]);
        info.codec = CodecOfTag(info.codecValue, context);
    } else if (tags.value[0x83] || info.version == 0) {
        int early = -1;
        if (tags.value[0x83])
            early = static_cast<int>(*tags.value[0x83]);
        else if (info.platform == kPc || info.platform == kMac || info.platform == kSaturn)
            early = 0;
        else if (info.platform == kPsx)
            early = 6;
        else if (info.platform == kN64)
            early = 5;
        context.early = true;
        info.codec = early < 0 ? DefaultCodecOf(context) : CodecOfTag(early, context);
        if (info.codec == Codec::Other)
            info.codecValue = early;
    } else {
        info.codec = DefaultCodecOf(context);
    }
    if (info.channels < 1 || info.channels > kMaxStreamChannels)
        info.problems.push_back({StreamProblem::Kind::Implausible,
                                 "the header declares " + std::to_string(info.channels) +
                                     " channels, which no stream can have"});
    if (info.sampleRate < kMinStreamRate || info.sampleRate > kMaxStreamRate)
        info.problems.push_back({StreamProblem::Kind::Implausible,
                                 "the header declares " + std::to_string(info.sampleRate) +
                                     " Hz, which no stream can have"});
}

// Reads a data block's or SCCl's first u32, in the codec's byte order.
std::optional<std::uint32_t> FirstNumber(const ByteSource& source, std::uint64_t at,
                                         std::uint32_t blockSize, bool bigEndian) {
    unsigned char count[4] = {};
    if (blockSize < kBlockPreamble + 4 ||
        source.ReadAt(at + kBlockPreamble, reinterpret_cast<char*>(count), 4) != 4)
        return std::nullopt;
    return ReadUint32(count, bigEndian);
}

// PS-ADPCM: a block holds its whole frames, as players read it (they ignore
// its count); the stream's total, where the header gives it, ends the last.
std::uint32_t PsBlockSamples(const StreamInfo& info, std::uint32_t blockSize) {
    if (info.channels < 1 || info.channels > kMaxStreamChannels)
        return 0;
    const auto channels = static_cast<std::uint64_t>(info.channels);
    // After the count, the table from version 1 on, else four unused bytes.
    const std::uint64_t table =
        kBlockPreamble + (info.version >= 1 ? ChannelTableEnd(channels) : kBlockCountBytes + 4);
    const std::uint64_t data = blockSize > table ? blockSize - table : 0;
    std::uint64_t samples = data / channels / adpcm::kPsFrameBytes * adpcm::kPsFrameSamples;
    if (info.headerSamples)
        samples = std::min(samples, *info.headerSamples > info.samples
                                        ? *info.headerSamples - info.samples
                                        : std::uint64_t{0});
    return static_cast<std::uint32_t>(samples);
}

// Walks the blocks behind the header by their preambles alone; false when
// it stopped at damage (what follows from that is then not listed).
bool WalkBlocks(const ByteSource& source, StreamInfo& info, std::uint64_t& at,
                std::optional<std::uint32_t>& blockCountOtherOrder) {
    const std::uint64_t size = source.Size();
    while (at < size) {
        const std::optional<BlockPreamble> read =
            ReadPreamble(source, at, BlockSizeRule::EitherOrder);
        if (!read || (read->size >= kBlockPreamble && read->size > size - at)) {
            info.problems.push_back(
                {StreamProblem::Kind::Damage, "the stream ends inside a block"});
            return false;
        }
        const BlockPreamble& block = *read;
        if (block.size < kBlockPreamble) {
            info.problems.push_back({StreamProblem::Kind::Damage,
                                     "a block size out of range at byte " + std::to_string(at)});
            return false;
        }
        if (block.Is("SCDl")) {
            StreamBlock data{at, block.size,
                             FirstNumber(source, at, block.size, info.bigEndian).value_or(0)};
            if (info.codec == Codec::PsAdpcm)
                data.samples = PsBlockSamples(info, block.size);
            info.samples += data.samples;
            info.dataBlocks.push_back(data);
        } else if (block.Is("SCCl")) {
            // No reader of these streams uses the count, and its byte order
            // is not settled: a count that matches in either order matches.
            if (const auto count = FirstNumber(source, at, block.size, info.bigEndian)) {
                info.blockCountTag = count;
                blockCountOtherOrder = FirstNumber(source, at, block.size, !info.bigEndian);
            }
        } else if (block.Is("SCEl")) {
            info.endBlock = true;
            at += block.size;
            return true;
        } else if (!block.Is("SCLl")) {
            std::string id(reinterpret_cast<const char*>(block.id), 4);
            for (char& c : id)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                    c = '?';
            info.problems.push_back(
                {StreamProblem::Kind::Damage,
                 "an unknown block '" + id + "' at byte " + std::to_string(at)});
        }
        at += block.size;
    }
    return true;
}

// True when only zero bytes follow from at to the end.
bool OnlyZerosFrom(const ByteSource& source, std::uint64_t at) {
    char chunk[4096];
    for (std::uint64_t p = at; p < source.Size();) {
        const std::size_t n = source.ReadAt(p, chunk, sizeof chunk);
        if (n == 0)
            break;
        if (std::string_view(chunk, n).find_first_not_of('\0') != std::string_view::npos)
            return false;
        p += n;
    }
    return true;
}

// A loop that lies outside the stream, or ends before it starts, is listed;
// no loop is made of it.
void NoteLoopProblems(StreamInfo& info) {
    if (!info.Loops() || info.ValidLoop())
        return;
    const std::uint64_t start = info.loopStart.value_or(0);
    const std::uint64_t end = info.loopEnd.value_or(info.samples);
    const std::string range = std::to_string(start) + "-" + std::to_string(end);
    if (end <= start)
        info.problems.push_back(
            {StreamProblem::Kind::Loop, "the loop " + range + " ends before it starts"});
    else
        info.problems.push_back(
            {StreamProblem::Kind::Loop, "the loop " + range + " ends after the stream's " +
                                            std::to_string(info.samples) + " samples"});
}

}  // namespace

std::optional<std::pair<std::uint64_t, std::uint64_t>> StreamInfo::ValidLoop() const {
    if (!Loops())
        return std::nullopt;
    const std::uint64_t start = loopStart.value_or(0);
    const std::uint64_t end = loopEnd.value_or(samples);
    if (end <= start || end > samples)
        return std::nullopt;
    return std::make_pair(start, end);
}

namespace {

// An MPEG stream's first frame must say what its header says. A block may
// hold no frame yet (the encoder's delay): the first frame is in the first
// block that holds any.
void NoteMpegFrames(const ByteSource& source, StreamInfo& info) {
    if ((info.codec != Codec::MpegLayer2 && info.codec != Codec::MpegLayer3) || !info.Playable())
        return;
    const auto channels = static_cast<std::uint64_t>(info.channels);
    std::optional<mpeg::FrameHeader> header;
    std::string table(ChannelTableEnd(channels), '\0');
    for (const StreamBlock& block : info.dataBlocks) {
        unsigned char frame[4] = {};
        if (block.size < kBlockPreamble + table.size() ||
            source.ReadAt(block.offset + kBlockPreamble, table.data(), table.size()) !=
                table.size())
            break;
        const std::uint64_t at = block.offset + kBlockPreamble +
                                 (*ReadChannelStarts(table, channels, info.bigEndian))[0];
        if (at >= block.offset + block.size)
            continue;  // no frame in this block
        if (at + 4 <= block.offset + block.size &&
            source.ReadAt(at, reinterpret_cast<char*>(frame), 4) == 4)
            header = mpeg::ReadFrameHeader(frame, 4);
        break;
    }
    const int layer = info.codec == Codec::MpegLayer2 ? 2 : 3;
    if (!header || header->layer != layer || header->rate != info.sampleRate ||
        header->channels != info.channels)
        info.problems.push_back({StreamProblem::Kind::Layout, "header and frames disagree"});
    else
        info.mpegBitrate = header->bitrate;
}

}  // namespace

bool StreamInfo::DspHistoryBeforeFrames() const {
    return codec == Codec::DspAdpcm && platform == k3ds;
}

bool StreamInfo::LaterRevision() const {
    return IsLaterRevision(platform, version);
}

StreamInfo ReadStreamInfo(const ByteSource& source) {
    StreamInfo info;
    const std::optional<BlockPreamble> header = ReadPreamble(source, 0, BlockSizeRule::EitherOrder);
    if (!header || !header->Is("SCHl") || header->size < kBlockPreamble + 4 ||
        header->size > source.Size()) {
        info.problems.push_back({StreamProblem::Kind::NoHeader, "no stream header"});
        return info;
    }
    std::string payload(header->size - kBlockPreamble, '\0');
    source.ReadAt(kBlockPreamble, payload.data(), payload.size());
    Tags tags;
    if (!ReadTags(payload, tags, info.problems)) {
        info.problems.insert(info.problems.begin(),
                             {StreamProblem::Kind::NoHeader, "no stream header"});
        return info;
    }
    info.hasHeader = true;
    info.headerSize = header->size;
    DecideFormat(tags, info);
    info.coefficientTags = std::move(tags.coefficients);
    if (!info.HasProblem(StreamProblem::Kind::Implausible)) {
        const CodecRecord& record = RecordOf(info.codec);
        if (std::string layout = record.layoutProblem ? record.layoutProblem(info) : "";
            !layout.empty())
            info.problems.push_back({StreamProblem::Kind::Layout, std::move(layout)});
        if (record.whyNot)
            info.problems.push_back({StreamProblem::Kind::NoDecoder, record.whyNot});
    }

    std::uint64_t at = header->size;
    std::optional<std::uint32_t> blockCountOtherOrder;
    if (!WalkBlocks(source, info, at, blockCountOtherOrder))
        return info;
    if (!info.endBlock)
        info.problems.push_back({StreamProblem::Kind::Damage, "no end block"});
    // What follows the end block is padding: zero bytes only.
    if (info.endBlock && at < source.Size() && !OnlyZerosFrom(source, at))
        info.problems.push_back(
            {StreamProblem::Kind::Damage, "bytes after the end block that are not zero"});
    const auto counted = static_cast<std::uint32_t>(info.dataBlocks.size());
    if (info.blockCountTag && *info.blockCountTag != counted && blockCountOtherOrder != counted)
        info.problems.push_back({StreamProblem::Kind::Count,
                                 "SCCl counts " + std::to_string(*info.blockCountTag) +
                                     " data blocks, the stream has " + std::to_string(counted)});
    if (info.headerSamples && *info.headerSamples != info.samples)
        info.problems.push_back({StreamProblem::Kind::Count,
                                 "the header counts " + std::to_string(*info.headerSamples) +
                                     " samples, the blocks " + std::to_string(info.samples)});
    NoteLoopProblems(info);
    NoteMpegFrames(source, info);
    return info;
}

std::string FormatDescription(const StreamInfo& info) {
    if (!info.hasHeader)
        return "no stream header";
    const std::string channels = info.channels == 1   ? "mono"
                                 : info.channels == 2 ? "stereo"
                                                      : std::to_string(info.channels) + " channels";
    return info.CodecName() + ", " + channels + ", " + std::to_string(info.sampleRate) + " Hz";
}

std::string FormatDuration(double seconds) {
    const auto hundredths = static_cast<long long>(std::llround(seconds * 100.0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", hundredths / 6000, hundredths / 100 % 60,
                  hundredths % 100);
    return text;
}

namespace {

std::string Capitalized(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

// The stream's codec has a coder for the use, in the one channel count its
// layout may have.
bool HasCoder(const StreamInfo& info, bool decode) {
    const CodecRecord& record = RecordOf(info.codec);
    const bool coder = decode ? record.decoder != nullptr : record.encoder != nullptr;
    return coder && (record.onlyChannels == 0 || info.channels == record.onlyChannels);
}

Verdict VerdictFor(const StreamInfo& info, const std::string& name, bool decode) {
    const std::string stream = "The stream " + name;
    if (!info.hasHeader)
        return {false, stream + " has no stream header.", "No stream header"};
    // Numbers no stream can have, then a layout that is not known: the
    // first such problem says why.
    for (const StreamProblem::Kind kind :
         {StreamProblem::Kind::Implausible, StreamProblem::Kind::Layout})
        for (const StreamProblem& problem : info.problems)
            if (problem.kind == kind)
                return {false,
                        stream + " cannot be " + (decode ? "decoded" : "replaced") + ": " +
                            problem.text + ".",
                        Capitalized(problem.text)};
    const char* coder = decode ? "decoder" : "encoder";
    if (const char* why = RecordOf(info.codec).whyNot)
        return {false, stream + " is " + info.CodecName() + ": " + why + ".",
                info.CodecName() + ": no " + coder};
    if (!HasCoder(info, decode))
        return {false,
                stream + " is " + info.CodecName() + ", which this program cannot " +
                    (decode ? "decode" : "encode") + " yet.",
                info.CodecName() + ": no " + coder + " yet"};
    return {};
}

}  // namespace

Verdict DecodeVerdict(const StreamInfo& info, const std::string& name) {
    return VerdictFor(info, name, true);
}

Verdict EncodeVerdict(const StreamInfo& info, const std::string& name) {
    return VerdictFor(info, name, false);
}

}  // namespace tamrel
