#include "DesktopAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <algorithm>

namespace tamrel {

namespace {

// How often the end of playing is looked for once the data has run out.
constexpr int kDrainPollMs = 20;
// How long past the sound the output may take to play what it held.
constexpr qint64 kDrainSlackUs = 300000;

}  // namespace

DesktopAudioOutput::DesktopAudioOutput(QObject* parent)
    : AudioOutput(parent), drain_(new QTimer(this)) {
    drain_->setInterval(kDrainPollMs);
    connect(drain_, &QTimer::timeout, this, &DesktopAudioOutput::Drain);
}

DesktopAudioOutput::~DesktopAudioOutput() {
    stopping_ = true;
    Release();
}

bool DesktopAudioOutput::Available() const {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

QString DesktopAudioOutput::UnavailableReason() const {
    return QStringLiteral("no audio output device");
}

void DesktopAudioOutput::Play(const QByteArray& samples, int channels, int rate) {
    Stop();
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    samples_ = samples;
    durationUs_ = format.durationForBytes(static_cast<qint32>(samples_.size()));
    buffer_ = new QBuffer(&samples_, this);
    buffer_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(QMediaDevices::defaultAudioOutput(), format, this);
    connect(sink_, &QAudioSink::stateChanged, this,
            [this](QAudio::State state) { StateChanged(state); });
    sink_->start(buffer_);
    if (sink_ && sink_->error() != QAudio::NoError) {
        const QString why = ErrorText(sink_->error());
        Release();
        emit Failed(why);
    }
}

void DesktopAudioOutput::StateChanged(int state) {
    if (stopping_ || !sink_)
        return;
    const QAudio::Error error = sink_->error();
    if (state == QAudio::IdleState && buffer_->atEnd()) {
        // The output took the last of the sound (some say so as an
        // underrun): it plays what it still holds, then playing ends.
        if (!drain_->isActive()) {
            heldUs_ = sink_->format().durationForBytes(sink_->bufferSize() - sink_->bytesFree());
            draining_.start();
            drain_->start();
        }
        return;
    }
    // An underrun before the end is a busy moment: playing goes on.
    if (error == QAudio::UnderrunError || error == QAudio::NoError)
        return;
    const QString why = ErrorText(error);
    Release();
    emit Failed(why);
}

void DesktopAudioOutput::Drain() {
    if (!sink_) {
        drain_->stop();
        return;
    }
    const bool played = sink_->processedUSecs() >= durationUs_;
    if (!played && draining_.elapsed() * 1000 < heldUs_ + kDrainSlackUs)
        return;
    drain_->stop();
    Release();
    emit Finished();
}

QString DesktopAudioOutput::ErrorText(int error) {
    switch (error) {
        case QAudio::OpenError:
            return QStringLiteral(
                "the audio output cannot be opened (it may not take this format)");
        case QAudio::IOError:
            return QStringLiteral("the audio output stopped taking sound (the device may be gone)");
        case QAudio::UnderrunError:
            return QStringLiteral("the audio output ran out of sound");
        default:
            return QStringLiteral("the audio output failed");
    }
}

void DesktopAudioOutput::Stop() {
    stopping_ = true;
    Release();
    stopping_ = false;
}

bool DesktopAudioOutput::Playing() const {
    return sink_ != nullptr;
}

qint64 DesktopAudioOutput::PositionMs() const {
    // The output's own count of what it has played, never past the sound.
    return sink_ ? std::min(sink_->processedUSecs(), durationUs_) / 1000 : 0;
}

void DesktopAudioOutput::Release() {
    drain_->stop();
    if (sink_) {
        sink_->disconnect(this);
        sink_->stop();
        sink_->deleteLater();
        sink_ = nullptr;
    }
    if (buffer_) {
        buffer_->close();
        buffer_->deleteLater();
        buffer_ = nullptr;
    }
}

std::unique_ptr<AudioOutput> SystemAudioOutput() {
    return std::make_unique<DesktopAudioOutput>();
}

}  // namespace tamrel
