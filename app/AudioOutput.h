// Playing decoded sound on the desktop's default audio output, behind an
// interface so that tests play into a fake one.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QAudioSink;
class QBuffer;

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

// The desktop's default audio output, through Qt Multimedia.
class DesktopAudioOutput : public AudioOutput {
    Q_OBJECT
public:
    explicit DesktopAudioOutput(QObject* parent = nullptr);
    ~DesktopAudioOutput() override;

    bool Available() const override;
    QString UnavailableReason() const override;
    void Play(const QByteArray& samples, int channels, int rate) override;
    void Stop() override;
    bool Playing() const override;
    qint64 PositionMs() const override;

private:
    void Release();
    void StateChanged(int state);
    // The data has all been handed over: playing ends once the output has
    // played what it still holds.
    void Drain();
    static QString ErrorText(int error);

    QAudioSink* sink_ = nullptr;
    QBuffer* buffer_ = nullptr;
    QByteArray samples_;
    qint64 durationUs_ = 0;
    QTimer* drain_ = nullptr;
    QElapsedTimer draining_;
    qint64 heldUs_ = 0;  // what the output held when the data ran out
    bool stopping_ = false;
};

}  // namespace tamrel
