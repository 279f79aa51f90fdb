#include "WaveOutAudioOutput.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>

namespace tamrel {

namespace {

// How often finished blocks and a lost device are looked for.
constexpr int kPollMs = 20;
// The sound goes to the device in blocks of this size, all queued at once.
constexpr qsizetype kBlockBytes = 64 * 1024;

QString SystemText(MMRESULT result) {
    wchar_t text[MAXERRORLENGTH] = {};
    if (::waveOutGetErrorTextW(result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || !text[0])
        return QStringLiteral("error %1").arg(result);
    return QString::fromWCharArray(text).trimmed();
}

QString OpenFailure(MMRESULT result) {
    if (result == WAVERR_BADFORMAT)
        return QStringLiteral("the audio output cannot be opened (it may not take this format)");
    if (result == MMSYSERR_BADDEVICEID || result == MMSYSERR_NODRIVER)
        return QStringLiteral("no audio output device");
    return QStringLiteral("the audio output cannot be opened (%1)").arg(SystemText(result));
}

}  // namespace

struct WaveOutAudioOutput::Device {
    HWAVEOUT handle = nullptr;
    std::vector<WAVEHDR> blocks;
    int rate = 0;
    qint64 frames = 0;  // the sound's length in sample frames
};

WaveOutAudioOutput::WaveOutAudioOutput(QObject* parent)
    : AudioOutput(parent), poll_(new QTimer(this)) {
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &WaveOutAudioOutput::Poll);
}

WaveOutAudioOutput::~WaveOutAudioOutput() {
    Release();
}

bool WaveOutAudioOutput::Available() const {
    return ::waveOutGetNumDevs() > 0;
}

QString WaveOutAudioOutput::UnavailableReason() const {
    return QStringLiteral("no audio output device");
}

void WaveOutAudioOutput::Play(const QByteArray& samples, int channels, int rate) {
    Stop();
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;

    auto device = std::make_unique<Device>();
    device->rate = rate;
    device->frames = samples.size() / format.nBlockAlign;
    if (const MMRESULT opened =
            ::waveOutOpen(&device->handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
        opened != MMSYSERR_NOERROR) {
        emit Failed(OpenFailure(opened));
        return;
    }
    device_ = std::move(device);
    samples_ = samples;
    bytesPerSecond_ = format.nAvgBytesPerSec;
    // Whole frames in every block, so that no block ends inside a frame.
    const qsizetype block = kBlockBytes - kBlockBytes % format.nBlockAlign;
    for (qsizetype at = 0; at < samples_.size(); at += block) {
        WAVEHDR header = {};
        header.lpData = samples_.data() + at;
        header.dwBufferLength = static_cast<DWORD>(std::min(block, samples_.size() - at));
        device_->blocks.push_back(header);
    }
    for (WAVEHDR& header : device_->blocks) {
        MMRESULT result = ::waveOutPrepareHeader(device_->handle, &header, sizeof header);
        if (result == MMSYSERR_NOERROR)
            result = ::waveOutWrite(device_->handle, &header, sizeof header);
        if (result != MMSYSERR_NOERROR) {
            Fail(QStringLiteral("the audio output does not take the sound (%1)")
                     .arg(SystemText(result)));
            return;
        }
    }
    poll_->start();
}

void WaveOutAudioOutput::Poll() {
    if (!device_) {
        poll_->stop();
        return;
    }
    MMTIME position = {};
    position.wType = TIME_SAMPLES;
    if (const MMRESULT result = ::waveOutGetPosition(device_->handle, &position, sizeof position);
        result != MMSYSERR_NOERROR) {
        Fail(QStringLiteral("the audio output stopped taking sound (the device may be gone: %1)")
                 .arg(SystemText(result)));
        return;
    }
    const bool played =
        std::all_of(device_->blocks.begin(), device_->blocks.end(),
                    [](const WAVEHDR& header) { return header.dwFlags & WHDR_DONE; });
    if (!played)
        return;
    Release();
    emit Finished();
}

void WaveOutAudioOutput::Fail(const QString& why) {
    Release();
    emit Failed(why);
}

void WaveOutAudioOutput::Stop() {
    Release();
}

bool WaveOutAudioOutput::Playing() const {
    return device_ != nullptr;
}

qint64 WaveOutAudioOutput::PositionMs() const {
    if (!device_)
        return 0;
    MMTIME position = {};
    position.wType = TIME_SAMPLES;
    if (::waveOutGetPosition(device_->handle, &position, sizeof position) != MMSYSERR_NOERROR)
        return 0;
    // A device that cannot count samples answers in another unit.
    qint64 frames = 0;
    if (position.wType == TIME_SAMPLES)
        frames = position.u.sample;
    else if (position.wType == TIME_BYTES && bytesPerSecond_ > 0)
        frames = static_cast<qint64>(position.u.cb) * device_->rate / bytesPerSecond_;
    else if (position.wType == TIME_MS)
        frames = static_cast<qint64>(position.u.ms) * device_->rate / 1000;
    return std::min(frames, device_->frames) * 1000 / device_->rate;
}

void WaveOutAudioOutput::Release() {
    poll_->stop();
    if (!device_)
        return;
    // Reset hands back every block still queued; only then may they be
    // unprepared and their memory freed.
    ::waveOutReset(device_->handle);
    for (WAVEHDR& header : device_->blocks)
        if (header.dwFlags & WHDR_PREPARED)
            ::waveOutUnprepareHeader(device_->handle, &header, sizeof header);
    ::waveOutClose(device_->handle);
    device_.reset();
    samples_.clear();
}

std::unique_ptr<AudioOutput> SystemAudioOutput() {
    return std::make_unique<WaveOutAudioOutput>();
}

}  // namespace tamrel
