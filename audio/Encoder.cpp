#include "audio/Encoder.h"

#include <algorithm>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "io/Bytes.h"
#include "io/FileIo.h"

namespace tamrel {

namespace {

// The longest block written: real streams hold a few thousand samples per
// block, and a damaged old stream must not make the encoder hold more.
constexpr std::uint64_t kMaxBlockFrames = 28 * 4681;
// The size of the pieces an encoded stream is held in.
constexpr std::size_t kBodyPiece = 4 << 20;
constexpr const char* kTooLarge =
    "the new stream would reach 2 GiB, more than this program's files may hold";
constexpr const char* kTooManySamples =
    "the new stream would hold more samples than a stream can count";

}  // namespace

struct StreamEncoder::Impl {
    const StreamInfo& info;
    std::string oldHeader;
    EncodeStats localStats;
    const CodecRecord& record;
    std::unique_ptr<CodecEncoder> coder;
    std::size_t channels;
    std::uint32_t perBlock;
    // Once three blocks' worth has come, the block length is settled: the
    // stream will have at least three blocks of it.
    bool settled = false;
    std::vector<std::int16_t> pending;  // frames not yet in a block
    std::uint64_t frames = 0;
    std::uint32_t blockCount = 0;
    std::vector<std::string> body;
    std::uint64_t bodySize = 0;
    // DSP and N64: the predictors are fitted to windows of the sound before
    // the first frame is written.
    std::vector<adpcm::PredictorFitter> fitters;
    bool trained = false, fitted = false;

    Impl(const StreamInfo& i, std::string_view header, EncodeStats* stats)
        : info(i),
          oldHeader(header.substr(0, std::min<std::size_t>(header.size(), i.headerSize))),
          record(RecordOf(i.codec)),
          coder(record.encoder(i, stats ? *stats : localStats)),
          channels(static_cast<std::size_t>(i.channels)),
          perBlock(BlockLengthOf(i)) {
        if (record.fittedPredictors > 0)
            fitters.assign(channels,
                           adpcm::PredictorFitter(static_cast<int>(record.blockMultiple)));
    }

    // About the old blocks' length, a whole number of frames; never more than
    // kMaxBlockFrames, whatever a damaged old stream declares.
    static std::uint32_t BlockLengthOf(const StreamInfo& info) {
        const std::uint32_t frame = RecordOf(info.codec).blockMultiple;
        std::uint64_t oldCount = 0;
        for (const StreamBlock& b : info.dataBlocks)
            oldCount += b.samples;
        std::uint64_t length = info.dataBlocks.empty() ? 2048 : oldCount / info.dataBlocks.size();
        length = (length + frame / 2) / frame * frame;
        return static_cast<std::uint32_t>(
            std::clamp<std::uint64_t>(length, frame, kMaxBlockFrames / frame * frame));
    }

    void Train(const std::int16_t* samples, std::size_t frames) {
        for (std::size_t c = 0; frames > 0 && c < fitters.size(); ++c)
            fitters[c].Add(samples + c, frames, channels);
        trained = true;
    }

    void FitCoefficients() {
        if (fitted || fitters.empty())
            return;
        // Without a first reading, the sound that has come so far serves.
        if (!trained)
            Train(pending.data(), pending.size() / channels);
        std::vector<std::vector<adpcm::PredictorPair>> pairs;
        for (const adpcm::PredictorFitter& fitter : fitters)
            pairs.push_back(fitter.Fit(record.fittedPredictors));
        coder->SetPredictors(pairs);
        fitted = true;
    }

    // Encodes the pending frames into blocks of perBlock while there are
    // enough (or, at the end, all of them).
    void EmitBlocks(bool all) {
        FitCoefficients();
        std::size_t at = 0;
        const std::size_t have = pending.size() / channels;
        while (have - at >= perBlock || (all && at < have)) {
            const auto count =
                static_cast<std::uint32_t>(std::min<std::size_t>(perBlock, have - at));
            AppendBlock(coder->Payload(pending.data() + at * channels, count));
            at += count;
        }
        pending.erase(pending.begin(),
                      pending.begin() + static_cast<std::ptrdiff_t>(at * channels));
    }

    void AppendBlock(const std::string& payload) {
        // The header and the end block are small; the data decides.
        if (bodySize + payload.size() + 4096 > static_cast<std::uint64_t>(kMaxFileSize))
            throw EncodeError(kTooLarge);
        Append(MakeBlock("SCDl", payload));
        ++blockCount;
    }

    void Append(const std::string& bytes) {
        if (body.empty() || body.back().size() + bytes.size() > kBodyPiece) {
            body.emplace_back();
            body.back().reserve(std::max(kBodyPiece, bytes.size()));
        }
        body.back() += bytes;
        bodySize += bytes.size();
    }
};

StreamEncoder::StreamEncoder(const StreamInfo& info, std::string_view oldHeader,
                             EncodeStats* stats) {
    if (!info.Encodable())
        throw EncodeError("no encoder for " + info.CodecName());
    if (oldHeader.size() < info.headerSize)
        throw std::logic_error("the old stream's header is not all there");
    impl_ = std::make_unique<Impl>(info, oldHeader, stats);
}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::CheckLength(std::uint64_t frames) const {
    const Impl& d = *impl_;
    if (frames > 0xFFFFFFFFu)
        throw EncodeError(kTooManySamples);
    const double least = static_cast<double>(frames) * static_cast<double>(d.channels) *
                         d.coder->LeastBytesPerSample();
    if (least >= static_cast<double>(kMaxFileSize))
        throw EncodeError(kTooLarge);
}

void StreamEncoder::Add(const std::int16_t* samples, std::size_t frames) {
    Impl& d = *impl_;
    if (d.frames + frames > 0xFFFFFFFFu)
        throw EncodeError(kTooManySamples);
    d.pending.insert(d.pending.end(), samples, samples + frames * d.channels);
    d.frames += frames;
    if (!d.settled && d.frames >= 3 * std::uint64_t{d.perBlock})
        d.settled = true;
    if (d.settled)
        d.EmitBlocks(false);
}

bool StreamEncoder::NeedsTraining() const {
    return !impl_->fitters.empty() && !impl_->trained;
}

void StreamEncoder::Train(const std::int16_t* samples, std::size_t frames) {
    impl_->Train(samples, frames);
}

std::uint64_t StreamEncoder::Frames() const {
    return impl_->frames;
}

EncodedStream StreamEncoder::Finish(std::optional<SampleLoop> loop) {
    Impl& d = *impl_;
    // Players refuse a stream without a sample, and no loop fits in one.
    if (d.frames == 0)
        throw EncodeError("there is no sound to encode");
    if (!d.settled) {
        // A short stream: blocks of a third of it, so that it has three.
        const std::uint32_t frame = d.record.blockMultiple;
        const std::uint64_t third = (d.frames + 2) / 3;
        d.perBlock =
            std::min<std::uint32_t>(d.perBlock, static_cast<std::uint32_t>(std::max<std::uint64_t>(
                                                    frame, (third + frame - 1) / frame * frame)));
    }
    d.EmitBlocks(true);
    if (std::optional<std::string> last = d.coder->Flush(d.frames))
        d.AppendBlock(*last);
    while (d.blockCount < 3)
        d.AppendBlock(d.coder->Payload(nullptr, 0));
    const auto total = static_cast<std::uint32_t>(d.frames);
    if (d.info.Loops() && !loop)
        loop = SampleLoop{0, total};
    if (!d.info.Loops())
        loop.reset();
    EncodedStream out;
    out.frames = d.frames;
    out.head = RewriteHeader(d.oldHeader, d.info.headerSize, {total, loop, d.coder->HeaderTags()});
    if (d.info.blockCountTag) {
        std::string count;
        PutUint32(count, d.blockCount, d.info.bigEndian);
        out.head += MakeBlock("SCCl", count);
    }
    d.Append(MakeBlock("SCEl", ""));
    out.body = std::move(d.body);
    return out;
}

std::uint64_t EncodedStream::Size() const {
    std::uint64_t size = head.size();
    for (const std::string& piece : body)
        size += piece.size();
    return size;
}

}  // namespace tamrel
