#include "audio/AudioFile.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>
#include <type_traits>

#include "audio/DeclaredLength.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"

namespace tamrel {

namespace {

// Frames of the file read per call: about a megabyte of floats whatever the
// channel count, so a long or hostile file costs no more memory than a short one.
constexpr std::size_t kChunkSamples = 1 << 18;
// Frames the resampler hands back per call.
constexpr std::size_t kResampledFrames = 1 << 14;
constexpr float kCentreWeight = 0.70710678f;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

struct SoxrDeleter {
    void operator()(soxr* resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<soxr, SoxrDeleter>;

// What a channel of the file is to a stereo mix.
enum class Role { Unknown, Mono, Left, Right, Centre, LeftSurround, RightSurround, Lfe };

Role RoleOfPosition(int position) {
    switch (position) {
        case SF_CHANNEL_MAP_MONO:
        case SF_CHANNEL_MAP_AMBISONIC_B_W:
            return Role::Mono;
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
            return Role::Left;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
            return Role::Right;
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
        case SF_CHANNEL_MAP_REAR_CENTER:
        case SF_CHANNEL_MAP_TOP_CENTER:
        case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        case SF_CHANNEL_MAP_TOP_REAR_CENTER:
            return Role::Centre;
        case SF_CHANNEL_MAP_REAR_LEFT:
        case SF_CHANNEL_MAP_SIDE_LEFT:
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        case SF_CHANNEL_MAP_TOP_REAR_LEFT:
            return Role::LeftSurround;
        case SF_CHANNEL_MAP_REAR_RIGHT:
        case SF_CHANNEL_MAP_SIDE_RIGHT:
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
            return Role::RightSurround;
        case SF_CHANNEL_MAP_LFE:
            return Role::Lfe;
        default:
            return Role::Unknown;
    }
}

// WAVE order, the usual one of WAV files without a mask, FLAC and MP3: L, R,
// C, LFE, back L, back R, front L and R of centre, back C, side L, side R,
// then the top channels.
std::vector<Role> WaveOrder(int channels) {
    static constexpr Role kOrder[] = {
        Role::Left,          Role::Right,  Role::Centre,        Role::Lfe,    Role::LeftSurround,
        Role::RightSurround, Role::Left,   Role::Right,         Role::Centre, Role::LeftSurround,
        Role::RightSurround, Role::Centre, Role::LeftSurround,  Role::Centre, Role::RightSurround,
        Role::LeftSurround,  Role::Centre, Role::RightSurround,
    };
    std::vector<Role> roles(static_cast<std::size_t>(channels), Role::Unknown);
    for (std::size_t i = 0; i < roles.size() && i < std::size(kOrder); ++i)
        roles[i] = kOrder[i];
    return roles;
}

// Vorbis order, the one of Ogg Vorbis and Opus: the centre second.
std::vector<Role> VorbisOrder(int channels) {
    using R = Role;
    switch (channels) {
        case 2:
            return {R::Left, R::Right};
        case 3:
            return {R::Left, R::Centre, R::Right};
        case 4:
            return {R::Left, R::Right, R::LeftSurround, R::RightSurround};
        case 5:
            return {R::Left, R::Centre, R::Right, R::LeftSurround, R::RightSurround};
        case 6:
            return {R::Left, R::Centre, R::Right, R::LeftSurround, R::RightSurround, R::Lfe};
        case 7:
            return {R::Left,          R::Centre, R::Right, R::LeftSurround,
                    R::RightSurround, R::Centre, R::Lfe};
        case 8:
            return {R::Left,          R::Centre,       R::Right,         R::LeftSurround,
                    R::RightSurround, R::LeftSurround, R::RightSurround, R::Lfe};
        default:
            return std::vector<Role>(static_cast<std::size_t>(channels), Role::Unknown);
    }
}

bool UsesVorbisOrder(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG &&
           (sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS);
}

// The role of each of the file's channels: from its channel map where it has
// a complete one, else by its format's usual order.
std::vector<Role> ChannelRoles(SNDFILE* file, const SF_INFO& info) {
    if (info.channels == 1)
        return {Role::Mono};
    std::vector<int> map(static_cast<std::size_t>(info.channels), SF_CHANNEL_MAP_INVALID);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   static_cast<int>(map.size() * sizeof(int))) == SF_TRUE &&
        std::find(map.begin(), map.end(), SF_CHANNEL_MAP_INVALID) == map.end()) {
        std::vector<Role> roles;
        for (int position : map)
            roles.push_back(RoleOfPosition(position));
        return roles;
    }
    return UsesVorbisOrder(info.format) ? VorbisOrder(info.channels) : WaveOrder(info.channels);
}

// The weights of a side of the stereo mix for each role.
float SideWeight(Role role, bool left) {
    switch (role) {
        case Role::Mono:
            return 1.0f;
        case Role::Left:
            return left ? 1.0f : 0.0f;
        case Role::Right:
            return left ? 0.0f : 1.0f;
        case Role::Centre:
            return kCentreWeight;
        case Role::LeftSurround:
            return left ? kCentreWeight : 0.0f;
        case Role::RightSurround:
            return left ? 0.0f : kCentreWeight;
        case Role::Lfe:
        case Role::Unknown:
            break;
    }
    return 0.0f;
}

// The mix: for each output channel, the weight of each input channel
// (outChannels rows of roles.size() weights).
std::vector<float> MixMatrix(const std::vector<Role>& roles, int outChannels) {
    const std::size_t in = roles.size();
    const auto out = static_cast<std::size_t>(outChannels);
    std::vector<float> matrix(out * in, 0.0f);
    if (out >= 3) {
        for (std::size_t c = 0; c < out && c < in; ++c)
            matrix[c * in + c] = 1.0f;
        return matrix;
    }
    // Each side divided by the sum of its weights: a fixed gain that cannot clip.
    std::vector<float> side[2] = {std::vector<float>(in), std::vector<float>(in)};
    float sum[2] = {0, 0};
    for (int s = 0; s < 2; ++s)
        for (std::size_t k = 0; k < in; ++k)
            sum[s] += side[s][k] = SideWeight(roles[k], s == 0);
    for (int s = 0; s < 2; ++s) {
        if (sum[s] > 0)
            continue;
        // A side that nothing feeds takes the other side, or everything alike.
        const int other = 1 - s;
        for (std::size_t k = 0; k < in; ++k)
            side[s][k] = sum[other] > 0 ? side[other][k] : 1.0f;
        sum[s] = sum[other] > 0 ? sum[other] : static_cast<float>(in);
    }
    for (std::size_t k = 0; k < in; ++k) {
        const float left = side[0][k] / sum[0], right = side[1][k] / sum[1];
        if (out == 1) {
            matrix[k] = (left + right) / 2;
        } else {
            matrix[k] = left;
            matrix[in + k] = right;
        }
    }
    return matrix;
}

constexpr std::size_t kSilent = static_cast<std::size_t>(-1);

// For each output channel, the one input channel it copies unchanged (or
// kSilent for one that nothing feeds); empty when the mix is more than copying.
std::vector<std::size_t> CopiedChannels(const std::vector<float>& matrix, std::size_t in,
                                        std::size_t out) {
    std::vector<std::size_t> copied;
    for (std::size_t c = 0; c < out; ++c) {
        std::size_t ones = 0, from = 0;
        for (std::size_t k = 0; k < in; ++k) {
            const float w = matrix[c * in + k];
            if (w == 1.0f) {
                ++ones;
                from = k;
            } else if (w != 0.0f) {
                return {};
            }
        }
        if (ones > 1)
            return {};
        copied.push_back(ones == 1 ? from : kSilent);
    }
    return copied;
}

// True when the file's samples are whole 16-bit values or fewer bits.
bool AtMost16Bits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return true;
        default:
            return false;
    }
}

std::optional<FrameLoop> FirstForwardLoop(SNDFILE* file) {
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE)
        return std::nullopt;
    const int count = std::clamp(instrument.loop_count, 0, 16);
    for (int i = 0; i < count; ++i) {
        const auto& loop = instrument.loops[i];
        // libsndfile reports the end exclusively already.
        if (loop.mode == SF_LOOP_FORWARD && loop.end > loop.start)
            return FrameLoop{loop.start, loop.end};
    }
    return std::nullopt;
}

// Thrown through the conversion when the caller wants no more.
struct StopReading {};

// Reduces samples of -1..1 to 16 bits with triangular dither of one step,
// the random sequence running on across chunks.
class Ditherer {
public:
    void Reduce(const float* in, std::size_t count, std::vector<std::int16_t>& out) {
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            // Digital silence stays silent: dither would only add noise.
            const float dither = in[i] == 0.0f ? 0.0f : uniform_(random_) - uniform_(random_);
            const float v = std::round(in[i] * 32768.0f + dither);
            out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
        }
    }

private:
    std::mt19937 random_{0x5EED};
    std::uniform_real_distribution<float> uniform_{0.0f, 1.0f};
};

}  // namespace

struct AudioFileReader::Impl {
    std::string path;
    InputFile file;
    SF_INFO info{};
    SndFile handle;
    AudioFileFacts facts;
    std::vector<Role> roles;
    std::uint64_t framesRead = 0;

    explicit Impl(const std::string& p) : path(p), file(p) {}
    Impl(const Folder& folder, const std::string& name)
        : path(folder.PathOf(name)), file(folder, name) {}

    void Open();

    [[noreturn]] void Damaged() const {
        throw AudioFileError("Cannot read the audio file " + path + ": it is damaged at " +
                             FormatDuration(static_cast<double>(framesRead) / info.samplerate) +
                             ".");
    }

    // Reads up to frames frames as T; 0 at the end. A read error is damage.
    template <typename T>
    std::size_t Read(T* buffer, std::size_t frames) {
        sf_count_t n;
        if constexpr (std::is_same_v<T, short>)
            n = sf_readf_short(handle.get(), buffer, static_cast<sf_count_t>(frames));
        else
            n = sf_readf_float(handle.get(), buffer, static_cast<sf_count_t>(frames));
        const auto got = static_cast<std::size_t>(std::max<sf_count_t>(n, 0));
        framesRead += got;
        // The next call clears the error: ask after every one.
        if (sf_error(handle.get()) != SF_ERR_NO_ERROR)
            Damaged();
        return got;
    }

    // At the end: a file that declares its length exactly must have given all of it.
    void CheckLength() const {
        if (facts.exactFrames && framesRead < *facts.exactFrames)
            Damaged();
        if (framesRead == 0)
            throw AudioFileError(path + " holds no audio.");
    }
};

AudioFileReader::AudioFileReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {
    impl_->Open();
}

AudioFileReader::AudioFileReader(const Folder& folder, const std::string& name)
    : impl_(std::make_unique<Impl>(folder, name)) {
    impl_->Open();
}

void AudioFileReader::Impl::Open() {
    Impl& d = *this;
    if (!d.file.IsOpen()) {
        const int error = d.file.OpenError();
        if (error == EISDIR || error == ENODEV)
            throw AudioFileError(path + " is not a regular file.");
        throw AudioFileError("Cannot read the audio file " + path + ": " + ErrorText(error));
    }
    if (d.file.RawSize() == 0)
        throw AudioFileError(path + " holds no audio.");
    d.handle.reset(sf_open_fd(d.file.LibraryDescriptor(), SFM_READ, &d.info, SF_FALSE));
    if (!d.handle)
        throw AudioFileError(path +
                             " is not an audio file this program can read (WAV, FLAC, Ogg Vorbis, "
                             "Opus, MP3).");
    if (d.info.channels < 1 || d.info.samplerate < 1)
        throw AudioFileError("Cannot read the audio file " + path + ": it holds no sound");
    if (d.info.samplerate < kMinAudioFileRate)
        throw AudioFileError("The audio file " + path + " has a rate of " +
                             std::to_string(d.info.samplerate) +
                             " Hz; this program takes audio of " +
                             std::to_string(kMinAudioFileRate) + " Hz or more.");
    d.facts.channels = d.info.channels;
    d.facts.rate = d.info.samplerate;
    const DeclaredLength declared =
        DeclaredLengthOf(d.file, d.info.format, d.info.samplerate, d.info.frames);
    if (declared.damagedAt)
        throw AudioFileError("Cannot read the audio file " + path + ": it is damaged at " +
                             FormatDuration(*declared.damagedAt) + ".");
    d.facts.exactFrames = declared.frames;
    if (d.info.frames > 0 && d.info.frames < SF_COUNT_MAX)
        d.facts.expectedFrames = static_cast<std::uint64_t>(d.info.frames);
    if (d.facts.exactFrames)
        d.facts.expectedFrames = *d.facts.exactFrames;
    if (d.facts.exactFrames == std::uint64_t{0})
        throw AudioFileError(path + " holds no audio.");
    d.facts.loop = FirstForwardLoop(d.handle.get());
    d.roles = ChannelRoles(d.handle.get(), d.info);
}

AudioFileReader::~AudioFileReader() = default;

const AudioFileFacts& AudioFileReader::Facts() const {
    return impl_->facts;
}

std::uint64_t AudioFileReader::ConvertTo(int rate, int channels, const FrameSink& sink,
                                         const std::function<void(std::uint64_t)>& progress) {
    std::uint64_t produced = 0;
    try {
        Convert(
            rate, channels,
            [&](const std::int16_t* samples, std::size_t frames) {
                produced += frames;
                if (!sink(samples, frames))
                    throw StopReading{};
            },
            progress);
    } catch (const StopReading&) {
        // The caller has what it wanted; the rest of the file is not read.
    }
    return produced;
}

void AudioFileReader::Convert(int rate, int channels,
                              const std::function<void(const std::int16_t*, std::size_t)>& sink,
                              const std::function<void(std::uint64_t)>& progress) {
    Impl& d = *impl_;
    const auto in = static_cast<std::size_t>(d.info.channels);
    const auto out = static_cast<std::size_t>(channels);
    const std::size_t chunkFrames = std::max<std::size_t>(1, kChunkSamples / in);
    const std::vector<float> matrix = MixMatrix(d.roles, channels);
    std::vector<std::int16_t> converted;

    // Whole 16-bit values that need no resampling and no mixing stay as they are.
    const std::vector<std::size_t> copied = CopiedChannels(matrix, in, out);
    if (AtMost16Bits(d.info.format) && d.info.samplerate == rate && !copied.empty()) {
        std::vector<short> buffer(chunkFrames * in);
        while (const std::size_t n = d.Read(buffer.data(), chunkFrames)) {
            converted.resize(n * out);
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t c = 0; c < out; ++c)
                    converted[i * out + c] = copied[c] == kSilent ? 0 : buffer[i * in + copied[c]];
            sink(converted.data(), n);
            if (progress)
                progress(d.framesRead);
        }
        d.CheckLength();
        return;
    }

    Resampler resampler;
    if (d.info.samplerate != rate) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler.reset(soxr_create(d.info.samplerate, rate, static_cast<unsigned>(out), &error,
                                    &io, &quality, nullptr));
        if (!resampler || error)
            throw AudioFileError("Cannot convert the audio file " + d.path + ": " +
                                 (error ? error : "no resampler"));
    }
    Ditherer ditherer;
    std::vector<float> resampled(kResampledFrames * out);
    auto emit = [&](const float* samples, std::size_t frames) {
        ditherer.Reduce(samples, frames * out, converted);
        sink(converted.data(), frames);
    };
    // Hands the resampler's output on until it has taken all of the input
    // (or, with none, until it has given out what it still held).
    auto resample = [&](const float* input, std::size_t frames) {
        std::size_t used = 0, made = 0;
        do {
            const soxr_error_t error = soxr_process(resampler.get(), input, frames, &used,
                                                    resampled.data(), kResampledFrames, &made);
            if (error)
                throw AudioFileError("Cannot convert the audio file " + d.path + ": " + error);
            emit(resampled.data(), made);
            if (input) {
                input += used * out;
                frames -= used;
            }
        } while ((input && frames > 0) || made == kResampledFrames || (!input && made > 0));
    };

    std::vector<float> buffer(chunkFrames * in), mixed(chunkFrames * out);
    while (const std::size_t n = d.Read(buffer.data(), chunkFrames)) {
        for (std::size_t i = 0; i < n; ++i) {
            const float* frame = &buffer[i * in];
            for (std::size_t c = 0; c < out; ++c) {
                const float* weights = &matrix[c * in];
                float v = 0;
                for (std::size_t k = 0; k < in; ++k)
                    v += weights[k] * frame[k];
                mixed[i * out + c] = v;
            }
        }
        if (resampler)
            resample(mixed.data(), n);
        else
            emit(mixed.data(), n);
        if (progress)
            progress(d.framesRead);
    }
    d.CheckLength();
    if (resampler)
        resample(nullptr, 0);
}

const char* ReadableAudioPatterns() {
    return "*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff";
}

}  // namespace tamrel
