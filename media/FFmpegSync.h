#pragma once

#include <QList>
#include <QMutex>
#include <QThread>

#include <atomic>

struct AVPacket;
class FFmpegThread;

// A packet-queue thread: decodes the packets of one kind for its player, paced by their timestamps.
// The player creates two (audio and video). In the camera viewer the queues stay empty and the threads
// only idle while a file loops.
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
    // Any thread.
    void stop();

signals:
    void filePositionReceive(qint64 position);

protected:
    void run() override;

private:
    std::atomic<bool> stopped{false};
    QMutex mutex;
    const Kind kind;
    FFmpegThread *const owner;
    QList<AVPacket *> packets;
    std::atomic<int> queued{0};
    double packetTime = 0;
    std::atomic<qint64> lastPositionTime{0};
    std::atomic<qint64> clockOffset{0};
    std::atomic<qint64> clock{-1};
    std::atomic<qint64> syncStart{0};
};
