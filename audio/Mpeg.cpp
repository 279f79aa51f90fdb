#include "audio/Mpeg.h"

#include <lame/lame.h>
#include <mpg123.h>
#include <twolame.h>

#include <stdexcept>
#include <vector>

namespace tamrel::mpeg {

std::optional<FrameHeader> ReadFrameHeader(const unsigned char* d, std::size_t size) {
    if (size < 4 || d[0] != 0xFF || (d[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (d[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layerBits = (d[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const int bitrateIndex = d[2] >> 4, rateIndex = (d[2] >> 2) & 3, padding = (d[2] >> 1) & 1;
    if (versionBits == 1 || (layerBits != 1 && layerBits != 2) || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    static constexpr int kRates[3] = {44100, 48000, 32000};
    static constexpr int kLayer2V1[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                          128, 160, 192, 224, 256, 320, 384};
    static constexpr int kLayer3V1[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                          112, 128, 160, 192, 224, 256, 320};
    static constexpr int kV2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    FrameHeader h;
    const bool v1 = versionBits == 3;
    h.layer = layerBits == 2 ? 2 : 3;
    h.rate = kRates[rateIndex] / (v1 ? 1 : versionBits == 2 ? 2 : 4);
    h.channels = (d[3] >> 6) == 3 ? 1 : 2;
    h.bitrate = !v1            ? kV2[bitrateIndex]
                : h.layer == 2 ? kLayer2V1[bitrateIndex]
                               : kLayer3V1[bitrateIndex];
    h.samples = h.layer == 3 && !v1 ? 576 : 1152;
    h.bytes = (h.samples / 8) * h.bitrate * 1000 / h.rate + padding;
    return h;
}

std::size_t FramesLength(const unsigned char* data, std::size_t size) {
    std::size_t at = 0;
    while (const auto h = ReadFrameHeader(data + at, size - at)) {
        if (static_cast<std::size_t>(h->bytes) > size - at)
            break;
        at += static_cast<std::size_t>(h->bytes);
    }
    return at;
}

struct Decoder::Impl {
    mpg123_handle* handle = nullptr;
    int channels = 0;
};

Decoder::Decoder(int rate, int channels) : impl_(std::make_unique<Impl>()) {
    int error = MPG123_OK;
    impl_->handle = mpg123_new(nullptr, &error);
    impl_->channels = channels;
    if (!impl_->handle)
        return;
    mpg123_handle* h = impl_->handle;
    // Every frame decoded, an info frame included, with nothing trimmed:
    // the stream's own delay and count say what is sound.
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    // Whole frames are fed, so each is decoded as it comes: without read-ahead,
    // which waits for the next frame's header, a stream of one frame would
    // give nothing.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME | MPG123_QUIET | MPG123_NO_READAHEAD,
                 0.0);
    mpg123_format_none(h);
    mpg123_format(h, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(h);
}

Decoder::~Decoder() {
    if (impl_->handle)
        mpg123_delete(impl_->handle);
}

std::string Decoder::Feed(const unsigned char* frames, std::size_t size,
                          std::deque<std::int16_t>& out) {
    mpg123_handle* h = impl_->handle;
    if (!h)
        return "the MPEG decoder could not start";
    if (size > 0 && mpg123_feed(h, frames, size) != MPG123_OK)
        return mpg123_strerror(h);
    for (;;) {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int result = mpg123_decode_frame(h, &frame, &audio, &bytes);
        if (result == MPG123_NEED_MORE || result == MPG123_DONE)
            return {};
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            return mpg123_plain_strerror(result);
        const auto* samples = reinterpret_cast<const std::int16_t*>(audio);
        out.insert(out.end(), samples, samples + bytes / 2);
    }
}

struct Encoder::Impl {
    int layer = 2, channels = 1, frameSamples = 1152;
    twolame_options* twolame = nullptr;
    lame_t lame = nullptr;
    std::string bytes;  // encoded, not yet a whole frame
    std::vector<unsigned char> buffer;
};

Encoder::Encoder(int layer, int rate, int channels, int bitrate) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.layer = layer;
    d.channels = channels;
    bool ok = false;
    if (layer == 2) {
        d.twolame = twolame_init();
        ok = d.twolame && twolame_set_in_samplerate(d.twolame, rate) == 0 &&
             twolame_set_out_samplerate(d.twolame, rate) == 0 &&
             twolame_set_num_channels(d.twolame, channels) == 0 &&
             twolame_set_mode(d.twolame, channels == 1 ? TWOLAME_MONO : TWOLAME_STEREO) == 0 &&
             twolame_set_bitrate(d.twolame, bitrate) == 0 && twolame_init_params(d.twolame) == 0;
    } else {
        d.lame = lame_init();
        ok = d.lame && lame_set_in_samplerate(d.lame, rate) == 0 &&
             lame_set_out_samplerate(d.lame, rate) == 0 &&
             lame_set_num_channels(d.lame, channels) == 0 &&
             lame_set_mode(d.lame, channels == 1 ? MONO : JOINT_STEREO) == 0 &&
             lame_set_VBR(d.lame, vbr_off) == 0 && lame_set_brate(d.lame, bitrate) == 0 &&
             lame_set_bWriteVbrTag(d.lame, 0) == 0 && lame_init_params(d.lame) >= 0;
        d.frameSamples = rate >= 32000 ? 1152 : 576;
    }
    if (!ok) {
        Release();
        throw std::runtime_error("the MPEG encoder takes no Layer " +
                                 std::string(layer == 2 ? "II" : "III") + " at " +
                                 std::to_string(rate) + " Hz, " + std::to_string(channels) +
                                 " channels and " + std::to_string(bitrate) + " kbit/s");
    }
}

void Encoder::Release() {
    if (impl_->twolame)
        twolame_close(&impl_->twolame);
    if (impl_->lame)
        lame_close(impl_->lame);
    impl_->twolame = nullptr;
    impl_->lame = nullptr;
}

Encoder::~Encoder() {
    Release();
}

int Encoder::FrameSamples() const {
    return impl_->frameSamples;
}

std::size_t Encoder::Add(const std::int16_t* samples, std::size_t frames, std::string& out) {
    Impl& d = *impl_;
    d.buffer.resize(frames * 5 / 4 + 7200 + frames * static_cast<std::size_t>(d.channels));
    int n = 0;
    if (frames > 0 && d.twolame) {
        n = twolame_encode_buffer_interleaved(d.twolame, samples, static_cast<int>(frames),
                                              d.buffer.data(), static_cast<int>(d.buffer.size()));
    } else if (frames > 0) {
        // LAME takes mono as one channel's buffer.
        std::vector<short> left(frames), right(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = samples[i * static_cast<std::size_t>(d.channels)];
            right[i] = samples[i * static_cast<std::size_t>(d.channels) +
                               static_cast<std::size_t>(d.channels - 1)];
        }
        n = lame_encode_buffer(d.lame, left.data(), right.data(), static_cast<int>(frames),
                               d.buffer.data(), static_cast<int>(d.buffer.size()));
    }
    if (n < 0)
        throw std::runtime_error("the MPEG encoder failed (" + std::to_string(n) + ")");
    d.bytes.append(reinterpret_cast<const char*>(d.buffer.data()), static_cast<std::size_t>(n));
    return TakeFrames(out);
}

std::size_t Encoder::Flush(std::string& out) {
    Impl& d = *impl_;
    // Silence as long as the start delay first: the library flushes only up
    // to the end of what it was given, and the decoder gives the last
    // samples that late.
    const std::vector<std::int16_t> silence(
        static_cast<std::size_t>(StartDelay(d.layer) * d.channels), 0);
    std::size_t frames =
        Add(silence.data(), silence.size() / static_cast<std::size_t>(d.channels), out);
    d.buffer.resize(16384);
    const int n =
        d.twolame
            ? twolame_encode_flush(d.twolame, d.buffer.data(), static_cast<int>(d.buffer.size()))
            : lame_encode_flush(d.lame, d.buffer.data(), static_cast<int>(d.buffer.size()));
    if (n < 0)
        throw std::runtime_error("the MPEG encoder failed (" + std::to_string(n) + ")");
    d.bytes.append(reinterpret_cast<const char*>(d.buffer.data()), static_cast<std::size_t>(n));
    return frames + TakeFrames(out);
}

std::size_t Encoder::TakeFrames(std::string& out) {
    Impl& d = *impl_;
    const auto* data = reinterpret_cast<const unsigned char*>(d.bytes.data());
    std::size_t at = 0, frames = 0;
    while (const auto h = ReadFrameHeader(data + at, d.bytes.size() - at)) {
        if (static_cast<std::size_t>(h->bytes) > d.bytes.size() - at)
            break;
        at += static_cast<std::size_t>(h->bytes);
        ++frames;
    }
    out.append(d.bytes, 0, at);
    d.bytes.erase(0, at);
    return frames;
}

}  // namespace tamrel::mpeg
