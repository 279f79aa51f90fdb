// The default audio output on Windows, through the system's waveOut API:
// the whole sound is handed to the device at once, in blocks, and a timer
// looks for the blocks the device is done with.
#pragma once

#include <QTimer>
#include <memory>

#include "AudioOutput.h"

namespace tamrel {

class WaveOutAudioOutput : public AudioOutput {
    Q_OBJECT
public:
    explicit WaveOutAudioOutput(QObject* parent = nullptr);
    ~WaveOutAudioOutput() override;

    bool Available() const override;
    QString UnavailableReason() const override;
    void Play(const QByteArray& samples, int channels, int rate) override;
    void Stop() override;
    bool Playing() const override;
    qint64 PositionMs() const override;

private:
    struct Device;
    // Ends playing when every block is played; fails when the device is gone.
    void Poll();
    void Release();
    void Fail(const QString& why);

    std::unique_ptr<Device> device_;
    QTimer* poll_ = nullptr;
    QByteArray samples_;
    qint64 bytesPerSecond_ = 0;
};

}  // namespace tamrel
