#pragma once

#include "media/AvPointers.h"

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <thread>

// Reads a YUV4MPEG2 stream through FFmpeg as the player opens it (the "yuv4mpegpipe" input format, the
// rawvideo decoder) on a thread of its own ("Y4mReader"), and keeps the latest frames for a test.
class Y4mReader
{
public:
    struct Frame
    {
        qint64 index = -1; // 0 for the first frame this reader received
        int width = 0;
        int height = 0;
        QByteArray yuv;       // tightly packed 4:2:0 planes
        qint64 arrivedNs = 0; // steady_clock
        int number = -1;      // the frame number stamped into the picture, -1 when none

        const uint8_t *plane(int i) const
        {
            return reinterpret_cast<const uint8_t *>(yuv.constData()) +
                   (i ? width * height * (3 + i) / 4 : 0);
        }
        // The picture as the player converts it (swscale to 32-bit RGB).
        QImage toRgb() const;
        uint8_t lumaAt(int x, int y) const { return plane(0)[y * width + x]; }
        uint8_t uAt(int x, int y) const { return plane(1)[(y / 2) * (width / 2) + x / 2]; }
        uint8_t vAt(int x, int y) const { return plane(2)[(y / 2) * (width / 2) + x / 2]; }
    };

    ~Y4mReader();

    // Opens the stream (waiting at most timeoutMs for its header) and starts reading.
    bool open(const QString &url, int timeoutMs = 5000);
    qint64 frameCount() const;
    // True once a read failed or the stream ended.
    bool ended() const { return streamEnded.load(); }
    // The next `count` frames arriving after the call that carry a number of at least minNumber, in
    // order; false when they don't come in time.
    bool nextFrames(int count, QVector<Frame> *frames, int minNumber = -1, int timeoutMs = 5000);

    int width = 0, height = 0;
    QString pixelFormat;

private:
    void readLoop();

    av::InputContextPtr formatContext;
    av::CodecContextPtr codecContext;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> streamEnded{false};
    std::atomic<qint64> openDeadlineNs{0};

    mutable QMutex mutex;
    QWaitCondition arrived;
    std::deque<Frame> recent; // the last few frames
    qint64 received = 0;
};
