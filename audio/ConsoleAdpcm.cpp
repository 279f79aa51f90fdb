#include "audio/ConsoleAdpcm.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/Bytes.h"

namespace tamrel::adpcm {

namespace {

// The smallest scale (a power of two) at which 4-bit codes reach peak.
int NeededScale(std::int64_t peak) {
    int scale = 0;
    while (scale < 15 && (std::int64_t{7} << scale) < peak)
        ++scale;
    return scale;
}

std::int64_t Square(std::int64_t v) {
    return v * v;
}

// The two codes nearest value / step (a positive power of two), within -8..7.
void NearCodes(std::int64_t value, std::int64_t step, int& low, int& high) {
    std::int64_t q = value >= 0 ? value / step : -((-value + step - 1) / step);
    q = std::clamp<std::int64_t>(q, -8, 7);
    low = static_cast<int>(q);
    high = static_cast<int>(std::min<std::int64_t>(q + 1, 7));
}

}  // namespace

// ---- PS-ADPCM

namespace {

constexpr std::int64_t kPsHistoryBound = std::int64_t{1} << 30;

std::int64_t PsPrediction(int filter, const PsHistory& h) {
    return (kPsK1[filter] * h.h1 + kPsK2[filter] * h.h2) / 64;  // truncated toward zero
}

void PsPush(PsHistory& h, std::int64_t s) {
    h.h2 = h.h1;
    h.h1 = std::clamp(s, -kPsHistoryBound, kPsHistoryBound);
}

}  // namespace

void DecodePsFrame(const unsigned char* frame, int count, PsHistory& history, std::int16_t* out,
                   std::size_t stride) {
    int filter = frame[0] >> 4, shift = frame[0] & 15;
    if (filter > 4)
        filter = 0;
    if (shift > 12)
        shift = 9;
    for (int k = 0; k < count && k < kPsFrameSamples; ++k) {
        const int byte = frame[2 + k / 2];
        const int nibble = SignExtend4(k % 2 == 0 ? byte & 15 : byte >> 4);
        const std::int64_t s =
            ((std::int64_t{nibble} * 4096) >> shift) + PsPrediction(filter, history);
        out[static_cast<std::size_t>(k) * stride] = Clip16(s);
        PsPush(history, s);
    }
}

void EncodePsFrame(const int* target, int count, PsHistory& history, std::string& out) {
    struct Trial {
        int filter = 0, shift = 0;
        int codes[kPsFrameSamples] = {};
        PsHistory after;
        std::int64_t error = std::numeric_limits<std::int64_t>::max();
    } best, trial;
    for (int filter = 0; filter < 5; ++filter) {
        // The residual of the open-loop prediction tells the shift it needs.
        std::int64_t peak = 0;
        PsHistory open = history;
        for (int k = 0; k < count; ++k) {
            peak = std::max(peak, std::abs(target[k] - PsPrediction(filter, open)));
            PsPush(open, target[k]);
        }
        const int need = 12 - NeededScale(peak);
        for (int shift = std::max(0, need - 1); shift <= std::min(12, need + 1); ++shift) {
            const std::int64_t step = std::int64_t{1} << (12 - shift);
            PsHistory h = history;
            std::int64_t error = 0;
            for (int k = 0; k < kPsFrameSamples && error < best.error; ++k) {
                const std::int64_t prediction = PsPrediction(filter, h);
                int code = 0;
                std::int64_t s = prediction;
                if (k < count) {
                    int low, high;
                    NearCodes(target[k] - prediction, step, low, high);
                    const std::int64_t sLow = prediction + low * step,
                                       sHigh = prediction + high * step;
                    const bool useHigh =
                        std::abs(Clip16(sHigh) - target[k]) < std::abs(Clip16(sLow) - target[k]);
                    code = useHigh ? high : low;
                    s = useHigh ? sHigh : sLow;
                    error += Square(Clip16(s) - target[k]);
                }
                trial.codes[k] = code;
                PsPush(h, s);
            }
            if (error < best.error) {
                trial.filter = filter;
                trial.shift = shift;
                trial.after = h;
                trial.error = error;
                best = trial;
            }
        }
    }
    out.push_back(static_cast<char>(best.filter << 4 | best.shift));
    out.push_back('\0');
    for (int k = 0; k < kPsFrameSamples; k += 2)
        out.push_back(static_cast<char>((best.codes[k] & 15) | (best.codes[k + 1] & 15) << 4));
    history = best.after;
}

// ---- DSP

std::optional<DspCoefficients> ReadDspCoefficients(std::string_view value, bool bigEndian) {
    if (value.size() < kDspCoefficientBytes)
        return std::nullopt;
    DspCoefficients c{};
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    for (std::size_t i = 0; i < c.size(); ++i)
        c[i] = ReadInt16(p + 2 * i, bigEndian);
    return c;
}

std::string DspCoefficientTag(const DspCoefficients& c, bool bigEndian) {
    std::string value;
    for (std::int16_t v : c)
        PutInt16(value, v, bigEndian);
    value.push_back('\0');
    return value;
}

namespace {

std::int64_t DspPrediction(const DspCoefficients& c, int pair, const DspHistory& h) {
    return std::int64_t{c[2 * pair]} * h.h1 + std::int64_t{c[2 * pair + 1]} * h.h2;
}

std::int16_t DspStep(std::int64_t code, int scale, std::int64_t prediction) {
    return Clip16((code * (std::int64_t{1} << scale) * 2048 + 1024 + prediction) >> 11);
}

}  // namespace

void DecodeDspFrame(const unsigned char* frame, int count, const DspCoefficients& c,
                    DspHistory& history, std::int16_t* out, std::size_t stride) {
    // Eight pairs: a damaged frame's index above 7 takes the pair it names
    // modulo 8 rather than reading past them.
    const int pair = (frame[0] >> 4) & 7, scale = frame[0] & 15;
    for (int k = 0; k < count && k < kDspFrameSamples; ++k) {
        const int byte = frame[1 + k / 2];
        const int nibble = SignExtend4(k % 2 == 0 ? byte >> 4 : byte & 15);
        const std::int16_t s = DspStep(nibble, scale, DspPrediction(c, pair, history));
        out[static_cast<std::size_t>(k) * stride] = s;
        history.h2 = history.h1;
        history.h1 = s;
    }
}

void EncodeDspFrame(const int* target, int count, const DspCoefficients& c, DspHistory& history,
                    std::string& out) {
    struct Trial {
        int pair = 0, scale = 0;
        int codes[kDspFrameSamples] = {};
        DspHistory after;
        std::int64_t error = std::numeric_limits<std::int64_t>::max();
    } best, trial;
    // The pairs that predict the frame best open-loop are searched closed-loop.
    std::pair<std::int64_t, int> open[8];
    std::int64_t peaks[8];
    for (int pair = 0; pair < 8; ++pair) {
        DspHistory h = history;
        std::int64_t energy = 0, peak = 0;
        for (int k = 0; k < count; ++k) {
            const std::int64_t e = target[k] - ((DspPrediction(c, pair, h) + 1024) >> 11);
            energy += Square(e);
            peak = std::max(peak, std::abs(e));
            h.h2 = h.h1;
            h.h1 = target[k];
        }
        open[pair] = {energy, pair};
        peaks[pair] = peak;
    }
    std::sort(std::begin(open), std::end(open));
    for (int rank = 0; rank < 4; ++rank) {
        const int pair = open[rank].second;
        const int need = NeededScale(peaks[pair]);
        for (int scale = std::max(0, need - 1); scale <= std::min(15, need + 1); ++scale) {
            const std::int64_t step = std::int64_t{1} << scale;
            DspHistory h = history;
            std::int64_t error = 0;
            for (int k = 0; k < count && error < best.error; ++k) {
                const std::int64_t prediction = DspPrediction(c, pair, h);
                int low, high;
                NearCodes(target[k] - ((prediction + 1024) >> 11), step, low, high);
                const std::int16_t sLow = DspStep(low, scale, prediction);
                const std::int16_t sHigh = DspStep(high, scale, prediction);
                const bool useHigh = std::abs(sHigh - target[k]) < std::abs(sLow - target[k]);
                const std::int16_t s = useHigh ? sHigh : sLow;
                trial.codes[k] = useHigh ? high : low;
                error += Square(s - target[k]);
                h.h2 = h.h1;
                h.h1 = s;
            }
            if (error < best.error) {
                trial.pair = pair;
                trial.scale = scale;
                trial.after = h;
                trial.error = error;
                best = trial;
            }
        }
    }
    for (int k = count; k < kDspFrameSamples; ++k)
        best.codes[k] = 0;
    out.push_back(static_cast<char>(best.pair << 4 | best.scale));
    for (int k = 0; k < kDspFrameSamples; k += 2)
        out.push_back(static_cast<char>((best.codes[k] & 15) << 4 | (best.codes[k + 1] & 15)));
    history = best.after;
}

// ---- N64

std::optional<N64Codebook> ReadN64Codebook(std::string_view value) {
    if (value.size() < 8)
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const std::uint32_t order = ReadUint32(p, true), predictors = ReadUint32(p + 4, true);
    if (order != 2 || predictors < 1 || predictors > kN64MaxPredictors ||
        value.size() < 8 + std::size_t{predictors} * 32)
        return std::nullopt;
    N64Codebook book;
    book.predictors = static_cast<int>(predictors);
    book.table.resize(predictors);
    for (std::uint32_t k = 0; k < predictors; ++k)
        for (int i = 0; i < 16; ++i)
            book.table[k][static_cast<std::size_t>(i)] = ReadInt16(p + 8 + 32 * k + 2 * i, true);
    return book;
}

std::string N64CodebookTag(const N64Codebook& book) {
    std::string value;
    PutUint32(value, 2, true);
    PutUint32(value, static_cast<std::uint32_t>(book.predictors), true);
    for (const auto& entry : book.table)
        for (std::int16_t v : entry)
            PutInt16(value, v, true);
    return value;
}

bool N64FramePredictorOk(const unsigned char* frame, const N64Codebook& book) {
    return (frame[0] & 15) < book.predictors;
}

namespace {

int N64Code(const unsigned char* frame, int k) {
    const int byte = frame[1 + k / 2];
    return SignExtend4(k % 2 == 0 ? byte >> 4 : byte & 15);
}

// The group's sum for output i before its own residual: the start history
// through the table and the residuals before i.
std::int64_t N64Base(const std::array<std::int16_t, 16>& p, const N64History& h,
                     const std::int64_t* residuals, int i) {
    std::int64_t sum = std::int64_t{p[static_cast<std::size_t>(i)]} * h.h2 +
                       std::int64_t{p[static_cast<std::size_t>(8 + i)]} * h.h1;
    for (int k = 0; k < i; ++k)
        sum += residuals[k] * p[static_cast<std::size_t>(8 + i - 1 - k)];
    return sum;
}

}  // namespace

void DecodeN64Frame(const unsigned char* frame, int count, const N64Codebook& book,
                    N64History& history, std::int16_t* out, std::size_t stride) {
    const int scale = frame[0] >> 4;
    const auto& p = book.table[static_cast<std::size_t>(frame[0] & 15)];
    for (int group = 0; group < 2; ++group) {
        std::int64_t residuals[8];
        std::int16_t outputs[8];
        for (int i = 0; i < 8; ++i)
            residuals[i] = N64Code(frame, group * 8 + i) * (std::int64_t{1} << scale);
        for (int i = 0; i < 8; ++i) {
            outputs[i] = Clip16((N64Base(p, history, residuals, i) + residuals[i] * 2048) >> 11);
            const int k = group * 8 + i;
            if (k < count)
                out[static_cast<std::size_t>(k) * stride] = outputs[i];
        }
        history = {outputs[7], outputs[6]};
    }
}

void EncodeN64Frame(const int* target, int count, const N64Codebook& book, N64History& history,
                    std::string& out) {
    struct Trial {
        int predictor = 0, scale = 0;
        int codes[kN64FrameSamples] = {};
        N64History after;
        std::int64_t error = std::numeric_limits<std::int64_t>::max();
    } best, trial;
    auto t = [&](int k) { return k < count ? target[k] : 0; };
    std::vector<std::pair<std::int64_t, int>> open;
    std::vector<std::int64_t> peaks;
    for (int k = 0; k < book.predictors; ++k) {
        const auto& p = book.table[static_cast<std::size_t>(k)];
        std::int64_t energy = 0, peak = 0, x1 = history.h1, x2 = history.h2;
        for (int i = 0; i < kN64FrameSamples; ++i) {
            const std::int64_t e =
                t(i) - ((std::int64_t{p[8]} * x1 + std::int64_t{p[0]} * x2) >> 11);
            energy += Square(e);
            peak = std::max(peak, std::abs(e));
            x2 = x1;
            x1 = t(i);
        }
        open.push_back({energy, k});
        peaks.push_back(peak);
    }
    std::sort(open.begin(), open.end());
    for (std::size_t rank = 0; rank < open.size() && rank < 3; ++rank) {
        const int predictor = open[rank].second;
        const auto& p = book.table[static_cast<std::size_t>(predictor)];
        const int need = NeededScale(peaks[static_cast<std::size_t>(predictor)]);
        for (int scale = std::max(0, need - 1); scale <= std::min(15, need + 1); ++scale) {
            const std::int64_t step = std::int64_t{1} << scale;
            N64History h = history;
            std::int64_t error = 0;
            for (int group = 0; group < 2 && error < best.error; ++group) {
                std::int64_t residuals[8];
                std::int16_t outputs[8];
                for (int i = 0; i < 8; ++i) {
                    const int k = group * 8 + i;
                    const std::int64_t base = N64Base(p, h, residuals, i);
                    int low, high;
                    NearCodes(t(k) - (base >> 11), step, low, high);
                    const std::int16_t sLow = Clip16((base + low * step * 2048) >> 11);
                    const std::int16_t sHigh = Clip16((base + high * step * 2048) >> 11);
                    const bool useHigh = std::abs(sHigh - t(k)) < std::abs(sLow - t(k));
                    trial.codes[k] = useHigh ? high : low;
                    residuals[i] = trial.codes[k] * step;
                    outputs[i] = useHigh ? sHigh : sLow;
                    if (k < count)
                        error += Square(outputs[i] - t(k));
                }
                h = {outputs[7], outputs[6]};
            }
            if (error < best.error) {
                trial.predictor = predictor;
                trial.scale = scale;
                trial.after = h;
                trial.error = error;
                best = trial;
            }
        }
    }
    out.push_back(static_cast<char>(best.scale << 4 | best.predictor));
    for (int k = 0; k < kN64FrameSamples; k += 2)
        out.push_back(static_cast<char>((best.codes[k] & 15) << 4 | (best.codes[k + 1] & 15)));
    history = best.after;
}

// ---- Fitting

namespace {

constexpr std::size_t kKeptWindows = 4096;

PredictorPair Solve(double r11, double r12, double r22, double p1, double p2) {
    // A little ridge keeps silence and pure tones solvable.
    const double ridge = 1e-6 * (r11 + r22) + 1e-9;
    r11 += ridge;
    r22 += ridge;
    const double det = r11 * r22 - r12 * r12;
    if (!(std::abs(det) > 0))
        return {};
    PredictorPair a{(p1 * r22 - p2 * r12) / det, (p2 * r11 - p1 * r12) / det};
    a.a2 = std::clamp(a.a2, -0.999, 0.999);
    a.a1 = std::clamp(a.a1, -1.999, 1.999);
    return a;
}

}  // namespace

void PredictorFitter::Add(const std::int16_t* samples, std::size_t n, std::size_t stride) {
    for (std::size_t i = 0; i < n; ++i) {
        const double x = samples[i * stride];
        Window& w = current_;
        w.r11 += x1_ * x1_;
        w.r12 += x1_ * x2_;
        w.r22 += x2_ * x2_;
        w.p1 += x * x1_;
        w.p2 += x * x2_;
        w.e0 += x * x;
        x2_ = x1_;
        x1_ = x;
        if (++filled_ == window_) {
            Keep(current_);
            current_ = Window{};
            filled_ = 0;
        }
    }
}

void PredictorFitter::Keep(const Window& w) {
    // Every stride-th window; when too many are kept, every other goes and
    // the stride doubles, so that what is kept spreads over all the input.
    if (seen_++ % stride_ != 0)
        return;
    kept_.push_back(w);
    if (kept_.size() < kKeptWindows)
        return;
    std::size_t to = 0;
    for (std::size_t from = 0; from < kept_.size(); from += 2)
        kept_[to++] = kept_[from];
    kept_.resize(to);
    stride_ *= 2;
}

std::vector<PredictorPair> PredictorFitter::Fit(int count) const {
    std::vector<Window> windows = kept_;
    if (filled_ > 0)
        windows.push_back(current_);
    auto error = [](const Window& w, const PredictorPair& a) {
        return w.e0 - 2 * (a.a1 * w.p1 + a.a2 * w.p2) + a.a1 * a.a1 * w.r11 +
               2 * a.a1 * a.a2 * w.r12 + a.a2 * a.a2 * w.r22;
    };
    auto solve = [](const std::vector<const Window*>& members) {
        Window sum;
        for (const Window* w : members) {
            sum.r11 += w->r11;
            sum.r12 += w->r12;
            sum.r22 += w->r22;
            sum.p1 += w->p1;
            sum.p2 += w->p2;
        }
        return Solve(sum.r11, sum.r12, sum.r22, sum.p1, sum.p2);
    };
    std::vector<const Window*> all;
    for (const Window& w : windows)
        all.push_back(&w);
    std::vector<PredictorPair> pairs{solve(all)};
    std::vector<double> clusterError(1, 0);
    while (static_cast<int>(pairs.size()) < count && windows.size() > pairs.size()) {
        // The pair that serves its windows worst is split in two.
        const auto worst = static_cast<std::size_t>(
            std::max_element(clusterError.begin(), clusterError.end()) - clusterError.begin());
        const PredictorPair a = pairs[worst];
        pairs[worst] = {a.a1 * 1.02 + 0.01, a.a2 * 1.02 + 0.01};
        pairs.push_back({a.a1 * 0.98 - 0.01, a.a2 * 0.98 - 0.01});
        for (int round = 0; round < 8; ++round) {
            std::vector<std::vector<const Window*>> members(pairs.size());
            clusterError.assign(pairs.size(), 0);
            for (std::size_t w = 0; w < windows.size(); ++w) {
                std::size_t bestPair = 0;
                double bestError = std::numeric_limits<double>::max();
                for (std::size_t k = 0; k < pairs.size(); ++k)
                    if (const double e = error(windows[w], pairs[k]); e < bestError) {
                        bestError = e;
                        bestPair = k;
                    }
                members[bestPair].push_back(&windows[w]);
                clusterError[bestPair] += bestError;
            }
            for (std::size_t k = 0; k < pairs.size(); ++k)
                if (!members[k].empty())
                    pairs[k] = solve(members[k]);
        }
    }
    return pairs;
}

DspCoefficients DspCoefficientsOf(const std::vector<PredictorPair>& pairs) {
    DspCoefficients c{};
    for (std::size_t k = 0; k < pairs.size() && k < 8; ++k) {
        c[2 * k] = Clip16(std::llround(pairs[k].a1 * 2048));
        c[2 * k + 1] = Clip16(std::llround(pairs[k].a2 * 2048));
    }
    return c;
}

N64Codebook N64CodebookOf(const std::vector<PredictorPair>& pairs) {
    N64Codebook book;
    for (std::size_t k = 0; k < pairs.size() && k < kN64WrittenPredictors; ++k) {
        // The predictor's output at steps 0..7 from a unit history, h2's
        // numbers first, then h1's.
        std::array<std::int16_t, 16> entry{};
        for (int which = 0; which < 2; ++which) {
            double h1 = which == 1 ? 1 : 0, h2 = which == 1 ? 0 : 1;
            for (int i = 0; i < 8; ++i) {
                const double y = pairs[k].a1 * h1 + pairs[k].a2 * h2;
                entry[static_cast<std::size_t>(8 * which + i)] = Clip16(std::llround(y * 2048));
                h2 = h1;
                h1 = y;
            }
        }
        book.table.push_back(entry);
    }
    if (book.table.empty())
        book.table.push_back({});
    book.predictors = static_cast<int>(book.table.size());
    return book;
}

}  // namespace tamrel::adpcm
