#include "audio/Codecs.h"

#include <algorithm>
#include <cstdio>

#include "audio/Coder.h"
#include "audio/ConsoleAdpcm.h"
#include "audio/ImaAdpcm.h"
#include "audio/MicroTalk.h"
#include "audio/Mpeg.h"
#include "audio/Pcm.h"
#include "audio/Platform.h"
#include "audio/StreamInfo.h"
#include "audio/XaAdpcm.h"

namespace tamrel {

namespace {

// ---- Which codec a shared tag value names.

bool OnPc(const CodecContext& c) {
    return c.platform == kPc;
}

// PCM: tag 0x00 is little-endian; 0x01 is interleaved in the platform's
// byte order. The early tag 0 is PCM interleaved on PC, one run per channel
// elsewhere, 8-bit where tag 0x81 says so.
bool FitsPcm16LE(int value, const CodecContext& c) {
    return c.early ? OnPc(c) && c.bitsPerSample != 8 && !c.bigEndian : value == 0 || !c.bigEndian;
}
bool FitsPcm16BE(int, const CodecContext& c) {
    return c.early ? OnPc(c) && c.bitsPerSample != 8 && c.bigEndian : c.bigEndian;
}
bool FitsPcm8(int, const CodecContext& c) {
    return !c.early || (OnPc(c) && c.bitsPerSample == 8);
}
bool FitsPcm16LEPlanar(int, const CodecContext& c) {
    return !c.early || (!OnPc(c) && c.bitsPerSample != 8 && !c.bigEndian);
}
bool FitsPcm16BEPlanar(int, const CodecContext& c) {
    return !c.early || (!OnPc(c) && c.bitsPerSample != 8 && c.bigEndian);
}
bool FitsPcm8Planar(int, const CodecContext& c) {
    return !c.early || (!OnPc(c) && c.bitsPerSample == 8);
}

// XA: the early tag 7 is v1 on PC and Mac; elsewhere, and for tag 0x0A,
// the v2 family's revision follows the version and the byte order.
bool EarlyV1(const CodecContext& c) {
    return c.early && (OnPc(c) || c.platform == kMac);
}
bool FitsXaV1(int, const CodecContext& c) {
    return !c.early || EarlyV1(c);
}
bool FitsXaR1(int, const CodecContext& c) {
    return !EarlyV1(c) && !IsLaterRevision(c.platform, c.version);
}
bool FitsXaR2(int, const CodecContext& c) {
    return !EarlyV1(c) && IsLaterRevision(c.platform, c.version) && !c.bigEndian;
}
bool FitsXaR3(int, const CodecContext& c) {
    return !EarlyV1(c) && IsLaterRevision(c.platform, c.version) && c.bigEndian;
}

// ---- The layouts known for each codec: the problem of a stream in one
// that is not known, or empty.

std::string Channels(const StreamInfo& info) {
    return std::to_string(info.channels) + " channels";
}
std::string Name(const StreamInfo& info) {
    return RecordOf(info.codec).name;
}
std::string Unknown(const std::string& layout) {
    return "no known layout for " + layout;
}

std::string PsLayout(const StreamInfo& info) {
    return info.version == 0 && info.channels > 2
               ? Unknown(Name(info) + " in version 0 with " + Channels(info))
               : "";
}
std::string ImaLayout(const StreamInfo& info) {
    if (info.version != 0)
        return Unknown(Name(info) + " in version " + std::to_string(info.version));
    return info.channels > 2 ? Unknown(Name(info) + " with " + Channels(info)) : "";
}
std::string XboxLayout(const StreamInfo& info) {
    return info.version == 0 ? Unknown(Name(info) + " in version 0") : "";
}
std::string DspLayout(const StreamInfo& info) {
    if (info.version == 0)
        return Unknown(Name(info) + " in version 0");
    for (std::int64_t c = 0; c < info.channels; ++c)
        if (c >= static_cast<std::int64_t>(std::size(kCoefficientTags)) ||
            !adpcm::ReadDspCoefficients(info.coefficientTags[static_cast<std::size_t>(c)],
                                        info.bigEndian))
            return Unknown(Name(info) + " without coefficients for channel " +
                           std::to_string(c + 1));
    return "";
}
std::string N64Layout(const StreamInfo& info) {
    if (info.version == 0)
        return Unknown(Name(info) + " in version 0");
    if (info.channels > 2)
        return Unknown(Name(info) + " with " + Channels(info));
    for (std::int64_t c = 0; c < info.channels; ++c)
        if (!adpcm::ReadN64Codebook(info.coefficientTags[static_cast<std::size_t>(c)]))
            return Unknown(Name(info) + " without a codebook for channel " + std::to_string(c + 1));
    return "";
}
std::string MicroTalkLayout(const StreamInfo& info) {
    if (info.version == 0 && info.channels > 1)
        return Unknown(Name(info) + " in version 0 with " + Channels(info));
    // A loop is a second bitstream in these streams, not yet tested.
    return info.Loops() ? "loops in MicroTalk streams are not supported" : "";
}
std::string MpegLayout(const StreamInfo& info) {
    if (info.version == 0)
        return Unknown(Name(info) + " in version 0");
    return info.channels > 2 ? Unknown(Name(info) + " with " + Channels(info)) : "";
}

// ---- How many samples the codecs' bytes can hold, from their frames.

constexpr Density kPcm16{1, 2};
constexpr Density kPcm8{1, 1};
constexpr Density kXaV1{2 * kXaFrameSamples, kXaV1FrameBytes};
constexpr Density kXaV2{kXaFrameSamples, kXaFrameBytes};
constexpr Density kIma{2, 1};
constexpr Density kPsFrames{adpcm::kPsFrameSamples, adpcm::kPsFrameBytes};
constexpr Density kN64Frames{adpcm::kN64FrameSamples, adpcm::kN64FrameBytes};
constexpr Density kDspFrames{adpcm::kDspFrameSamples, adpcm::kDspFrameBytes};
constexpr Density kXboxFrames{adpcm::kXboxFrameSamples, adpcm::kXboxFrameBytes};
constexpr Density kMicroTalk{microtalk::kMostSamplesPerByte, 1};
// MPEG's block counts are only summed (the start delay shifts them between
// blocks): the bound is on the bytes' worth, loosely.
constexpr Density kMpeg{64, 1};
constexpr std::uint32_t kMpegFrame = 1152;  // Layer II's and III's samples per frame
// Codecs without a decoder: never read.
constexpr Density kNone{1, 1};

const std::vector<CodecRecord>& Records() {
    // One record a row or two reads better than one field a line: codec,
    // name, tags 0xA0, early tags 0x83, fits, default on, density, block
    // multiple, only channels, layout rule, decoder, encoder, fitted
    // predictors, why not.
    // clang-format off
    static const std::vector<CodecRecord> records = {
        {Codec::Pcm16LE, "PCM16 LE", {0x00, 0x01}, {0}, FitsPcm16LE, {}, kPcm16, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::Pcm16BE, "PCM16 BE", {0x01}, {0}, FitsPcm16BE, {}, kPcm16, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::Pcm8, "PCM8", {0x02}, {0}, FitsPcm8, {}, kPcm8, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::Pcm16LEPlanar, "PCM16 LE planar", {0x08}, {0}, FitsPcm16LEPlanar, {kXbox}, kPcm16, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::Pcm16BEPlanar, "PCM16 BE planar", {0x07}, {0}, FitsPcm16BEPlanar, {kGameCube}, kPcm16, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::Pcm8Planar, "PCM8 planar", {0x09}, {0}, FitsPcm8Planar, {}, kPcm8, 28, 0,
         nullptr, MakePcmDecoder, MakePcmEncoder},
        {Codec::XaV1, "XA ADPCM v1", {0x03}, {7}, FitsXaV1, {}, kXaV1, kXaFrameSamples, 2,
         nullptr, MakeXaDecoder, MakeXaEncoder},
        {Codec::XaR1, "XA ADPCM R1", {0x0A}, {7}, FitsXaR1, {}, kXaV2, kXaFrameSamples, 0,
         nullptr, MakeXaDecoder, MakeXaEncoder},
        {Codec::XaR2, "XA ADPCM R2", {0x0A}, {7}, FitsXaR2, {}, kXaV2, kXaFrameSamples, 0,
         nullptr, MakeXaDecoder, MakeXaEncoder},
        {Codec::XaR3, "XA ADPCM R3", {0x0A}, {7}, FitsXaR3, {}, kXaV2, kXaFrameSamples, 0,
         nullptr, MakeXaDecoder, MakeXaEncoder},
        {Codec::MicroTalk10, "MicroTalk 10:1", {0x04}, {9}, nullptr, {}, kMicroTalk, microtalk::kFrameSamples, 0,
         MicroTalkLayout, MakeMicroTalkDecoder, MakeMicroTalkEncoder},
        {Codec::MicroTalk5, "MicroTalk 5:1", {0x16}, {}, nullptr, {}, kMicroTalk, microtalk::kFrameSamples, 0,
         MicroTalkLayout, MakeMicroTalkDecoder, MakeMicroTalkEncoder},
        {Codec::ImaAdpcm, "IMA ADPCM", {}, {2}, nullptr, {}, kIma, 28, 0,
         ImaLayout, MakeImaDecoder, MakeImaEncoder},
        {Codec::PsAdpcm, "PS-ADPCM", {0x05}, {6}, nullptr, {kPsx, kPs2}, kPsFrames, adpcm::kPsFrameSamples, 0,
         PsLayout, MakeConsoleDecoder, MakeConsoleEncoder},
        {Codec::N64Adpcm, "N64 ADPCM", {0x06}, {5}, nullptr, {kN64}, kN64Frames, adpcm::kN64FrameSamples, 0,
         N64Layout, MakeConsoleDecoder, MakeConsoleEncoder, adpcm::kN64WrittenPredictors},
        {Codec::DspAdpcm, "DSP ADPCM", {0x12}, {}, nullptr, {kWii, k3ds}, kDspFrames, adpcm::kDspFrameSamples, 0,
         DspLayout, MakeConsoleDecoder, MakeConsoleEncoder, adpcm::kDspPredictors},
        {Codec::XboxImaAdpcm, "Xbox IMA ADPCM", {0x14}, {}, nullptr, {}, kXboxFrames, adpcm::kXboxFrameSamples, 0,
         XboxLayout, MakeConsoleDecoder, MakeConsoleEncoder},
        {Codec::MpegLayer2, "MPEG Layer II", {0x0F}, {}, nullptr, {}, kMpeg, kMpegFrame, 0,
         MpegLayout, MakeMpegDecoder, MakeMpegEncoder},
        {Codec::MpegLayer3, "MPEG Layer III", {0x10}, {}, nullptr, {}, kMpeg, kMpegFrame, 0,
         MpegLayout, MakeMpegDecoder, MakeMpegEncoder},
        {Codec::MpegLayer3Variant, "Layer III variant", {0x17}, {}, nullptr, {}, kNone, 28, 0,
         nullptr, nullptr, nullptr, 0,
         "Layer III re-framed in a way no open description fully covers, and no encoder "
         "exists, so this program can neither play nor replace it; its bytes are kept as they are"},
        {Codec::Atrac3Plus, "ATRAC3plus", {0x1B}, {}, nullptr, {}, kNone, 28, 0,
         nullptr, nullptr, nullptr, 0,
         "only one large library decodes it and no open encoder exists, so this program can "
         "neither play nor replace it; its bytes are kept as they are"},
        {Codec::Other, "", {}, {}, nullptr, {}, kNone, 28},
    };
    // clang-format on
    return records;
}

std::string Hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

}  // namespace

const CodecRecord& RecordOf(Codec codec) {
    const std::vector<CodecRecord>& records = Records();
    for (const CodecRecord& record : records)
        if (record.codec == codec)
            return record;
    return records.back();
}

Codec CodecOfTag(int value, const CodecContext& context) {
    for (const CodecRecord& record : Records()) {
        const std::vector<int>& tags = context.early ? record.earlyTags : record.tags;
        if (std::find(tags.begin(), tags.end(), value) != tags.end() &&
            (!record.fits || record.fits(value, context)))
            return record.codec;
    }
    return Codec::Other;
}

Codec DefaultCodecOf(const CodecContext& context) {
    for (const CodecRecord& record : Records())
        if (std::find(record.defaultOn.begin(), record.defaultOn.end(), context.platform) !=
            record.defaultOn.end())
            return record.codec;
    // Elsewhere the v2 family of XA, in the revision the header's tag 0x0A would name.
    CodecContext asTag = context;
    asTag.early = false;
    return CodecOfTag(0x0A, asTag);
}

std::string CodecName(Codec codec, int codecValue) {
    if (codec == Codec::Other)
        return "codec " + Hex2(codecValue);
    return RecordOf(codec).name;
}

}  // namespace tamrel
