#pragma once

#include "media/AvPointers.h"
#include "media/DeviceWaiter.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <atomic>

// One open input: avformat_open_input under the interrupt callback, stream information, the cover
// picture, the length, packet reads, the seek back to the start of a looping file, and the close.
//
// Every blocking FFmpeg call of the session is bounded: the interrupt callback aborts it once the
// player's stop flag is set, while opening after checkTime, while reading a packet after readTime since
// the last good packet. Both time-outs run on the monotonic clock, so a change of the wall clock neither
// cuts a good read short nor stretches a time-out.
//
// A capture device is opened non-blocking: a read with no frame ready answers "try again" at once. The
// session then waits on the device's descriptor (poll) instead of asking again in a tight loop, both
// while the stream information is read and between frames, and it keeps each wait short so that a stop
// is answered within a few milliseconds.
//
// Player thread only, except the interrupt callback, which FFmpeg runs on the player thread too.
class InputSession
{
public:
    struct Request
    {
        QString url;                           // the player's URL, for the log lines
        QByteArray openUrl;                    // what avformat_open_input gets
        const AVInputFormat *format = nullptr; // null: probed
        // Read through this I/O context instead of opening openUrl (which then only names the input);
        // the caller keeps it and frees it after close().
        AVIOContext *io = nullptr;
        bool device = false; // a capture device: non-blocking, waited on
        QString fileFlag;
        int checkTime = 3000; // ms
        int readTime = 8000;  // ms
    };

    explicit InputSession(const std::atomic<bool> &stopped);
    ~InputSession();
    InputSession(const InputSession &) = delete;
    InputSession &operator=(const InputSession &) = delete;

    // Opens the input and reads its stream information, with the log lines of both steps. options is
    // consumed by a successful open and otherwise left with what FFmpeg did not take. False after the
    // failure's log line.
    bool open(const Request &request, av::DictionaryPtr &options);
    void close();
    // Why the last open failed, in a few words ("No such file or directory", a picture too large); empty
    // when FFmpeg gave no reason (a stop, a time-out of the interrupt callback).
    QString failure() const { return failureText; }
    bool isOpen() const { return bool(formatCtx); }
    AVFormatContext *context() const { return formatCtx.get(); }

    // One packet into packet. A device with no frame ready waits for one (briefly) and answers
    // AVERROR(EAGAIN) when none came.
    int read(AVPacket *packet);
    // A paused input is alive: the read time-out starts again from now.
    void keepAlive();
    // Milliseconds since the last good packet (or the open).
    qint64 msSinceLastPacket() const;
    // Back to the start of a looping file; false (with "seek error") when the input cannot seek.
    bool seekToStart();
    // Length in whole seconds; a negative number when the input has none.
    qint64 durationSeconds() const;
    // Logs the input's metadata and returns its attached (cover) picture, null when it has none.
    QImage readCover() const;

    // The interrupt callback; opaque is the session. 1 aborts the blocking call in progress.
    static int interruptCallback(void *opaque);
    // The callback's decision at monotonic time nowUs (µs), without waiting or logging.
    int interruptDecision(qint64 nowUs) const;
    // Takes startTime (stream time base) off a packet's timestamps; an unset timestamp stays unset.
    static void rebase(AVPacket *packet, qint64 startTime);

    // The open capture device's descriptor, -1 when unknown.
    int deviceDescriptor() const { return device.descriptor(); }

private:
    // True, with the reason kept, when a picture stream declares a size above the pixel limit.
    bool refuseOversized();
    // When the input is a local FIFO: opens its read end (fifoDescriptor) and waits until a writer has
    // opened it, answering stop and the open time-out. False (reason kept) when none came.
    bool waitForFifoWriter();

    const std::atomic<bool> &stopped;
    QString failureText;
    int fifoDescriptor = -1;
    Request request;
    av::InputContextPtr formatCtx;
    // Phase of the interrupt callback: opening (openFinished false), reading stream information
    // (probing), reading a packet (readFinished false).
    std::atomic<bool> openFinished{false};
    std::atomic<bool> readFinished{true};
    std::atomic<bool> probing{false};
    std::atomic<qint64> openStart{0};
    std::atomic<qint64> lastTime{0};
    DeviceWaiter device;
};
