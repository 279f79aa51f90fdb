// The 4-bit ADPCM codecs of the consoles' own (PS-ADPCM, DSP, N64): each
// frame's arithmetic, decoding and encoding, and the fitting of the
// predictors that DSP and N64 streams carry in their headers. Every sum is
// taken in 64 bits: the coefficients, scales and histories a damaged stream
// holds overflow 32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/Codecs.h"
#include "audio/Samples.h"

namespace tamrel::adpcm {

// ---- PS-ADPCM: 16-byte frames of 28 samples, low nibble first.
inline constexpr int kPsFrameBytes = 16;
inline constexpr int kPsFrameSamples = 28;
inline constexpr int kPsK1[5] = {0, 60, 115, 98, 122};
inline constexpr int kPsK2[5] = {0, 0, -52, -55, -60};

// The history keeps the unclipped value, which a damaged stream could grow
// without end: it is held within ±2^30, far beyond any real stream's.
struct PsHistory {
    std::int64_t h1 = 0, h2 = 0;
};

// Decodes the first count (≤ 28) samples of a frame into out, stride apart.
void DecodePsFrame(const unsigned char* frame, int count, PsHistory& history, std::int16_t* out,
                   std::size_t stride);
// Encodes 28 target samples (the first count real, the rest ignored) into a
// frame appended to out: every filter and shift through the decoder's own
// arithmetic with the carried history, least squared error.
void EncodePsFrame(const int* target, int count, PsHistory& history, std::string& out);

// ---- DSP ADPCM: 8-byte frames of 14 samples, high nibble first, with 8
// coefficient pairs per channel (11 fractional bits).
inline constexpr int kDspFrameBytes = 8;
inline constexpr int kDspFrameSamples = 14;
inline constexpr std::size_t kDspCoefficientBytes = 32;
inline constexpr int kDspPredictors = 8;               // coefficient pairs per channel
using DspCoefficients = std::array<std::int16_t, 16>;  // c1, c2 of pair 0, then pair 1, ...
struct DspHistory {
    int h1 = 0, h2 = 0;
};
// The coefficients from a header tag's value; nothing when it is too short.
std::optional<DspCoefficients> ReadDspCoefficients(std::string_view value, bool bigEndian);
// The tag's value as written: 32 bytes and a zero byte.
std::string DspCoefficientTag(const DspCoefficients& c, bool bigEndian);
void DecodeDspFrame(const unsigned char* frame, int count, const DspCoefficients& c,
                    DspHistory& history, std::int16_t* out, std::size_t stride);
void EncodeDspFrame(const int* target, int count, const DspCoefficients& c, DspHistory& history,
                    std::string& out);

// ---- N64 ADPCM: 9-byte frames of 16 samples in two groups of 8, with a
// codebook per channel (order 2, up to 8 predictors of 16 numbers each).
inline constexpr int kN64FrameBytes = 9;
inline constexpr int kN64FrameSamples = 16;
inline constexpr int kN64MaxPredictors = 8;
inline constexpr int kN64WrittenPredictors = 7;  // 232 bytes: the tag's length stays one byte
struct N64Codebook {
    int predictors = 0;
    // Per predictor: 8 numbers for h2, then 8 for h1.
    std::vector<std::array<std::int16_t, 16>> table;
};
struct N64History {
    int h1 = 0, h2 = 0;
};
// The codebook from a header tag's value (big-endian); nothing when it is
// not one of order 2 with 1 to 8 predictors that the value holds.
std::optional<N64Codebook> ReadN64Codebook(std::string_view value);
std::string N64CodebookTag(const N64Codebook& book);
// False when the frame names a predictor beyond the codebook: the caller
// refuses it as damage.
bool N64FramePredictorOk(const unsigned char* frame, const N64Codebook& book);
void DecodeN64Frame(const unsigned char* frame, int count, const N64Codebook& book,
                    N64History& history, std::int16_t* out, std::size_t stride);
void EncodeN64Frame(const int* target, int count, const N64Codebook& book, N64History& history,
                    std::string& out);

// ---- Fitting the predictors of DSP and N64 streams: second-order least
// squares per window, clustered into a few pairs. Holds a bounded set of
// windows spread over the input, however long it is.
struct PredictorPair {
    double a1 = 0, a2 = 0;
};
class PredictorFitter {
public:
    explicit PredictorFitter(int window) : window_(window) {}
    // One channel's samples, in order, stride apart.
    void Add(const std::int16_t* samples, std::size_t n, std::size_t stride);
    // Up to count pairs (fewer for silence), the first the best for all.
    std::vector<PredictorPair> Fit(int count) const;

private:
    struct Window {
        double r11 = 0, r12 = 0, r22 = 0, p1 = 0, p2 = 0, e0 = 0;
    };
    void Keep(const Window& w);

    int window_;
    int filled_ = 0;
    double x1_ = 0, x2_ = 0;  // the two samples before the window
    Window current_;
    std::uint64_t seen_ = 0, stride_ = 1;
    std::vector<Window> kept_;
};
DspCoefficients DspCoefficientsOf(const std::vector<PredictorPair>& pairs);
N64Codebook N64CodebookOf(const std::vector<PredictorPair>& pairs);

}  // namespace tamrel::adpcm

namespace tamrel {

// The coders of the codecs whose blocks hold a run of fixed frames per
// channel: PS-ADPCM, Xbox IMA, DSP and N64.
std::unique_ptr<CodecDecoder> MakeConsoleDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakeConsoleEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
