#pragma once

#include <QList>
#include <QMutex>
#include <QThread>

#include <atomic>

struct AVPacket;
class FFmpegThread;

// A packet-queue thread: decodes the packets of one kind for its player, paced by their timestamps on a
// stream clock. The player creates two (audio and video). In sync mode the player's loop queues its packets
// here instead of decoding them; the product never selects sync mode, so there the queues stay empty and the
// threads only idle while a file loops.
//
// The stream clock counts microseconds of wall time (monotonic) from the last reset() or start of run(),
// plus an offset that lets it catch up with a stream that starts later or jumps ahead: a packet more than
// 100 ms past the clock moves the clock to 100 ms past that packet.
class FFmpegSync : public QThread
{
    Q_OBJECT

public:
    enum Kind : quint8
    {
        Audio = 0,
        Video = 1
    };

    FFmpegSync(Kind kind, FFmpegThread *owner);
    ~FFmpegSync() override;

    // Player thread: the queue takes ownership of the packet.
    void append(AVPacket *packet);
    // Any thread; read without the lock (only compared with the 100-packet cap).
    int packetCount() const;
    // Any thread: restart the stream clock.
    void reset();
    // Any thread: run() ends at its next check and releases every queued packet.
    void stop();
    // Any thread: the stream clock now, in microseconds.
    qint64 streamClock() const;

    // A packet that is not due yet waits until it is this close to the clock (microseconds).
    static constexpr qint64 kAudioTolerance = 1000;
    static constexpr qint64 kVideoTolerance = 5000;

signals:
    // Files only, every 200 ms of stream time, from the video queue (the audio one without video): the
    // play position in milliseconds. Emitted on the queue thread.
    void filePositionReceive(qint64 position);
    // On the queue thread, as a packet is handed to the decoder: its time in microseconds.
    void packetDue(qint64 packetTime);

protected:
    void run() override;

private:
    std::atomic<bool> stopped{false};
    QMutex mutex;
    const Kind kind;
    FFmpegThread *const owner;
    QList<AVPacket *> packets;
    std::atomic<int> queued{0};
    std::atomic<double> packetTime{0};
    std::atomic<qint64> lastPositionTime{0};
    std::atomic<qint64> clockOffset{0};
    std::atomic<qint64> clock{-1};
    std::atomic<qint64> syncStart{0};
};
