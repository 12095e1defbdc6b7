#pragma once

#include "media/FFmpegThread.h"

#include <QMutex>

// The player as the benchmark measures it: with --audio, how far the picture runs ahead of the sound.
// sample() runs on the player thread as each image leaves (a direct connection), where the output lives.
class BenchPlayer : public FFmpegThread
{
public:
    ~BenchPlayer() override
    {
        stop();
        wait();
    }

    // Picture time (frames delivered / frame rate, for a file that starts at 0) minus the time of the sound
    // being heard now (what the output took minus what it still holds), in ms. Player thread.
    void sample(qint64 framesDelivered)
    {
        if (!audioOutput.isOpen() || active.videoFps <= 0)
            return;
        const double picture = (framesDelivered - 1) * 1000.0 / active.videoFps;
        const double sound =
            (audioOutput.microsecondsWritten() - audioOutput.microsecondsBuffered()) / 1000.0;
        QMutexLocker locker(&mutex);
        if (picture >= 2000 && picture < 3000)
            early.add(picture - sound);
        if (late.count >= 25)
            late = {};
        late.add(picture - sound);
    }
    struct Mean
    {
        double sum = 0;
        int count = 0;
        void add(double v)
        {
            sum += v;
            ++count;
        }
        double value() const { return count ? sum / count : 0; }
    };
    // Mean offset over the third second, and over the last frames (1 to 25 of them).
    Mean early, late;
    double audioSeconds() const { return audioOutput.microsecondsWritten() / 1e6; }

private:
    QMutex mutex;
};
