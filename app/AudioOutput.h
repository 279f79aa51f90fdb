// Playing decoded sound on the system's default audio output, behind an
// interface so that tests play into a fake one.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace tamrel {

class AudioOutput : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioOutput() override = default;

    // True when there is an output to play on; otherwise why not.
    virtual bool Available() const = 0;
    virtual QString UnavailableReason() const = 0;
    // Plays 16-bit little-endian samples, channels interleaved, from memory.
    virtual void Play(const QByteArray& samples, int channels, int rate) = 0;
    virtual void Stop() = 0;
    virtual bool Playing() const = 0;
    // How far playing has got, in milliseconds of sound heard.
    virtual qint64 PositionMs() const = 0;

signals:
    // Playing reached the end of the sound (not sent for Stop()).
    void Finished();
    // Playing stopped for a failure of the output (a lost device, a format
    // it does not take); why says which.
    void Failed(const QString& why);
};

// The system's default audio output: Qt Multimedia's on Linux, waveOut's on
// Windows (whose Qt here is built without Qt Multimedia).
std::unique_ptr<AudioOutput> SystemAudioOutput();

}  // namespace tamrel
