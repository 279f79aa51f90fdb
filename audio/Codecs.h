// Every codec the program knows, one record each: the tag values that name
// it, how many samples its bytes can hold, the rule of the layouts it is
// known in, and its decoder and encoder. Adding a codec means its name
// here, its record in Codecs.cpp and its module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tamrel {

enum class Codec {
    Pcm16LE,
    Pcm16BE,
    Pcm8,
    Pcm16LEPlanar,
    Pcm16BEPlanar,
    Pcm8Planar,
    XaV1,  // one interleaved frame for both channels (PC and Mac)
    XaR1,  // the v2 family: one run of frames per channel
    XaR2,
    XaR3,
    MicroTalk10,
    MicroTalk5,
    ImaAdpcm,
    PsAdpcm,
    N64Adpcm,
    DspAdpcm,
    XboxImaAdpcm,
    MpegLayer2,
    MpegLayer3,
    MpegLayer3Variant,
    Atrac3Plus,
    Other,  // a value the program does not know: see StreamInfo::codecValue
};

struct StreamInfo;
struct EncodeStats;
class CodecDecoder;
class CodecEncoder;

// What a header says that the choice of codec depends on.
struct CodecContext {
    int platform = 0;
    int version = 0;
    bool bigEndian = false;
    int bitsPerSample = 16;
    bool early = false;  // the value is the early codec tag 0x83's, not 0xA0's
};

// The most samples (all channels together) a run of bytes can hold: a
// block that declares more is damage, found before it costs memory.
struct Density {
    std::uint32_t samples = 1;
    std::uint32_t bytes = 1;
    // Per channel, for a payload of that many bytes.
    std::uint64_t MostSamples(std::uint64_t payloadBytes, std::uint64_t channels) const {
        return channels == 0 ? 0 : payloadBytes / bytes * samples / channels;
    }
};

struct CodecRecord {
    Codec codec;
    const char* name;
    // The values of tag 0xA0 and of the early tag 0x83 that name the codec;
    // where one value names several codecs, fits tells them apart.
    std::vector<int> tags;
    std::vector<int> earlyTags;
    bool (*fits)(int value, const CodecContext& context) = nullptr;
    // The platforms whose streams are in this codec when their header names none.
    std::vector<int> defaultOn = {};
    Density density;
    // Every block but the last holds a whole number of these (samples per channel).
    std::uint32_t blockMultiple = 28;
    int onlyChannels = 0;  // 0: any count; else the one channel count the layout has
    // The problem of a stream in a layout of the codec that is not known
    // ("no known layout for N64 ADPCM in version 0"), or empty.
    std::string (*layoutProblem)(const StreamInfo& info) = nullptr;
    std::unique_ptr<CodecDecoder> (*decoder)(const StreamInfo& info) = nullptr;
    std::unique_ptr<CodecEncoder> (*encoder)(const StreamInfo& info, EncodeStats& stats) = nullptr;
    // The predictors fitted to the sound and written to the header (DSP, N64): how many.
    int fittedPredictors = 0;
    // Why the program has no decoder for it where that is a decision, not
    // work still to do; listed as the stream's problem and said in refusals.
    const char* whyNot = nullptr;
};

const CodecRecord& RecordOf(Codec codec);

// The codec a tag value names (tag 0xA0, or 0x83 where context.early), or
// Codec::Other.
Codec CodecOfTag(int value, const CodecContext& context);
// The codec of a stream whose header names none.
Codec DefaultCodecOf(const CodecContext& context);

// The codec's name as the window and the console show it.
std::string CodecName(Codec codec, int codecValue);

}  // namespace tamrel
