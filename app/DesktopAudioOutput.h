// The desktop's default audio output on Linux, through Qt Multimedia.
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include "AudioOutput.h"

class QAudioSink;
class QBuffer;

namespace tamrel {

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
