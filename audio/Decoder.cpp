#include "audio/Decoder.h"

#include <algorithm>
#include <deque>

#include "audio/ConsoleAdpcm.h"
#include "audio/MicroTalk.h"
#include "audio/Mpeg.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {

constexpr int kFrameSamples = 28;
constexpr int kAdpcmFrameBytes = 15;
constexpr int kRawFrameBytes = 61;
constexpr unsigned char kRawFrameMark = 0xEE;

int SignExtend4(int nibble) {
    return nibble >= 8 ? nibble - 16 : nibble;
}

// One data block's payload, with every read checked against its end.
class Block {
public:
    Block(const std::string& payload, const std::string& where) : p_(payload), where_(where) {}

    std::size_t Size() const { return p_.size(); }
    const unsigned char* At(std::size_t offset, std::size_t count, const char* what) const {
        if (offset > p_.size() || count > p_.size() - offset)
            throw DecodeError(where_ + ": " + what + " ends beyond the block");
        return reinterpret_cast<const unsigned char*>(p_.data()) + offset;
    }
    std::uint32_t Uint32(std::size_t offset, bool bigEndian, const char* what) const {
        return ReadUint32(At(offset, 4, what), bigEndian);
    }
    std::int16_t Int16(std::size_t offset, bool bigEndian, const char* what) const {
        return ReadInt16(At(offset, 2, what), bigEndian);
    }
    const std::string& Where() const { return where_; }

private:
    const std::string& p_;
    const std::string& where_;
};

// Decodes one block after the other into out, which holds the last block's
// samples; the history that a codec carries across blocks lives here.
class StreamDecoder {
public:
    StreamDecoder(const StreamInfo& info, std::vector<std::int16_t>& out)
        : info_(info),
          out_(out),
          channels_(static_cast<int>(info.channels)),
          h1_(static_cast<std::size_t>(channels_)),
          h2_(static_cast<std::size_t>(channels_)),
          ps_(static_cast<std::size_t>(channels_)),
          dsp_(static_cast<std::size_t>(channels_)),
          n64_(static_cast<std::size_t>(channels_)),
          microTalk_(static_cast<std::size_t>(channels_)) {
        // The stream reader accepted these tags for every channel.
        for (std::size_t c = 0; c < static_cast<std::size_t>(channels_); ++c) {
            if (info.codec == Codec::DspAdpcm)
                dspCoefficients_.push_back(
                    *adpcm::ReadDspCoefficients(info.coefficientTags[c], info.bigEndian));
            if (info.codec == Codec::N64Adpcm)
                codebooks_.push_back(*adpcm::ReadN64Codebook(info.coefficientTags[c]));
        }
    }

    void DecodeBlock(const Block& block, std::uint32_t count) {
        const bool planarTable = info_.version >= 1;
        out_.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(channels_), 0);
        // After the count: for version 1 and later, one offset per channel,
        // counted from the end of that table.
        std::vector<std::size_t> starts(static_cast<std::size_t>(channels_));
        std::size_t dataStart = 4;
        if (planarTable) {
            dataStart = 4 + 4 * static_cast<std::size_t>(channels_);
            for (int c = 0; c < channels_; ++c)
                starts[static_cast<std::size_t>(c)] =
                    dataStart + block.Uint32(4 + 4 * static_cast<std::size_t>(c), info_.bigEndian,
                                             "the channel offsets");
        }
        switch (info_.codec) {
            case Codec::Pcm16LE:
            case Codec::Pcm16BE:
            case Codec::Pcm8:
                Pcm(block, count, planarTable ? starts[0] : dataStart);
                break;
            case Codec::Pcm16LEPlanar:
            case Codec::Pcm16BEPlanar:
            case Codec::Pcm8Planar:
                if (planarTable) {
                    for (int c = 0; c < channels_; ++c)
                        PcmChannel(block, count, c, starts[static_cast<std::size_t>(c)]);
                } else {
                    for (int c = 0; c < channels_; ++c)
                        PcmChannel(
                            block, count, c,
                            dataStart + static_cast<std::size_t>(c) * count * BytesPerSample());
                }
                break;
            case Codec::XaV1:
                XaV1(block, count, dataStart);
                break;
            case Codec::XaR1:
                if (!planarTable) {
                    SplitMono(block, count, dataStart);
                    break;
                }
                [[fallthrough]];
            case Codec::XaR2:
            case Codec::XaR3:
                for (int c = 0; c < channels_; ++c)
                    XaV2Channel(block, count, c, starts[static_cast<std::size_t>(c)]);
                break;
            case Codec::PsAdpcm:
                if (!planarTable) {
                    // Version 0: 4 unused bytes, then each channel's frames in
                    // its share of the block.
                    const std::size_t share =
                        block.Size() > 8 ? (block.Size() - 8) / static_cast<std::size_t>(channels_)
                                         : 0;
                    for (int c = 0; c < channels_; ++c)
                        starts[static_cast<std::size_t>(c)] =
                            8 + static_cast<std::size_t>(c) * share;
                }
                [[fallthrough]];
            case Codec::XboxImaAdpcm:
            case Codec::DspAdpcm:
            case Codec::N64Adpcm:
                for (int c = 0; c < channels_; ++c)
                    FramesOfChannel(block, count, c, starts[static_cast<std::size_t>(c)]);
                break;
            case Codec::ImaAdpcm:
                Ima(block, count);
                break;
            case Codec::MicroTalk10:
            case Codec::MicroTalk5:
                // Each channel's bitstream follows one byte that no reader uses.
                for (int c = 0; c < channels_; ++c)
                    MicroTalkChannel(
                        block, count, c,
                        (planarTable ? starts[static_cast<std::size_t>(c)] : dataStart) + 1);
                break;
            default:
                throw DecodeError(block.Where() + ": no decoder for " + info_.CodecName());
        }
    }

private:
    std::size_t BytesPerSample() const {
        return info_.codec == Codec::Pcm8 || info_.codec == Codec::Pcm8Planar ? 1 : 2;
    }
    bool PcmBigEndian() const {
        return info_.codec == Codec::Pcm16BE || info_.codec == Codec::Pcm16BEPlanar;
    }
    void Put(std::uint32_t index, int channel, int value) {
        out_[static_cast<std::size_t>(index) * static_cast<std::size_t>(channels_) +
             static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(value);
    }
    int PcmValue(const unsigned char* b) const {
        if (BytesPerSample() == 1)
            return static_cast<std::int8_t>(b[0]) * 256;
        return static_cast<std::int16_t>(PcmBigEndian() ? (b[0] << 8 | b[1]) : (b[1] << 8 | b[0]));
    }

    void Pcm(const Block& block, std::uint32_t count, std::size_t start) {
        const std::size_t bps = BytesPerSample();
        const unsigned char* b =
            block.At(start, static_cast<std::size_t>(count) * channels_ * bps, "the samples");
        for (std::uint32_t i = 0; i < count; ++i)
            for (int c = 0; c < channels_; ++c, b += bps)
                Put(i, c, PcmValue(b));
    }
    void PcmChannel(const Block& block, std::uint32_t count, int channel, std::size_t start) {
        const std::size_t bps = BytesPerSample();
        const unsigned char* b =
            block.At(start, static_cast<std::size_t>(count) * bps, "a channel's samples");
        for (std::uint32_t i = 0; i < count; ++i, b += bps)
            Put(i, channel, PcmValue(b));
    }

    // One interleaved frame for both channels; each block starts from the
    // history stored at its start.
    void XaV1(const Block& block, std::uint32_t count, std::size_t start) {
        if (channels_ != 2)
            throw DecodeError(block.Where() + ": XA ADPCM v1 is decoded for two channels only");
        const unsigned char* history = block.At(start, 8, "the history");
        int h1[2], h2[2];
        for (int c = 0; c < 2; ++c) {
            h1[c] = static_cast<std::int16_t>(history[4 * c] | history[4 * c + 1] << 8);
            h2[c] = static_cast<std::int16_t>(history[4 * c + 2] | history[4 * c + 3] << 8);
        }
        const std::uint32_t frames = (count + kFrameSamples - 1) / kFrameSamples;
        const unsigned char* f =
            block.At(start + 8, static_cast<std::size_t>(frames) * 30, "the frames");
        std::uint32_t index = 0;
        for (std::uint32_t frame = 0; frame < frames; ++frame, f += 30) {
            const int filter[2] = {f[0] >> 4, f[0] & 15};
            const int shift[2] = {f[1] >> 4, f[1] & 15};
            CheckFilters(block, filter[0], filter[1]);
            for (int k = 0; k < kFrameSamples && index < count; ++k, ++index) {
                const int byte = f[2 + k];
                Put(index, 0,
                    XaSample(SignExtend4(byte >> 4), shift[0], filter[0], h1[0], h2[0], 0x80));
                Put(index, 1,
                    XaSample(SignExtend4(byte & 15), shift[1], filter[1], h1[1], h2[1], 0x80));
            }
        }
    }

    // The original revision elsewhere: the stored history of every channel
    // (at least two channels' room: a mono stream leaves the second unused),
    // then each channel's 15-byte frames one run after the other.
    void SplitMono(const Block& block, std::uint32_t count, std::size_t start) {
        const std::uint32_t frames = (count + kFrameSamples - 1) / kFrameSamples;
        const std::size_t run = static_cast<std::size_t>(frames) * kAdpcmFrameBytes;
        const std::size_t historyBytes = SplitHistoryBytes(channels_);
        const unsigned char* history = block.At(start, historyBytes, "the history");
        for (int c = 0; c < channels_; ++c) {
            int h1 = static_cast<std::int16_t>(history[4 * c] | history[4 * c + 1] << 8);
            int h2 = static_cast<std::int16_t>(history[4 * c + 2] | history[4 * c + 3] << 8);
            const unsigned char* f = block.At(start + historyBytes + c * run, run, "the frames");
            AdpcmFrames(block, f, frames, count, c, h1, h2);
        }
    }

    void AdpcmFrames(const Block& block, const unsigned char* f, std::uint32_t frames,
                     std::uint32_t count, int channel, int& h1, int& h2) {
        std::uint32_t index = 0;
        for (std::uint32_t frame = 0; frame < frames; ++frame, f += kAdpcmFrameBytes) {
            const int filter = f[0] >> 4, shift = f[0] & 15;
            CheckFilters(block, filter, 0);
            for (int k = 0; k < kFrameSamples && index < count; ++k, ++index) {
                const int byte = f[1 + k / 2];
                const int nibble = k % 2 == 0 ? byte >> 4 : byte & 15;
                Put(index, channel, XaSample(SignExtend4(nibble), shift, filter, h1, h2, 0));
            }
        }
    }

    // One channel of the v2 family at its offset: R1 starts each block from
    // its stored history, R2 and R3 carry it over and may hold raw frames.
    void XaV2Channel(const Block& block, std::uint32_t count, int channel, std::size_t start) {
        int& h1 = h1_[static_cast<std::size_t>(channel)];
        int& h2 = h2_[static_cast<std::size_t>(channel)];
        std::size_t at = start;
        const bool r1 = info_.codec == Codec::XaR1;
        if (r1) {
            h1 = block.Int16(at, info_.bigEndian, "the history");
            h2 = block.Int16(at + 2, info_.bigEndian, "the history");
            at += 4;
        }
        std::uint32_t index = 0;
        while (index < count) {
            const unsigned char* mark = block.At(at, 1, "a frame");
            if (!r1 && *mark == kRawFrameMark) {
                const unsigned char* f = block.At(at, kRawFrameBytes, "a raw frame");
                for (int k = 0; k < kFrameSamples && index < count; ++k, ++index)
                    Put(index, channel,
                        static_cast<std::int16_t>(f[5 + 2 * k] << 8 | f[6 + 2 * k]));
                // The history after a raw frame is the pair stored in it.
                h1 = static_cast<std::int16_t>(f[1] << 8 | f[2]);
                h2 = static_cast<std::int16_t>(f[3] << 8 | f[4]);
                at += kRawFrameBytes;
                continue;
            }
            const unsigned char* f = block.At(at, kAdpcmFrameBytes, "a frame");
            const std::uint32_t left = count - index;
            const int filter = f[0] >> 4, shift = f[0] & 15;
            CheckFilters(block, filter, 0);
            for (int k = 0; k < kFrameSamples && k < static_cast<int>(left); ++k, ++index) {
                const int byte = f[1 + k / 2];
                const int nibble = k % 2 == 0 ? byte >> 4 : byte & 15;
                Put(index, channel, XaSample(SignExtend4(nibble), shift, filter, h1, h2, 0));
            }
            at += kAdpcmFrameBytes;
        }
    }

    // One channel's run of frames of the codecs that hold one.
    void FramesOfChannel(const Block& block, std::uint32_t count, int channel, std::size_t start) {
        const auto c = static_cast<std::size_t>(channel);
        const auto stride = static_cast<std::size_t>(channels_);
        int frameSamples = adpcm::kPsFrameSamples, frameBytes = adpcm::kPsFrameBytes;
        if (info_.codec == Codec::XboxImaAdpcm) {
            frameSamples = adpcm::kXboxFrameSamples;
            frameBytes = adpcm::kXboxFrameBytes;
        } else if (info_.codec == Codec::DspAdpcm) {
            frameSamples = adpcm::kDspFrameSamples;
            frameBytes = adpcm::kDspFrameBytes;
            if (info_.DspHistoryBeforeFrames())
                start += 4;  // two numbers of history the frames do not need
        } else if (info_.codec == Codec::N64Adpcm) {
            frameSamples = adpcm::kN64FrameSamples;
            frameBytes = adpcm::kN64FrameBytes;
        }
        const std::uint32_t frames = (count + frameSamples - 1) / frameSamples;
        const unsigned char* f =
            block.At(start, std::size_t{frames} * frameBytes, "a channel's frames");
        for (std::uint32_t k = 0; k < frames; ++k, f += frameBytes) {
            const std::uint32_t first = k * static_cast<std::uint32_t>(frameSamples);
            const int n = static_cast<int>(std::min<std::uint32_t>(frameSamples, count - first));
            std::int16_t* out = &out_[std::size_t{first} * stride + c];
            switch (info_.codec) {
                case Codec::PsAdpcm:
                    adpcm::DecodePsFrame(f, n, ps_[c], out, stride);
                    break;
                case Codec::XboxImaAdpcm:
                    adpcm::DecodeXboxFrame(f, n, out, stride);
                    break;
                case Codec::DspAdpcm:
                    adpcm::DecodeDspFrame(f, n, dspCoefficients_[c], dsp_[c], out, stride);
                    break;
                default:
                    if (!adpcm::N64FramePredictorOk(f, codebooks_[c]))
                        throw DecodeError(block.Where() + ": a frame names predictor " +
                                          std::to_string(f[0] & 15) + ", beyond the codebook's " +
                                          std::to_string(codebooks_[c].predictors));
                    adpcm::DecodeN64Frame(f, n, codebooks_[c], n64_[c], out, stride);
                    break;
            }
        }
    }

    // IMA with its state stored in the block for two channels, then the
    // codes from byte 12: a byte per stereo pair (left high), or two mono
    // samples per byte (high first).
    void Ima(const Block& block, std::uint32_t count) {
        const unsigned char* stored = block.At(4, 8, "the IMA state");
        adpcm::ImaState state[2];
        for (int c = 0; c < 2; ++c)
            state[c] = {ReadInt16(stored + 4 * c, false),
                        std::clamp<int>(ReadInt16(stored + 4 * c + 2, false), 0, 88)};
        if (channels_ == 2) {
            const unsigned char* b = block.At(12, count, "the samples");
            for (std::uint32_t i = 0; i < count; ++i) {
                Put(i, 0, adpcm::ImaDecode(b[i] >> 4, state[0]));
                Put(i, 1, adpcm::ImaDecode(b[i] & 15, state[1]));
            }
            return;
        }
        const unsigned char* b = block.At(12, (std::size_t{count} + 1) / 2, "the samples");
        for (std::uint32_t i = 0; i < count; ++i)
            Put(i, 0, adpcm::ImaDecode(i % 2 == 0 ? b[i / 2] >> 4 : b[i / 2] & 15, state[0]));
    }

    void MicroTalkChannel(const Block& block, std::uint32_t count, int channel, std::size_t start) {
        if (count == 0)
            return;
        const unsigned char* data = block.At(start, 0, "a channel's bitstream");
        const std::string damage = microTalk_[static_cast<std::size_t>(channel)].DecodeBlock(
            data, block.Size() - start, count, info_.LaterRevision(),
            &out_[static_cast<std::size_t>(channel)], static_cast<std::size_t>(channels_));
        if (!damage.empty())
            throw DecodeError(block.Where() + ": " + damage);
    }

    static void CheckFilters(const Block& block, int a, int b) {
        if (a > 3 || b > 3)
            throw DecodeError(block.Where() + ": a frame names filter " +
                              std::to_string(a > 3 ? a : b) + ", which XA ADPCM does not have");
    }

    const StreamInfo& info_;
    std::vector<std::int16_t>& out_;
    int channels_;
    std::vector<int> h1_, h2_;
    std::vector<adpcm::PsHistory> ps_;
    std::vector<adpcm::DspHistory> dsp_;
    std::vector<adpcm::N64History> n64_;
    std::vector<adpcm::DspCoefficients> dspCoefficients_;
    std::vector<adpcm::N64Codebook> codebooks_;
    std::vector<microtalk::ChannelDecoder> microTalk_;
};

}  // namespace

bool CanDecode(const StreamInfo& info) {
    return info.Playable();
}

struct BlockReader::Impl {
    const ByteSource& source;
    const StreamInfo& info;
    std::string name;
    std::vector<std::int16_t> samples;
    StreamDecoder decoder;
    std::string payload;
    std::size_t next = 0;
    // MPEG: one decoder for the whole stream, fed block after block as far
    // as the counts need; what it gave and is not yet handed out; the delay
    // still to drop.
    std::unique_ptr<mpeg::Decoder> mpeg;
    std::deque<std::int16_t> decoded;
    std::size_t fed = 0;
    std::uint64_t delay = 0;

    Impl(const ByteSource& s, const StreamInfo& i, std::string n)
        : source(s), info(i), name(std::move(n)), decoder(i, samples) {
        if (i.codec == Codec::MpegLayer2 || i.codec == Codec::MpegLayer3) {
            mpeg = std::make_unique<mpeg::Decoder>(static_cast<int>(i.sampleRate),
                                                   static_cast<int>(i.channels));
            delay =
                static_cast<std::uint64_t>(mpeg::StartDelay(i.codec == Codec::MpegLayer2 ? 2 : 3)) *
                static_cast<std::uint64_t>(i.channels);
        }
    }

    std::string Where(std::size_t k) const {
        return "The stream " + name + ", data block " + std::to_string(k + 1) + " (byte " +
               std::to_string(info.dataBlocks[k].offset) + ")";
    }

    // Reads block k's payload; throws at the stream's end.
    void Load(std::size_t k) {
        const StreamBlock& b = info.dataBlocks[k];
        payload.resize(b.size - kBlockPreamble);
        if (source.ReadAt(b.offset + kBlockPreamble, payload.data(), payload.size()) !=
            payload.size())
            throw DecodeError(Where(k) + ": the stream ends inside the block");
    }

    // Feeds the next block's frames (at the first channel's offset, which
    // both channels share) to the MPEG decoder.
    void FeedMpeg() {
        const std::size_t k = fed++;
        Load(k);
        const std::string where = Where(k);
        const Block block(payload, where);
        const auto table = 4 + 4 * static_cast<std::size_t>(info.channels);
        const std::size_t start = table + block.Uint32(4, info.bigEndian, "the channel offsets");
        const unsigned char* data = block.At(start, 0, "the frames");
        const std::size_t length = mpeg::FramesLength(data, block.Size() - start);
        if (const std::string error = mpeg->Feed(data, length, decoded); !error.empty())
            throw DecodeError(Where(k) + ": " + error);
    }

    // Block k's samples: as many as it counts, after the delay, from the
    // frames of this block and (where the counts run ahead) the next ones.
    void NextMpeg(std::size_t k, std::vector<std::int16_t>& out) {
        const auto need =
            std::uint64_t{info.dataBlocks[k].samples} * static_cast<std::uint64_t>(info.channels);
        while (decoded.size() < delay + need && fed < info.dataBlocks.size())
            FeedMpeg();
        const auto dropped =
            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(delay, decoded.size()));
        decoded.erase(decoded.begin(), decoded.begin() + dropped);
        delay -= static_cast<std::uint64_t>(dropped);
        if (decoded.size() < need)
            throw DecodeError(Where(k) +
                              ": the frames hold fewer samples than the blocks count; the "
                              "stream is damaged");
        out.assign(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(need));
        decoded.erase(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(need));
    }
};

std::string DecodeRefusal(const StreamInfo& info, const std::string& name) {
    if (std::string refusal = info.PlausibilityRefusal(name); !refusal.empty())
        return refusal;
    if (std::string refusal = info.LayoutRefusal(name, "decoded"); !refusal.empty())
        return refusal;
    if (const char* why = TraitsOf(info.codec).whyNot)
        return "The stream " + name + " is " + info.CodecName() + ": " + why + ".";
    if (!CanDecode(info))
        return "The stream " + name + " is " + info.CodecName() +
               ", which this program cannot decode yet.";
    return {};
}

BlockReader::BlockReader(const ByteSource& source, const StreamInfo& info, std::string name) {
    if (const std::string refusal = DecodeRefusal(info, name); !refusal.empty())
        throw DecodeError(refusal);
    impl_ = std::make_unique<Impl>(source, info, std::move(name));
}

BlockReader::~BlockReader() = default;

bool BlockReader::Next(std::vector<std::int16_t>& samples) {
    Impl& d = *impl_;
    if (d.next >= d.info.dataBlocks.size())
        return false;
    const std::size_t k = d.next++;
    const StreamBlock& b = d.info.dataBlocks[k];
    const std::string where = d.Where(k);
    // A count beyond what the codec's bytes can hold is damage, and must
    // not cost memory.
    if (static_cast<double>(b.samples) * static_cast<double>(d.info.channels) >
        static_cast<double>(b.size - kBlockPreamble) * TraitsOf(d.info.codec).maxSamplesPerByte)
        throw DecodeError(where + ": the block declares " + std::to_string(b.samples) +
                          " samples, more than its " + std::to_string(b.size - kBlockPreamble) +
                          " bytes hold");
    if (d.mpeg) {
        d.NextMpeg(k, samples);
        return true;
    }
    d.Load(k);
    const Block block(d.payload, where);
    if (block.Size() < 4)
        throw DecodeError(where + ": the block holds no sample count");
    d.decoder.DecodeBlock(block, b.samples);
    samples.swap(d.samples);
    return true;
}

void DecodeBlocks(const ByteSource& source, const StreamInfo& info, const std::string& name,
                  const BlockSink& sink) {
    BlockReader reader(source, info, name);
    std::vector<std::int16_t> samples;
    const auto channels = static_cast<std::size_t>(info.channels);
    while (reader.Next(samples))
        if (!sink(samples.data(), samples.size() / channels))
            break;
}

std::vector<std::int16_t> DecodeStream(const ByteSource& source, const StreamInfo& info,
                                       const std::string& name,
                                       const std::function<bool(std::size_t)>& progress) {
    // Room for every sample, but never more than the blocks can hold: a
    // damaged count must not cost memory.
    std::uint64_t room = 0;
    for (const StreamBlock& b : info.dataBlocks)
        room += std::uint64_t{b.size} * 2;
    std::vector<std::int16_t> out;
    if (info.PlausibilityRefusal(name).empty())
        out.reserve(static_cast<std::size_t>(
            std::min(room, info.samples * static_cast<std::uint64_t>(info.channels))));
    std::size_t blocks = 0;
    DecodeBlocks(source, info, name, [&](const std::int16_t* samples, std::size_t frames) {
        out.insert(out.end(), samples, samples + frames * static_cast<std::size_t>(info.channels));
        return !progress || progress(++blocks);
    });
    return out;
}

}  // namespace tamrel
