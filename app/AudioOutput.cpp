#include "AudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

namespace tamrel {

DesktopAudioOutput::DesktopAudioOutput(QObject* parent) : AudioOutput(parent) {}

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
    buffer_ = new QBuffer(&samples_, this);
    buffer_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(QMediaDevices::defaultAudioOutput(), format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (stopping_ || !sink_)
            return;
        if (sink_->error() != QAudio::NoError) {
            const QString why = ErrorText(sink_->error());
            Release();
            emit Failed(why);
        } else if (state == QAudio::IdleState) {
            // The buffer ran out: the sound has been played to its end.
            Release();
            emit Finished();
        }
    });
    sink_->start(buffer_);
    if (sink_ && sink_->error() != QAudio::NoError) {
        const QString why = ErrorText(sink_->error());
        Release();
        emit Failed(why);
    }
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
    return sink_ ? sink_->processedUSecs() / 1000 : 0;
}

void DesktopAudioOutput::Release() {
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

}  // namespace tamrel
