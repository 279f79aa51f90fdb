#include "audio/StreamInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/ConsoleAdpcm.h"
#include "audio/MicroTalk.h"
#include "audio/Mpeg.h"

namespace tamrel {

namespace {

enum Platform {
    kPc = 0,
    kPsx = 1,
    kN64 = 2,
    kMac = 3,
    kSaturn = 4,
    kPs2 = 5,
    kGameCube = 6,
    kXbox = 7,
    kGeneric = 8,
    kXbox360 = 9,
    kPsp = 0x0A,
    kPs3 = 0x0E,
    kWii = 0x10,
    k3ds = 0x14,
};

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

// The v2 family's revision: the later one where the version says so.
bool IsLaterRevision(int platform, int version) {
    return version == 3 ||
           (version == 2 && (platform == kPc || platform == kMac || platform == kGeneric));
}

Codec XaVariant(int platform, int version, bool bigEndian) {
    if (!IsLaterRevision(platform, version))
        return Codec::XaR1;
    return bigEndian ? Codec::XaR3 : Codec::XaR2;
}

Codec FromCodecTag(int value, int platform, int version, bool bigEndian) {
    switch (value) {
        case 0x00:
            return Codec::Pcm16LE;
        case 0x01:
            // Interleaved PCM16 of this kind is in the platform's byte order.
            return bigEndian ? Codec::Pcm16BE : Codec::Pcm16LE;
        case 0x02:
            return Codec::Pcm8;
        case 0x03:
            return Codec::XaV1;
        case 0x04:
            return Codec::MicroTalk10;
        case 0x05:
            return Codec::PsAdpcm;
        case 0x06:
            return Codec::N64Adpcm;
        case 0x07:
            return Codec::Pcm16BEPlanar;
        case 0x08:
            return Codec::Pcm16LEPlanar;
        case 0x09:
            return Codec::Pcm8Planar;
        case 0x0A:
            return XaVariant(platform, version, bigEndian);
        case 0x0F:
            return Codec::MpegLayer2;
        case 0x10:
            return Codec::MpegLayer3;
        case 0x12:
            return Codec::DspAdpcm;
        case 0x14:
            return Codec::XboxImaAdpcm;
        case 0x16:
            return Codec::MicroTalk5;
        case 0x17:
            return Codec::MpegLayer3Variant;
        case 0x1B:
            return Codec::Atrac3Plus;
        default:
            return Codec::Other;
    }
}

Codec FromEarlyCodec(int value, int platform, int version, bool bigEndian, int bits) {
    const bool pc = platform == kPc;
    switch (value) {
        case 0:  // PCM: interleaved on PC, one run per channel elsewhere
            if (bits == 8)
                return pc ? Codec::Pcm8 : Codec::Pcm8Planar;
            if (pc)
                return bigEndian ? Codec::Pcm16BE : Codec::Pcm16LE;
            return bigEndian ? Codec::Pcm16BEPlanar : Codec::Pcm16LEPlanar;
        case 2:
            return Codec::ImaAdpcm;
        case 5:
            return Codec::N64Adpcm;
        case 6:
            return Codec::PsAdpcm;
        case 7:
            return pc || platform == kMac ? Codec::XaV1 : XaVariant(platform, version, bigEndian);
        case 9:
            return Codec::MicroTalk10;
        default:
            return Codec::Other;
    }
}

Codec DefaultCodec(int platform, int version, bool bigEndian) {
    switch (platform) {
        case kPsx:
        case kPs2:
            return Codec::PsAdpcm;
        case kN64:
            return Codec::N64Adpcm;
        case kGameCube:
            return Codec::Pcm16BEPlanar;
        case kXbox:
            return Codec::Pcm16LEPlanar;
        case kWii:
        case k3ds:
            return Codec::DspAdpcm;
        default:
            return XaVariant(platform, version, bigEndian);
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

std::string Hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

}  // namespace

// MPEG's block counts are only summed (the start delay shifts them between
// blocks): the bound is on the bytes' worth, loosely.
constexpr double kMpegSamplesPerByte = 64.0;

const CodecTraits& TraitsOf(Codec codec) {
    // Every codec the program knows: its name, and what it does with it.
    static constexpr CodecTraits kCodecs[] = {
        {Codec::Pcm16LE, "PCM16 LE", true, true, 0, 2.0},
        {Codec::Pcm16BE, "PCM16 BE", true, true, 0, 2.0},
        {Codec::Pcm8, "PCM8", true, false, 0, 2.0},
        {Codec::Pcm16LEPlanar, "PCM16 LE planar", true, true, 0, 2.0},
        {Codec::Pcm16BEPlanar, "PCM16 BE planar", true, true, 0, 2.0},
        {Codec::Pcm8Planar, "PCM8 planar", true, false, 0, 2.0},
        {Codec::XaV1, "XA ADPCM v1", true, true, 2, 2.0},
        {Codec::XaR1, "XA ADPCM R1", true, true, 0, 2.0},
        {Codec::XaR2, "XA ADPCM R2", true, true, 0, 2.0},
        {Codec::XaR3, "XA ADPCM R3", true, true, 0, 2.0},
        {Codec::MicroTalk10, "MicroTalk 10:1", true, true, 0, microtalk::kMaxSamplesPerByte},
        {Codec::MicroTalk5, "MicroTalk 5:1", true, true, 0, microtalk::kMaxSamplesPerByte},
        {Codec::ImaAdpcm, "IMA ADPCM", true, true, 0, 2.0},
        {Codec::PsAdpcm, "PS-ADPCM", true, true, 0, 28.0 / 16},
        {Codec::N64Adpcm, "N64 ADPCM", true, true, 0, 16.0 / 9},
        {Codec::DspAdpcm, "DSP ADPCM", true, true, 0, 14.0 / 8},
        {Codec::XboxImaAdpcm, "Xbox IMA ADPCM", true, true, 0, 64.0 / 36},
        {Codec::MpegLayer2, "MPEG Layer II", true, true, 0, kMpegSamplesPerByte},
        {Codec::MpegLayer3, "MPEG Layer III", true, true, 0, kMpegSamplesPerByte},
        {Codec::MpegLayer3Variant, "Layer III variant", false, false, 0, 2.0,
         "Layer III re-framed in a way no open description fully covers, and no encoder "
         "exists, so this program can neither play nor replace it; its bytes are kept as they are"},
        {Codec::Atrac3Plus, "ATRAC3plus", false, false, 0, 2.0,
         "only one large library decodes it and no open encoder exists, so this program can "
         "neither play nor replace it; its bytes are kept as they are"},
        {Codec::Other, "", false, false, 0, 2.0},
    };
    for (const CodecTraits& traits : kCodecs)
        if (traits.codec == codec)
            return traits;
    return kCodecs[std::size(kCodecs) - 1];
}

std::string CodecName(Codec codec, int codecValue) {
    if (codec == Codec::Other)
        return "codec " + Hex2(codecValue);
    return TraitsOf(codec).name;
}

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

namespace {

// A header, numbers a stream can have, and the layout the codec's table allows.
bool Usable(const StreamInfo& info, bool CodecTraits::*has) {
    if (!info.hasHeader || info.HasProblem(StreamProblem::Kind::Implausible) ||
        info.HasProblem(StreamProblem::Kind::Layout))
        return false;
    const CodecTraits& traits = TraitsOf(info.codec);
    return traits.*has && (traits.onlyChannels == 0 || info.channels == traits.onlyChannels);
}

}  // namespace

bool StreamInfo::Playable() const {
    return Usable(*this, &CodecTraits::decoder);
}

bool StreamInfo::Encodable() const {
    return Usable(*this, &CodecTraits::encoder);
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
    if (tags.value[0xA0]) {
        info.codecValue = static_cast<int>(*tags.value[0xA0]);
        info.codec = FromCodecTag(info.codecValue, info.platform, info.version, info.bigEndian);
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
        info.codec = early < 0 ? DefaultCodec(info.platform, info.version, info.bigEndian)
                               : FromEarlyCodec(early, info.platform, info.version, info.bigEndian,
                                                info.bitsPerSample);
        if (info.codec == Codec::Other)
            info.codecValue = early;
    } else {
        info.codec = DefaultCodec(info.platform, info.version, info.bigEndian);
    }
    if (info.channels < 1 || info.channels > kMaxStreamChannels)
        info.problems.push_back({StreamProblem::Kind::Implausible,
                                 "the header says " + std::to_string(info.channels) + " channels"});
    if (info.sampleRate < kMinStreamRate || info.sampleRate > kMaxStreamRate)
        info.problems.push_back({StreamProblem::Kind::Implausible,
                                 "the header says " + std::to_string(info.sampleRate) + " Hz"});
}

// The layouts known for the ADPCM codecs of the consoles; any other
// combination of version, channels and coefficients is listed, and neither
// decoded nor replaced.
std::string UnknownLayout(const StreamInfo& info) {
    const bool v0 = info.version == 0;
    const std::string name = TraitsOf(info.codec).name;
    const std::string channels = std::to_string(info.channels) + " channels";
    switch (info.codec) {
        case Codec::PsAdpcm:
            return v0 && info.channels > 2 ? name + " in version 0 with " + channels : "";
        case Codec::ImaAdpcm:
            if (!v0)
                return name + " in version " + std::to_string(info.version);
            return info.channels > 2 ? name + " with " + channels : "";
        case Codec::XboxImaAdpcm:
            return v0 ? name + " in version 0" : "";
        case Codec::DspAdpcm:
            if (v0)
                return name + " in version 0";
            for (std::int64_t c = 0; c < info.channels; ++c)
                if (c >= static_cast<std::int64_t>(std::size(kCoefficientTags)) ||
                    !adpcm::ReadDspCoefficients(info.coefficientTags[static_cast<std::size_t>(c)],
                                                info.bigEndian))
                    return name + " without coefficients for channel " + std::to_string(c + 1);
            return "";
        case Codec::N64Adpcm:
            if (v0)
                return name + " in version 0";
            if (info.channels > 2)
                return name + " with " + channels;
            for (std::int64_t c = 0; c < info.channels; ++c)
                if (!adpcm::ReadN64Codebook(info.coefficientTags[static_cast<std::size_t>(c)]))
                    return name + " without a codebook for channel " + std::to_string(c + 1);
            return "";
        case Codec::MicroTalk10:
        case Codec::MicroTalk5:
            return v0 && info.channels > 1 ? name + " in version 0 with " + channels : "";
        case Codec::MpegLayer2:
        case Codec::MpegLayer3:
            if (v0)
                return name + " in version 0";
            return info.channels > 2 ? name + " with " + channels : "";
        default:
            return "";
    }
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
    const std::uint64_t table = kBlockPreamble + (info.version >= 1 ? 4 + 4 * channels : 8);
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

std::string StreamInfo::PlausibilityRefusal(const std::string& name) const {
    if (!hasHeader)
        return "The stream " + name + " has no stream header.";
    if (sampleRate < kMinStreamRate || sampleRate > kMaxStreamRate)
        return "The stream " + name + " declares " + std::to_string(sampleRate) +
               " Hz, which no stream can have.";
    if (channels < 1 || channels > kMaxStreamChannels)
        return "The stream " + name + " declares " + std::to_string(channels) +
               " channels, which no stream can have.";
    return {};
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
    for (const StreamBlock& block : info.dataBlocks) {
        unsigned char table[4] = {}, frame[4] = {};
        const std::uint64_t tableAt = block.offset + kBlockPreamble + 4;
        if (block.size < kBlockPreamble + 8 ||
            source.ReadAt(tableAt, reinterpret_cast<char*>(table), 4) != 4)
            break;
        const std::uint64_t at = tableAt + 4 * channels + ReadUint32(table, info.bigEndian);
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

std::string StreamInfo::LayoutRefusal(const std::string& name, const char* verb) const {
    for (const StreamProblem& problem : problems)
        if (problem.kind == StreamProblem::Kind::Layout)
            return "The stream " + name + " cannot be " + verb + ": " + problem.text + ".";
    return {};
}

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
        if (const std::string layout = UnknownLayout(info); !layout.empty())
            info.problems.push_back({StreamProblem::Kind::Layout, "no known layout for " + layout});
        if (const char* why = TraitsOf(info.codec).whyNot)
            info.problems.push_back({StreamProblem::Kind::NoDecoder, why});
        // A loop is a second bitstream in these streams, not yet tested.
        if ((info.codec == Codec::MicroTalk10 || info.codec == Codec::MicroTalk5) && info.Loops())
            info.problems.push_back(
                {StreamProblem::Kind::Layout, "loops in MicroTalk streams are not supported"});
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

}  // namespace tamrel
