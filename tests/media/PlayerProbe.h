#pragma once

#include "media/FFmpegThread.h"
#include "TestMedia.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QTest>

#include <atomic>

// The player with its open input and its capture-device directory opened up for tests.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::audioOutput;
    using FFmpegThread::audioStarted;
    using FFmpegThread::audioSync;
    using FFmpegThread::captureResolver;
    using FFmpegThread::source;
    using FFmpegThread::syncMode;
    using FFmpegThread::videoSync;

    ~PlayerProbe() override
    {
        stop();
        wait();
    }
};

// A player watched from the main thread: its lifecycle signals in the order they arrived (queued), the
// lengths it reported, and a copy of every image it handed out, taken on the player thread as the image
// leaves (so the player's images are free again at once and none is dropped).
class PlayerRun : public QObject
{
public:
    PlayerRun()
    {
        connect(
            &player, &FFmpegThread::receiveImage, this,
            [this](const QImage &image) {
                QMutexLocker locker(&imageMutex);
                kept << image.copy();
                arrived << clock.elapsed();
                // Asked for here, on the player thread: no image after this one starts another loop turn.
                if (kept.size() == stopAt)
                    player.stop();
            },
            Qt::DirectConnection);
        connect(&player, &FFmpegThread::receivePlayStart, this, [this] { order << "start"; });
        connect(&player, &FFmpegThread::receivePlayError, this, [this] { order << "error"; });
        connect(&player, &FFmpegThread::receivePlayFinsh, this, [this] { order << "finish"; });
        connect(&player, &FFmpegThread::fileLengthReceive, this, [this](qlonglong ms) { lengths << ms; });
    }
    bool waitForImages(int count)
    {
        return QTest::qWaitFor([&] { return images().size() >= count; }, 30000);
    }
    QList<QImage> images() const
    {
        QMutexLocker locker(&imageMutex);
        return kept;
    }
    // When each image came, in ms since the run started.
    QList<qint64> arrivals() const
    {
        QMutexLocker locker(&imageMutex);
        return arrived;
    }
    bool waitForFinish(int timeoutMs = 30000)
    {
        return QTest::qWaitFor([&] { return order.contains("finish"); }, timeoutMs);
    }
    void start(const QString &url)
    {
        player.setUrl(url);
        player.play();
        clock.start();
        player.start();
    }
    // Plays url until it ends by itself or, with stopAfter > 0, until that many images came and stop()
    // ended it. False when that did not happen in time.
    bool play(const QString &url, int stopAfter = 0)
    {
        stopAt = stopAfter;
        start(url);
        return waitForFinish();
    }

    PlayerProbe player;
    // The image at which the player thread itself calls stop(); 0: none.
    std::atomic<int> stopAt{0};
    QStringList order;
    QList<qlonglong> lengths;

private:
    mutable QMutex imageMutex;
    QList<QImage> kept;
    QList<qint64> arrived;
    QElapsedTimer clock;
};
