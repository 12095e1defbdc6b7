#pragma once

#include "media/AvPointers.h"

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <thread>

// Reads a YUV4MPEG2 stream through FFmpeg exactly as the player opens it (avformat_open_input with
// the "yuv4mpegpipe" input format, the rawvideo decoder) on a thread of its own ("Y4mReader"), and
// keeps the most recent frames for a test to look at.
class Y4mReader
{
public:
    struct Frame
    {
        qint64 index = -1; // 0 for the first frame this reader received
        int width = 0;
        int height = 0;
        QByteArray y, u, v;   // tightly packed 4:2:0 planes
        qint64 arrivedNs = 0; // steady_clock
        int number = -1;      // the frame number stamped into the picture, -1 when none

        // The picture as the player converts it (swscale to 32-bit RGB).
        QImage toRgb() const;
        uint8_t lumaAt(int x, int y) const { return uint8_t(this->y.at(y * width + x)); }
        uint8_t uAt(int x, int y) const { return uint8_t(u.at((y / 2) * (width / 2) + x / 2)); }
        uint8_t vAt(int x, int y) const { return uint8_t(v.at((y / 2) * (width / 2) + x / 2)); }
    };

    Y4mReader() = default;
    ~Y4mReader();
    Y4mReader(const Y4mReader &) = delete;
    Y4mReader &operator=(const Y4mReader &) = delete;

    // Opens the stream (waiting at most timeoutMs for its header) and starts reading.
    bool open(const QString &url, int timeoutMs = 5000);
    void close();

    int width() const { return streamWidth; }
    int height() const { return streamHeight; }
    QString pixelFormat() const { return streamPixelFormat; }
    qint64 frameCount() const;
    // True once a read failed or the stream ended.
    bool ended() const { return streamEnded.load(); }
    // Waits up to timeoutMs for the stream to end.
    bool waitForEnd(int timeoutMs) const;

    // The next `count` frames that arrive after the call, in order; false when they don't come in time.
    bool nextFrames(int count, QVector<Frame> *frames, int timeoutMs);
    // The first frame arriving after the call whose stamped number is greater than `number`.
    bool frameAfter(qint64 number, Frame *frame, int timeoutMs);

private:
    static int interrupted(void *opaque);
    void readLoop();

    av::InputContextPtr formatContext;
    av::CodecContextPtr codecContext;
    int streamIndex = -1;
    int streamWidth = 0;
    int streamHeight = 0;
    QString streamPixelFormat;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> streamEnded{false};
    std::atomic<qint64> openDeadlineNs{0};

    mutable QMutex mutex;
    mutable QWaitCondition arrived;
    std::deque<Frame> recent; // the last few frames
    qint64 received = 0;
};
