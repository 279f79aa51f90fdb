// The system's own audio output (Qt Multimedia's on Linux, waveOut's on
// Windows), played into whatever the machine has: under the test scripts an
// audio server whose only output is a null sink. Where a script promises an
// output (TAMREL_EXPECT_AUDIO), having none is a failure, not a skip.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QtEndian>
#include <cmath>

#include "AudioOutput.h"

namespace tamrel {
namespace {

// A quiet tone of that length, 16-bit stereo.
QByteArray Tone(int rate, int milliseconds) {
    QByteArray samples;
    const int frames = rate * milliseconds / 1000;
    for (int i = 0; i < frames; ++i) {
        const auto value = qToLittleEndian(
            static_cast<qint16>(2000 * std::sin(2 * 3.14159265 * 440.0 * i / rate)));
        for (int channel = 0; channel < 2; ++channel)
            samples.append(reinterpret_cast<const char*>(&value), 2);
    }
    return samples;
}

class SystemAudio : public ::testing::Test {
protected:
    void SetUp() override {
        if (output_->Available())
            return;
        if (qEnvironmentVariableIsSet("TAMREL_EXPECT_AUDIO"))
            FAIL() << output_->UnavailableReason().toStdString();
        GTEST_SKIP() << "no audio output on this machine";
    }
    std::unique_ptr<AudioOutput> output_ = SystemAudioOutput();
};

TEST_F(SystemAudio, PlaysToTheEndCountingWhatItPlayedAndSaysSoQuietly) {
    QSignalSpy finished(output_.get(), &AudioOutput::Finished);
    QSignalSpy failed(output_.get(), &AudioOutput::Failed);
    output_->Play(Tone(22050, 700), 2, 22050);
    ASSERT_TRUE(output_->Playing()) << failed.value(0).value(0).toString().toStdString();

    // The position moves on while the sound plays, and never past its end.
    EXPECT_TRUE(QTest::qWaitFor([&] { return output_->PositionMs() >= 150; }, 3000));
    qint64 last = 0;
    for (int i = 0; i < 200 && output_->Playing(); ++i) {
        const qint64 now = output_->PositionMs();
        EXPECT_GE(now, last);
        EXPECT_LE(now, 700);
        last = now;
        QTest::qWait(20);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 5000));
    EXPECT_EQ(failed.count(), 0) << failed.value(0).value(0).toString().toStdString();
    EXPECT_FALSE(output_->Playing());
    EXPECT_EQ(output_->PositionMs(), 0);
}

TEST_F(SystemAudio, StopEndsPlayingWithoutFinishing) {
    QSignalSpy finished(output_.get(), &AudioOutput::Finished);
    QSignalSpy failed(output_.get(), &AudioOutput::Failed);
    output_->Play(Tone(44100, 3000), 2, 44100);
    ASSERT_TRUE(output_->Playing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return output_->PositionMs() > 0; }, 3000));
    output_->Stop();
    EXPECT_FALSE(output_->Playing());
    QTest::qWait(300);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(failed.count(), 0);

    // And it plays again afterwards.
    output_->Play(Tone(44100, 200), 2, 44100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 5000));
}

}  // namespace
}  // namespace tamrel
